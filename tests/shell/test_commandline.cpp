#include "config/version.h"
#include "shell/commandline.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void request_data();
    void request();
    void answeredWithoutDisplay_data();
    void answeredWithoutDisplay();
};

void TestCommandLine::request_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("expected");
    const int none = int(EarlyRequest::None);
    const int help = int(EarlyRequest::Help);
    const int version = int(EarlyRequest::Version);
    QTest::newRow("none") << QStringList{} << none;
    QTest::newRow("-d") << QStringList{"-d"} << none;
    QTest::newRow("--help") << QStringList{"--help"} << help;
    QTest::newRow("--version") << QStringList{"--version"} << version;
    QTest::newRow("after -d") << QStringList{"-d", "--version"} << version;
    QTest::newRow("first wins") << QStringList{"--version", "--help"} << version;
    QTest::newRow("other case is ignored") << QStringList{"--HELP"} << none;
    QTest::newRow("-h is ignored") << QStringList{"-h"} << none;
    QTest::newRow("not a whole argument") << QStringList{"--help=x", " --version"} << none;
}

void TestCommandLine::request()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, expected);
    std::vector<QByteArray> bytes{QByteArray("quorvex-tarnavel")};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    QCOMPARE(int(earlyRequest(int(bytes.size()), argv.data())), expected);
}

void TestCommandLine::answeredWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("--version") << QStringList{"--version"}
                               << "quorvex-tarnavel (Quorvex Tarnavel) " + versionNumber();
    QTest::newRow("-d --help") << QStringList{"-d", "--help"}
                               << QStringLiteral("Usage: quorvex-tarnavel [-d]");
}

// The program itself, with no display to open and an empty home: a window, a port or the
// settings would fail or leave files behind.
void TestCommandLine::answeredWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, firstLine);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(TARNAVEL_APP_PATH), arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardError(), QByteArray());
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()).section('\n', 0, 0),
             firstLine);
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
