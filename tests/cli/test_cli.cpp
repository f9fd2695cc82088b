// tarnavel-cli in-process: every command on the emulated reader, the in-memory store and the
// manual clock, with its standard streams in memory.

#include "cards/errorcode.h"
#include "cli/command.h"
#include "config/settingsio.h"
#include "emulator/deck.h"
#include "emulator/pty.h"
#include "support/cli/clirig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString kHelpPointer =
    QStringLiteral(" (tarnavel-cli --help lists the commands and options)");

// Card 2 holds other track 2 data than a verify of card 1 writes.
const QByteArray kDeck = "[Visa test]\n"
                         "1=%B4111111111111111^DOE/JOHN^2512101000000?\n"
                         "2=;4111111111111111=2512101?\n"
                         "[Other]\n"
                         "2=;4111111111111111=2612101?\n";

QString zeros(int count)
{
    return QString(count, QLatin1Char('0'));
}

// XDG_CONFIG_HOME as a test sets it (empty: unset), and back as it was afterwards.
class ScopedConfigHome
{
public:
    explicit ScopedConfigHome(const QString& folder)
        : m_saved(qgetenv("XDG_CONFIG_HOME")),
          m_wasSet(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        set(folder.toLocal8Bit(), !folder.isEmpty());
    }
    ~ScopedConfigHome() { set(m_saved, m_wasSet); }
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

private:
    static void set(const QByteArray& value, bool isSet)
    {
        if (isSet)
            qputenv("XDG_CONFIG_HOME", value);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    QByteArray m_saved;
    bool m_wasSet;
};

// The settings file, as a store that read it reports it.
const store::Failure kUnreadSettings{store::Cause::TooLarge,
                                     QStringLiteral("/home/op/.config/quorvex-tarnavel/user.reg"),
                                     QStringLiteral("it is larger than 1 MiB")};

// The reader and the rig as a row sets them up: "auto" (the card in the slot is swiped once the
// reader is armed), "deck" (the deck above), "type N", "silent CHARS", "force BODY",
// "swipe-error" (the next swipe fails to write), "then silent CHARS" (silent once the reader has
// been asked its type), "terminal", "one terminal" (output too), "width N" (the terminal's),
// "stdout closed", "real devices", "settings unreadable", "stored NAME N" (a value the store
// holds).
void setUp(CliRig& rig, const QStringList& words)
{
    QList<ReaderCard> deck;
    QString error;
    QVERIFY2(parseDeck(kDeck, &deck, &error), qPrintable(error));
    for (const QString& word : words) {
        const QString value = word.section(QLatin1Char(' '), 1);
        rig.autoSwipe = rig.autoSwipe || word == QLatin1String("auto");
        rig.terminal = rig.terminal || word == QLatin1String("terminal") ||
                       word == QLatin1String("one terminal");
        rig.outputTerminal = rig.outputTerminal || word == QLatin1String("one terminal");
        rig.realDevices = rig.realDevices || word == QLatin1String("real devices");
        if (word == QLatin1String("stdout closed"))
            rig.outFailure = QStringLiteral("Broken pipe");
        else if (word == QLatin1String("deck"))
            rig.model.setDeck(deck);
        else if (word == QLatin1String("swipe-error"))
            rig.model.setSwipeError(ReaderModel::SwipeError::Write);
        else if (word.startsWith(QLatin1String("type ")))
            rig.model.setType(value.toInt());
        else if (word.startsWith(QLatin1String("silent ")))
            rig.model.setSilentCommands(value.toLatin1());
        else if (word.startsWith(QLatin1String("force ")))
            rig.model.setForcedReply(value.toLatin1());
        else if (word.startsWith(QLatin1String("width ")))
            rig.width = value.toInt();
        else if (word == QLatin1String("settings unreadable"))
            rig.store.failReads(kUnreadSettings);
        else if (word.startsWith(QLatin1String("stored ")))
            rig.store.putDword(settingsKeyPath(), value.section(QLatin1Char(' '), 0, 0),
                               value.section(QLatin1Char(' '), 1).toInt());
    }
}

// The status lines drawn on standard error: what stands between carriage returns, line ends
// and erasures, and starts as the batch's progress does.
QStringList progressLines(const QString& err)
{
    static const QRegularExpression breaks(QStringLiteral("\\r|\\n|\\x1b\\[K"));
    QStringList lines = err.split(breaks);
    lines.removeIf([](const QString& line) { return !line.startsWith(QLatin1String("card ")); });
    return lines;
}

int swipePrompts(const QString& err)
{
    static const QRegularExpression prompt(
        QStringLiteral(
            "^((Card|Copy) \\d+ of \\d+: s|S)wipe (card when ready|the same card|the card "
            "once|the master card)"),
        QRegularExpression::MultilineOption);
    return int(err.count(prompt));
}

// The exit statuses a code may end the program with: a signal's is 128 + its number.
QList<int> statusesOf(const ErrorCodeInfo& info)
{
    if (info.code == ErrorCode::Interrupted)
        return {128 + SIGHUP, 128 + SIGINT, 128 + SIGTERM};
    return {info.exitStatus};
}

QList<int> sorted(QList<int> numbers)
{
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

QList<int> numbersIn(const QString& text)
{
    QList<int> numbers;
    static const QRegularExpression number(QStringLiteral("\\b\\d+\\b"));
    for (const QRegularExpressionMatch& match : number.globalMatch(text))
        numbers << match.captured().toInt();
    return numbers;
}

QString sourceFile(const char* path)
{
    QFile file(QStringLiteral(TARNAVEL_SOURCE_DIR "/") + QLatin1String(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A section of the manual page: from ".SH name" to the next section.
QString manSection(const QString& name)
{
    const QString page = sourceFile("dist/man/tarnavel-cli.1");
    const qsizetype start = page.indexOf(QStringLiteral("\n.SH ") + name + QLatin1Char('\n'));
    if (start < 0)
        return QString();
    const qsizetype end = page.indexOf(QStringLiteral("\n.SH "), start + 1);
    return page.mid(start, end < 0 ? -1 : end - start);
}

// One run of a row that takes several: %F and %G stand for two results files of the row's own.
struct Run {
    QStringList rig; // see setUp(); "swipe once": only the first swipe prompt is answered
    QStringList args;
    QByteArray input;
    int status;
    QString errHas;
    QString neverSent; // the data of a frame this run must not send
};

} // namespace

Q_DECLARE_METATYPE(QList<Run>)

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void usage_data();
    void usage();
    void commandHelp_data();
    void commandHelp();
    void helpTexts_data();
    void helpTexts();
    void portsChangesInJson();
    void completion_data();
    void completion();
    void commands_data();
    void commands();
    void resultsFile_data();
    void resultsFile();
    void errorTables();
    void doctorCodesAreInTheTable();
};

void TestCli::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("message"); // before the pointer to --help

    const QByteArray cards = ";1=1?\n;3=3?\n";
    QTest::newRow("options, no command")
        << QStringList{"--reveal"} << QByteArray() << "no command given";
    QTest::newRow("unknown command")
        << QStringList{"bogus"} << QByteArray() << "unknown command \"bogus\"";
    QTest::newRow("unknown short option")
        << QStringList{"-x", "read"} << QByteArray() << "unknown option -x";
    QTest::newRow("unknown long option")
        << QStringList{"--bogus"} << QByteArray() << "unknown option --bogus";
    QTest::newRow("an option of another command")
        << QStringList{"read", "--yes"} << QByteArray() << "the read command takes no --yes";
    QTest::newRow("value missing at the end")
        << QStringList{"-p"} << QByteArray() << "option -p needs a value";
    QTest::newRow("empty value") << QStringList{"-p", "", "read"} << QByteArray()
                                 << "option -p needs a value that is not empty";
    QTest::newRow("empty value after =") << QStringList{"--port=", "read"} << QByteArray()
                                         << "option --port needs a value that is not empty";
    QTest::newRow("a flag given a value")
        << QStringList{"read", "--decode=1"} << QByteArray() << "option --decode takes no value";
    QTest::newRow("flags share a dash, the last takes the next word")
        << QStringList{"-yt", "0", "write", "1"} << QByteArray()
        << "--timeout takes whole seconds from 1 to 32767, not \"0\"";
    QTest::newRow("port number") << QStringList{"-p", "COM0", "read"} << QByteArray()
                                 << "--port takes COM1 to COM256 or a device path such as "
                                    "/dev/ttyUSB0, not \"COM0\"";
    QTest::newRow("card method") << QStringList{"-m", "9", "read"} << QByteArray()
                                 << "unknown card method \"9\": use 0 to 4 or iso1, iso2, iso3, "
                                    "ibm, iso1t3";
    QTest::newRow("line settings") << QStringList{"-s", "9600,q,7,1", "read"} << QByteArray()
                                   << "line settings \"9600,q,7,1\" (expected speed,parity,data "
                                      "bits,stop bits such as 9600,e,7,1)";
    QTest::newRow("an argument too many")
        << QStringList{"version", "extra"} << QByteArray() << "version takes no argument \"extra\"";
    QTest::newRow("an argument missing")
        << QStringList{"write"} << QByteArray()
        << "write takes the track data, or - to read it from standard input";
    QTest::newRow("lamp") << QStringList{"led", "off", "purple"} << QByteArray()
                          << "unknown lamp \"purple\": use off, green, red or yellow";
    QTest::newRow("help topic") << QStringList{"help", "bogus"} << QByteArray()
                                << "no help on \"bogus\"";
    QTest::newRow("shell") << QStringList{"completion", "tcsh"} << QByteArray()
                           << "completion takes bash, zsh or fish";
    QTest::newRow("first card") << QStringList{"batch", "--check", "--start", "5", "-"} << cards
                                << "--start takes a whole number from 1 to 2, not \"5\"";
    QTest::newRow("ports") << QStringList{"ports", "unlink", "0"} << QByteArray()
                           << "\"0\" is not a port number (1 to 256, or COM1...)";
}

// A usage error is one line naming the fault and pointing to --help, exit 1, and with --json
// anywhere on the line also one JSON object with the code "usage".
void TestCli::usage()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, message);

    CliRig rig;
    const QString line = message + kHelpPointer;
    const CliRun plain = rig.run(args, input);
    QCOMPARE(plain.status, exitcode::Usage);
    QCOMPARE(plain.err, QStringLiteral("tarnavel-cli: ") + line + QLatin1Char('\n'));
    QCOMPARE(plain.out, QByteArray());

    const CliRun json = rig.run(QStringList{QStringLiteral("--json")} + args, input);
    QCOMPARE(json.status, exitcode::Usage);
    QCOMPARE(json.err, plain.err);
    QVERIFY2(json.out.endsWith('\n') && json.out.count('\n') == 1, json.out.constData());
    const QJsonObject object = QJsonDocument::fromJson(json.out).object();
    QCOMPARE(object.value(QLatin1String("result")).toString(), QStringLiteral("failed"));
    QCOMPARE(object.value(QLatin1String("exit")).toInt(), exitcode::Usage);
    QCOMPARE(object.value(QLatin1String("code")).toString(), QStringLiteral("usage"));
    QCOMPARE(object.value(QLatin1String("error")).toString(), line);
}

void TestCli::commandHelp_data()
{
    QTest::addColumn<QString>("name");
    for (const CliCommand* command : cliCommands())
        QTest::newRow(command->name) << QString::fromLatin1(command->name);
}

// Each command's help comes from its entry in the table, the same by "help C" and "C --help"
// ("help --help" is the program's), and the program's help lists every command.
void TestCli::commandHelp()
{
    QFETCH(QString, name);
    const CliCommand& command = *findCliCommand(name);
    CliRig rig;
    const CliRun byHelp = rig.run({QStringLiteral("help"), name});
    QCOMPARE(byHelp.status, exitcode::Ok);
    QVERIFY(byHelp.err.isEmpty());
    const CliRun program = rig.run({QStringLiteral("--help")});
    const CliRun byOption = rig.run({name, QStringLiteral("--help")});
    QCOMPARE(byOption.status, exitcode::Ok);
    QCOMPARE(byOption.out, name == QLatin1String("help") ? program.out : byHelp.out);
    const QString text = QString::fromLocal8Bit(byHelp.out);
    QVERIFY2(text.startsWith(QStringLiteral("Usage: tarnavel-cli [OPTIONS] ") + name),
             qPrintable(text));
    QVERIFY(text.contains(QString::fromLatin1(command.help)));
    for (const Opt id : command.options)
        QVERIFY2(text.contains(QStringLiteral("--") + QLatin1String(cliOption(id).longName)),
                 cliOption(id).longName);
    QVERIFY(QString::fromLocal8Bit(program.out).contains(QStringLiteral("\n  ") + name));
}

void TestCli::helpTexts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("configHome"); // XDG_CONFIG_HOME; empty: unset
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("onError"); // the help goes to standard error, not output
    QTest::addColumn<QStringList>("has");
    QTest::addColumn<QStringList>("lacks");

    const QStringList readerOptions{"--port", "--settings", "--timeout", "--trace"};
    QTest::newRow("no arguments: the short help, a usage error")
        << QStringList{} << QString() << 1 << true
        << QStringList{"Usage: tarnavel-cli [OPTIONS] COMMAND [ARGS]\n", "\n  batch ",
                       "\n  completion ", "\"tarnavel-cli --help\" shows the options"}
        << QStringList{"Options:", "Exit status:", "tarnavel-cli: "};
    QTest::newRow("decode: only what applies without a reader")
        << QStringList{"decode", "--help"} << QString() << 0 << false
        << QStringList{"--json", "--reveal", "--help"} << readerOptions;
    QTest::newRow("ports: neither reader nor card data")
        << QStringList{"ports", "--help"} << QString() << 0 << false << QStringList{"--json"}
        << readerOptions + QStringList{"--reveal"};
    QTest::newRow("completion: its script alone")
        << QStringList{"completion", "--help"} << QString() << 0 << false << QStringList{"--help"}
        << readerOptions + QStringList{"--json"};
    QTest::newRow("the settings where XDG_CONFIG_HOME puts them")
        << QStringList{"--help"} << "/srv/desk/config" << 0 << false
        << QStringList{"/srv/desk/config/quorvex-tarnavel/user.reg"} << QStringList{"~/.config"};
    QTest::newRow("the ports folder where XDG_CONFIG_HOME puts it")
        << QStringList{"ports", "--help"} << "/srv/desk/config" << 0 << false
        << QStringList{"/srv/desk/config/quorvex-tarnavel/ports"} << QStringList{"~/.config"};
}

// What help shows fits the command and the machine it runs on.
void TestCli::helpTexts()
{
    QFETCH(QStringList, args);
    QFETCH(QString, configHome);
    QFETCH(int, status);
    QFETCH(bool, onError);
    QFETCH(QStringList, has);
    QFETCH(QStringList, lacks);

    const ScopedConfigHome home(configHome);
    CliRig rig;
    const CliRun run = rig.run(args);
    QCOMPARE(run.status, status);
    const QString text = onError ? run.err : QString::fromLocal8Bit(run.out);
    QVERIFY((onError ? run.out.isEmpty() : run.err.isEmpty()));
    for (const QString& fragment : std::as_const(has))
        QVERIFY2(text.contains(fragment),
                 qPrintable(fragment + QStringLiteral(" not in:\n") + text));
    for (const QString& fragment : std::as_const(lacks))
        QVERIFY2(!text.contains(fragment), qPrintable(fragment + QStringLiteral(" in:\n") + text));
}

// Changing the ports folder is an outcome like any other: one object for it.
void TestCli::portsChangesInJson()
{
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const ScopedConfigHome home(config.path());
    PseudoTerminal line;
    QVERIFY(line.open());
    CliRig rig;
    const CliRun linked = rig.run({QStringLiteral("--json"), QStringLiteral("ports"),
                                   QStringLiteral("link"), QStringLiteral("3"), line.slavePath()});
    const CliRun unlinked = rig.run({QStringLiteral("--json"), QStringLiteral("ports"),
                                     QStringLiteral("unlink"), QStringLiteral("3")});
    QVERIFY2(linked.status == 0, qPrintable(linked.err));
    QCOMPARE(QString::fromUtf8(linked.out),
             QStringLiteral("{\"command\": \"ports\", \"result\": \"linked\", \"port\": \"COM3\", "
                            "\"device\": \"%1\"}\n")
                 .arg(line.slavePath()));
    QVERIFY2(unlinked.status == 0, qPrintable(unlinked.err));
    QCOMPARE(unlinked.out, QByteArray("{\"command\": \"ports\", \"result\": \"unlinked\", "
                                      "\"port\": \"COM3\"}\n"));
}

void TestCli::completion_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("optionForm"); // how the script names an option
    QTest::newRow("bash") << "bash"
                          << "--%1";
    QTest::newRow("zsh") << "zsh"
                         << "--%1";
    QTest::newRow("fish") << "fish"
                          << "-l %1";
}

// A completion script offers every command and every option of the table.
void TestCli::completion()
{
    QFETCH(QString, shell);
    QFETCH(QString, optionForm);
    CliRig rig;
    const CliRun run = rig.run({QStringLiteral("completion"), shell});
    QCOMPARE(run.status, exitcode::Ok);
    const QString script = QString::fromUtf8(run.out);
    QVERIFY(script.contains(QStringLiteral("completion for tarnavel-cli")));
    for (const CliCommand* command : cliCommands())
        QVERIFY2(script.contains(QLatin1String(command->name)), command->name);
    for (const CliOption& option : cliOptions())
        QVERIFY2(script.contains(optionForm.arg(QLatin1String(option.longName))), option.longName);
}

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("rig"); // see setUp()
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    // At the k-th swipe prompt: "swipe N", "pull", "sigint" (Ctrl+C).
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // exact, or a pattern after "re:"
    QTest::addColumn<QStringList>("errHas");
    // Data parts of host frames, in order; "!X": X is never sent.
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("errLacks"); // never on standard error: card data, a wrong word

    // A card's result line: index, line, result, step, written, code and error, the time.
    const auto result = [](int index, int line, const char* rest) {
        return QStringLiteral("\\{\"index\": %1, \"line\": %2, \"card\": \"[0-9a-f]{32}\", %3, "
                              "\"time\": \"[-0-9T:]+Z\"\\}\n")
            .arg(index)
            .arg(line)
            .arg(QLatin1String(rest));
    };
    const char* written = "\"result\": \"written\", \"step\": \"written\", \"written\": true";
    const char* verified = "\"result\": \"verified\", \"step\": \"verified\", \"written\": true";
    const char* writeError = "\"result\": \"failed\", \"step\": \"armed\", \"written\": false, "
                             "\"code\": \"reader_error\", \"error\": \"write: Write Data Error "
                             "\\(reader status lA\\)\"";
    const QByteArray cards = ";1=1?\n# a comment\n;12a\n\n;3=3?\n";
    const QByteArray good = ";1=1?\n# a comment\n;3=3?\n";
    const QStringList none;

    QTest::newRow("version")
        << none << QStringList{"version"} << QByteArray() << none << 0
        << "Reader type 8 on COM1 (/dev/loopback)\nCard methods:\n  0  iso1    ISO on Track 1\n"
           "  1  iso2    ISO on Track 2\n  2  iso3    ISO on Track 3\n  3  ibm     IBM 4700 on "
           "Track 2\n  4  iso1t3  Track 1 ISO on Track 3\n"
        << none << QStringList{"h", "k"} << QString();
    QTest::newRow("version json, type 2")
        << QStringList{"type 2"} << QStringList{"--json", "version"} << QByteArray() << none << 0
        << "{\"reader_type\": 2, \"port\": \"COM1\", \"device\": \"/dev/loopback\", \"methods\": "
           "[{\"method\": 1, \"short_name\": \"iso2\", \"method_name\": \"ISO on Track 2\"}, "
           "{\"method\": 2, \"short_name\": \"iso3\", \"method_name\": \"ISO on Track 3\"}, "
           "{\"method\": 3, \"short_name\": \"ibm\", \"method_name\": \"IBM 4700 on Track 2\"}]}\n"
        << none << QStringList{"k"} << QString();
    QTest::newRow("read") << QStringList{"auto"} << QStringList{"read"} << QByteArray() << none << 0
                          << "4000123456789010=25121010000000000\n"
                          << QStringList{"Swipe card"} << QStringList{"k", "n", "E", "!o"}
                          << "4000123456789010";
    QTest::newRow("read json, decoded")
        << QStringList{"auto", "deck"} << QStringList{"--json", "read", "-m", "iso1", "--decode"}
        << QByteArray() << none << 0
        << "{\"method\": 0, \"method_name\": \"ISO on Track 1\", \"data\": "
           "\"%B4111111111111111^DOE/JOHN^2512101000000?\", \"decoded\": {\"track\": 1, \"pan\": "
           "\"411111******1111\", \"luhn_ok\": true, \"name\": \"DOE/JOHN\", \"expiry\": "
           "\"2025-12\", \"service_code\": \"101\", \"service\": {\"interchange\": "
           "\"international interchange\", \"authorization\": \"normal authorization\", "
           "\"services\": \"no restrictions\"}, \"discretionary_length\": 6, \"decodable\": "
           "true}}\n"
        << none << QStringList{"k", "n", "5", "!o"} << "4111111111111111";
    QTest::newRow("exit 1: a method the reader lacks")
        << QStringList{"type 2"} << QStringList{"-m", "iso1", "read"} << QByteArray() << none << 1
        << QString()
        << QStringList{"ISO on Track 1 is not offered by this reader (type 2); it offers iso2, "
                       "iso3, ibm"}
        << QStringList{"k", "!n"} << QString();
    QTest::newRow("verify passes")
        << QStringList{"auto"} << QStringList{"verify", ";123=45?"} << QByteArray() << none << 0
        << QString()
        << QStringList{"Swipe the same card again to verify",
                       "tarnavel-cli: the card was written and read back the same (ISO on Track "
                       "2)\n"}
        << QStringList{"A;123=45?" + zeros(29), "n", "n", "E"} << "123=45";
    QTest::newRow("exit 6: verify reads another card")
        << QStringList{"deck"} << QStringList{"-t", "5", "verify", ";4111111111111111=2512101?"}
        << QByteArray() << QStringList{"swipe 1", "swipe 2"} << 6 << QString()
        << QStringList{"the card read back differs from the data written at position 20"}
        << QStringList{"n", "n", "E"} << "4111111111111111";
    QTest::newRow("reset") << none << QStringList{"reset"} << QByteArray() << none << 0 << QString()
                           << none << QStringList{"k", "h"} << QString();
    QTest::newRow("led") << none << QStringList{"led", "off", "green", "red"} << QByteArray()
                         << none << 0 << QString() << none << QStringList{"k", "`0", "`1", "`2"}
                         << QString();
    QTest::newRow("exit 2: no such device")
        << QStringList{"real devices"} << QStringList{"-p", "/nonexistent/ttyGone", "read"}
        << QByteArray() << none << 2 << QString()
        << QStringList{"ttyGone: No such file or directory. Check the path"} << none << QString();
    QTest::newRow("exit 2: a device given by path is named by it")
        << QStringList{"real devices"} << QStringList{"-p", "/dev/null", "version"} << QByteArray()
        << none << 2 << QString() << QStringList{"tarnavel-cli: /dev/null: "} << none << "COM1";
    QTest::newRow("exit 2: reader gone during the swipe")
        << none << QStringList{"read"} << QByteArray() << QStringList{"pull"} << 2 << QString()
        << QStringList{"read: The card reader/writer on COM1 (/dev/loopback) was disconnected\n"}
        << QStringList{"k", "n"} << QString();
    QTest::newRow("exit 3: silent reader")
        << QStringList{"silent n"} << QStringList{"-t", "1", "read"} << QByteArray() << none << 3
        << QString() << QStringList{"read: no reply to the arm command within 1 s"}
        << QStringList{"k", "n", "h"} << QString();
    QTest::newRow("exit 3 in JSON, with its code")
        << QStringList{"silent k"} << QStringList{"--json", "-t", "1", "version"} << QByteArray()
        << none << 3
        << "{\"command\": \"version\", \"result\": \"failed\", \"exit\": 3, \"code\": "
           "\"no_reply\", \"error\": \"no reply from the reader on COM1 (/dev/loopback) within 1 "
           "s. Check that it is switched on and connected, and the line settings (9600,e,7,1).\"}\n"
        << none << QStringList{"h", "k"} << QString();
    QTest::newRow("exit 4: the reset answered with a status")
        << QStringList{"force l4"} << QStringList{"write", "123"} << QByteArray() << none << 4
        << QString()
        << QStringList{"the reader on COM1 (/dev/loopback) answered the reset with: Receive "
                       "Buffer Is Full (reader status l4)"}
        << QStringList{"h", "!k"} << QString();
    QTest::newRow("exit 4: write fails at the swipe")
        << QStringList{"auto", "swipe-error"} << QStringList{"--json", "write", "123"}
        << QByteArray() << none << 4
        << "{\"method\": 1, \"method_name\": \"ISO on Track 2\", \"result\": \"failed\", "
           "\"written\": false, \"exit\": 4, \"code\": \"reader_error\", \"error\": \"Write Data "
           "Error (reader status lA)\"}\n"
        << QStringList{"Write Data Error"} << QStringList{"A123" + zeros(34), "n", "h", "!o"}
        << QString();
    QTest::newRow("exit 5: invalid character")
        << none << QStringList{"write", "--", ";12a4"} << QByteArray() << none << 5 << QString()
        << QStringList{"invalid character \"a\" at position 4"} << QStringList{"!h"} << QString();
    QTest::newRow("exit 5: unchecked format without --yes")
        << none << QStringList{"-m", "ibm", "write", "-"} << QByteArray("1234\n") << none << 5
        << QString() << QStringList{"--yes writes it unchecked"} << QStringList{"!h"} << QString();
    QTest::newRow("unchecked format confirmed on a terminal")
        << QStringList{"auto", "terminal"} << QStringList{"-m", "ibm", "write", "1234"}
        << QByteArray("y\n") << none << 0 << QString()
        << QStringList{"IBM 4700 on Track 2", "[y/N] ", "Swipe card when ready"}
        << QStringList{"h", "k"} << QString();
    QTest::newRow("exit 5: unchecked format declined on a terminal")
        << QStringList{"terminal"} << QStringList{"-m", "ibm", "write", "1234"} << QByteArray("n\n")
        << none << 5 << QString() << QStringList{"[y/N] ", "--yes writes it unchecked"}
        << QStringList{"!h"} << QString();
    QTest::newRow("exit 5: not decodable, in JSON")
        << none << QStringList{"--json", "decode", "-"} << QByteArray(";4111111111111111=25\n")
        << none << 5
        << "{\"decodable\": false, \"reason\": \"no end sentinel (?)\", \"exit\": 5, \"code\": "
           "\"not_decodable\", \"error\": \"standard input, line 1: not decodable: no end sentinel "
           "(?)\"}\n"
        << QStringList{"tarnavel-cli: standard input, line 1: not decodable: no end sentinel (?)"}
        << none << QString();
    QTest::newRow("trace hides the track data")
        << QStringList{"auto"} << QStringList{"--trace", "verify", ";123=45?"} << QByteArray()
        << none << 0 << QString()
        << QStringList{"host   > 02 41 [37 bytes hidden] 03 ??  write ISO on Track 2",
                       "reader < 02 6C 40 03 2F  status l@: card written",
                       "reader < 02 45 [37 bytes hidden] 03 ??  track data"}
        << QStringList{"A;123=45?" + zeros(29)} << "123=45";
    QTest::newRow("batch refuses a faulty file before any card")
        << QStringList{"auto"} << QStringList{"batch", "-"}
        << cards + "{\"data\": \"1\", \"data\": \"2\"}\n"
        << none << 1 << QString()
        << QStringList{"standard input:3: invalid character \"a\" at position 4 of the data: ISO "
                       "on Track 2 takes 0-9 : ; < = > ?",
                       "standard input:6: the key \"data\" is given twice",
                       "2 lines with faults; no card was written"}
        << QStringList{"!h"} << QString();
    QTest::newRow("batch checked only")
        << none << QStringList{"--json", "batch", "--check", "-"} << good << none << 0
        << "{\"batch\": \"standard input\", \"result\": \"checked\", \"cards\": 2}\n"
        << none << QStringList{"!h"} << QString();
    QTest::newRow("batch refuses a method the reader lacks")
        << QStringList{"type 2"} << QStringList{"--json", "batch", "-"}
        << QByteArray("{\"method\": \"iso1\", \"data\": \"A\"}\n;1=1?\n") << none << 1
        << "re:\\{\"batch\": \"standard input\", .*\"code\": \"unsupported_method\", .*"
           "\"problems\": \\[\\{\"line\": 1, .*\\}\\]\\}\n"
        << QStringList{"standard input:1: ISO on Track 1 is not offered by this reader (type 2)"}
        << QStringList{"k", "!A;1=1?" + zeros(32)} << QString();
    QTest::newRow("batch keeps going past a write error, verified")
        << QStringList{"auto", "swipe-error"}
        << QStringList{"batch", "--verify", "--keep-going", "-"} << good << none << 4
        << "re:" + result(1, 1, writeError) + result(2, 3, verified)
        << QStringList{"Card 2 of 2: swipe the same card again", "1 verified, 1 failed",
                       "failed: 1"}
        << QStringList{"h", "A;1=1?" + zeros(32), "A;3=3?" + zeros(32), "E"} << ";3=3?";
    QTest::newRow("batch stops at a failure, with the command that resumes")
        << QStringList{"auto", "swipe-error"} << QStringList{"batch", "-t", "5", "-"} << good
        << none << 4 << "re:" + result(1, 1, writeError)
        << QStringList{"stopped at card 1 (line 1); card 1 was not written; resume with: "
                       "tarnavel-cli batch --start 1 -t 5 - (with the same cards on standard "
                       "input)"}
        << QStringList{"A;1=1?" + zeros(32), "!A;3=3?" + zeros(32)} << QString();
    QTest::newRow("batch resumes, revealed")
        << QStringList{"auto"} << QStringList{"batch", "--start", "2", "--reveal", "-"} << good
        << none << 0
        << "re:\\{\"index\": 2, \"line\": 3, \"card\": \"[0-9a-f]{32}\", \"result\": \"written\", "
           "\"step\": \"written\", "
           "\"written\": true, \"time\": \"[-0-9T:]+Z\", \"data\": \";3=3\\?" +
               zeros(32) + "\"\\}\n"
        << QStringList{"1 written, 0 failed"} << QStringList{"A;3=3?" + zeros(32)} << QString();
    QTest::newRow("batch report in JSON, progress on a terminal")
        << QStringList{"auto", "terminal"} << QStringList{"--json", "batch", "-"} << good << none
        << 0
        << "re:" + result(1, 1, written) + result(2, 3, written) +
               "\\{\"batch\": \"standard input\", \"result\": \"done\", \"exit\": 0, \"cards\": 2, "
               "\"written\": 2, \"skipped\": 0, \"failed\": \\[\\], \"in_doubt\": \\[\\]\\}\n"
        << QStringList{"\r\033[Kcard 2 of 2: 1 written, 0 failed, ",
                       "\r\033[Ktarnavel-cli: batch: 2 written, 0 failed"}
        << QStringList{"A;1=1?" + zeros(32), "A;3=3?" + zeros(32)} << QString();
    QTest::newRow("generate numbered cards")
        << none
        << QStringList{"generate", "--template", "iso2=;603571{seq:10}{luhn}=2912?", "--from", "9",
                       "--count",  "2"}
        << QByteArray() << none << 0
        << "{\"method\": \"iso2\", \"data\": \";60357100000000092=2912?\"}\n"
           "{\"method\": \"iso2\", \"data\": \";60357100000000100=2912?\"}\n"
        << QStringList{"generated 2 cards"} << QStringList{"!h"} << QString();
    QTest::newRow("generate names the first card that breaks, and writes nothing")
        << none << QStringList{"generate", "--template", "iso2=;{seq:2}?", "--count", "500"}
        << QByteArray() << none << 5 << QString()
        << QStringList{"card 100 (number 100): iso2: 100 has more than the 2 digits of {seq:2}; "
                       "nothing was written"}
        << none << QString();
    QTest::newRow("generate from a spreadsheet, two tracks a card")
        << none << QStringList{"generate",
                               "--template",
                               "iso2=;{room}{seq:3}?",
                               "--template",
                               "iso1=%B{room}^{name}^?",
                               "-"}
        << QByteArray("\xEF\xBB\xBFroom,name\r\n101,\"ANN, A\"\r\n") << none << 0
        << "{\"iso1\": \"%B101^ANN, A^?\", \"iso2\": \";101001?\"}\n"
        << none << none << QString();
    QTest::newRow("a spreadsheet's bad row is named before any card")
        << QStringList{"auto"} << QStringList{"batch", "--csv", "--template", "iso2=;{room}?", "-"}
        << QByteArray("room\n101\n\"102\n") << none << 1 << QString()
        << QStringList{"row 3 (line 3): a quoted field is never closed"} << QStringList{"!h"}
        << QString();
    QTest::newRow("a spreadsheet written a swipe a track")
        << QStringList{"auto"}
        << QStringList{"batch",      "--csv",           "--template", "iso2=;{room}?",
                       "--template", "iso1=%B{room}^?", "-"}
        << QByteArray("room\n101\n") << none << 0 << "re:\\{\"index\": 1, \"line\": 2, .*\n"
        << QStringList{"Card 1 of 1, ISO on Track 1 (track 1 of 2): swipe",
                       "Card 1 of 1, ISO on Track 2 (track 2 of 2): swipe"}
        << QStringList{"1%B101^?" + zeros(69), "A;101?" + zeros(32)} << QString();
    const QString visa2 = QStringLiteral(";4111111111111111=2512101?");
    QTest::newRow("compare: a golden card, padding aside")
        << QStringList{"auto", "deck"} << QStringList{"compare", "-m", "iso2", visa2}
        << QByteArray() << none << 0 << QString()
        << QStringList{"Swipe the card to compare", "compare: the card matches (1 track)"}
        << QStringList{"n", "!A" + visa2 + zeros(11)} << "4111111111111111";
    QTest::newRow("compare: two tracks, the first difference masked")
        << QStringList{"auto", "deck"} << QStringList{"compare", "-"}
        << QByteArray("{\"iso2\": \";4111111111111111=2612101?\", \"iso1\": "
                      "\"%B4111111111111111^DOE/JOHN^2512101000000?\"}")
        << none << 6 << QString()
        << QStringList{"compare: the card differs: iso2 differs from position 20 (the card holds "
                       "26 characters, 26 expected)"}
        << QStringList{"!A;4111111111111111=2612101?" + zeros(11)} << "4111111111111111";
    QTest::newRow("copy: a master read once, each copy verified")
        << QStringList{"auto", "deck"} << QStringList{"copy", "-m", "iso2", "-n", "2"}
        << QByteArray() << none << 0
        << "re:(\\{\"index\": \\d, [^\n]*\"result\": \"verified\"[^\n]*\"pan\": "
           "\"411111\\*{6}1111\"\\}\n){2}"
        << QStringList{"Swipe the master card", "Copy 2 of 2: swipe the same card again",
                       "copy: 2 verified, 0 failed, 0 not attempted, of 2 copies"}
        << QStringList{"A" + visa2 + zeros(11), "A" + visa2 + zeros(11)} << "4111111111111111";
    QTest::newRow("copy: the cable pulled at the first copy, the copies still missing")
        << QStringList{"deck"} << QStringList{"copy", "-n3", "-m", "iso2"} << QByteArray()
        << QStringList{"swipe 1", "pull"} << 2
        << "re:\\{\"index\": 1, [^\n]*\"written\": null, \"code\": \"reader_lost\"[^\n]*\n"
        << QStringList{"tarnavel-cli: copy 1: write: The card reader/writer on COM1",
                       "copy 1 may have been written; compare copy 1 with the master "
                       "(tarnavel-cli compare), then go on with: tarnavel-cli copy -n 3 -m iso2, "
                       "one copy fewer if it matches"}
        << QStringList{"A" + visa2 + zeros(11)} << "4111111111111111";
    QTest::newRow("exit 7: the results cannot go out")
        << QStringList{"auto", "stdout closed"} << QStringList{"batch", "-"} << good << none << 7
        << QString()
        << QStringList{"stopped at card 1 (line 1): the results could not be written to standard "
                       "output: Broken pipe; no card was recorded; card 1 was written; resume "
                       "with: tarnavel-cli batch --start 2 -"}
        << QStringList{"A;1=1?" + zeros(32), "!A;3=3?" + zeros(32)} << QString();

    // Standard output that cannot be written is never a success.
    QTest::newRow("exit 7: the track data cannot go out")
        << QStringList{"auto", "stdout closed"} << QStringList{"read"} << QByteArray() << none << 7
        << QString()
        << QStringList{"tarnavel-cli: read: standard output could not be written: Broken pipe\n"}
        << QStringList{"n", "E"} << QString();
    QTest::newRow("exit 7: the reader's type cannot go out")
        << QStringList{"stdout closed"} << QStringList{"version"} << QByteArray() << none << 7
        << QString() << QStringList{"version: standard output could not be written"} << none
        << QString();
    QTest::newRow("exit 7: the decoded fields cannot go out")
        << QStringList{"stdout closed"} << QStringList{"decode", ";4111111111111111=2512101?"}
        << QByteArray() << none << 7 << QString()
        << QStringList{"decode: standard output could not be written"} << none << QString();
    QTest::newRow("exit 7: the help cannot go out")
        << QStringList{"stdout closed"} << QStringList{"--help"} << QByteArray() << none << 7
        << QString() << QStringList{"tarnavel-cli: standard output could not be written"} << none
        << QString();

    // Every outcome in JSON, and a line on standard error that says what was done.
    QTest::newRow("reset")
        << none << QStringList{"--json", "reset"} << QByteArray() << none << 0
        << "{\"command\": \"reset\", \"result\": \"reset\", \"port\": \"COM1\", \"device\": "
           "\"/dev/loopback\"}\n"
        << QStringList{"tarnavel-cli: the reader on COM1 (/dev/loopback) was reset\n"}
        << QStringList{"h", "k", "h"} << QString();
    QTest::newRow("exit 3: the reset unanswered")
        << QStringList{"then silent h"} << QStringList{"-t", "1", "reset"} << QByteArray() << none
        << 3 << QString()
        << QStringList{"no answer to the reset from the reader on COM1 (/dev/loopback) within 1 s"}
        << QStringList{"h", "k", "h"} << "was reset";
    QTest::newRow("led")
        << none << QStringList{"--json", "led", "off", "green"} << QByteArray() << none << 0
        << "{\"command\": \"led\", \"result\": \"done\", \"lamps\": [\"off\", \"green\"], "
           "\"port\": \"COM1\", \"device\": \"/dev/loopback\"}\n"
        << QStringList{"tarnavel-cli: the reader on COM1 (/dev/loopback) took the lamp commands "
                       "off, green\n"}
        << QStringList{"`0", "`1"} << QString();
    QTest::newRow("write") << QStringList{"auto"} << QStringList{"write", "123"} << QByteArray()
                           << none << 0 << QString()
                           << QStringList{"tarnavel-cli: the card was written (ISO on Track 2)\n"}
                           << QStringList{"A123" + zeros(34)} << QString();
    QTest::newRow("exit 5: not decodable, told on standard error")
        << none << QStringList{"decode", "B123"} << QByteArray() << none << 5 << QString()
        << QStringList{"tarnavel-cli: not decodable: "} << none << QString();
    QTest::newRow("read --decode: a track that does not decode is a note beside the data")
        << QStringList{"auto"} << QStringList{"-m", "iso3", "read", "--decode"} << QByteArray()
        << none << 0 << "re:[^\n]+\n"
        << QStringList{"tarnavel-cli: not decodable: "} << none << QString();

    // Whether a write that failed or was interrupted reached the card.
    QTest::newRow("exit 130: write interrupted, the reset answered: not written")
        << none << QStringList{"write", "123"} << QByteArray() << QStringList{"sigint"} << 130
        << QString() << QStringList{"tarnavel-cli: write: interrupted (the card was not written)\n"}
        << QStringList{"A123" + zeros(34), "n", "h"} << QString();
    QTest::newRow("exit 2: write, reader gone during the swipe")
        << none << QStringList{"write", "123"} << QByteArray() << QStringList{"pull"} << 2
        << QString()
        << QStringList{"write: The card reader/writer on COM1 (/dev/loopback) was disconnected "
                       "(whether the card was written is not known: read it back)\n"}
        << QStringList{"A123" + zeros(34), "n"} << QString();

    QTest::newRow("exit 2: batch, reader gone during the swipe")
        << none << QStringList{"batch", "-"} << good << QStringList{"pull"} << 2 << "re:.*"
        << QStringList{"card 1 (line 1): write: The card reader/writer on COM1 (/dev/loopback) "
                       "was disconnected; whether it was written is not known\n"}
        << QStringList{"A;1=1?" + zeros(32)} << QString();

    // A reply that answers nothing is named as such, and never in full.
    QTest::newRow("exit 4: the reset never settled, a swipe's status instead")
        << QStringList{"force l@"} << QStringList{"-t", "1", "version"} << QByteArray() << none << 4
        << QString()
        << QStringList{"the reader on COM1 (/dev/loopback) did not answer the reset within 1 s, "
                       "and sent the status l@ (card written) instead"}
        << QStringList{"h", "!k"} << "version query";
    QTest::newRow("exit 4: a long reply cut")
        << QStringList{"force l4" + QString(600, QLatin1Char('x'))} << QStringList{"version"}
        << QByteArray() << none << 4 << QString()
        << QStringList{"(reader status l4" + QString(30, QLatin1Char('x')) +
                       " and 570 more bytes)\n"}
        << QStringList{"h"} << QString(31, QLatin1Char('x'));
    QTest::newRow("exit 1: more than 4 KiB of short lines")
        << none << QStringList{"write", "-"} << QByteArray(";1=1?\n").repeated(1000) << none << 1
        << QString()
        << QStringList{"tarnavel-cli: standard input holds more than 4 KiB: give one track's data, "
                       "one line\n"}
        << QStringList{"!h"} << "on one line";

    // A settings file that is there but cannot be used is never taken for the defaults.
    QTest::newRow("exit 8: the settings file cannot be read")
        << QStringList{"settings unreadable"} << QStringList{"-p", "COM1", "read"} << QByteArray()
        << none << 8 << QString()
        << QStringList{"tarnavel-cli: the settings file /home/op/.config/quorvex-tarnavel/user.reg "
                       "cannot be used: it is larger than 1 MiB; the defaults are not taken in its "
                       "place, so no port was touched. Give -s, -t and -m for this run, or mend "
                       "the file"}
        << QStringList{"!h"} << QString();
    QTest::newRow("exit 8 in JSON")
        << QStringList{"settings unreadable"} << QStringList{"--json", "version"} << QByteArray()
        << none << 8
        << "re:\\{\"command\": \"version\", \"result\": \"failed\", \"exit\": 8, \"code\": "
           "\"settings_unusable\", \"error\": \"the settings file [^\"]+ cannot be used: it is "
           "larger than 1 MiB; [^\"]+ Give -p, -s and -t for this run, [^\"]+\"\\}\n"
        << none << QStringList{"!h"} << QString();
    QTest::newRow("the settings file unreadable, every setting given")
        << QStringList{"settings unreadable", "auto", "stored CommPort 3"}
        << QStringList{"-p", "COM1", "-s", "9600,e,7,1", "-t", "5", "-m", "iso2", "read"}
        << QByteArray() << none << 0 << "4000123456789010=25121010000000000\n"
        << none << QStringList{"h", "k", "n", "E"} << "COM3";
    QTest::newRow("exit 8: stored line settings the port refuses")
        << QStringList{"stored Parity 5"} << QStringList{"--json", "version"} << QByteArray()
        << none << 8 << "re:.*\"code\": \"settings_unusable\".*\n"
        << QStringList{"(stored in user.reg; --settings overrides it)"} << QStringList{"!h"}
        << kHelpPointer;

    // Failures that are not the command line's own have codes of their own, without the
    // pointer to --help.
    QTest::newRow("exit 7: a results file that cannot be made")
        << QStringList{"auto"}
        << QStringList{"--json", "batch", "--results", "/nonexistent/run.jsonl", "-"} << good
        << none << 7 << "re:.*\"code\": \"results_refused\".*\n"
        << QStringList{"cannot keep the results in /nonexistent/run.jsonl"} << QStringList{"!h"}
        << kHelpPointer;

    // The status line fits a narrow terminal.
    QTest::newRow("data on the terminal of the status line")
        << QStringList{"auto", "one terminal"} << QStringList{"batch", "-"} << good << none << 0
        << "re:(\\{\"index\": [^\n]*\n){2}" << QStringList{"\r\033[Kcard 2 of 2: 1 written"} << none
        << QString();
    QTest::newRow("progress cut to the terminal's width")
        << QStringList{"auto", "terminal", "width 40"} << QStringList{"batch", "-"} << good << none
        << 0 << "re:.*" << QStringList{"\r\033[Kcard 2 of 2: 1 written, 0 failed, "} << none
        << QString();
}

void TestCli::commands()
{
    QFETCH(QStringList, rig);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, actions);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QStringList, errHas);
    QFETCH(QStringList, sent);
    QFETCH(QString, errLacks);

    CliRig cli;
    setUp(cli, rig);
    if (QTest::currentTestFailed())
        return;
    QByteArray thenSilent;
    for (const QString& word : std::as_const(rig)) {
        if (word.startsWith(QLatin1String("then silent ")))
            thenSilent = word.section(QLatin1Char(' '), 2).toLatin1();
    }
    int done = 0;
    cli.onPass = [&](const QString& err) {
        if (!thenSilent.isEmpty() && cli.sent.contains("k"))
            cli.model.setSilentCommands(thenSilent);
        if (done >= actions.size() || done >= swipePrompts(err))
            return;
        const QString& action = actions.at(done);
        if (action == QLatin1String("pull")) {
            cli.port->pullCable();
        } else if (action == QLatin1String("sigint")) {
            // Taken as the program takes it, at the wait's next pass.
            ::raise(SIGINT);
        } else if (cli.model.isArmed()) {
            cli.port->swipe(action.section(QLatin1Char(' '), 1).toInt() - 1);
        } else {
            return;
        }
        ++done;
    };
    const CliRun run = cli.run(args, input);
    QVERIFY2(
        run.status == status,
        qPrintable(QStringLiteral("exit %1, standard error:\n%2").arg(run.status).arg(run.err)));
    const QString stdoutText = QString::fromLatin1(run.out);
    if (out.startsWith(QLatin1String("re:"))) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(out.mid(3)),
                                         QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(pattern.match(stdoutText).hasMatch(), qPrintable(stdoutText));
    } else {
        QCOMPARE(stdoutText, out);
    }
    for (const QString& fragment : std::as_const(errHas))
        QVERIFY2(run.err.contains(fragment), qPrintable(run.err));
    if (!errLacks.isEmpty())
        QVERIFY2(!run.err.contains(errLacks), qPrintable(run.err));
    // Where both streams are one terminal, every line of data starts a line of its own.
    for (const QByteArray& line : run.out.split('\n')) {
        if (!line.isEmpty() && run.screen.contains(line))
            QVERIFY2(run.screen.startsWith(line) || run.screen.contains('\n' + line) ||
                         run.screen.contains("\033[K" + line),
                     run.screen.constData());
    }
    QCOMPARE(done, actions.size());
    // A sentence that ended is not carried on.
    for (const QString& text : {run.err, stdoutText})
        QVERIFY2(!text.contains(QLatin1String(".;")) && !text.contains(QLatin1String(". (")),
                 qPrintable(text));
    // The status line never wraps on the terminal it is drawn on.
    for (const QString& line : progressLines(run.err))
        QVERIFY2(line.size() < cli.width, qPrintable(line));

    // The frames went out in this order (others may stand between them); none marked "!".
    qsizetype at = 0;
    for (const QString& data : std::as_const(sent)) {
        if (data.startsWith(QLatin1Char('!'))) {
            QVERIFY2(!cli.sent.contains(data.mid(1).toLatin1()), qPrintable(data));
            continue;
        }
        while (at < cli.sent.size() && cli.sent.at(at) != data.toLatin1())
            ++at;
        QVERIFY2(at < cli.sent.size(), qPrintable(data + QStringLiteral(" not sent in order")));
        ++at;
    }
}

// The results file as a batch keeps it, over several runs: one record for a batch, kept by the
// run that holds the reader, read back where a write went unverified, and never a card twice.
void TestCli::resultsFile_data()
{
    QTest::addColumn<QList<Run>>("runs");
    QTest::addColumn<bool>("fileLeft"); // %F exists at the end

    const QByteArray two = ";1=1?\n;3=3?\n";
    const QByteArray one = ";1=1?\n";
    const QString load1 = "A;1=1?" + zeros(32);
    QTest::newRow("--results of a batch already started")
        << QList<Run>{{{"auto"}, {"batch", "--results", "%F", "-"}, two, 0, {}, {}},
                      {{"auto"},
                       {"batch", "--results", "%F", "-"},
                       two,
                       7,
                       "%F already records 2 cards of this batch as started or written. To go on "
                       "where it stopped: tarnavel-cli batch --resume %F -",
                       load1}}
        << true;
    QTest::newRow("--resume alone keeps the record")
        << QList<Run>{{{"auto", "swipe-error"}, {"batch", "--resume", "%F", "-"}, two, 4, {}, {}},
                      {{"auto"}, {"batch", "--resume", "%F", "-"}, two, 0, "2 written", {}},
                      {{"auto"},
                       {"batch", "--resume", "%F", "-"},
                       two,
                       0,
                       "0 written, 0 failed, 0 not attempted, of 2 cards, 2 already written",
                       load1}}
        << true;
    QTest::newRow("--resume and --results naming two files")
        << QList<Run>{{{"auto"},
                       {"batch", "--resume", "%F", "--results", "%G", "-"},
                       two,
                       7,
                       "--resume %F and --results %G name two files",
                       load1}}
        << false;
    QTest::newRow("a reader that never answers leaves no results")
        << QList<Run>{{{"silent h"}, {"batch", "--results", "%F", "-"}, two, 3, {}, load1}}
        << false;
    QTest::newRow("an unverified card is read back on resume, not written again")
        << QList<Run>{{{"swipe once"},
                       {"batch", "--verify", "--results", "%F", "-t", "1", "-"},
                       one,
                       3,
                       "verify read: no card swiped within 1 s (the card was written)",
                       {}},
                      {{"auto"},
                       {"batch", "--verify", "--resume", "%F", "-"},
                       one,
                       0,
                       "card 1 (line 1): written by an earlier run, not read back yet",
                       load1}}
        << true;
    QTest::newRow("cards that cannot be told apart")
        << QList<Run>{{{"auto"},
                       {"batch", "-"},
                       ";1=1?\n;1=1?\n",
                       5,
                       "standard input:2: the same data as card 1 (line 1)",
                       load1},
                      {{"auto"}, {"batch", "--allow-duplicates", "-"}, ";1=1?\n;1=1?\n", 0, {}, {}}}
        << false;
    QTest::newRow("a card an earlier job wrote")
        << QList<Run>{{{"auto"}, {"batch", "--results", "%F", "-"}, one, 0, {}, {}},
                      {{"auto"},
                       {"batch", "--not-in", "%F", "-"},
                       two,
                       5,
                       "standard input:1: %F records this card as written",
                       load1}}
        << true;
    QTest::newRow("a box check in the job's results: matched cards skipped, writes kept")
        << QList<Run>{{{"auto"}, {"batch", "--results", "%F", "-"}, two, 0, {}, {}},
                      {{"auto"},
                       {"batch", "--compare", "--keep-going", "--results", "%F", "-"},
                       two,
                       6,
                       "card 1 (line 1): iso2 differs from position 2 (the card holds 5 "
                       "characters, 5 expected)",
                       load1},
                      {{"auto"},
                       {"batch", "--compare", "--keep-going", "--resume", "%F", "-"},
                       two,
                       6,
                       "batch: 0 matched, 1 failed, 0 not attempted, of 2 cards, 1 already "
                       "compared before",
                       load1},
                      {{"auto"},
                       {"batch", "--resume", "%F", "-"},
                       two,
                       0,
                       "0 written, 0 failed, 0 not attempted, of 2 cards, 2 already written",
                       load1},
                      {{}, {"report", "%F"}, {}, 0, {}, {}}}
        << true;
    QTest::newRow("a batch file changed under its results")
        << QList<Run>{{{"auto"}, {"batch", "--resume", "%F", "-"}, two, 0, {}, {}},
                      {{"auto"},
                       {"batch", "--resume", "%F", "-"},
                       ";1=1?\n;3=9?\n",
                       7,
                       "standard input has changed since %F recorded its cards: card 2 (line 2) "
                       "holds other data now",
                       "A;3=9?" + zeros(32)}}
        << true;
}

void TestCli::resultsFile()
{
    QFETCH(QList<Run>, runs);
    QFETCH(bool, fileLeft);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString f = dir.filePath(QStringLiteral("f.jsonl"));
    const QString g = dir.filePath(QStringLiteral("g.jsonl"));
    // One reader for all the runs: the cards it wrote stay written.
    CliRig rig;
    for (const Run& run : std::as_const(runs)) {
        rig.autoSwipe = false;
        rig.onPass = nullptr;
        rig.sent.clear();
        rig.model.clearFaults();
        setUp(rig, run.rig);
        bool swiped = false;
        if (run.rig.contains(QStringLiteral("swipe once")))
            rig.onPass = [&rig, &swiped](const QString& err) {
                if (!swiped && swipePrompts(err) == 1 && rig.model.isArmed()) {
                    rig.port->swipe(0);
                    swiped = true;
                }
            };
        QStringList args;
        for (const QString& word : run.args)
            args << QString(word).replace(QLatin1String("%F"), f).replace(QLatin1String("%G"), g);
        const CliRun result = rig.run(args, run.input);
        QVERIFY2(result.status == run.status,
                 qPrintable(QStringLiteral("%1: exit %2, standard error:\n%3")
                                .arg(args.join(QLatin1Char(' ')))
                                .arg(result.status)
                                .arg(result.err)));
        const QString errHas =
            QString(run.errHas).replace(QLatin1String("%F"), f).replace(QLatin1String("%G"), g);
        QVERIFY2(result.err.contains(errHas), qPrintable(result.err));
        if (!run.neverSent.isEmpty())
            QVERIFY(!rig.sent.contains(run.neverSent.toLatin1()));
    }
    QCOMPARE(QFile::exists(f), fileLeft);
}

// The error codes' table is the one the manual page lists, and the exit statuses it stands
// for are those the manual page, the README and --help list.
void TestCli::errorTables()
{
    const QString codes = manSection(QStringLiteral("ERROR CODES"));
    QVERIFY(!codes.isEmpty());
    QHash<QString, QList<int>> manual;
    QHash<QString, QString> meanings;
    static const QRegularExpression code(QStringLiteral("(?:^|\\s)([a-z]+(?:_[a-z]+)*)(?=\\s|$)"));
    for (const QString& entry : codes.split(QStringLiteral(".TP\n")).mid(1)) {
        const QStringList lines = entry.split(QLatin1Char('\n'));
        for (const QRegularExpressionMatch& match : code.globalMatch(lines.at(0)))
            manual.insert(match.captured(1), sorted(numbersIn(lines.value(1))));
        static const QRegularExpression meaning(
            QStringLiteral("\\.RB \\( ([a-z_]+) :\n([^\n]+)\\)\\."));
        const QRegularExpressionMatch told = meaning.match(entry);
        if (told.hasMatch())
            meanings.insert(told.captured(1), told.captured(2));
    }
    QList<int> statuses = {exitcode::Ok};
    for (const ErrorCodeInfo& info : kErrorCodes) {
        const QString name = QLatin1String(info.name);
        QVERIFY2(manual.contains(name), info.name);
        QCOMPARE(manual.take(name), sorted(statusesOf(info)));
        if (meanings.contains(name))
            QCOMPARE(meanings.value(name), QLatin1String(info.meaning));
        statuses += statusesOf(info);
    }
    QVERIFY2(manual.isEmpty(), qPrintable(QStringList(manual.keys()).join(QLatin1Char(' '))));
    statuses = sorted(statuses);

    QList<int> listed;
    for (const QString& entry :
         manSection(QStringLiteral("EXIT STATUS")).split(QStringLiteral(".TP\n")).mid(1))
        listed += numbersIn(entry.section(QLatin1Char('\n'), 0, 0));
    QCOMPARE(sorted(listed), statuses);

    const QString readme = sourceFile("README.md");
    const qsizetype table = readme.indexOf(QStringLiteral("| Exit status | Meaning |"));
    QVERIFY(table >= 0);
    listed.clear();
    for (const QString& row : readme.mid(table).split(QLatin1Char('\n')).mid(2)) {
        if (!row.startsWith(QLatin1Char('|')))
            break;
        listed += numbersIn(row.section(QLatin1Char('|'), 1, 1));
    }
    QCOMPARE(sorted(listed), statuses);

    CliRig rig;
    const QString help = QString::fromLocal8Bit(rig.run({QStringLiteral("--help")}).out);
    listed.clear();
    static const QRegularExpression helpRow(QStringLiteral("^  (\\d+(?:, \\d+)*) "),
                                            QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& match :
         helpRow.globalMatch(help.section(QStringLiteral("Exit status:\n"), 1)))
        listed += numbersIn(match.captured(1));
    QCOMPARE(sorted(listed), statuses);
}

// The doctor's checks live below the error table and name their kinds by the codes' names: each
// name they give is one the table holds, or its exit status would silently be a usage error's.
void TestCli::doctorCodesAreInTheTable()
{
    static const QRegularExpression given(
        QStringLiteral("code = .*QStringLiteral\\(\"([a-z_]+)\"\\)"));
    static const QRegularExpression other(QStringLiteral(": QStringLiteral\\(\"([a-z_]+)\"\\)"));
    int names = 0;
    for (const char* path : {"config/doctorchecks.cpp", "link/doctor.cpp"}) {
        const QString source = sourceFile(path);
        QVERIFY(!source.isEmpty());
        for (const QString& line : source.split(QLatin1Char('\n'))) {
            if (!line.contains(QLatin1String("code = ")))
                continue;
            for (const QRegularExpression* pattern : {&given, &other}) {
                for (const QRegularExpressionMatch& match : pattern->globalMatch(line)) {
                    ++names;
                    QVERIFY2(
                        errorCodeNamed(match.captured(1)),
                        qPrintable(QLatin1String(path) + QLatin1String(": ") + match.captured(1)));
                }
            }
        }
    }
    QVERIFY(names >= 10);
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
