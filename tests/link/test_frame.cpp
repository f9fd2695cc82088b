#include "link/commands.h"
#include "link/frame.h"

#include <QTest>

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void lrcCoversEveryByte();
};

void TestFrame::frames_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("version") << QByteArray("k") << QByteArray::fromHex("026b0368");
    QTest::newRow("arm") << QByteArray("n") << QByteArray::fromHex("026e036d");
    QTest::newRow("reset") << QByteArray("h") << QByteArray::fromHex("0268036b");
    QTest::newRow("resend") << QByteArray("o") << QByteArray::fromHex("026f036c");
    QTest::newRow("led 0") << QByteArray("`0") << QByteArray::fromHex("0260300353");
    QTest::newRow("led 1") << QByteArray("`1") << QByteArray::fromHex("0260310352");
    QTest::newRow("led 2") << QByteArray("`2") << QByteArray::fromHex("0260320351");
    QTest::newRow("led 3") << QByteArray("`3") << QByteArray::fromHex("0260330350");
    QTest::newRow("status l0") << QByteArray("l0") << QByteArray::fromHex("026c30035f");
    QTest::newRow("status lP") << QByteArray("lP") << QByteArray::fromHex("026c50033f");
    QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("020303");
    // Check characters 00 and 03 travel as they are: no escaping.
    QTest::newRow("lrc 00") << QByteArray("\x03", 1) << QByteArray::fromHex("02030300");
    QTest::newRow("lrc 03") << QByteArray("\x00", 1) << QByteArray::fromHex("02000303");
    QTest::newRow("write method 1") << QByteArray("A;1?")
                                    << QByteArray::fromHex("02413b313f03") +
                                           QByteArray(1, char(0x41 ^ 0x3b ^ 0x31 ^ 0x3f ^ 0x03));
}

void TestFrame::frames()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);
    QCOMPARE(buildFrame(data).toHex(' '), wire.toHex(' '));
}

void TestFrame::lrcCoversEveryByte()
{
    for (int b = 0; b < 256; ++b) {
        QByteArray data("A");
        data.append(char(b));
        const QByteArray frame = buildFrame(data);
        QCOMPARE(quint8(frame.back()), quint8(0x41 ^ b ^ 0x03));
    }
}

QTEST_GUILESS_MAIN(TestFrame)
#include "test_frame.moc"
