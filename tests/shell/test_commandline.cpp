#include "platform/version.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void answeredWithoutDisplay_data();
    void answeredWithoutDisplay();
};

void TestCommandLine::answeredWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstLine");
    const QString version = "quorvex-tarnavel (Quorvex Tarnavel) " + versionNumber();
    const QString usage = QStringLiteral("Usage: quorvex-tarnavel [-d]");
    QTest::newRow("--version") << QStringList{"--version"} << version;
    QTest::newRow("after -d") << QStringList{"-d", "--help"} << usage;
    QTest::newRow("the first wins") << QStringList{"--version", "--help"} << version;
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
