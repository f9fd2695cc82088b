// The ports folder: making, replacing, listing and removing COMn links.

#include "config/ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestPorts : public QObject
{
    Q_OBJECT
private slots:
    void portsFolder();
};

void TestPorts::portsFolder()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString folder = home.filePath(QStringLiteral("config/quorvex-tarnavel/ports"));
    QString error;

    QVERIFY2(linkPort(2, QStringLiteral("/dev/null"), &error, folder), qPrintable(error));
    for (const QString& made : {folder, QFileInfo(folder).path()})
        QCOMPARE(QFileInfo(made).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner |
                                                             QFile::ExeOwner | QFile::ReadUser |
                                                             QFile::WriteUser | QFile::ExeUser);
    // Replacing a link leaves no temporary behind.
    QVERIFY2(linkPort(2, QStringLiteral("/dev/zero"), &error, folder), qPrintable(error));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("com2")});

    // Refused: a device that is no character device, a regular file in the way, bad numbers.
    QVERIFY(!linkPort(3, home.path(), &error, folder));
    QVERIFY(error.contains(QLatin1String("not a serial device")));
    QFile regular(folder + QStringLiteral("/com4"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    QVERIFY(!linkPort(4, QStringLiteral("/dev/null"), &error, folder));
    QVERIFY(!unlinkPort(4, &error, folder));
    QVERIFY(regular.exists());
    QVERIFY(!linkPort(0, QStringLiteral("/dev/null"), &error, folder));
    QVERIFY(!unlinkPort(5, &error, folder));

    const QList<PortLink> links = listPortLinks(folder);
    QCOMPARE(links.size(), 2);
    QCOMPARE(links.at(0).number, 2);
    QVERIFY(links.at(0).symlink && links.at(0).present);
    QCOMPARE(links.at(0).target, QStringLiteral("/dev/zero"));
    QCOMPARE(links.at(1).number, 4);
    QVERIFY(!links.at(1).symlink);

    QVERIFY2(unlinkPort(2, &error, folder), qPrintable(error));
    QVERIFY(!QFileInfo(folder + QStringLiteral("/com2")).isSymLink());
}

QTEST_GUILESS_MAIN(TestPorts)
#include "test_ports.moc"
