#include "emulator/readermodel.h"
#include "emulator/readertext.h"
#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"

#include <QTest>

namespace {

QByteArray ask(ReaderModel& model, const QByteArray& data)
{
    return model.receive(buildFrame(data));
}

// A frame whose check character is wrong in every bit but the top one.
QByteArray badFrame(const QByteArray& data)
{
    QByteArray frame = buildFrame(data);
    frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0x7F);
    return frame;
}

bool goodFrame(const QByteArray& frame)
{
    return frame.size() >= 3 && frame.at(0) == cmd::STX && frame.at(frame.size() - 2) == cmd::ETX &&
           CalcLRC(frame.mid(1, frame.size() - 2)) == frame.at(frame.size() - 1);
}

QByteArray status(char code)
{
    return buildFrame(QByteArray(1, 'l') + code);
}

} // namespace

class TestReaderModel : public QObject
{
    Q_OBJECT
private slots:
    void commandReplies_data();
    void commandReplies();
    void versionReportsType_data();
    void versionReportsType();
    void typeOutOfRangeIsRefused();
    void wrongCheckCharacterGivesLrcError_data();
    void wrongCheckCharacterGivesLrcError();
    void checkCharacterEqualToFrameBytes();
    void chunking_data();
    void chunking();
    void resendRepeatsLastFrame();
    void resendAfterSwipeRepeatsStatus();
    void overlongFrame_data();
    void overlongFrame();
    void swipeWithoutArmSendsNothing();
    void readAfterSwipe_data();
    void readAfterSwipe();
    void writeThenRead_data();
    void writeThenRead();
    void writeKeepsOtherTracks();
    void laterLoadReplacesEarlier();
    void blankCardGivesNoData();
    void resetAbandonsArmAndData();
    void lamps_data();
    void lamps();
    void corruptCorruptsExactlyN_data();
    void corruptCorruptsExactlyN();
    void corruptAppliesToSwipeStatus();
    void splitIsReportedNotApplied();
    void silent_data();
    void silent();
    void force_data();
    void force();
    void forceCount();
    void swipeErrors_data();
    void swipeErrors();
    void clearFaults();
    void clearInputDropsPartialFrame();
    void logShowsBothDirections();
    void takesADeck();
};

void TestReaderModel::commandReplies_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray bad = status(cmd::ST_BAD_COMMAND);
    const QByteArray ok = status(cmd::ST_OK);
    QTest::newRow("version") << QByteArray("k") << buildFrame("k8");
    QTest::newRow("arm") << QByteArray("n") << ok;
    QTest::newRow("reset") << QByteArray("h") << ok;
    QTest::newRow("load ISO T1") << QByteArray("1ABC") << ok;
    QTest::newRow("load ISO T2") << QByteArray("A;123=45?") << ok;
    QTest::newRow("load ISO T3") << QByteArray("Q0123") << ok;
    QTest::newRow("load IBM T2") << QByteArray("@xyz") << ok;
    QTest::newRow("load T1 on T3") << QByteArray("!ABC") << ok;
    QTest::newRow("load empty") << QByteArray("A") << ok;
    QTest::newRow("read T1, none read") << QByteArray("5") << buildFrame("5");
    QTest::newRow("read T2, none read") << QByteArray("E") << buildFrame("E");
    QTest::newRow("read T3, none read") << QByteArray("U") << buildFrame("U");
    QTest::newRow("read IBM, none read") << QByteArray("D") << buildFrame("D");
    QTest::newRow("read T1 on T3, none read") << QByteArray("%") << buildFrame("%");
    QTest::newRow("lamps off") << QByteArray("`0") << ok;
    QTest::newRow("lamp green") << QByteArray("`1") << ok;
    QTest::newRow("lamp red") << QByteArray("`2") << ok;
    QTest::newRow("lamp yellow") << QByteArray("`3") << ok;
    QTest::newRow("lamp digit 4") << QByteArray("`4") << bad;
    QTest::newRow("lamp letter") << QByteArray("`a") << bad;
    QTest::newRow("lamp no digit") << QByteArray("`") << bad;
    QTest::newRow("lamp two digits") << QByteArray("`12") << bad;
    QTest::newRow("unknown x") << QByteArray("x") << bad;
    QTest::newRow("unused i") << QByteArray("i") << bad;
    QTest::newRow("unused j") << QByteArray("j") << bad;
    QTest::newRow("unused m") << QByteArray("m") << bad;
    QTest::newRow("status prefix") << QByteArray("l0") << bad;
    QTest::newRow("empty frame") << QByteArray() << bad;
    QTest::newRow("version with parameter") << QByteArray("k1") << bad;
    QTest::newRow("arm with parameter") << QByteArray("n0") << bad;
    QTest::newRow("reset with parameter") << QByteArray("h1") << bad;
    QTest::newRow("read with parameter") << QByteArray("E1") << bad;
    QTest::newRow("resend with parameter") << QByteArray("oo") << bad;
    QTest::newRow("resend before any frame") << QByteArray("o") << bad;
}

void TestReaderModel::commandReplies()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    ReaderModel model;
    QCOMPARE(ask(model, command), reply);
    QCOMPARE(model.lastFrame(), reply);
}

void TestReaderModel::versionReportsType_data()
{
    QTest::addColumn<int>("type");
    for (int t = 0; t <= 9; ++t)
        QTest::addRow("type %d", t) << t;
}

void TestReaderModel::versionReportsType()
{
    QFETCH(int, type);
    ReaderModel model;
    QVERIFY(model.setType(type));
    QCOMPARE(ask(model, "k"), buildFrame(QByteArray("k") + char('0' + type)));
}

void TestReaderModel::typeOutOfRangeIsRefused()
{
    ReaderModel model;
    QCOMPARE(model.type(), ReaderModel::kDefaultType);
    QVERIFY(model.setType(3));
    QVERIFY(!model.setType(10));
    QVERIFY(!model.setType(-1));
    QCOMPARE(model.type(), 3);
}

void TestReaderModel::wrongCheckCharacterGivesLrcError_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("version") << QByteArray("k");
    QTest::newRow("arm") << QByteArray("n");
    QTest::newRow("load") << QByteArray("A123");
    QTest::newRow("resend") << QByteArray("o");
    QTest::newRow("unknown") << QByteArray("x");
}

void TestReaderModel::wrongCheckCharacterGivesLrcError()
{
    QFETCH(QByteArray, command);
    ReaderModel model;
    QCOMPARE(model.receive(badFrame(command)), status(cmd::ST_LRC_ERROR));
    // Nothing of the refused command was carried out.
    QVERIFY(!model.isArmed());
    QVERIFY(!model.hasWriteData());
}

void TestReaderModel::checkCharacterEqualToFrameBytes()
{
    ReaderModel model;
    // "01" gives the check character 02, the STX code: it must close the frame, not open one.
    const QByteArray withStxLrc = buildFrame("01");
    QCOMPARE(withStxLrc.at(withStxLrc.size() - 1), cmd::STX);
    QCOMPARE(model.receive(withStxLrc), status(cmd::ST_BAD_COMMAND));
    // The empty frame's check character is ETX itself.
    QCOMPARE(model.receive(QByteArray("\x02\x03\x03", 3)), status(cmd::ST_BAD_COMMAND));
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
}

void TestReaderModel::chunking_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray version = buildFrame("k");
    const QByteArray arm = buildFrame("n");
    QList<QByteArray> bytes;
    for (const char c : version)
        bytes << QByteArray(1, c);
    QTest::newRow("byte by byte") << bytes << buildFrame("k8");
    QTest::newRow("split before check character")
        << QList<QByteArray>{version.left(3), version.mid(3)} << buildFrame("k8");
    QTest::newRow("two frames at once")
        << QList<QByteArray>{version + arm} << buildFrame("k8") + status(cmd::ST_OK);
    QTest::newRow("garbage before STX")
        << QList<QByteArray>{QByteArray("zz\x03\x6B", 4) + version} << buildFrame("k8");
    QTest::newRow("garbage between frames")
        << QList<QByteArray>{version + "junk", arm} << buildFrame("k8") + status(cmd::ST_OK);
    QTest::newRow("only garbage") << QList<QByteArray>{QByteArray("hello")} << QByteArray();
}

void TestReaderModel::chunking()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, reply);
    ReaderModel model;
    QByteArray all;
    for (const QByteArray& piece : pieces)
        all += model.receive(piece);
    QCOMPARE(all, reply);
}

void TestReaderModel::resendRepeatsLastFrame()
{
    ReaderModel model;
    model.setCurrentCard(0);
    ask(model, "n");
    model.swipe();
    const QByteArray reply = ask(model, "E");
    QCOMPARE(reply, buildFrame("E" + model.deck().at(0).tracks[1]));
    QCOMPARE(ask(model, "o"), reply);
    // A resend is not a new reply: a second one repeats the same frame again.
    QCOMPARE(ask(model, "o"), reply);
    QCOMPARE(model.lastFrame(), reply);
    // A refused resend does replace it.
    QCOMPARE(model.receive(badFrame("o")), status(cmd::ST_LRC_ERROR));
    QCOMPARE(ask(model, "o"), status(cmd::ST_LRC_ERROR));
}

void TestReaderModel::resendAfterSwipeRepeatsStatus()
{
    ReaderModel model;
    QCOMPARE(ask(model, "n"), status(cmd::ST_OK));
    const QByteArray swiped = model.swipe();
    QCOMPARE(swiped, status(cmd::ST_READ_DONE));
    QCOMPARE(ask(model, "o"), swiped);
}

void TestReaderModel::overlongFrame_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<bool>("goodLrc");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("512 bytes") << 512 << true << status(cmd::ST_OK);
    QTest::newRow("513 bytes") << 513 << true << status(cmd::ST_BUFFER_FULL);
    QTest::newRow("2000 bytes") << 2000 << true << status(cmd::ST_BUFFER_FULL);
    QTest::newRow("513 bytes, bad check") << 513 << false << status(cmd::ST_BUFFER_FULL);
}

void TestReaderModel::overlongFrame()
{
    QFETCH(int, dataBytes);
    QFETCH(bool, goodLrc);
    QFETCH(QByteArray, reply);
    ReaderModel model;
    const QByteArray data = "@" + QByteArray(dataBytes - 1, 'x');
    QCOMPARE(model.receive(goodLrc ? buildFrame(data) : badFrame(data)), reply);
    QCOMPARE(model.hasWriteData(), reply == status(cmd::ST_OK));
    // The next frame is read normally.
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
}

void TestReaderModel::swipeWithoutArmSendsNothing()
{
    ReaderModel model;
    QCOMPARE(model.swipe(), QByteArray());
    QVERIFY(!model.hasReadCard());
    QCOMPARE(ask(model, "E"), buildFrame("E"));
    ask(model, "n");
    QVERIFY(model.isArmed());
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
    QVERIFY(!model.isArmed());
    // One arm, one swipe.
    QCOMPARE(model.swipe(), QByteArray());
}

void TestReaderModel::readAfterSwipe_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("track");
    QTest::newRow("ISO on Track 1") << 0 << 0;
    QTest::newRow("ISO on Track 2") << 1 << 1;
    QTest::newRow("ISO on Track 3") << 2 << 2;
    QTest::newRow("IBM 4700 on Track 2") << 3 << 1;
    QTest::newRow("Track 1 ISO on Track 3") << 4 << 2;
}

void TestReaderModel::readAfterSwipe()
{
    QFETCH(int, method);
    QFETCH(int, track);
    ReaderModel model;
    ReaderCard card;
    card.name = QStringLiteral("three");
    card.tracks = {QByteArray("TRACK ONE"), QByteArray("2222"), QByteArray("3333")};
    QVERIFY(model.setDeck({card}));
    ask(model, "n");
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
    const char read = CardMethodId::fromIndex(method)->readCommand();
    QCOMPARE(ask(model, QByteArray(1, read)), buildFrame(read + card.tracks[track]));
}

void TestReaderModel::writeThenRead_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("ISO on Track 1") << 0 << QByteArray("HELLO WORLD^_ ").append(62, '0');
    QTest::newRow("ISO on Track 2") << 1 << QByteArray(";123=45?").append(29, '0');
    QTest::newRow("ISO on Track 3") << 2 << QByteArray(104, '7');
    QTest::newRow("IBM 4700 on Track 2") << 3 << QByteArray("any bytes \x01\xff", 12);
    QTest::newRow("Track 1 ISO on Track 3") << 4 << QByteArray("ABC 123");
}

void TestReaderModel::writeThenRead()
{
    QFETCH(int, index);
    QFETCH(QByteArray, data);
    ReaderModel model;
    const CardMethodId method = *CardMethodId::fromIndex(index);
    const char write = method.writeCommand();
    const char read = method.readCommand();
    QVERIFY(model.setCurrentCard(2));
    QCOMPARE(ask(model, write + data), status(cmd::ST_OK));
    QCOMPARE(model.loadedData(method), std::optional<QByteArray>(data));
    QCOMPARE(ask(model, "n"), status(cmd::ST_OK));
    QCOMPARE(model.swipe(), status(cmd::ST_WRITE_DONE));
    QVERIFY(!model.hasWriteData());
    QCOMPARE(ask(model, QByteArray(1, read)), buildFrame(read + data));
    // The card keeps it: swiped again to read, it gives the same data.
    QCOMPARE(ask(model, "n"), status(cmd::ST_OK));
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
    QCOMPARE(ask(model, QByteArray(1, read)), buildFrame(read + data));
    QCOMPARE(model.deck().at(2).tracks[method.track()], data);
}

void TestReaderModel::writeKeepsOtherTracks()
{
    ReaderModel model;
    const ReaderCard before = model.deck().at(0);
    ask(model, "A5555");
    ask(model, "n");
    QCOMPARE(model.swipe(0), status(cmd::ST_WRITE_DONE));
    QCOMPARE(ask(model, "5"), buildFrame("5" + before.tracks[0]));
    QCOMPARE(ask(model, "E"), buildFrame("E5555"));
    QCOMPARE(ask(model, "U"), buildFrame("U" + before.tracks[2]));
}

void TestReaderModel::laterLoadReplacesEarlier()
{
    ReaderModel model;
    ask(model, "Afirst");
    ask(model, "Asecond");
    ask(model, "1track one");
    QCOMPARE(model.loadedData(*CardMethodId::fromIndex(1)), std::optional<QByteArray>("second"));
    ask(model, "n");
    QCOMPARE(model.swipe(2), status(cmd::ST_WRITE_DONE));
    QCOMPARE(ask(model, "E"), buildFrame("Esecond"));
    QCOMPARE(ask(model, "5"), buildFrame("5track one"));
}

void TestReaderModel::blankCardGivesNoData()
{
    ReaderModel model;
    ask(model, "n");
    model.swipe();
    ask(model, "n");
    QCOMPARE(model.swipe(2), status(cmd::ST_READ_NO_DATA));
    // Nothing is left over from the card before.
    QCOMPARE(ask(model, "E"), buildFrame("E"));
}

void TestReaderModel::resetAbandonsArmAndData()
{
    ReaderModel model;
    ask(model, "A1234");
    ask(model, "n");
    QCOMPARE(ask(model, "h"), status(cmd::ST_OK));
    QVERIFY(!model.isArmed());
    QVERIFY(!model.hasWriteData());
    QCOMPARE(model.swipe(), QByteArray());
    // Armed again, the swipe reads: the dropped data is not written.
    ask(model, "n");
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
    QCOMPARE(ask(model, "E"), buildFrame("E" + defaultDeck().at(0).tracks[1]));
}

void TestReaderModel::lamps_data()
{
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<bool>("green");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("yellow");
    QTest::newRow("none") << QList<QByteArray>{} << false << false << false;
    QTest::newRow("green") << QList<QByteArray>{"`1"} << true << false << false;
    QTest::newRow("red") << QList<QByteArray>{"`2"} << false << true << false;
    QTest::newRow("yellow") << QList<QByteArray>{"`3"} << false << false << true;
    QTest::newRow("green and red add up") << QList<QByteArray>{"`1", "`2"} << true << true << false;
    QTest::newRow("green twice stays on")
        << QList<QByteArray>{"`1", "`1"} << true << false << false;
    QTest::newRow("all then off") << QList<QByteArray>{"`1", "`2", "`3", "`0"} << false << false
                                  << false;
    QTest::newRow("off then yellow")
        << QList<QByteArray>{"`2", "`0", "`3"} << false << false << true;
    QTest::newRow("bad digit changes nothing")
        << QList<QByteArray>{"`1", "`9"} << true << false << false;
}

void TestReaderModel::lamps()
{
    QFETCH(QList<QByteArray>, commands);
    QFETCH(bool, green);
    QFETCH(bool, red);
    QFETCH(bool, yellow);
    ReaderModel model;
    for (const QByteArray& command : commands)
        ask(model, command);
    QCOMPARE(model.lamps().green, green);
    QCOMPARE(model.lamps().red, red);
    QCOMPARE(model.lamps().yellow, yellow);
}

void TestReaderModel::corruptCorruptsExactlyN_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
}

void TestReaderModel::corruptCorruptsExactlyN()
{
    QFETCH(int, count);
    ReaderModel model;
    model.setCorruptCount(count);
    int corrupted = 0;
    for (int i = 0; i < count + 3; ++i) {
        const QByteArray reply = ask(model, i == 0 ? QByteArray("k") : QByteArray("o"));
        // Only the check character differs from the real frame.
        QCOMPARE(reply.size(), 5);
        QCOMPARE(reply.left(4), buildFrame("k8").left(4));
        if (!goodFrame(reply)) {
            QVERIFY2(i < count, "a reply after the first N was corrupted");
            ++corrupted;
        }
    }
    QCOMPARE(corrupted, count);
    QCOMPARE(model.corruptCount(), 0);
    // What is kept for a resend is the frame as it should have been.
    QCOMPARE(model.lastFrame(), buildFrame("k8"));
}

void TestReaderModel::corruptAppliesToSwipeStatus()
{
    ReaderModel model;
    ask(model, "n");
    model.setCorruptCount(1);
    const QByteArray swiped = model.swipe();
    QVERIFY(!swiped.isEmpty());
    QVERIFY(!goodFrame(swiped));
    QCOMPARE(ask(model, "o"), status(cmd::ST_READ_DONE));
}

void TestReaderModel::splitIsReportedNotApplied()
{
    ReaderModel model;
    QCOMPARE(model.splitSize(), 0);
    model.setSplitSize(2);
    QCOMPARE(model.splitSize(), 2);
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
    model.setSplitSize(-4);
    QCOMPARE(model.splitSize(), 0);
}

void TestReaderModel::silent_data()
{
    QTest::addColumn<QByteArray>("silent");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("answered");
    QTest::newRow("version silenced") << QByteArray("kn") << QByteArray("k") << false;
    QTest::newRow("arm silenced") << QByteArray("kn") << QByteArray("n") << false;
    QTest::newRow("read not silenced") << QByteArray("kn") << QByteArray("E") << true;
    QTest::newRow("lamp silenced") << QByteArray("`") << QByteArray("`1") << false;
    QTest::newRow("resend silenced") << QByteArray("o") << QByteArray("o") << false;
    QTest::newRow("nothing silenced") << QByteArray() << QByteArray("k") << true;
}

void TestReaderModel::silent()
{
    QFETCH(QByteArray, silent);
    QFETCH(QByteArray, command);
    QFETCH(bool, answered);
    ReaderModel model;
    ask(model, "h");
    const QByteArray before = model.lastFrame();
    model.setSilentCommands(silent);
    QCOMPARE(!ask(model, command).isEmpty(), answered);
    if (!answered) {
        QCOMPARE(model.lastFrame(), before);
        // Not carried out either.
        QVERIFY(!model.isArmed());
        QCOMPARE(model.lamps(), ReaderLamps());
        // A frame that fails its check cannot be told apart, so it is refused as usual.
        QCOMPARE(model.receive(badFrame(command)), status(cmd::ST_LRC_ERROR));
    }
}

void TestReaderModel::force_data()
{
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("goodCheck");
    QTest::newRow("bad command for version") << QByteArray("l3") << QByteArray("k") << true;
    QTest::newRow("buffer full for load") << QByteArray("l4") << QByteArray("A123") << true;
    QTest::newRow("parity error for arm") << QByteArray("l1") << QByteArray("n") << true;
    QTest::newRow("lone l") << QByteArray("l") << QByteArray("E") << true;
    QTest::newRow("replaces the LRC error") << QByteArray("l1") << QByteArray("k") << false;
}

void TestReaderModel::force()
{
    QFETCH(QByteArray, forced);
    QFETCH(QByteArray, command);
    QFETCH(bool, goodCheck);
    ReaderModel model;
    model.setForcedReply(forced);
    QCOMPARE(model.forcedReply(), forced);
    QCOMPARE(model.receive(goodCheck ? buildFrame(command) : badFrame(command)),
             buildFrame(forced));
    QVERIFY(!model.isArmed());
    QVERIFY(!model.hasWriteData());
    QCOMPARE(model.forcedCount(), 0);
    QCOMPARE(ask(model, "o"), buildFrame(forced));
    // One command only.
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
}

void TestReaderModel::forceCount()
{
    ReaderModel model;
    model.setForcedReply("l4", 2);
    QCOMPARE(ask(model, "k"), status(cmd::ST_BUFFER_FULL));
    QCOMPARE(ask(model, "k"), status(cmd::ST_BUFFER_FULL));
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
    model.setForcedReply("l4", 3);
    model.setForcedReply(QByteArray());
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
}

void TestReaderModel::swipeErrors_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("writing");
    QTest::addColumn<char>("code");
    using E = ReaderModel::SwipeError;
    QTest::newRow("read error") << int(E::Read) << false << cmd::ST_READ_ERROR;
    QTest::newRow("no data") << int(E::NoData) << false << cmd::ST_READ_NO_DATA;
    QTest::newRow("write error") << int(E::Write) << true << cmd::ST_WRITE_ERROR;
    QTest::newRow("write error on a read") << int(E::Write) << false << cmd::ST_WRITE_ERROR;
    QTest::newRow("read error on a write") << int(E::Read) << true << cmd::ST_READ_ERROR;
}

void TestReaderModel::swipeErrors()
{
    QFETCH(int, error);
    QFETCH(bool, writing);
    QFETCH(char, code);
    ReaderModel model;
    const ReaderCard before = model.deck().at(0);
    model.setSwipeError(ReaderModel::SwipeError(error));
    // A swipe while not armed does not use the fault up.
    QCOMPARE(model.swipe(), QByteArray());
    if (writing)
        ask(model, "Anew data");
    ask(model, "n");
    QCOMPARE(model.swipe(), status(code));
    QCOMPARE(model.swipeError(), ReaderModel::SwipeError::None);
    QVERIFY(!model.hasWriteData());
    QCOMPARE(ask(model, "E"), buildFrame("E"));
    QCOMPARE(model.deck().at(0).tracks, before.tracks);
    // Only the next swipe fails.
    ask(model, "n");
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
}

void TestReaderModel::clearFaults()
{
    ReaderModel model;
    model.setCorruptCount(2);
    model.setSplitSize(3);
    model.setSilentCommands("k");
    model.setForcedReply("l3");
    model.setSwipeError(ReaderModel::SwipeError::Read);
    QVERIFY(faultsText(model).contains(QLatin1String("corrupt 2")));
    model.clearFaults();
    QCOMPARE(faultsText(model), QStringLiteral("no faults"));
    QCOMPARE(model.splitSize(), 0);
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
    ask(model, "n");
    QCOMPARE(model.swipe(), status(cmd::ST_READ_DONE));
}

void TestReaderModel::clearInputDropsPartialFrame()
{
    ReaderModel model;
    QCOMPARE(model.receive(QByteArray("\x02"
                                      "A12",
                                      4)),
             QByteArray());
    model.clearInput();
    QCOMPARE(ask(model, "k"), buildFrame("k8"));
    QVERIFY(!model.hasWriteData());
}

void TestReaderModel::logShowsBothDirections()
{
    ReaderModel model;
    QList<FrameLogEntry> entries;
    model.onLog = [&](const FrameLogEntry& entry) { entries.append(entry); };
    ask(model, "k");
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).direction, FrameLogEntry::FromHost);
    QCOMPARE(entries.at(0).bytes, QByteArray("\x02\x6B\x03\x68"));
    QCOMPARE(logEntryLine(entries.at(0)), QStringLiteral("host   > 02 6B 03 68  version query"));
    QCOMPARE(entries.at(1).direction, FrameLogEntry::ToHost);
    QCOMPARE(logEntryLine(entries.at(1)),
             QStringLiteral("reader < 02 6B 38 03 50  version: reader type 8"));
    entries.clear();
    model.setCorruptCount(1);
    model.receive(badFrame("n"));
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries.at(0).meaning.contains(QLatin1String("bad check character")));
    QVERIFY(entries.at(1).meaning.contains(QLatin1String("status l2")));
    QVERIFY(entries.at(1).meaning.contains(QLatin1String("corrupted")));
    entries.clear();
    model.receive("xy");
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).direction, FrameLogEntry::Note);
    QVERIFY(logEntryLine(entries.at(0)).contains(QLatin1String("78 79")));
}

void TestReaderModel::takesADeck()
{
    QList<ReaderCard> deck(2);
    deck[0].name = QStringLiteral("First card");
    ReaderModel model;
    QVERIFY(model.setCurrentCard(2));
    QVERIFY(model.setDeck(deck));
    QCOMPARE(model.currentCard(), 0);
    QVERIFY(!model.setDeck({}));
    QCOMPARE(model.deck().size(), 2);
    QCOMPARE(model.deck().at(0).name, QStringLiteral("First card"));
    QVERIFY(!model.setCurrentCard(2));
}

QTEST_GUILESS_MAIN(TestReaderModel)
#include "test_readermodel.moc"
