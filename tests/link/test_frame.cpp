#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/protocol/framesplitter.h"
#include "link/protocol/frametext.h"

#include <QTest>

class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void lrcCoversEveryByte();
    void methodTable_data();
    void methodTable();
    void describeFrame_data();
    void describeFrame();
    void splitter_data();
    void splitter();
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

void TestFrame::methodTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<char>("write");
    QTest::addColumn<char>("read");
    QTest::addColumn<int>("track");
    QTest::newRow("0") << 0 << "ISO on Track 1"
                       << "iso1" << '1' << '5' << 0;
    QTest::newRow("1") << 1 << "ISO on Track 2"
                       << "iso2" << 'A' << 'E' << 1;
    QTest::newRow("2") << 2 << "ISO on Track 3"
                       << "iso3" << 'Q' << 'U' << 2;
    QTest::newRow("3") << 3 << "IBM 4700 on Track 2"
                       << "ibm" << '@' << 'D' << 1;
    QTest::newRow("4") << 4 << "Track 1 ISO on Track 3"
                       << "iso1t3" << '!' << '%' << 2;
    QTest::newRow("none below") << -1 << ""
                                << "" << '\0' << '\0' << -1;
    QTest::newRow("none above") << 5 << ""
                                << "" << '\0' << '\0' << -1;
}

void TestFrame::methodTable()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, shortName);
    QFETCH(char, write);
    QFETCH(char, read);
    QFETCH(int, track);
    const std::optional<CardMethodId> method = CardMethodId::fromIndex(index);
    if (name.isEmpty()) {
        QVERIFY(!method);
        QVERIFY(!CardMethodId::fromText(QString::number(index)));
        return;
    }
    QVERIFY(method);
    QCOMPARE(method->name(), name);
    QCOMPARE(method->shortName(), shortName);
    QCOMPARE(method->writeCommand(), write);
    QCOMPARE(method->readCommand(), read);
    QCOMPARE(method->track(), track);
    QCOMPARE(CardMethodId::fromText(QString::number(index)), method);
    QCOMPARE(CardMethodId::fromText(QLatin1Char(' ') + shortName.toUpper()), method);
    // Back from the character: ten characters name a method, every other byte none.
    int named = 0;
    for (int byte = 0; byte < 256; ++byte) {
        CardMethodId::Direction direction = CardMethodId::Direction::Read;
        const std::optional<CardMethodId> found = CardMethodId::fromCommand(char(byte), &direction);
        named += found.has_value();
        QCOMPARE(found == method, byte == uchar(write) || byte == uchar(read));
        if (found == method)
            QCOMPARE(direction, byte == uchar(write) ? CardMethodId::Direction::Write
                                                     : CardMethodId::Direction::Read);
    }
    QCOMPARE(named, 2 * CARD_METHOD_COUNT);
}

void TestFrame::describeFrame_data()
{
    QTest::addColumn<bool>("fromHost");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QString>("line");
    QByteArray badRead = buildFrame("E;1?");
    badRead.back() = '\0';
    QTest::newRow("write, hidden")
        << true << buildFrame("A;1?") << true
        << "host   > 02 41 [3 bytes hidden] 03 ??  write ISO on Track 2: 3 bytes of track data";
    QTest::newRow("write, shown") << true << buildFrame("A;1?") << false
                                  << "host   > 02 41 3B 31 3F 03 77  write ISO on Track 2: 3 "
                                     "bytes of track data \";1?\"";
    QTest::newRow("bad read reply, hidden")
        << false << badRead << true
        << "reader < 02 45 [3 bytes hidden] 03 ??  track data, ISO on Track 2: 3 bytes (bad "
           "check character)";
    QTest::newRow("bad read reply, shown")
        << false << badRead << false
        << "reader < 02 45 3B 31 3F 03 00  track data, ISO on Track 2: 3 bytes \";1?\" (bad "
           "check character, expected 73)";
    QTest::newRow("status, nothing to hide")
        << false << buildFrame("lA") << true
        << "reader < 02 6C 41 03 2E  status lA: Write Data Error";
    QTest::newRow("odd status") << false << buildFrame("l\x1b") << true
                                << "reader < 02 6C 1B 03 74  status reply \"l\\x1B\"";
    QTest::newRow("not a frame, hidden")
        << false << QByteArray("xy") << true << "reader < [2 bytes hidden]  not a frame";
    QTest::newRow("not a frame, shown")
        << false << QByteArray("xy") << false << "reader < 78 79  not a frame";
}

void TestFrame::describeFrame()
{
    QFETCH(bool, fromHost);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hidden);
    QFETCH(QString, line);
    QCOMPARE(::describeFrame(fromHost ? FrameSender::Host : FrameSender::Reader, bytes,
                             hidden ? TrackData::Hidden : TrackData::Shown)
                 .line(),
             line);
}

// What the splitter makes of bytes fed in the pieces given: each piece as "s:" and its stray
// bytes or "f:" and its data, a "!" for a bad check character, "+N" for data bytes dropped,
// and where it lay.
void TestFrame::splitter_data()
{
    QTest::addColumn<QList<QByteArray>>("feeds");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("pending");

    const QByteArray l0 = buildFrame("l0");
    QByteArray bad = l0;
    bad[4] = 0x5E;
    QTest::newRow("one frame") << QList<QByteArray>{l0} << false << QStringList{"f:l0@0-5"} << 0;
    QTest::newRow("in pieces") << QList<QByteArray>{l0.left(2), l0.mid(2, 2), l0.mid(4)} << false
                               << QStringList{"f:l0@0-5"} << 0;
    QTest::newRow("noise, two frames, a start")
        << QList<QByteArray>{"xy" + l0 + bad +
                             "\x02"
                             "E"}
        << false << QStringList{"s:xy@0-2", "f:l0@2-7", "f:l0!@7-12"} << 2;
    QTest::newRow("check character equal to ETX")
        << QList<QByteArray>{buildFrame(QByteArray())} << false << QStringList{"f:@0-3"} << 0;
    QTest::newRow("a start inside is data to the reader")
        << QList<QByteArray>{"\x02"
                             "a" +
                             l0}
        << false << QStringList{"f:a\x02l0!@0-7"} << 0;
    QTest::newRow("a host starts over at it") << QList<QByteArray>{"\x02"
                                                                   "a" +
                                                                   l0}
                                              << true
                                              << QStringList{"s:\x02"
                                                             "a@0-2",
                                                             "f:l0@2-7"}
                                              << 0;
    QTest::newRow("data beyond the bound is dropped")
        << QList<QByteArray>{buildFrame("123456")} << false << QStringList{"f:1234+2!@0-9"} << 0;
}

void TestFrame::splitter()
{
    QFETCH(QList<QByteArray>, feeds);
    QFETCH(bool, restart);
    QFETCH(QStringList, pieces);
    QFETCH(int, pending);

    FrameSplitter splitter(4, restart ? FrameSplitter::StxInFrame::Restart
                                      : FrameSplitter::StxInFrame::Data);
    QStringList seen;
    for (const QByteArray& bytes : feeds) {
        for (const FrameSplitter::Piece& piece : splitter.feed(bytes)) {
            QString text = (piece.isFrame() ? QStringLiteral("f:") : QStringLiteral("s:")) +
                           QString::fromLatin1(piece.bytes);
            if (piece.overflow > 0)
                text += QStringLiteral("+%1").arg(piece.overflow);
            if (piece.isFrame() && !piece.good())
                text += QLatin1Char('!');
            seen << text + QStringLiteral("@%1-%2").arg(piece.begin).arg(piece.end);
            if (!piece.isFrame() || piece.overflow == 0)
                QCOMPARE(piece.wire(), feeds.join().mid(piece.begin, piece.end - piece.begin));
        }
    }
    QCOMPARE(seen, pieces);
    QCOMPARE(int(splitter.pendingSize()), pending);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "test_frame.moc"
