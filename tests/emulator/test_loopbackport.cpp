#include "config/appsettings.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/scriptedmessagebox.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray status(char code)
{
    return buildFrame(QByteArray(1, 'l') + code);
}

} // namespace

class TestLoopbackPort : public QObject
{
    Q_OBJECT
private slots:
    void outputFeedsModel();
    void pieces_data();
    void pieces();
    void autoSwipeWaitsForTheArmReply_data();
    void autoSwipeWaitsForTheArmReply();
    void autoSwipeThroughTheLink();
    void swipeQueuesStatus();
    void pullCable();
    void openFailures();
    void closedPort();
};

void TestLoopbackPort::outputFeedsModel()
{
    ReaderModel model;
    model.setType(3);
    LoopbackPort port(model);
    QVERIFY(port.portOpen());
    port.output(buildFrame("k"));
    port.output(buildFrame("n"));
    QCOMPARE(port.written, (QList<QByteArray>{buildFrame("k"), buildFrame("n")}));
    QCOMPARE(port.inBufferCount(), 10);
    QCOMPARE(port.input(), buildFrame("k3") + status(cmd::ST_OK));
    QCOMPARE(port.input(), QByteArray());
    QCOMPARE(port.inBufferCount(), 0);
    QVERIFY(model.isArmed());
}

void TestLoopbackPort::pieces_data()
{
    QTest::addColumn<int>("split");
    QTest::newRow("off") << 0;
    QTest::newRow("1 byte") << 1;
    QTest::newRow("2 bytes") << 2;
    QTest::newRow("3 bytes") << 3;
    QTest::newRow("larger than the reply") << 50;
}

void TestLoopbackPort::pieces()
{
    QFETCH(int, split);
    LoopbackPort port;
    port.model().setSplitSize(split);
    port.output(buildFrame("E"));
    port.model().swipe(); // not armed: nothing
    port.output(buildFrame("k"));
    const QByteArray expected = buildFrame("E") + buildFrame("k8");
    QByteArray received;
    int calls = 0;
    for (QByteArray piece = port.input(); !piece.isEmpty() && calls < 100; piece = port.input()) {
        ++calls;
        if (split > 0)
            QVERIFY(piece.size() <= split);
        received += piece;
    }
    QCOMPARE(received, expected);
    const int size = int(expected.size());
    QCOMPARE(calls, split > 0 ? (size + split - 1) / split : 1);
}

void TestLoopbackPort::autoSwipeWaitsForTheArmReply_data()
{
    QTest::addColumn<int>("split");
    QTest::newRow("whole") << 0;
    QTest::newRow("pieces of 2") << 2;
}

void TestLoopbackPort::autoSwipeWaitsForTheArmReply()
{
    QFETCH(int, split);
    LoopbackPort port;
    port.autoSwipe = true;
    port.model().setSplitSize(split);
    // Not armed: nothing arrives by itself.
    QCOMPARE(port.input(), QByteArray());
    port.output(buildFrame("n"));
    QByteArray armReply;
    for (int i = 0; i < 10 && armReply.size() < 5; ++i)
        armReply += port.input();
    QCOMPARE(armReply, status(cmd::ST_OK));
    QCOMPARE(port.autoSwipes, 0);
    QVERIFY(port.model().isArmed());
    QByteArray swiped;
    for (int i = 0; i < 10 && swiped.size() < 5; ++i)
        swiped += port.input();
    QCOMPARE(swiped, status(cmd::ST_READ_DONE));
    QCOMPARE(port.autoSwipes, 1);
    QVERIFY(!port.model().isArmed());
    QCOMPARE(port.input(), QByteArray());
    QCOMPARE(port.autoSwipes, 1);
}

// The read's swipe wait as the link runs it: the arm reply stays in ReplyBuffer, so the
// unsolicited status fails the start test and is fetched again with a resend.
void TestLoopbackPort::autoSwipeThroughTheLink()
{
    LoopbackPort port;
    port.autoSwipe = true;
    ManualClock clock;
    ManualPump pump(clock);
    ScriptedMessageBox messages;
    AppSettings settings;
    ReaderLink link(port, clock, messages, pump, settings);
    pump.setLink(&link);

    link.SendData(QByteArray(1, cmd::CMD_ARM));
    QCOMPARE(link.WaitForReply(false), int(WAIT_REPLIED));
    QCOMPARE(link.ReplyBuffer(), QByteArray("l0"));
    link.awaitSwipe();
    QCOMPARE(link.WaitForReply(false), int(WAIT_REPLIED));
    QCOMPARE(link.ReplyBuffer(), QByteArray("lP"));
    QCOMPARE(port.written, (QList<QByteArray>{buildFrame("n"), buildFrame("o")}));
    link.SendData(QByteArray(1, cmd::CMD_READ_ISO_T2));
    QCOMPARE(link.WaitForReply(true), int(WAIT_REPLIED));
    QCOMPARE(link.ReplyBuffer(), "E" + defaultDeck().at(0).tracks[1]);
}

void TestLoopbackPort::swipeQueuesStatus()
{
    LoopbackPort port;
    QCOMPARE(port.swipe(), QByteArray());
    QCOMPARE(port.pending(), QByteArray());
    port.output(buildFrame("n"));
    QCOMPARE(port.swipe(2), status(cmd::ST_READ_NO_DATA));
    QCOMPARE(port.model().currentCard(), 2);
    QCOMPARE(port.input(), status(cmd::ST_OK) + status(cmd::ST_READ_NO_DATA));
}

void TestLoopbackPort::pullCable()
{
    LoopbackPort port;
    QSignalSpy spy(&port, &ISerialPort::onComm);
    port.output(buildFrame("k"));
    port.pullCable();
    QCOMPARE(spy.count(), 1);
    QVERIFY(!port.portOpen());
    QCOMPARE(port.inBufferCount(), 0);
    QCOMPARE(port.input(), QByteArray());
    QVERIFY_THROWS_EXCEPTION(AppError, port.output(buildFrame("k")));
    QCOMPARE(port.written.size(), 1);
    port.pullCable();
    QCOMPARE(spy.count(), 1);
    // Plugged in again, it works, with nothing left over.
    port.setPortOpen(true);
    QCOMPARE(port.input(), QByteArray());
    port.output(buildFrame("k"));
    QCOMPARE(port.input(), buildFrame("k8"));
}

void TestLoopbackPort::openFailures()
{
    LoopbackPort port;
    port.setPortOpen(false);
    port.openFailures = 2;
    QVERIFY_THROWS_EXCEPTION(AppError, port.setPortOpen(true));
    QVERIFY_THROWS_EXCEPTION(AppError, port.setPortOpen(true));
    QVERIFY(!port.portOpen());
    port.setPortOpen(true);
    QVERIFY(port.portOpen());
    QCOMPARE(port.openFailures, 0);
}

void TestLoopbackPort::closedPort()
{
    LoopbackPort port;
    port.output(buildFrame("n"));
    port.setPortOpen(false);
    try {
        port.output(buildFrame("k"));
        QFAIL("a write to a closed port went through");
    } catch (const AppError& error) {
        QVERIFY(error.number() != 0);
        QVERIFY(!error.description().isEmpty());
    }
    QCOMPARE(port.input(), QByteArray());
    // A swipe on a closed line reaches nobody.
    QCOMPARE(port.swipe(), status(cmd::ST_READ_DONE));
    QCOMPARE(port.pending(), QByteArray());
}

QTEST_GUILESS_MAIN(TestLoopbackPort)
#include "test_loopbackport.moc"
