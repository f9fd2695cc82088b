#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "support/fakeport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/scriptedmessagebox.h"

#include <QTest>

namespace {
QByteArray frame(const char* data)
{
    return buildFrame(QByteArray(data));
}
} // namespace

class TestReaderLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendDataFramesAndResetsState();
    void sendDataOnClosedPortThrowsWithFlagRaised();
    void replySplitOverTicks();
    void checkCharacterEqualToEtx();
    void leftoverAtHeadGetsOneResend();
    void twoFramesInOneTickGetOneResend();
    void threeIdenticalFramesAreNoReply();
    void twoCharacterBufferIsBadFrame();
    void unsolicitedGoodFrameLowersFlag();
    void bufferKeepsOnlyNewest();
    void resendOnDeadPortIsSilent();
    void portEventDropsPendingInputOnly();

    void waitOutcomes_data();
    void waitOutcomes();
    void timeoutZeroCountsCompleteFrame();
    void budgetInThirtyTwoBits_data();
    void budgetInThirtyTwoBits();
    void resendStormEndsAtOriginalDeadline();
    void abortEndsWaitWithoutPrompt();

    void showReplyError_data();
    void showReplyError();

    void readerType_data();
    void readerType();
    void readerTypeYesRepeatsQuery();
    void demoModeSendsNothing();

private:
    AppSettings m_settings;
    FakePort* m_port = nullptr;
    ManualClock* m_clock = nullptr;
    ManualPump* m_pump = nullptr;
    ScriptedMessageBox* m_boxes = nullptr;
    ReaderLink* m_link = nullptr;
};

void TestReaderLink::init()
{
    m_settings = AppSettings{};
    m_port = new FakePort;
    m_clock = new ManualClock;
    m_pump = new ManualPump(*m_clock);
    m_boxes = new ScriptedMessageBox;
    m_link = new ReaderLink(*m_port, *m_clock, *m_boxes, *m_pump, m_settings);
    m_pump->setLink(m_link);
}

void TestReaderLink::cleanup()
{
    QCOMPARE(m_boxes->pending(), 0);
    delete m_link;
    delete m_boxes;
    delete m_pump;
    delete m_clock;
    delete m_port;
}

void TestReaderLink::sendDataFramesAndResetsState()
{
    m_link->putReply("leftover");
    m_link->awaitSwipe();
    m_link->SendData("k");
    QCOMPARE(m_port->written, QList<QByteArray>{QByteArray::fromHex("026b0368")});
    QVERIFY(m_link->ReplyBuffer().isEmpty());
    QVERIFY(m_link->WaitingForReply());
}

void TestReaderLink::sendDataOnClosedPortThrowsWithFlagRaised()
{
    m_port->setPortOpen(false);
    m_link->putReply("x");
    QVERIFY_THROWS_EXCEPTION(AppError, m_link->SendData("n"));
    QVERIFY(m_link->WaitingForReply());
    QVERIFY(m_link->ReplyBuffer().isEmpty());
}

void TestReaderLink::replySplitOverTicks()
{
    m_link->SendData("n");
    const QByteArray reply = frame("l0");
    m_port->feed(reply.left(2));
    m_port->feed(reply.mid(2, 2)); // up to and including the ETX
    m_port->feed(reply.mid(4));
    m_link->tmrCheckComms_Timer();
    QVERIFY(m_link->WaitingForReply());
    m_link->tmrCheckComms_Timer();
    QVERIFY(m_link->WaitingForReply());
    QCOMPARE(m_link->ReplyBuffer(), reply.left(4));
    m_link->tmrCheckComms_Timer();
    QVERIFY(!m_link->WaitingForReply());
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("l0"));
    QCOMPARE(m_port->written.size(), 1);
}

void TestReaderLink::checkCharacterEqualToEtx()
{
    // "kk" XOR ETX is ETX: the frame ends in two ETX bytes.
    const QByteArray reply = frame("kk");
    QCOMPARE(reply.toHex(), QByteArray("026b6b0303"));
    m_link->awaitSwipe();
    m_port->feed(reply);
    m_link->tmrCheckComms_Timer();
    QVERIFY(!m_link->WaitingForReply());
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("kk"));
}

void TestReaderLink::leftoverAtHeadGetsOneResend()
{
    m_link->putReply("l0");
    m_link->awaitSwipe();
    m_port->feed(frame("lP"));
    m_link->tmrCheckComms_Timer();
    QCOMPARE(m_port->written, QList<QByteArray>{frame("o")});
    QVERIFY(m_link->WaitingForReply());
    QVERIFY(m_link->ReplyBuffer().isEmpty());
    m_port->feed(frame("lP"));
    m_link->tmrCheckComms_Timer();
    QVERIFY(!m_link->WaitingForReply());
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("lP"));
    QCOMPARE(m_port->written.size(), 1);
}

void TestReaderLink::twoFramesInOneTickGetOneResend()
{
    m_link->awaitSwipe();
    m_port->feed(frame("l0") + frame("lP"));
    m_link->tmrCheckComms_Timer();
    QCOMPARE(m_port->written, QList<QByteArray>{frame("o")});
    QVERIFY(m_link->WaitingForReply());
}

void TestReaderLink::threeIdenticalFramesAreNoReply()
{
    // Their XOR cancels out in pairs, so the check character alone would pass them.
    m_link->awaitSwipe();
    m_port->feed(frame("l0") + frame("l0") + frame("l0"));
    m_link->tmrCheckComms_Timer();
    QCOMPARE(m_port->written, QList<QByteArray>{frame("o")});
    QVERIFY(m_link->WaitingForReply());
    QVERIFY(m_link->ReplyBuffer().isEmpty());
}

void TestReaderLink::twoCharacterBufferIsBadFrame()
{
    m_link->awaitSwipe();
    m_port->feed(QByteArray("\x03\x03", 2));
    m_link->tmrCheckComms_Timer();
    QCOMPARE(m_port->written, QList<QByteArray>{frame("o")});
    QVERIFY(m_link->WaitingForReply());
    QVERIFY(m_link->ReplyBuffer().isEmpty());
}

void TestReaderLink::unsolicitedGoodFrameLowersFlag()
{
    m_port->feed(frame("lP"));
    m_link->tmrCheckComms_Timer();
    QVERIFY(!m_link->WaitingForReply());
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("lP"));
    QVERIFY(m_port->written.isEmpty());
}

void TestReaderLink::bufferKeepsOnlyNewest()
{
    m_link->awaitSwipe();
    QByteArray noise;
    for (int i = 0; i < 3 * ReaderLink::kMaxReplyBuffer; ++i)
        noise.append(char('A' + i % 26));
    for (int piece = 0; piece < 3; ++piece)
        m_port->feed(noise.mid(piece * ReaderLink::kMaxReplyBuffer, ReaderLink::kMaxReplyBuffer));
    for (int tick = 0; tick < 3; ++tick) {
        m_link->tmrCheckComms_Timer();
        QVERIFY(m_link->ReplyBuffer().size() <= ReaderLink::kMaxReplyBuffer);
    }
    QCOMPARE(m_link->ReplyBuffer(), noise.right(ReaderLink::kMaxReplyBuffer));
    // A good frame after the noise still gets through after one resend.
    m_port->feed(frame("l0"));
    m_link->tmrCheckComms_Timer();
    QCOMPARE(m_port->written, QList<QByteArray>{frame("o")});
    m_port->feed(frame("l0"));
    m_link->tmrCheckComms_Timer();
    QVERIFY(!m_link->WaitingForReply());
}

void TestReaderLink::resendOnDeadPortIsSilent()
{
    m_link->awaitSwipe();
    m_port->feed(QByteArray::fromHex("026c300300")); // bad check character
    m_port->failWrites = true;
    m_link->tmrCheckComms_Timer(); // must neither throw nor show anything
    QVERIFY(m_link->WaitingForReply());
    QVERIFY(m_port->written.isEmpty());
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestReaderLink::portEventDropsPendingInputOnly()
{
    m_link->awaitSwipe();
    m_link->putReply(QByteArray("\x02l", 2));
    m_port->feed("0\x03");
    emit m_port->onComm();
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("\x02l", 2));
    QCOMPARE(m_port->inBufferCount(), 0);
}

void TestReaderLink::waitOutcomes_data()
{
    QTest::addColumn<bool>("reply");
    QTest::addColumn<bool>("ask");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("outcome");
    QTest::newRow("replied") << true << true << 0 << int(WAIT_REPLIED);
    QTest::newRow("timed out, no prompt") << false << false << 0 << int(WAIT_TIMED_OUT);
    QTest::newRow("yes") << false << true << int(mb::IDYES) << int(WAIT_TRY_AGAIN);
    QTest::newRow("no") << false << true << int(mb::IDNO) << int(WAIT_GIVE_UP);
}

void TestReaderLink::waitOutcomes()
{
    QFETCH(bool, reply);
    QFETCH(bool, ask);
    QFETCH(int, answer);
    QFETCH(int, outcome);
    if (answer)
        m_boxes->answer(answer);
    m_link->SendData("k");
    if (reply)
        m_port->feed(frame("k3"));
    const qint64 start = m_clock->ms();
    QCOMPARE(m_link->WaitForReply(ask), outcome);
    if (reply) {
        QCOMPARE(m_pump->passes, 1);
        QVERIFY(m_boxes->shown.isEmpty());
        return;
    }
    // The deadline is start + 10 s; the wait ends on the first look past it.
    QCOMPARE(m_clock->ms() - start, 10200);
    QVERIFY(m_link->WaitingForReply()); // a time-out does not lower the flag
    if (ask) {
        QCOMPARE(m_boxes->shown.size(), 1);
        const auto& box = m_boxes->shown.first();
        QCOMPARE(box.text,
                 QStringLiteral("A Comms Timeout has occured.  Would you like to try again?"));
        QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - Timeout ERROR"));
        QCOMPARE(box.buttons, mb::YesNo);
        QCOMPARE(box.icon, mb::Exclamation);
    } else {
        QVERIFY(m_boxes->shown.isEmpty());
    }
}

void TestReaderLink::timeoutZeroCountsCompleteFrame()
{
    m_settings.Timeout = 0;
    m_link->SendData("k");
    m_port->feed(frame("k1"));
    QCOMPARE(m_link->WaitForReply(false), int(WAIT_REPLIED));
    QCOMPARE(m_link->ReplyBuffer(), QByteArray("k1"));

    m_link->SendData("k");
    QCOMPARE(m_link->WaitForReply(false), int(WAIT_TIMED_OUT));
    QCOMPARE(m_pump->passes, 2);
}

void TestReaderLink::budgetInThirtyTwoBits_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<qint64>("budget");
    QTest::newRow("default") << 10 << qint64(10000);
    QTest::newRow("33 s, past 16 bits") << 33 << qint64(33000);
    QTest::newRow("largest") << 32767 << qint64(32767000);
    QTest::newRow("negative counts as 0") << -5 << qint64(0);
    QTest::newRow("most negative") << -32768 << qint64(0);
}

void TestReaderLink::budgetInThirtyTwoBits()
{
    QFETCH(int, timeout);
    QFETCH(qint64, budget);
    m_settings.Timeout = qint16(timeout);
    m_link->awaitSwipe();
    // One pass lands exactly on the deadline, which is not yet past it.
    m_pump->stepMs = qMax<qint64>(budget, 1);
    const qint64 start = m_clock->ms();
    QCOMPARE(m_link->WaitForReply(false), int(WAIT_TIMED_OUT));
    QCOMPARE(m_pump->passes, budget == 0 ? 1 : 2);
    QCOMPARE(m_clock->ms() - start, budget == 0 ? 1 : 2 * budget);
}

void TestReaderLink::resendStormEndsAtOriginalDeadline()
{
    m_settings.Timeout = 2;
    int resends = 0;
    m_port->onOutput = [&](const QByteArray& written) {
        if (written == frame("o"))
            ++resends;
        m_port->feed(QByteArray::fromHex("026b330300")); // never a good check character
    };
    m_link->SendData("k");
    const qint64 start = m_clock->ms();
    QCOMPARE(m_link->WaitForReply(false), int(WAIT_TIMED_OUT));
    QCOMPARE(m_clock->ms() - start, 2200);
    QCOMPARE(resends, 11);
}

void TestReaderLink::abortEndsWaitWithoutPrompt()
{
    m_link->SendData("k");
    m_pump->onPass = [this] { m_link->abortWaits(); };
    QCOMPARE(m_link->WaitForReply(true), int(WAIT_GIVE_UP));
    QCOMPARE(m_pump->passes, 1);
    QVERIFY(m_boxes->shown.isEmpty());
    m_link->putReply("lQ");
    QCOMPARE(m_link->ShowReplyError(), int(mb::IDCANCEL));
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestReaderLink::showReplyError_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::newRow("parity") << QByteArray("l1") << "Receive Parity Is Error";
    QTest::newRow("lrc") << QByteArray("l2") << "Receive LRC is Error";
    QTest::newRow("bad command") << QByteArray("l3") << "Command Is Invalid";
    QTest::newRow("buffer full") << QByteArray("l4") << "Receive Buffer Is Full";
    QTest::newRow("write error") << QByteArray("lA") << "Write Data Error";
    QTest::newRow("read error") << QByteArray("lQ") << "Read Data Error";
    QTest::newRow("no data") << QByteArray("lR") << "Read No Data";
    QTest::newRow("ok is unknown here") << QByteArray("l0") << "Unknown error: 0";
    QTest::newRow("read done") << QByteArray("lP") << "Unknown error: P";
    QTest::newRow("write done") << QByteArray("l@") << "Unknown error: @";
    QTest::newRow("l alone") << QByteArray("l") << "Unknown error: ";
    QTest::newRow("blank code trimmed") << QByteArray("l ") << "Unknown error: ";
    QTest::newRow("only second char") << QByteArray("lZZ") << "Unknown error: Z";
    QTest::newRow("not a status") << QByteArray("E123") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestReaderLink::showReplyError()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QString, message);
    m_link->putReply(buffer);
    if (message.isEmpty()) {
        QCOMPARE(m_link->ShowReplyError(), int(mb::IDCANCEL));
        QVERIFY(m_boxes->shown.isEmpty());
        return;
    }
    m_boxes->answer({mb::IDRETRY, mb::IDCANCEL});
    QCOMPARE(m_link->ShowReplyError(), int(mb::IDRETRY));
    QCOMPARE(m_link->ShowReplyError(), int(mb::IDCANCEL));
    const auto& box = m_boxes->shown.first();
    QCOMPARE(box.text, message);
    QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QCOMPARE(box.buttons, mb::RetryCancel);
    QCOMPARE(box.icon, mb::Critical);
}

void TestReaderLink::readerType_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: the reader stays silent
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("type");
    for (int t = 0; t <= 9; ++t)
        QTest::addRow("type %d", t) << (QByteArray("k") + char('0' + t)) << true << t;
    QTest::newRow("letter gives 0") << QByteArray("kx") << true << 0;
    QTest::newRow("three characters") << QByteArray("k12") << false << 5;
    QTest::newRow("k alone") << QByteArray("k") << false << 5;
    QTest::newRow("status reply") << QByteArray("l3") << false << 5;
    QTest::newRow("silent, No") << QByteArray() << false << 5;
}

void TestReaderLink::readerType()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(int, type);
    // A failed query keeps the type a good one gave before.
    m_port->onOutput = [&](const QByteArray&) { m_port->feed(buildFrame("k5")); };
    QVERIFY(m_link->GetReaderType());
    m_port->written.clear();
    m_port->onOutput = nullptr;
    if (reply.isEmpty())
        m_boxes->answer(mb::IDNO);
    else
        m_port->onOutput = [&](const QByteArray&) { m_port->feed(buildFrame(reply)); };
    QCOMPARE(m_link->GetReaderType(), ok);
    QCOMPARE(int(m_link->ReaderType()), type);
    QCOMPARE(m_port->written.first(), frame("k"));
    if (reply.isEmpty())
        QVERIFY(m_link->ReplyBuffer().isEmpty());
}

void TestReaderLink::readerTypeYesRepeatsQuery()
{
    m_boxes->answer(mb::IDYES);
    m_boxes->onShow = [this](const ScriptedMessageBox::Box&) {
        m_port->onOutput = [this](const QByteArray&) { m_port->feed(frame("k4")); };
    };
    QVERIFY(m_link->GetReaderType());
    QCOMPARE(m_port->written, (QList<QByteArray>{frame("k"), frame("k")}));
    QCOMPARE(int(m_link->ReaderType()), 4);
}

void TestReaderLink::demoModeSendsNothing()
{
    m_link->setDemoMode(true);
    QVERIFY(m_link->GetReaderType());
    QCOMPARE(int(m_link->ReaderType()), 8);
    QVERIFY(m_port->written.isEmpty());
}

QTEST_GUILESS_MAIN(TestReaderLink)
#include "test_readerlink.moc"
