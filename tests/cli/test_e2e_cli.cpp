// tarnavel-cli as a script runs it, against tarnavel-sim on a pseudo-terminal linked as COM1.

#include "support/simprocess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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

} // namespace

class TestE2eCli : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void writeThenReadBack();
    void killedMidCardResumesExactlyOnce();

private:
    QTemporaryDir m_files;
};

void TestE2eCli::commands_data()
{
    QTest::addColumn<QStringList>("simArgs"); // "@deck": the deck above
    QTest::addColumn<QStringList>("cliArgs"); // "@missing": a device that is not there
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // exact, or a pattern after "re:"
    QTest::addColumn<QStringList>("errHas");
    // Data parts of host frames, in order; "!X": X is never sent.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("secret"); // never on standard error

    const QStringList autoSwipe = {QStringLiteral("--auto-swipe"), QStringLiteral("300")};
    // A card's result line: index, line, result, step, written, code and error, the time.
    const auto result = [](int index, int line, const char* rest) {
        return QStringLiteral("\\{\"index\": %1, \"line\": %2, %3, \"time\": \"[-0-9T:]+Z\"\\}\n")
            .arg(index)
            .arg(line)
            .arg(QLatin1String(rest));
    };
    const char* verified = "\"result\": \"verified\", \"step\": \"verified\", \"written\": true";
    const QByteArray cards = ";1=1?\n# a comment\n;12a\n\n;3=3?\n";
    const QByteArray good = ";1=1?\n# a comment\n;3=3?\n";

    QTest::newRow("version") << QStringList{} << QStringList{"version"} << QByteArray()
                             << QStringList{} << 0
                             << "re:Reader type 8 on COM1 \\(/dev/pts/\\d+\\)\nCard methods:\n"
                                "(  \\d  \\w+ +[^\n]+\n){5}"
                             << QStringList{} << QStringList{"k"} << QString();
    QTest::newRow("version json, type 2")
        << QStringList{"--type", "2"} << QStringList{"--json", "version"} << QByteArray()
        << QStringList{} << 0
        << "re:\\{\"reader_type\": 2, \"port\": \"COM1\", \"device\": \"/dev/pts/\\d+\", "
           "\"methods\": \\[\\{\"method\": 1, \"short_name\": \"iso2\", \"method_name\": \"ISO on "
           "Track 2\"\\}, \\{\"method\": 2, [^}]*\\}, \\{\"method\": 3, [^}]*\\}\\]\\}\n"
        << QStringList{} << QStringList{"k"} << QString();
    QTest::newRow("read") << autoSwipe << QStringList{"read"} << QByteArray() << QStringList{} << 0
                          << "4000123456789010=25121010000000000\n"
                          << QStringList{"Swipe card"} << QStringList{"k", "n", "E", "!o"}
                          << "4000123456789010";
    QTest::newRow("read json, decoded")
        << autoSwipe + QStringList{"--card", "@deck"}
        << QStringList{"--json", "read", "-m", "iso1", "--decode"} << QByteArray() << QStringList{}
        << 0
        << "{\"method\": 0, \"method_name\": \"ISO on Track 1\", \"data\": "
           "\"%B4111111111111111^DOE/JOHN^2512101000000?\", \"decoded\": {\"track\": 1, \"pan\": "
           "\"411111******1111\", \"luhn_ok\": true, \"name\": \"DOE/JOHN\", \"expiry\": "
           "\"2025-12\", \"service_code\": \"101\", \"service\": {\"interchange\": "
           "\"international interchange\", \"authorization\": \"normal authorization\", "
           "\"services\": \"no restrictions\"}, \"discretionary_length\": 6, \"decodable\": "
           "true}}\n"
        << QStringList{} << QStringList{"k", "n", "5", "!o"} << "4111111111111111";
    QTest::newRow("verify passes")
        << autoSwipe << QStringList{"verify", ";123=45?"} << QByteArray() << QStringList{} << 0
        << QString() << QStringList{"Swipe the same card again to verify"}
        << QStringList{"A;123=45?" + zeros(29), "n", "n", "E"} << "123=45";
    QTest::newRow("exit 6: verify reads another card")
        << QStringList{"--card", "@deck"}
        << QStringList{"-t", "5", "verify", ";4111111111111111=2512101?"} << QByteArray()
        << QStringList{"swipe 1", "swipe 2"} << 6 << QString()
        << QStringList{"the card read back differs from the data written at position 20"}
        << QStringList{"n", "n", "E"} << "4111111111111111";
    QTest::newRow("reset") << QStringList{} << QStringList{"reset"} << QByteArray() << QStringList{}
                           << 0 << QString() << QStringList{} << QStringList{"k", "h"} << QString();
    QTest::newRow("led") << QStringList{} << QStringList{"led", "off", "green", "red"}
                         << QByteArray() << QStringList{} << 0 << QString() << QStringList{}
                         << QStringList{"k", "`0", "`1", "`2"} << QString();
    QTest::newRow("exit 2: no such device")
        << QStringList{} << QStringList{"-p", "@missing", "read"} << QByteArray() << QStringList{}
        << 2 << QString() << QStringList{"No such file or directory"} << QStringList{} << QString();
    QTest::newRow("exit 2: a device given by path is named by it")
        << QStringList{} << QStringList{"-p", "/dev/null", "version"} << QByteArray()
        << QStringList{} << 2 << QString() << QStringList{"tarnavel-cli: /dev/null: "}
        << QStringList{} << "COM1";
    QTest::newRow("exit 2: reader gone during the swipe")
        << QStringList{} << QStringList{"read"} << QByteArray() << QStringList{"kill"} << 2
        << QString() << QStringList{"was disconnected"} << QStringList{"k", "n"} << QString();
    QTest::newRow("exit 3: silent reader")
        << QStringList{"--silent", "n"} << QStringList{"-t", "1", "read"} << QByteArray()
        << QStringList{} << 3 << QString()
        << QStringList{"read: no reply to the arm command within 1 s"} << QStringList{"k", "n", "h"}
        << QString();
    QTest::newRow("exit 4: forced status")
        << QStringList{"--force", "4"} << QStringList{"write", "123"} << QByteArray()
        << QStringList{} << 4 << QString()
        << QStringList{"Receive Buffer Is Full (reader status l4)"} << QStringList{"h", "!k"}
        << QString();
    QTest::newRow("exit 4: write fails at the swipe")
        << autoSwipe + QStringList{"--swipe-error", "write"}
        << QStringList{"--json", "write", "123"} << QByteArray() << QStringList{} << 4
        << "{\"method\": 1, \"method_name\": \"ISO on Track 2\", \"result\": \"failed\", "
           "\"written\": false, \"exit\": 4, \"code\": \"reader_error\", \"error\": \"Write Data "
           "Error (reader status lA)\"}\n"
        << QStringList{"Write Data Error"} << QStringList{"A123" + zeros(34), "n", "h", "!o"}
        << QString();
    QTest::newRow("exit 5: invalid character")
        << QStringList{} << QStringList{"write", "--", ";12a4"} << QByteArray() << QStringList{}
        << 5 << QString() << QStringList{"invalid character \"a\" at position 4"} << QStringList{}
        << QString();
    QTest::newRow("exit 5: unchecked format without --yes")
        << QStringList{} << QStringList{"-m", "ibm", "write", "-"} << QByteArray("1234\n")
        << QStringList{} << 5 << QString() << QStringList{"--yes writes it unchecked"}
        << QStringList{} << QString();
    QTest::newRow("trace hides the track data")
        << autoSwipe << QStringList{"--trace", "verify", ";123=45?"} << QByteArray()
        << QStringList{} << 0 << QString()
        << QStringList{"host   > 02 41 [37 bytes hidden] 03 ??  write ISO on Track 2",
                       "reader < 02 6C 40 03 2F  status l@: card written",
                       "reader < 02 45 [37 bytes hidden] 03 ??  track data"}
        << QStringList{"A;123=45?" + zeros(29)} << "123=45";
    QTest::newRow("exit 3 in JSON, with its code")
        << QStringList{"--silent", "k"} << QStringList{"--json", "-t", "1", "version"}
        << QByteArray() << QStringList{} << 3
        << "re:\\{\"command\": \"version\", \"result\": \"failed\", \"exit\": 3, \"code\": "
           "\"no_reply\", \"error\": \"no reply from the reader on COM1 [^\"]+\"\\}\n"
        << QStringList{} << QStringList{"h", "k"} << QString();
    // Whatever mark the locale gives a check, the line after it is the same.
    QTest::newRow("doctor: the emulator answers")
        << QStringList{} << QStringList{"doctor"} << QByteArray() << QStringList{} << 0
        << "re:(?:[^\n]*\n)*[^\n]+ Reader: it answers at 9600,e,7,1: reader type 8\n"
           "The reader answers on COM1: tarnavel-cli and the window can use it\\.\n"
        << QStringList{} << QStringList{"h", "k"} << QString();
    QTest::newRow("exit 3: doctor, a silent emulator")
        << QStringList{"--silent", "h"} << QStringList{"doctor"} << QByteArray() << QStringList{}
        << 3
        << "re:(?:[^\n]*\n)*[^\n]+ Reader: no answer at 9600,e,7,1 within 1 s\n"
           "    a pseudo-terminal has no line settings to try others\n(?:[^\n]*\n)*"
        << QStringList{} << QStringList{"h", "!k"} << QString();
    QTest::newRow("exit 1: no udev rule for a device on no USB adapter")
        << QStringList{} << QStringList{"ports", "udev", "1", "/dev/null"} << QByteArray()
        << QStringList{} << 1 << QString() << QStringList{"/dev/null is not on a USB adapter"}
        << QStringList{"!h"} << QString();
    QTest::newRow("batch refuses a faulty file before any card")
        << autoSwipe << QStringList{"batch", "-"} << cards + "{\"data\": \"1\", \"data\": \"2\"}\n"
        << QStringList{} << 1 << QString()
        << QStringList{"standard input:3: invalid character \"a\" at position 4 of the data: ISO "
                       "on "
                       "Track 2 takes 0-9 : ; < = > ?",
                       "standard input:6: the key \"data\" is given twice",
                       "2 lines with faults; no card was written"}
        << QStringList{"!A;1=1?" + zeros(32)} << QString();
    QTest::newRow("batch keeps going past a write error, verified")
        << autoSwipe + QStringList{"--swipe-error", "write"}
        << QStringList{"batch", "--verify", "--keep-going", "-"} << good << QStringList{} << 4
        << "re:" +
               result(1, 1,
                      "\"result\": \"failed\", \"step\": \"armed\", \"written\": false, "
                      "\"code\": \"reader_error\", \"error\": \"write: Write Data Error \\(reader "
                      "status lA\\)\"") +
               result(2, 3, verified)
        << QStringList{"Card 2 of 2: swipe the same card again", "1 verified, 1 failed",
                       "failed: 1"}
        << QStringList{"h", "A;1=1?" + zeros(32), "A;3=3?" + zeros(32), "E"} << ";3=3?";
    QTest::newRow("batch resumes, revealed")
        << autoSwipe << QStringList{"batch", "--start", "2", "--reveal", "-"} << good
        << QStringList{} << 0
        << "re:\\{\"index\": 2, \"line\": 3, \"result\": \"written\", \"step\": \"written\", "
           "\"written\": true, \"time\": \"[-0-9T:]+Z\", \"data\": \";3=3\\?" +
               zeros(32) + "\"\\}\n"
        << QStringList{"1 written, 0 failed"} << QStringList{"A;3=3?" + zeros(32)} << QString();
    QTest::newRow("batch interrupted while armed: not written")
        << QStringList{} << QStringList{"batch", "-"} << good << QStringList{"sigint"} << 130
        << "re:" + result(1, 1,
                          "\"result\": \"failed\", \"step\": \"armed\", \"written\": false, "
                          "\"code\": \"interrupted\", \"error\": \"write: interrupted\"")
        << QStringList{"interrupted at card 1; card 1 was not written; resume with: tarnavel-cli "
                       "batch --start 1 -"}
        << QStringList{"A;1=1?" + zeros(32), "n", "h"} << QString();
    QTest::newRow("batch ended while verifying: written, resumes after it")
        << QStringList{"--card", "@deck"} << QStringList{"batch", "--verify", "-t", "5", "-"}
        << good << QStringList{"swipe 1", "sigterm"} << 143
        << "re:" + result(1, 1,
                          "\"result\": \"failed\", \"step\": \"written\", \"written\": true, "
                          "\"code\": \"interrupted\", \"error\": \"verify read: interrupted "
                          "\\(the card was written\\)\"")
        << QStringList{"card 1 was written; resume with: tarnavel-cli batch --start 2 --verify -t "
                       "5 -"}
        << QStringList{"A;1=1?" + zeros(32), "n", "!A;3=3?" + zeros(32)} << QString();
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
    QFETCH(QString, secret);

    QVERIFY(m_files.isValid());
    const QString deck = m_files.filePath(QStringLiteral("deck.txt"));
    QFile deckFile(deck);
    QVERIFY(deckFile.open(QIODevice::WriteOnly) && deckFile.write(kDeck) == kDeck.size());
    deckFile.close();
    simArgs.replaceInStrings(QStringLiteral("@deck"), deck);
    cliArgs.replaceInStrings(QStringLiteral("@missing"),
                             m_files.filePath(QStringLiteral("ttyGone")));

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
    if (!secret.isEmpty())
        QVERIFY2(!run.err.contains(secret), qPrintable(run.err));

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

QTEST_GUILESS_MAIN(TestE2eCli)
#include "test_e2e_cli.moc"
