// tarnavel-cli as a script runs it, against tarnavel-sim on a pseudo-terminal linked as COM1:
// what only a real process shows (a device found through the ports folder, a pseudo-terminal that
// hangs up, signals and their exit statuses, a full disk behind standard output, a terminal's
// width). Each command's outcomes are in test_cli.

#include "support/simprocess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);
const QString kSim = QStringLiteral(TARNAVEL_SIM_PATH);

// Card 2 holds other track 2 data than a verify of card 1 writes.
const QByteArray kDeck = "[Visa test]\n"
                         "1=%B4111111111111111^DOE/JOHN^2512101000000?\n"
                         "2=;4111111111111111=2512101?\n"
                         "[Other]\n"
                         "2=;4111111111111111=2612101?\n";

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

int swipePrompts(const QString& err)
{
    static const QRegularExpression prompt(
        QStringLiteral(
            "^(Card \\d+ of \\d+: s|S)wipe (card when ready|the same card|the card once)"),
        QRegularExpression::MultilineOption);
    return int(err.count(prompt));
}

// At the k-th swipe prompt the k-th action runs: "swipe N" on the emulator's console, "sigint"
// or "sigterm" to the command line, or "kill" (the emulator ends, and with it the device).
CliRun runCli(SimProcess& sim, const QStringList& arguments, const QByteArray& input,
              const QStringList& actions)
{
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), sim.configHome());
    cli.setProcessEnvironment(env);
    cli.start(kCli, arguments);
    CliRun run;
    if (!cli.waitForStarted(SimProcess::kLooks * SimProcess::kLookMs))
        return run;
    cli.write(input);
    cli.closeWriteChannel();
    QByteArray err;
    qsizetype done = 0;
    for (int look = 0; look < 2 * SimProcess::kLooks; ++look) {
        const bool finished = cli.waitForFinished(SimProcess::kLookMs);
        run.out += cli.readAllStandardOutput();
        err += cli.readAllStandardError();
        sim.collect();
        const int prompts = swipePrompts(QString::fromLocal8Bit(err));
        while (done < actions.size() && done < prompts) {
            const QString& action = actions.at(done++);
            if (action == QLatin1String("sigint"))
                ::kill(pid_t(cli.processId()), SIGINT);
            else if (action == QLatin1String("sigterm"))
                ::kill(pid_t(cli.processId()), SIGTERM);
            else if (action == QLatin1String("sigkill"))
                ::kill(pid_t(cli.processId()), SIGKILL);
            else if (action == QLatin1String("kill"))
                sim.stop();
            else
                sim.command(action);
        }
        if (finished)
            break;
    }
    if (cli.state() != QProcess::NotRunning) {
        cli.kill();
        cli.waitForFinished();
        return run;
    }
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.err = QString::fromLocal8Bit(err);
    return run;
}

QString zeros(int count)
{
    return QString(count, QLatin1Char('0'));
}

// Bytes the master side of a pseudo-terminal has for us now, without waiting.
QByteArray drain(int master)
{
    QByteArray bytes;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(master, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, int(n));
    return bytes;
}

// tarnavel-cli with the environment of the emulator's configuration; waits a bounded time.
struct Program {
    QProcess process;
    QByteArray err;

    Program(const QString& configHome, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        process.setProgram(kCli);
        process.setArguments(arguments);
    }
    // Runs until it ends or `until` holds; false when neither came within the bound.
    bool runUntil(const std::function<bool()>& until = [] { return false; })
    {
        for (int look = 0; look < 2 * SimProcess::kLooks; ++look) {
            const bool finished = process.state() == QProcess::NotRunning ||
                                  process.waitForFinished(SimProcess::kLookMs);
            err += process.readAllStandardError();
            if (finished || until())
                return true;
        }
        return false;
    }
    int exitCode() const
    {
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

} // namespace

class TestE2eCli : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void writeThenReadBack();
    void killedMidCardResumesExactlyOnce();
    void signalBeforeTheReader_data();
    void signalBeforeTheReader();
    void standardOutputFull();
    void progressFitsTheTerminal();
    void staleLinkOffersUnlink();

private:
    QTemporaryDir m_files;
};

void TestE2eCli::commands_data()
{
    QTest::addColumn<QStringList>("simArgs"); // "@deck": the deck above
    QTest::addColumn<QStringList>("cliArgs");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // exact, or a pattern after "re:"
    QTest::addColumn<QStringList>("errHas");
    // Data parts of host frames, in order; "!X": X is never sent.
    QTest::addColumn<QStringList>("sent");

    // A card's result line: index, line, result, step, written, code and error, the time.
    const auto result = [](int index, int line, const char* rest) {
        return QStringLiteral("\\{\"index\": %1, \"line\": %2, \"card\": \"[0-9a-f]{32}\", %3, "
                              "\"time\": \"[-0-9T:]+Z\"\\}\n")
            .arg(index)
            .arg(line)
            .arg(QLatin1String(rest));
    };
    const QByteArray good = ";1=1?\n# a comment\n;3=3?\n";

    QTest::newRow("version") << QStringList{} << QStringList{"version"} << QByteArray()
                             << QStringList{} << 0
                             << "re:Reader type 8 on COM1 \\(/dev/pts/\\d+\\)\nCard methods:\n"
                                "(  \\d  \\w+ +[^\n]+\n){5}"
                             << QStringList{} << QStringList{"k"};
    QTest::newRow("exit 2: reader gone during the swipe")
        << QStringList{} << QStringList{"read"} << QByteArray() << QStringList{"kill"} << 2
        << QString() << QStringList{"was disconnected"} << QStringList{"k", "n"};
    // Whatever mark the locale gives a check, the line after it is the same.
    QTest::newRow("doctor: the emulator answers")
        << QStringList{} << QStringList{"doctor"} << QByteArray() << QStringList{} << 0
        << "re:(?:[^\n]*\n)*[^\n]+ Reader: it answers at 9600,e,7,1: reader type 8\n"
           "The reader answers on COM1: tarnavel-cli and the window can use it\\.\n"
        << QStringList{} << QStringList{"h", "k"};
    QTest::newRow("exit 3: doctor, a silent emulator")
        << QStringList{"--silent", "h"} << QStringList{"doctor"} << QByteArray() << QStringList{}
        << 3
        << "re:(?:[^\n]*\n)*[^\n]+ Reader: no answer at 9600,e,7,1 within 1 s\n"
           "    a pseudo-terminal has no line settings to try others\n(?:[^\n]*\n)*"
        << QStringList{} << QStringList{"h", "!k"};
    QTest::newRow("exit 1: no udev rule for a device on no USB adapter")
        << QStringList{} << QStringList{"ports", "udev", "1", "/dev/null"} << QByteArray()
        << QStringList{} << 1 << QString() << QStringList{"/dev/null is not on a USB adapter"}
        << QStringList{"!h"};
    QTest::newRow("batch interrupted while armed: not written")
        << QStringList{} << QStringList{"batch", "-"} << good << QStringList{"sigint"} << 130
        << "re:" + result(1, 1,
                          "\"result\": \"failed\", \"step\": \"armed\", \"written\": false, "
                          "\"code\": \"interrupted\", \"error\": \"write: interrupted\"")
        << QStringList{"interrupted at card 1; card 1 was not written; resume with: tarnavel-cli "
                       "batch --start 1 -"}
        << QStringList{"A;1=1?" + zeros(32), "n", "h"};
    QTest::newRow("batch ended while verifying: written, resumes after it")
        << QStringList{"--card", "@deck"} << QStringList{"batch", "--verify", "-t", "5", "-"}
        << good << QStringList{"swipe 1", "sigterm"} << 143
        << "re:" + result(1, 1,
                          "\"result\": \"failed\", \"step\": \"written\", \"written\": true, "
                          "\"code\": \"interrupted\", \"error\": \"verify read: interrupted "
                          "\\(the card was written\\)\"")
        << QStringList{"card 1 was written; resume with: tarnavel-cli batch --start 2 --verify -t "
                       "5 -"}
        << QStringList{"A;1=1?" + zeros(32), "n", "!A;3=3?" + zeros(32)};
}

void TestE2eCli::commands()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, actions);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QStringList, errHas);
    QFETCH(QStringList, sent);

    QVERIFY(m_files.isValid());
    const QString deck = m_files.filePath(QStringLiteral("deck.txt"));
    QFile deckFile(deck);
    QVERIFY(deckFile.open(QIODevice::WriteOnly) && deckFile.write(kDeck) == kDeck.size());
    deckFile.close();
    simArgs.replaceInStrings(QStringLiteral("@deck"), deck);

    SimProcess sim(kSim);
    QVERIFY2(sim.start(QStringList{QStringLiteral("--com"), QStringLiteral("1")} + simArgs),
             qPrintable(sim.errorString()));
    const qsizetype mark = sim.mark();
    const CliRun run = runCli(sim, cliArgs, input, actions);
    QVERIFY2(
        run.exitCode == exitCode,
        qPrintable(QStringLiteral("exit %1, standard error:\n%2").arg(run.exitCode).arg(run.err)));
    const QString stdoutText = QString::fromLatin1(run.out);
    if (out.startsWith(QLatin1String("re:"))) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(out.mid(3)));
        QVERIFY2(pattern.match(stdoutText).hasMatch(), qPrintable(stdoutText));
    } else {
        QCOMPARE(stdoutText, out);
    }
    for (const QString& fragment : std::as_const(errHas))
        QVERIFY2(run.err.contains(fragment), qPrintable(run.err));

    // The frames went out in this order (others may stand between them); none marked "!".
    QStringList never;
    for (const QString& data : std::as_const(sent))
        if (data.startsWith(QLatin1Char('!')))
            never << SimProcess::hostFrame(data.mid(1).toLatin1());
    sent.removeIf([](const QString& data) { return data.startsWith(QLatin1Char('!')); });
    if (!sent.isEmpty())
        sim.waitForLine(mark, SimProcess::hostFrame(sent.constLast().toLatin1()));
    const QStringList traffic = sim.linesSince(mark);
    for (const QString& frame : std::as_const(never))
        for (const QString& line : traffic)
            QVERIFY2(!line.startsWith(frame), qPrintable(frame + QStringLiteral(" was sent")));
    qsizetype at = 0;
    for (const QString& data : std::as_const(sent)) {
        const QString frame = SimProcess::hostFrame(data.toLatin1());
        while (at < traffic.size() && !traffic.at(at).startsWith(frame))
            ++at;
        QVERIFY2(at < traffic.size(), qPrintable(QStringLiteral("%1 not sent in order:\n%2")
                                                     .arg(frame, traffic.join(QLatin1Char('\n')))));
        ++at;
    }
}

void TestE2eCli::writeThenReadBack()
{
    SimProcess sim(kSim);
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("1"),
                        QStringLiteral("--auto-swipe"), QStringLiteral("300")}),
             qPrintable(sim.errorString()));
    const QString track1 = QStringLiteral("%B5500005555555559^TARNAVEL/Q^2712101?");
    const CliRun write =
        runCli(sim, {QStringLiteral("write"), QStringLiteral("-m"), QStringLiteral("0"), track1},
               QByteArray(), {});
    QCOMPARE(write.exitCode, 0);
    QVERIFY(write.out.isEmpty());
    const CliRun read =
        runCli(sim, {QStringLiteral("read"), QStringLiteral("--method=iso1")}, QByteArray(), {});
    QCOMPARE(read.exitCode, 0);
    QCOMPARE(QString::fromLatin1(read.out), track1 + zeros(76 - int(track1.size())) + "\n");
}

void TestE2eCli::killedMidCardResumesExactlyOnce()
{
    // Killed with card 1 armed; the operator swipes it anyway, so the reader writes it. The
    // next run checks card 1 with one swipe and writes only card 2.
    QVERIFY(m_files.isValid());
    SimProcess sim(kSim);
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("1")}),
             qPrintable(sim.errorString()));
    const QString results = m_files.filePath(QStringLiteral("results.jsonl"));
    const QStringList args = {QStringLiteral("batch"),
                              QStringLiteral("--results"),
                              results,
                              QStringLiteral("--resume"),
                              results,
                              QStringLiteral("-t"),
                              QStringLiteral("5"),
                              QStringLiteral("-")};
    const QByteArray cards = ";1=1?\n;2=2?\n";
    const CliRun killed = runCli(sim, args, cards, {QStringLiteral("sigkill")});
    QCOMPARE(killed.exitCode, -1);
    sim.command(QStringLiteral("swipe"));
    const qsizetype mark = sim.mark();
    const CliRun resumed =
        runCli(sim, args, cards, {QStringLiteral("swipe"), QStringLiteral("swipe")});
    QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err));
    QVERIFY2(resumed.err.contains(QLatin1String("Card 1 of 2: swipe the card once to check")),
             qPrintable(resumed.err));
    const QStringList lines =
        QString::fromLatin1(resumed.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    for (const QString& line : lines)
        QVERIFY2(line.contains(QLatin1String("\"result\": \"written\", \"step\": \"written\"")),
                 qPrintable(line));
    sim.waitForLine(mark, SimProcess::hostFrame("A;2=2?" + QByteArray(32, '0')));
    const QString traffic = sim.linesSince(mark).join(QLatin1Char('\n'));
    QVERIFY2(!traffic.contains(SimProcess::hostFrame("A;1=1?" + QByteArray(32, '0'))),
             qPrintable(traffic));
}

void TestE2eCli::signalBeforeTheReader_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("json");
    QTest::newRow("Ctrl+C") << int(SIGINT) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP, in JSON") << int(SIGHUP) << true;
}

// A signal before any command takes signals itself (here while decode waits for its next line)
// ends the program with its message and 128 + the signal's number, never by the default action.
void TestE2eCli::signalBeforeTheReader()
{
    QFETCH(int, signal);
    QFETCH(bool, json);
    QVERIFY(m_files.isValid());
    Program cli(m_files.path(),
                json ? QStringList{QStringLiteral("--json"), QStringLiteral("decode")}
                     : QStringList{QStringLiteral("decode")});
    cli.process.start();
    QVERIFY(cli.process.waitForStarted());
    // Its answer to the first line says it runs, and now waits for the next one.
    cli.process.write("x\n");
    QVERIFY(cli.runUntil([&] { return cli.err.contains("not decodable"); }));
    QCOMPARE(cli.process.state(), QProcess::Running);
    ::kill(pid_t(cli.process.processId()), signal);
    QVERIFY(cli.runUntil());
    QCOMPARE(cli.exitCode(), 128 + signal);
    QVERIFY2(cli.err.endsWith("tarnavel-cli: interrupted\n"), cli.err.constData());
    const QByteArray out = cli.process.readAllStandardOutput();
    if (json)
        QVERIFY2(out.endsWith(QStringLiteral("{\"command\": \"decode\", \"result\": \"failed\", "
                                             "\"exit\": %1, \"code\": \"interrupted\", \"error\": "
                                             "\"interrupted\"}\n")
                                  .arg(128 + signal)
                                  .toUtf8()),
                 out.constData());
}

// Data that cannot reach standard output (a full disk) ends the command with exit 7.
void TestE2eCli::standardOutputFull()
{
    SimProcess sim(kSim);
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("1"),
                        QStringLiteral("--auto-swipe"), QStringLiteral("300")}),
             qPrintable(sim.errorString()));
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("read")}, QStringList{QStringLiteral("--version")}}) {
        Program cli(sim.configHome(), arguments);
        cli.process.setStandardOutputFile(QStringLiteral("/dev/full"));
        cli.process.start();
        QVERIFY(cli.runUntil());
        QCOMPARE(cli.exitCode(), 7);
        QVERIFY2(cli.err.contains("standard output could not be written: No space left on device"),
                 cli.err.constData());
    }
}

// On a terminal 40 columns wide the batch's status line is cut to fit: a line that wrapped
// would leave its first part behind at every redraw.
void TestE2eCli::progressFitsTheTerminal()
{
    QVERIFY(m_files.isValid());
    const QString cards = m_files.filePath(QStringLiteral("cards.txt"));
    QFile file(cards);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(";1=1?\n;2=2?\n;3=3?\n") > 0);
    file.close();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const winsize size{24, 40, 0, 0};
    QCOMPARE(::ioctl(master, TIOCSWINSZ, &size), 0);
    SimProcess sim(kSim);
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("1"),
                        QStringLiteral("--auto-swipe"), QStringLiteral("100")}),
             qPrintable(sim.errorString()));
    Program cli(sim.configHome(), {QStringLiteral("batch"), cards});
    cli.process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master)));
    cli.process.start();
    QByteArray terminal;
    const bool ended = cli.runUntil([&] {
        terminal += drain(master);
        return false;
    });
    terminal += drain(master);
    ::close(master);
    QVERIFY(ended);
    QCOMPARE(cli.exitCode(), 0);
    static const QRegularExpression breaks(QStringLiteral("\\r|\\n|\\x1b\\[K"));
    QStringList drawn = QString::fromLocal8Bit(terminal).split(breaks);
    drawn.removeIf([](const QString& line) { return !line.startsWith(QLatin1String("card ")); });
    QVERIFY2(!drawn.isEmpty(), terminal.constData());
    for (const QString& line : std::as_const(drawn))
        QVERIFY2(line.size() < 40, qPrintable(line));
}

// An emulator killed leaves its link behind: the command that refuses it says how to remove it.
void TestE2eCli::staleLinkOffersUnlink()
{
    SimProcess sim(kSim);
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("2")}),
             qPrintable(sim.errorString()));
    sim.kill();
    Program cli(sim.configHome(),
                {QStringLiteral("-p"), QStringLiteral("COM2"), QStringLiteral("version")});
    cli.process.start();
    QVERIFY(cli.runUntil());
    QCOMPARE(cli.exitCode(), 2);
    QVERIFY2(cli.err.contains("stale link to a pseudo-terminal") &&
                 cli.err.contains("Remove it with: tarnavel-cli ports unlink 2 (or start "
                                  "tarnavel-sim --com 2 again)"),
             cli.err.constData());
}

QTEST_GUILESS_MAIN(TestE2eCli)
#include "test_e2e_cli.moc"
