// Track data below the front ends: decoding and batch files.

#include "cards/cardbatch.h"
#include "cards/trackdecode.h"

#include <QTemporaryFile>
#include <QTest>

class TestTrackFiles : public QObject
{
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void accountNumber_data();
    void accountNumber();
    void batchFile();
    void batchFaults_data();
    void batchFaults();
    void batchInputBounds_data();
    void batchInputBounds();
    void duplicates_data();
    void duplicates();
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

void TestTrackFiles::accountNumber_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("masked");
    QTest::newRow("decodable") << 1 << QByteArray(";4111111111111111=2512101?000")
                               << "411111******1111";
    QTest::newRow("a gift card without service code")
        << 1 << QByteArray(";60357100000000019=2912?") << "603571*******0019";
    QTest::newRow("track 1 layout")
        << 0 << QByteArray("%B6035710000000001^?") << "603571******0001";
    QTest::newRow("too short for a number") << 1 << QByteArray(";12345678901=1?") << QString();
    QTest::newRow("digits run into other data") << 1 << QByteArray(";123456789012A?") << QString();
    QTest::newRow("bare, as a reader hands it out")
        << 1 << QByteArray("4111111111111111=2512101") << "411111******1111";
    QTest::newRow("bare, undecodable") << 1 << QByteArray("4111111111111111=25") << QString();
    QTest::newRow("track 3 has no layout") << 2 << QByteArray(";4111111111111111=1?") << QString();
}

// The number a result line or a difference shows masked, also where the track is no bank
// card's.
void TestTrackFiles::accountNumber()
{
    QFETCH(int, method);
    QFETCH(QByteArray, data);
    QFETCH(QString, masked);
    const QString pan = accountNumberOf(*CardMethodId::fromIndex(method), data);
    QCOMPARE(pan.isEmpty() ? QString() : maskPan(pan), masked);
}

void TestTrackFiles::batchFile()
{
    const QByteArray text = "# header\r\n"
                            ";123=4?\r\n"
                            "\n"
                            "   \n"
                            "{\"method\": \"iso1\", \"data\": \"#HASH\"}\n"
                            "{\"method\": 4, \"data\": \"x\"}\n"
                            "{\"data\": \"77\"}\n"
                            "{\"iso2\": \";1=1?\", \"iso1\": \"%B1^X^?\"}";
    const CardBatch batch = parseCardBatch(text, *CardMethodId::fromIndex(2), false);
    QVERIFY(batch.problems.isEmpty());
    const QList<BatchCard>& cards = batch.cards;
    QCOMPARE(cards.size(), 5);
    QList<int> lines;
    QStringList methods;
    for (const BatchCard& card : cards) {
        lines << card.line;
        QStringList names;
        for (const BatchTrack& track : card.tracks)
            names << track.method.shortName();
        methods << names.join(QLatin1Char('+'));
    }
    QCOMPARE(lines, (QList<int>{2, 5, 6, 7, 8}));
    // A card of several tracks takes them in the order of the card's tracks.
    QCOMPARE(methods, (QStringList{"iso3", "iso1", "iso1t3", "iso3", "iso1+iso2"}));
    QCOMPARE(cards[0].tracks.first().data, QStringLiteral(";123=4?"));
    QCOMPARE(cards[0].tracks.first().bytes, QByteArray(";123=4?") + QByteArray(97, '0'));
    QCOMPARE(cards[1].tracks.first().data, QStringLiteral("#HASH"));
    QVERIFY(cards[2].tracks.first().unchecked && !cards[0].tracks.first().unchecked);
    QCOMPARE(cards[4].tracks.last().bytes, QByteArray(";1=1?") + QByteArray(32, '0'));
    QCOMPARE(cards[3].index, 4);
    QCOMPARE(batch.sha256.size(), 64);
}

void TestTrackFiles::batchFaults_data()
{
    QTest::addColumn<QByteArray>("line2");
    QTest::addColumn<QString>("fault"); // the start of what is said of line 2
    QTest::addColumn<bool>("data");     // a card's data fault, not the file's

    QTest::newRow("bad character")
        << QByteArray(";12a") << "invalid character \"a\" at position 4" << true;
    QTest::newRow("longer than the track")
        << QByteArray(42, '1') << "42 characters: ISO on Track 2 holds at most 37" << true;
    QTest::newRow("empty data") << QByteArray("{\"data\": \"\"}") << "no data" << true;
    QTest::newRow("unchecked, too long")
        << QByteArray("{\"method\": \"ibm\", \"data\": \"") + QByteArray(38, 'x') + "\"}"
        << "38 characters: IBM 4700 on Track 2 holds at most 37" << true;
    QTest::newRow("invalid UTF-8") << QByteArray(";1\xff") << "is not valid UTF-8" << false;
    QTest::newRow("NUL byte") << QByteArray(";1\0002", 4) << "holds a NUL byte" << false;
    QTest::newRow("duplicate key") << QByteArray("{\"method\": 1, \"data\": \"1\", \"method\": 0}")
                                   << "the key \"method\" is given twice" << false;
    QTest::newRow("duplicate key, escaped")
        << QByteArray("{\"data\": \"1\", \"d\\u0061ta\": \"2\"}")
        << "the key \"data\" is given twice" << false;
    QTest::newRow("unknown key") << QByteArray("{\"data\": \"1\", \"extra\": 1}")
                                 << "unknown key \"extra\"" << false;
    QTest::newRow("bad method") << QByteArray("{\"method\": 9, \"data\": \"1\"}")
                                << "\"method\" is 0 to 4" << false;
    QTest::newRow("a method number beyond any int")
        << QByteArray("{\"method\": 1" + QByteArray(80, '4') + ", \"data\": \"1\"}")
        << "\"method\" is 0 to 4" << false;
    QTest::newRow("a negative method")
        << QByteArray("{\"method\": -1, \"data\": \"1\"}") << "\"method\" is 0 to 4" << false;
    QTest::newRow("data not text")
        << QByteArray("{\"method\": 1}") << "\"data\" must be a string" << false;
    QTest::newRow("not JSON") << QByteArray("{not json") << "not a JSON object" << false;
    QTest::newRow("two methods on one track")
        << QByteArray("{\"iso2\": \"1\", \"ibm\": \"2\"}")
        << "\"iso2\" and \"ibm\" are both on track 2" << false;
    QTest::newRow("a track of no method")
        << QByteArray("{\"iso1\": \"A\", \"iso9\": \"2\"}") << "unknown key \"iso9\"" << false;
    QTest::newRow("a track's data not text")
        << QByteArray("{\"iso1\": \"A\", \"iso2\": 12}") << "\"iso2\" must be a string" << false;
    QTest::newRow("a fault of one of several tracks")
        << QByteArray("{\"iso1\": \"A\", \"iso2\": \"1a\"}")
        << "iso2: invalid character \"a\" at position 2" << true;
}

void TestTrackFiles::batchFaults()
{
    QFETCH(QByteArray, line2);
    QFETCH(QString, fault);
    QFETCH(bool, data);
    // Every faulty line is found, the good ones around it stay cards.
    const CardBatch batch = parseCardBatch(";1=1?\n" + line2 + "\n;3=3?\n" + line2 + "\n",
                                           *CardMethodId::fromIndex(1), false);
    QCOMPARE(batch.problems.size(), 2);
    for (const BatchProblem& problem : batch.problems) {
        QVERIFY2(problem.text.startsWith(fault), qPrintable(problem.text));
        QCOMPARE(problem.data, data);
    }
    QCOMPARE(batch.problems.at(0).line, 2);
    QCOMPARE(batch.problems.at(1).line, 4);
    QCOMPARE(batch.cards.constFirst().tracks.first().bytes.left(5), QByteArray(";1=1?"));
    // What --allow-empty lets through is empty data alone.
    if (fault == QLatin1String("no data"))
        QVERIFY(parseCardBatch(line2, *CardMethodId::fromIndex(1), true).problems.isEmpty());
}

void TestTrackFiles::batchInputBounds_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("error");
    QTest::newRow("zeros, no newline") << QByteArray(100000, '\0') << "line 1 is longer than 4 KiB";
    QTest::newRow("a giant line after a good one")
        << QByteArray(";1=1?\n") + QByteArray(5000, '1') << "line 2 is longer than 4 KiB";
    QTest::newRow("too much in all")
        << (QByteArray("# ") + QByteArray(4000, 'A') + '\n').repeated(13000)
        << "more than 48 MiB of input";
}

void TestTrackFiles::batchInputBounds()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, error);
    QTemporaryFile file;
    QVERIFY(file.open());
    QCOMPARE(file.write(input), input.size());
    QVERIFY(file.seek(0));
    CardBatch batch;
    QString why;
    QVERIFY(!readCardBatch(int(file.handle()), *CardMethodId::fromIndex(1), false, &batch, &why));
    QVERIFY2(why.startsWith(error), qPrintable(why));
}

void TestTrackFiles::duplicates_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("found"); // "line: what"

    QTest::newRow("all different") << QByteArray(";1?\n;2?\n;3?\n") << QStringList{};
    QTest::newRow("the same data twice")
        << QByteArray(";1?\n;2?\n;1?\n") << QStringList{"3: the same data as card 1 (line 1)"};
    QTest::newRow("a track every card shares tells none apart")
        << QByteArray("{\"iso1\": \"%BHOTEL^\", \"iso2\": \";1?\"}\n"
                      "{\"iso1\": \"%BHOTEL^\", \"iso2\": \";2?\"}\n")
        << QStringList{};
    QTest::newRow("the same account number under another name")
        << QByteArray("{\"iso1\": \"%B4111111111111111^ANN/A^2912101?\", "
                      "\"iso2\": \";4111111111111111=2912101?\"}\n"
                      "{\"iso1\": \"%B4111111111111111^BO/B^2912101?\", "
                      "\"iso2\": \";4111111111111111=2912101?\"}\n")
        << QStringList{"2: the same account number as card 1 (line 1)"};
    QTest::newRow("one card alone is no duplicate") << QByteArray(";1?\n") << QStringList{};
}

void TestTrackFiles::duplicates()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, found);
    const CardBatch batch = parseCardBatch(text, *CardMethodId::fromIndex(1), false);
    QVERIFY(batch.problems.isEmpty());
    QStringList problems;
    for (const BatchProblem& problem : duplicateCards(batch.cards))
        problems << QStringLiteral("%1: %2").arg(problem.line).arg(problem.text);
    QCOMPARE(problems, found);
}

QTEST_GUILESS_MAIN(TestTrackFiles)
#include "test_trackfiles.moc"
