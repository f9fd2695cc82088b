#include "platform/serialdevices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A /dev of its own: plain files stand for device nodes, links for the stable names.
class TestSerialDevices : public QObject
{
    Q_OBJECT
private slots:
    void soleAdapter_data();
    void soleAdapter();
};

void TestSerialDevices::soleAdapter_data()
{
    QTest::addColumn<QStringList>("nodes");
    QTest::addColumn<QStringList>("stableNames"); // name=target
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("sole");
    QTest::newRow("UARTs only") << QStringList{"ttyS1", "ttyS0"} << QStringList{}
                                << QStringList{"ttyS0", "ttyS1"} << QString();
    QTest::newRow("one adapter with a stable name")
        << QStringList{"ttyS0", "ttyUSB0"} << QStringList{"usb-FTDI_A1-if00=ttyUSB0"}
        << QStringList{"ttyS0", "ttyUSB0", "serial/by-id/usb-FTDI_A1-if00"}
        << "serial/by-id/usb-FTDI_A1-if00";
    QTest::newRow("one adapter without")
        << QStringList{"ttyACM0"} << QStringList{} << QStringList{"ttyACM0"} << "ttyACM0";
    QTest::newRow("two adapters") << QStringList{"ttyUSB0", "ttyACM0", "ttyUSB10", "ttyUSB2"}
                                  << QStringList{}
                                  << QStringList{"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0"}
                                  << QString();
    QTest::newRow("a stable name whose device has gone")
        << QStringList{"ttyUSB1"} << QStringList{"usb-old=ttyUSB0"} << QStringList{"ttyUSB1"}
        << "ttyUSB1";
}

void TestSerialDevices::soleAdapter()
{
    QFETCH(QStringList, nodes);
    QFETCH(QStringList, stableNames);
    QFETCH(QStringList, listed);
    QFETCH(QString, sole);
    QTemporaryDir dev;
    QVERIFY(QDir(dev.path()).mkpath(QStringLiteral("serial/by-id")));
    for (const QString& node : nodes) {
        QFile file(dev.filePath(node));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const QString& entry : stableNames) {
        const QStringList parts = entry.split(QLatin1Char('='));
        QVERIFY(QFile::link(dev.filePath(parts[1]), dev.filePath("serial/by-id/" + parts[0])));
    }
    QStringList paths;
    const QList<SerialDevice> devices = listSerialDevices(dev.path());
    for (const SerialDevice& device : devices)
        paths << QDir(dev.path()).relativeFilePath(device.path);
    QCOMPARE(paths, listed);
    const QString adapter = soleUsbSerialAdapter(devices);
    QCOMPARE(adapter.isEmpty() ? QString() : QDir(dev.path()).relativeFilePath(adapter), sole);
}

QTEST_GUILESS_MAIN(TestSerialDevices)
#include "test_serialdevices.moc"
