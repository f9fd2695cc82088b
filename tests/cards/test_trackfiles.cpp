// Track data below the front ends: decoding and batch files.

#include "cards/cardbatch.h"
#include "cards/trackdecode.h"

#include <QTest>

class TestTrackFiles : public QObject
{
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void batchFile();
};

void TestTrackFiles::decode_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expect");
    // "" when not decodable; else format|masked pan|luhn|name|expiry|service|discretionary
    QTest::addColumn<QString>("fields");

    QTest::newRow("track 1 format B") << QByteArray("%B4111111111111111^DOE/JOHN  ^2512101AB1?")
                                      << 0 << "1|411111******1111|1|DOE/JOHN|2025-12|101|AB1";
    QTest::newRow("track 2, padding after the end sentinel")
        << QByteArray(";5500005555555559=27126020000012345?00000") << 2
        << "2|550000******5559|1||2027-12|602|0000012345";
    QTest::newRow("track 1 on track 3 method, 12-digit account")
        << QByteArray("%B123456789015^AB^3001999?") << 1 << "1|123456**9015|1|AB|2030-01|999|";
    QTest::newRow("bad Luhn digit")
        << QByteArray(";4111111111111112=2512101?") << 0 << "2|411111******1112|0||2025-12|101|";
    QTest::newRow("track 2 as a reader returns it, without sentinels")
        << QByteArray("4000123456789010=25121010000000000") << 0
        << "2|400012******9010|0||2025-12|101|0000000000";
    QTest::newRow("track 1 without sentinels")
        << QByteArray("B4000123456789010^TARNAVEL/QUORVEX^25121010000000") << 1
        << "1|400012******9010|0|TARNAVEL/QUORVEX|2025-12|101|0000000";
    QTest::newRow("digits without a separator") << QByteArray("4000123456789010") << 0 << "";
    QTest::newRow("one sentinel of two") << QByteArray("4000123456789010=2512101?") << 0 << "";
    QTest::newRow("format code A") << QByteArray("%A4111111111111111^DOE/J^2512101?") << 0 << "";
    QTest::newRow("month 13") << QByteArray(";4111111111111111=2513101?") << 0 << "";
    QTest::newRow("letter in track 2") << QByteArray(";41111111111x1111=2512101?") << 0 << "";
    QTest::newRow("no end sentinel") << QByteArray(";4111111111111111=2512101") << 0 << "";
    QTest::newRow("data after the end") << QByteArray(";4111111111111111=2512101?7") << 0 << "";
    QTest::newRow("account too short") << QByteArray(";41111=2512101?") << 0 << "";
    QTest::newRow("one-letter name") << QByteArray("%B4111111111111111^D^2512101?") << 0 << "";
    QTest::newRow("track 2 where track 1 belongs")
        << QByteArray(";4111111111111111=2512101?") << 1 << "";
    QTest::newRow("ISO track 3 style") << QByteArray(";014000123456789010=724724000?") << 0 << "";
}

void TestTrackFiles::decode()
{
    QFETCH(QByteArray, data);
    QFETCH(int, expect);
    QFETCH(QString, fields);
    const DecodedTrack track = decodeTrack(data, expect);
    if (fields.isEmpty()) {
        QVERIFY(!track.decodable);
        QVERIFY(!track.reason.isEmpty());
        return;
    }
    QVERIFY2(track.decodable, qPrintable(track.reason));
    const QStringList got = {QString::number(track.format),
                             maskPan(track.pan),
                             QString::number(track.luhnOk),
                             track.name,
                             track.expiry,
                             track.serviceCode,
                             track.discretionary};
    QCOMPARE(got.join(QLatin1Char('|')), fields);
}

void TestTrackFiles::batchFile()
{
    QList<BatchCard> cards;
    QString error;
    const QByteArray text = "# header\r\n"
                            ";123=4?\r\n"
                            "\n"
                            "   \n"
                            "{\"method\": \"iso1\", \"data\": \"#HASH\"}\n"
                            "{\"method\": 4, \"data\": \"x\"}\n"
                            "{\"data\": \"77\"}";
    QVERIFY2(parseCardBatch(text, 2, &cards, &error), qPrintable(error));
    QCOMPARE(cards.size(), 4);
    const QList<int> lines = {cards[0].line, cards[1].line, cards[2].line, cards[3].line};
    QCOMPARE(lines, (QList<int>{2, 5, 6, 7}));
    const QList<int> methods = {cards[0].method, cards[1].method, cards[2].method, cards[3].method};
    QCOMPARE(methods, (QList<int>{2, 0, 4, 2}));
    QCOMPARE(cards[0].data, QStringLiteral(";123=4?"));
    QCOMPARE(cards[1].data, QStringLiteral("#HASH"));
    QCOMPARE(cards[3].index, 4);

    for (const QByteArray& bad :
         {QByteArray("ok\n{\"method\": 9, \"data\": \"1\"}"), QByteArray("ok\n{\"method\": 1}"),
          QByteArray("ok\n{\"data\": \"1\", \"extra\": 1}"), QByteArray("ok\n{not json")}) {
        QVERIFY(!parseCardBatch(bad, 1, &cards, &error));
        QVERIFY2(error.startsWith(QLatin1String("line 2: ")), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestTrackFiles)
#include "test_trackfiles.moc"
