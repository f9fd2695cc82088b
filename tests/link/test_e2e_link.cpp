// The link against the emulator program over a real pseudo-terminal: the real serial adapter,
// the real clock, the real event loop and a 200 ms poll timer, as the program runs them.

#include "config/appsettings.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/qtserialport.h"
#include "support/scriptedmessagebox.h"
#include "support/simprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

const QString kVersionQuery = SimProcess::hostFrame("k");
const QString kResendRequest = SimProcess::hostFrame("o");
const QString kCorrupted = QStringLiteral("[fault: check character corrupted]");

struct Rig {
    SimProcess sim{QStringLiteral(TARNAVEL_SIM_PATH)};
    AppSettings settings;
    SystemClock clock;
    QtEventPump pump{clock};
    ScriptedMessageBox boxes;
    std::unique_ptr<QtSerialPort> port;
    std::unique_ptr<ReaderLink> link;
    QTimer poll;

    // The emulator as COM1, and the link on it as start-up opens it.
    bool start(const QStringList& arguments, qint16 timeoutSeconds = 3)
    {
        if (!sim.start(QStringList{QStringLiteral("--com"), QStringLiteral("1")} + arguments)) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(sim.configHome()));
        settings.Timeout = timeoutSeconds;
        port = std::make_unique<QtSerialPort>();
        link = std::make_unique<ReaderLink>(*port, clock, boxes, pump, settings);
        try {
            port->setCommPort(1);
            port->setSettings(QStringLiteral("9600,e,7,1"));
            port->setPortOpen(true);
            port->setInputMode(0);
        } catch (const AppError& error) {
            qWarning("%s", qPrintable(error.text()));
            return false;
        }
        poll.setInterval(ReaderLink::kPollIntervalMs);
        QObject::connect(&poll, &QTimer::timeout, link.get(),
                         [this] { link->tmrCheckComms_Timer(); });
        poll.start();
        return true;
    }
};

} // namespace

class TestE2eLink : public QObject
{
    Q_OBJECT
private slots:
    void versionQuery_data();
    void versionQuery();
    void corruptedReplyIsResent_data();
    void corruptedReplyIsResent();
    void silentReaderTimesOut();
    void readerVanishesAndComesBack();
};

void TestE2eLink::versionQuery_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("type");
    QTest::newRow("type 1") << QStringList{"--type", "1"} << 1;
    QTest::newRow("type 5") << QStringList{"--type", "5"} << 5;
    QTest::newRow("type 0") << QStringList{"--type", "0"} << 0;
    QTest::newRow("default type") << QStringList{} << 8;
    // Five single bytes a few milliseconds apart: the frame is put together across polls.
    QTest::newRow("type 3, one byte at a time") << QStringList{"--type", "3", "--split", "1"} << 3;
}

void TestE2eLink::versionQuery()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, type);
    Rig rig;
    QVERIFY(rig.start(arguments));
    const qsizetype mark = rig.sim.mark();
    QVERIFY(rig.link->GetReaderType());
    QCOMPARE(int(rig.link->ReaderType()), type);
    QCOMPARE(rig.link->ReplyBuffer(), QByteArray("k") + char('0' + type));
    QVERIFY(!rig.link->WaitingForReply());
    QVERIFY(rig.boxes.shown.isEmpty());
    QCOMPARE(rig.sim.countSince(mark, kVersionQuery), 1);
    QCOMPARE(rig.sim.countSince(mark, kResendRequest), 0);
    QCOMPARE(rig.sim.countSince(mark, SimProcess::readerFrame(QByteArray("k") + char('0' + type))),
             1);
}

void TestE2eLink::corruptedReplyIsResent_data()
{
    QTest::addColumn<int>("corrupt");
    QTest::addColumn<QStringList>("more");
    QTest::newRow("first reply") << 1 << QStringList{"--type", "4"};
    QTest::newRow("reply and two resends") << 3 << QStringList{"--type", "4"};
    QTest::newRow("first reply, one byte at a time")
        << 1 << QStringList{"--type", "4", "--split", "1"};
}

void TestE2eLink::corruptedReplyIsResent()
{
    QFETCH(int, corrupt);
    QFETCH(QStringList, more);
    Rig rig;
    QVERIFY(rig.start(QStringList{QStringLiteral("--corrupt"), QString::number(corrupt)} + more));
    const qsizetype mark = rig.sim.mark();
    QVERIFY(rig.link->GetReaderType());
    QCOMPARE(int(rig.link->ReaderType()), 4);
    QVERIFY(rig.boxes.shown.isEmpty());
    // One query; each bad frame got exactly one resend request, and the last repeat was good.
    QCOMPARE(rig.sim.countSince(mark, kVersionQuery), 1);
    QCOMPARE(rig.sim.countSince(mark, kCorrupted), corrupt);
    QCOMPARE(rig.sim.countSince(mark, kResendRequest), corrupt);
    const QStringList traffic = rig.sim.linesSince(mark);
    QStringList replies;
    for (const QString& line : traffic) {
        if (line.startsWith(QLatin1String("reader < ")))
            replies << line;
    }
    QCOMPARE(replies.size(), corrupt + 1);
    QVERIFY2(replies.last().startsWith(SimProcess::readerFrame("k4")), qPrintable(replies.last()));
    QVERIFY2(replies.last().contains(QLatin1String("(resent)")), qPrintable(replies.last()));
    QVERIFY(!replies.last().contains(kCorrupted));
}

void TestE2eLink::silentReaderTimesOut()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("--silent"), QStringLiteral("k")}, 1));
    rig.boxes.answer({mb::IDYES, mb::IDNO});
    const qsizetype mark = rig.sim.mark();
    QVERIFY(!rig.link->GetReaderType());
    QCOMPARE(int(rig.link->ReaderType()), 0);
    QVERIFY(rig.link->ReplyBuffer().isEmpty());
    QCOMPARE(rig.boxes.shown.size(), 2);
    for (const auto& box : std::as_const(rig.boxes.shown)) {
        QCOMPARE(box.text,
                 QStringLiteral("A Comms Timeout has occured.  Would you like to try again?"));
        QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - Timeout ERROR"));
        QCOMPARE(box.buttons, mb::YesNo);
        QCOMPARE(box.icon, mb::Exclamation);
    }
    // Yes asked again: two queries reached the reader, neither got an answer.
    QVERIFY(rig.sim.waitForLine(mark, kVersionQuery));
    QCOMPARE(rig.sim.countSince(mark, kVersionQuery), 2);
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("reader < ")), 0);
}

void TestE2eLink::readerVanishesAndComesBack()
{
    Rig rig;
    QVERIFY(rig.start({QStringLiteral("--silent"), QStringLiteral("k")}, 1));
    const QString link = rig.sim.comLinkPath(1);
    QVERIFY(QFileInfo(link).isSymLink());
    // The emulator ends as soon as the query has reached it, while the link waits for the reply.
    const qsizetype mark = rig.sim.mark();
    bool stopped = false;
    bool stoppedCleanly = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        if (!stopped && rig.sim.countSince(mark, kVersionQuery) > 0) {
            stopped = true;
            stoppedCleanly = rig.sim.stop();
        }
    });
    watch.start();
    QSignalSpy lost(rig.link.get(), &ReaderLink::lost);
    QVERIFY(!rig.link->GetReaderType());
    watch.stop();
    QVERIFY(stopped);
    QVERIFY(stoppedCleanly);
    // The wait ended with the device: at its time-out it would have asked to try again.
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(lost.count() == 1 || lost.wait(2000));
    QCOMPARE(lost.count(), 1);
    QVERIFY(rig.link->portLost());
    // The vanished device closed the port once; the next command fails with an error instead
    // of disappearing into a dead line.
    QVERIFY(!rig.port->portOpen());
    QVERIFY_THROWS_EXCEPTION(AppError, rig.link->SendData(QByteArray(1, cmd::CMD_VERSION)));
    QVERIFY(!QFileInfo(link).isSymLink());

    // A reader back as COM1: opening the port again brings the link back.
    SimProcess again{QStringLiteral(TARNAVEL_SIM_PATH)};
    QVERIFY2(again.start({QStringLiteral("--com"), QStringLiteral("1")}),
             qPrintable(again.errorString()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(again.configHome()));
    rig.port->setPortOpen(true);
    QVERIFY(!rig.link->portLost());
    QVERIFY(rig.link->GetReaderType());
    QCOMPARE(int(rig.link->ReaderType()), 8);
    QCOMPARE(lost.count(), 1);
}

QTEST_GUILESS_MAIN(TestE2eLink)
#include "test_e2e_link.moc"
