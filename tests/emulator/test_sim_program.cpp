#include "link/protocol/frame.h"
#include "platform/apperror.h"
#include "platform/portsfolder.h"
#include "platform/qtserialport.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "support/rawline.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every wait below is a bounded number of short looks, never a measured time.
constexpr int kLooks = 300;
constexpr int kLookMs = 50;

using Line = RawLine;

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void servesAndLinksAsCom();
    void faultsFromTheCommandLine();
    void consoleSwipe();
    void consoleQuit();
    void replacesADanglingLink();
    void leavesAForeignLinkAlone();
    void help();
    void unreadOutputNeverHoldsTheDeviceUp();
    void killedEmulatorLeavesALinkTheProgramRefuses();
    void signalsEndAWaitForTheFolder_data();
    void signalsEndAWaitForTheFolder();

private:
    bool start(const QStringList& arguments);
    QString readLine();
    // Types console lines into the program.
    bool type(const QByteArray& lines);
    QString linkPath(int number) const;

    QTemporaryDir* m_config = nullptr;
    QProcess* m_sim = nullptr;
    QString m_device;
};

void TestSimProgram::init()
{
    m_config = new QTemporaryDir;
    QVERIFY(m_config->isValid());
    m_sim = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config->path());
    m_sim->setProcessEnvironment(env);
    m_device.clear();
}

void TestSimProgram::cleanup()
{
    if (m_sim->state() != QProcess::NotRunning) {
        m_sim->kill();
        m_sim->waitForFinished(5000);
    }
    delete m_sim;
    delete m_config;
}

QString TestSimProgram::linkPath(int number) const
{
    return m_config->path() + QStringLiteral("/quorvex-tarnavel/ports/com%1").arg(number);
}

QString TestSimProgram::readLine()
{
    for (int look = 0; look < kLooks && !m_sim->canReadLine(); ++look) {
        if (m_sim->state() == QProcess::NotRunning)
            break;
        m_sim->waitForReadyRead(kLookMs);
    }
    return QString::fromLocal8Bit(m_sim->readLine()).trimmed();
}

bool TestSimProgram::type(const QByteArray& lines)
{
    if (m_sim->write(lines) != lines.size())
        return false;
    for (int look = 0; look < kLooks && m_sim->bytesToWrite() > 0; ++look)
        m_sim->waitForBytesWritten(kLookMs);
    return m_sim->bytesToWrite() == 0;
}

bool TestSimProgram::start(const QStringList& arguments)
{
    m_sim->start(QStringLiteral(TARNAVEL_SIM_PATH), arguments);
    if (!m_sim->waitForStarted(10000))
        return false;
    const QString first = readLine();
    const QString prefix = QStringLiteral("tarnavel-sim: serving on ");
    if (!first.startsWith(prefix)) {
        qWarning("first line: %s", qPrintable(first));
        return false;
    }
    m_device = first.mid(prefix.size());
    return QFileInfo(m_device).exists();
}

void TestSimProgram::servesAndLinksAsCom()
{
    QVERIFY(start({QStringLiteral("--com"), QStringLiteral("7")}));
    const QString link = linkPath(7);
    QCOMPARE(readLine(),
             QStringLiteral("tarnavel-sim: linked as COM7: %1 -> %2").arg(link, m_device));
    QFileInfo info(link);
    QVERIFY(info.isSymLink());
    QCOMPARE(info.symLinkTarget(), m_device);

    {
        Line line(link);
        QVERIFY(line.isOpen());
        QVERIFY(line.send(QByteArray("\x02\x6B\x03\x68", 4)));
        QCOMPARE(line.receive(5), QByteArray("\x02\x6B\x38\x03\x50", 5));
        QVERIFY(line.send(buildFrame("n")));
        QCOMPARE(line.receive(5), buildFrame("l0"));
    }
    // Closed and opened again, the device still answers.
    {
        Line line(m_device);
        QVERIFY(line.isOpen());
        QVERIFY(line.send(buildFrame("o")));
        QCOMPARE(line.receive(5), buildFrame("l0"));
    }

    m_sim->terminate();
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_sim->exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
    const QString log = QString::fromLocal8Bit(m_sim->readAll());
    QVERIFY2(log.contains(QLatin1String("host   > 02 6B 03 68  version query")), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String("reader < 02 6B 38 03 50  version: reader type 8")),
             qPrintable(log));
}

void TestSimProgram::faultsFromTheCommandLine()
{
    QVERIFY(start({QStringLiteral("--type"), QStringLiteral("5"), QStringLiteral("--split"),
                   QStringLiteral("2"), QStringLiteral("--corrupt"), QStringLiteral("1"),
                   QStringLiteral("--silent"), QStringLiteral("n"), QStringLiteral("--quiet")}));
    Line line(m_device);
    QVERIFY(line.isOpen());
    QVERIFY(line.send(buildFrame("k")));
    const QByteArray corrupted = line.receive(5);
    QCOMPARE(corrupted.size(), 5);
    QCOMPARE(corrupted.left(4), buildFrame("k5").left(4));
    QVERIFY(corrupted.at(4) != buildFrame("k5").at(4));
    QVERIFY(line.send(buildFrame("o")));
    QCOMPARE(line.receive(5), buildFrame("k5"));
    // Arm is silenced: the next bytes to come are the reply to the version query after it.
    QVERIFY(line.send(buildFrame("n") + buildFrame("k")));
    QCOMPARE(line.receive(5), buildFrame("k5"));
    m_sim->terminate();
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitCode(), 0);
    // Quiet: the first line and nothing of the traffic.
    QVERIFY(!m_sim->readAll().contains("host   >"));
}

void TestSimProgram::consoleSwipe()
{
    QVERIFY(start({}));
    Line line(m_device);
    QVERIFY(line.isOpen());
    QVERIFY(line.send(buildFrame("n")));
    QCOMPARE(line.receive(5), buildFrame("l0"));
    QVERIFY(type("fault swipe-error nodata\nswipe\n"));
    QCOMPARE(line.receive(5), buildFrame("lR"));
    QVERIFY(line.send(buildFrame("n")));
    QCOMPARE(line.receive(5), buildFrame("l0"));
    QVERIFY(type("swipe 2\n"));
    QCOMPARE(line.receive(5), buildFrame("lP"));
    QVERIFY(line.send(buildFrame("E")));
    const QByteArray expected = buildFrame("E5500005555555559=27121010000");
    QCOMPARE(line.receive(expected.size()), expected);
    // The console's end does not end the program.
    m_sim->closeWriteChannel();
    QVERIFY(line.send(buildFrame("k")));
    QCOMPARE(line.receive(5), buildFrame("k8"));
    QCOMPARE(m_sim->state(), QProcess::Running);
    m_sim->terminate();
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitCode(), 0);
}

void TestSimProgram::consoleQuit()
{
    QVERIFY(start({QStringLiteral("--com"), QStringLiteral("4")}));
    QVERIFY(QFileInfo(linkPath(4)).isSymLink());
    QVERIFY(type("quit\n"));
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_sim->exitCode(), 0);
    QVERIFY(!QFileInfo(linkPath(4)).isSymLink());
}

void TestSimProgram::replacesADanglingLink()
{
    QVERIFY(QDir().mkpath(m_config->path() + QStringLiteral("/quorvex-tarnavel/ports")));
    const QString link = linkPath(3);
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/does-not-exist"), link));
    QVERIFY(start({QStringLiteral("--com"), QStringLiteral("3")}));
    QVERIFY(readLine().startsWith(QLatin1String("tarnavel-sim: linked as COM3")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_device);
    m_sim->terminate();
    QVERIFY(m_sim->waitForFinished(10000));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimProgram::leavesAForeignLinkAlone()
{
    QVERIFY(QDir().mkpath(m_config->path() + QStringLiteral("/quorvex-tarnavel/ports")));
    const QString link = linkPath(2);
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    m_sim->start(QStringLiteral(TARNAVEL_SIM_PATH), {QStringLiteral("--com"), QStringLiteral("2")});
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitCode(), 1);
    QVERIFY(m_sim->readAllStandardError().contains("not an emulator"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
}

void TestSimProgram::help()
{
    m_sim->start(QStringLiteral(TARNAVEL_SIM_PATH), {QStringLiteral("--help")});
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitCode(), 0);
    const QByteArray text = m_sim->readAllStandardOutput();
    for (const char* word : {"--com N", "--type N", "--card FILE", "--auto-swipe MS", "--corrupt N",
                             "--split K", "--silent CHARS", "--force ST", "--swipe-error KIND",
                             "--quiet", "fault swipe-error", "[Name of the card]"})
        QVERIFY2(text.contains(word), word);

    const QList<QStringList> refused = {{QStringLiteral("--split"), QStringLiteral("x")},
                                        {QStringLiteral("--com"), QStringLiteral("257")},
                                        {QStringLiteral("--com"), QStringLiteral("2147483647")}};
    for (const QStringList& arguments : refused) {
        QProcess bad;
        bad.start(QStringLiteral(TARNAVEL_SIM_PATH), arguments);
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains(arguments.constFirst().toLatin1()));
    }
}

void TestSimProgram::unreadOutputNeverHoldsTheDeviceUp()
{
    // Standard output is a pipe that nobody reads.
    const QString fifo = m_config->filePath(QStringLiteral("out"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    m_sim->setStandardOutputFile(fifo);
    m_sim->start(QStringLiteral(TARNAVEL_SIM_PATH), {QStringLiteral("--com"), QStringLiteral("6")});
    QVERIFY(m_sim->waitForStarted(10000));
    for (int look = 0; look < kLooks && !QFileInfo(linkPath(6)).isSymLink(); ++look)
        QTest::qWait(kLookMs);
    Line line(linkPath(6));
    QVERIFY(line.isOpen());
    // Each exchange logs two lines: far more than the pipe holds.
    QByteArray queries, answers;
    for (int query = 0; query < 50; ++query) {
        queries += buildFrame("k");
        answers += buildFrame("k8");
    }
    for (int batch = 0; batch < 80; ++batch) {
        QVERIFY(line.send(queries));
        QCOMPARE(line.receive(answers.size(), 300), answers);
    }
    m_sim->terminate();
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFileInfo(linkPath(6)).isSymLink());
    ::close(reader);
}

void TestSimProgram::killedEmulatorLeavesALinkTheProgramRefuses()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    QVERIFY(start({QStringLiteral("--com"), QStringLiteral("5")}));
    QVERIFY(readLine().startsWith(QLatin1String("tarnavel-sim: linked as COM5")));
    QtSerialPort port;
    port.setCommPort(5);
    port.setPortOpen(true); // a live emulator's link opens
    port.setPortOpen(false);
    // A second emulator for the number is refused, naming the one that holds it.
    QProcess second;
    second.start(QStringLiteral(TARNAVEL_SIM_PATH), {QStringLiteral("--com"), QStringLiteral("5")});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains(
        QStringLiteral("held by another tarnavel-sim (process %1")
            .arg(m_sim->processId())
            .toUtf8()));

    m_sim->kill();
    QVERIFY(m_sim->waitForFinished(10000));
    QVERIFY(QFileInfo(linkPath(5)).isSymLink());
    try {
        port.setPortOpen(true);
        QFAIL("a stale emulator link was opened");
    } catch (const AppError& error) {
        QCOMPARE(error.number(), ESTALE);
        QVERIFY2(error.description().contains(QLatin1String("stale")), qPrintable(error.text()));
    }
    QVERIFY(!port.portOpen());

    // A new emulator takes the number over, and its link opens again.
    QVERIFY(start({QStringLiteral("--com"), QStringLiteral("5")}));
    QVERIFY(readLine().startsWith(QLatin1String("tarnavel-sim: linked as COM5")));
    port.setPortOpen(true);
    QCOMPARE(port.devicePath(), m_device);
}

void TestSimProgram::signalsEndAWaitForTheFolder_data()
{
    QTest::addColumn<bool>("atStart"); // else at the end, with the link made
    QTest::addColumn<int>("exitCode");
    QTest::newRow("at the start") << true << 128 + SIGTERM;
    QTest::newRow("at the end") << false << 0;
}

// Another program holds the ports folder's lock: SIGTERM ends the emulator's wait for it, at
// once, and what the emulator made goes with it.
void TestSimProgram::signalsEndAWaitForTheFolder()
{
    QFETCH(bool, atStart);
    QFETCH(int, exitCode);
    const QString ports = QFileInfo(linkPath(1)).path();
    QVERIFY(QDir().mkpath(ports));
    PortsFolder folder(ports);
    QString error;
    if (atStart) {
        QVERIFY(folder.lock(&error, 0) == FolderLock::Result::Held);
        m_sim->start(QStringLiteral(TARNAVEL_SIM_PATH), {QStringLiteral("--com"), "1"});
        QVERIFY(m_sim->waitForStarted(10000));
    } else {
        QVERIFY(start({QStringLiteral("--com"), QStringLiteral("1")}));
        QVERIFY(QFileInfo(linkPath(1)).isSymLink());
        QVERIFY(folder.lock(&error, 0) == FolderLock::Result::Held);
        ::kill(pid_t(m_sim->processId()), SIGTERM);
    }
    // Waiting: the lock file is open in the emulator.
    const QString fds = QStringLiteral("/proc/%1/fd").arg(m_sim->processId());
    const auto waiting = [&] {
        for (const QFileInfo& fd :
             QDir(fds).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == ports + QStringLiteral("/.lock"))
                return true;
        return false;
    };
    for (int look = 0; look < kLooks && !waiting(); ++look)
        QTest::qWait(kLookMs);
    QVERIFY(waiting());
    ::kill(pid_t(m_sim->processId()), SIGTERM);
    QVERIFY(m_sim->waitForFinished(10000));
    QCOMPARE(m_sim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_sim->exitCode(), exitCode);
    QVERIFY(!QFileInfo(linkPath(1)).isSymLink());
    QVERIFY(!QFileInfo::exists(ports + QStringLiteral("/.com1.tarnavel-sim")));
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"
