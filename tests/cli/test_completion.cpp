// The completion scripts as the shells read them: the built tarnavel-cli writes each one, and
// bash, zsh and fish complete command lines with it, in a folder with files of its own and a
// ports folder with two links.

#include "cli/command.h"
#include "emulator/pty.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);

// zsh completes only in an interactive shell: complete.zsh types the line into one.
const QString kZshCapture = QStringLiteral(TARNAVEL_SOURCE_DIR "/tests/cli/complete.zsh");

QStringList commandNames()
{
    QStringList names;
    for (const CliCommand* command : cliCommands())
        names << QLatin1String(command->name);
    return names;
}

QStringList sorted(QStringList words)
{
    words.sort();
    return words;
}

} // namespace

class TestCompletion : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void offered_data();
    void offered();

private:
    // The words the shell offers at the end of line, as it would insert them unquoted.
    QStringList complete(const QString& shell, const QString& line);

    QTemporaryDir m_folder;
    PseudoTerminal m_line;
};

void TestCompletion::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QDir folder(m_folder.path());
    for (const QString& name : {QStringLiteral("my cards.txt"), QStringLiteral("other.txt")})
        QVERIFY(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));
    const QString ports = folder.filePath(QStringLiteral("config/quorvex-tarnavel/ports"));
    QVERIFY(QDir().mkpath(ports));
    for (const QString& number : {QStringLiteral("1"), QStringLiteral("7")})
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/com") + number));
    // A serial line that is surely there.
    QVERIFY2(m_line.open(), qPrintable(m_line.errorString()));
    for (const QString& shell :
         {QStringLiteral("bash"), QStringLiteral("zsh"), QStringLiteral("fish")}) {
        QProcess cli;
        cli.start(kCli, {QStringLiteral("completion"), shell});
        QVERIFY(cli.waitForFinished());
        QCOMPARE(cli.exitCode(), 0);
        // zsh finds its functions by file name in fpath.
        QFile script(folder.filePath(shell == QLatin1String("zsh")
                                         ? QStringLiteral("_tarnavel-cli")
                                         : QStringLiteral("script.") + shell));
        QVERIFY(script.open(QIODevice::WriteOnly));
        QVERIFY(script.write(cli.readAllStandardOutput()) > 0);
    }
}

QStringList TestCompletion::complete(const QString& shell, const QString& line)
{
    const QDir folder(m_folder.path());
    QStringList arguments;
    if (shell == QLatin1String("bash")) {
        QStringList words = line.split(QLatin1Char(' '));
        arguments << QStringLiteral("--norc") << QStringLiteral("--noprofile")
                  << QStringLiteral("-c")
                  << QStringLiteral("source \"$1\"; shift; COMP_WORDS=(\"$@\"); "
                                    "COMP_CWORD=$(($# - 1)); _tarnavel_cli; "
                                    "printf '%s\\n' \"${COMPREPLY[@]}\"")
                  << QStringLiteral("bash") << folder.filePath(QStringLiteral("script.bash"))
                  << words;
    } else if (shell == QLatin1String("fish")) {
        arguments << QStringLiteral("--no-config") << QStringLiteral("-c")
                  << QStringLiteral("source $argv[1]; complete -C $argv[2]")
                  << folder.filePath(QStringLiteral("script.fish")) << line;
    } else {
        arguments << QStringLiteral("-f") << kZshCapture << folder.path() << line;
    }
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), folder.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.filePath(QStringLiteral("config")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder.path());
    process.start(shell, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {QStringLiteral("<the shell did not finish>")};
    }
    QStringList offered;
    for (QString word : QString::fromLocal8Bit(process.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (shell == QLatin1String("fish")) {
            offered << word.section(QLatin1Char('\t'), 0, 0);
        } else if (shell == QLatin1String("zsh")) {
            if (!word.contains(QLatin1String("<offered>")))
                continue;
            // As zsh would insert it: blanks escaped.
            offered << word.section(QLatin1String("<offered>"), 1).remove(QLatin1Char('\\'));
        } else {
            offered << word;
        }
    }
    return offered;
}

void TestCompletion::offered_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("line");        // what is typed before the Tab
    QTest::addColumn<QStringList>("exactly"); // the words offered, in any order; or
    QTest::addColumn<QStringList>("among");   // words that must be among them
    QTest::addColumn<QString>("everyStarts"); // what every word offered starts with

    const QStringList none;
    for (const char* shell : {"bash", "zsh", "fish"}) {
        const auto row = [shell](const char* name) {
            return &QTest::newRow(qPrintable(
                QStringLiteral("%1: %2").arg(QLatin1String(shell), QLatin1String(name))));
        };
        *row("a file name with a blank, whole")
            << shell << "tarnavel-cli batch my" << QStringList{"my cards.txt"} << none << QString();
        *row("report: results files, more than one")
            << shell << "tarnavel-cli report other.jsonl my" << QStringList{"my cards.txt"} << none
            << QString();
        *row("--not-in: an earlier job's results")
            << shell << "tarnavel-cli batch --not-in my" << QStringList{"my cards.txt"} << none
            << QString();
        *row("ports link N: devices, not subcommands")
            << shell << "tarnavel-cli ports link 1 " << none << QStringList{"@line"} << "/dev/";
        *row("ports unlink: the linked numbers")
            << shell << "tarnavel-cli ports unlink " << QStringList{"1", "7"} << none << QString();
        *row("help: the commands")
            << shell << "tarnavel-cli help " << commandNames() << none << QString();
        *row("options before the command, a command's own too")
            << shell << "tarnavel-cli -" << none
            << QStringList{"-m", "--method", "-p", "--port", "--verify", "--json"} << "-";
        *row("the command after an option and its value")
            << shell << "tarnavel-cli -m iso1 re" << QStringList{"read", "report", "reset"} << none
            << QString();
        *row("COM ports once each")
            << shell << "tarnavel-cli -p C" << QStringList{"COM1", "COM2", "COM3", "COM4", "COM7"}
            << none << QString();
        *row("no file names where track data goes")
            << shell << "tarnavel-cli write " << QStringList{"-"} << none << QString();
        *row("no file names to decode")
            << shell << "tarnavel-cli decode " << QStringList{"-"} << none << QString();
    }
}

void TestCompletion::offered()
{
    QFETCH(QString, shell);
    QFETCH(QString, line);
    QFETCH(QStringList, exactly);
    QFETCH(QStringList, among);
    QFETCH(QString, everyStarts);
    if (QStandardPaths::findExecutable(shell).isEmpty())
        QSKIP(
            qPrintable(shell + QStringLiteral(" is not installed (scripts/deps.sh installs it)")));

    const QStringList offered = complete(shell, line);
    const QString shown = offered.join(QLatin1Char('|'));
    QCOMPARE(QStringList(offered).removeDuplicates(), 0);
    if (!exactly.isEmpty())
        QCOMPARE(sorted(offered), sorted(exactly));
    among.replaceInStrings(QStringLiteral("@line"), m_line.slavePath());
    for (const QString& word : std::as_const(among))
        QVERIFY2(offered.contains(word), qPrintable(word + QStringLiteral(" not in ") + shown));
    for (const QString& word : offered)
        QVERIFY2(word.startsWith(everyStarts), qPrintable(shown));
}

QTEST_GUILESS_MAIN(TestCompletion)
#include "test_completion.moc"
