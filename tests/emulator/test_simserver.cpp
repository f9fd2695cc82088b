#include "config/ports.h"
#include "emulator/pty.h"
#include "emulator/readermodel.h"
#include "emulator/simserver.h"
#include "link/protocol/frame.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/portsfolder.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/rawline.h"

#include <array>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <latch>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Bounded loops of short event-loop passes; nothing here measures time.
constexpr int kPasses = 400;
constexpr int kPassMs = 10;

using Host = RawLine;

bool waitFor(const std::function<bool()>& condition)
{
    for (int pass = 0; pass < kPasses && !condition(); ++pass)
        QTest::qWait(kPassMs);
    return condition();
}

} // namespace

class TestSimServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void answersOnTheDevice();
    void splitRepliesGoOutPieceByPiece();
    void nothingIsWrittenWithoutAHost();
    void unreadRepliesDoNotGreetTheNextHost();
    void autoSwipeAfterArm();
    void linkAsCom();
    void oneNumberOneEmulator();
    void linkRefusals_data();
    void linkRefusals();
    void linkTakenOverIsLeftAlone();
    void hostThatNeverReadsIsBounded();
    void failedStepsLeaveNoUnmarkedLink_data();
    void failedStepsLeaveNoUnmarkedLink();

private:
    QTemporaryDir m_config;
};

void TestSimServer::init()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestSimServer::answersOnTheDevice()
{
    ReaderModel model;
    SimServer server(model);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    QVERIFY(server.devicePath().startsWith(QLatin1String("/dev/pts/")));
    Host host(server.devicePath());
    QVERIFY(host.isOpen());
    QVERIFY(host.send(buildFrame("k") + buildFrame("`2")));
    QCOMPARE(host.receive(10), buildFrame("k8") + buildFrame("l0"));
    QVERIFY(model.lamps().red);
}

void TestSimServer::splitRepliesGoOutPieceByPiece()
{
    ReaderModel model;
    model.setSplitSize(2);
    SimServer server(model);
    // A gap far beyond any pass, so what has arrived can be looked at between pieces.
    server.setPieceGapMs(600000);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    Host host(server.devicePath());
    QVERIFY(host.send(buildFrame("k")));
    QCOMPARE(host.receive(1), buildFrame("k8").left(2));
    for (int pass = 0; pass < 5; ++pass)
        QTest::qWait(kPassMs);
    QCOMPARE(host.take(), QByteArray());
    server.setPieceGapMs(0);
    QCOMPARE(host.receive(3), buildFrame("k8").mid(2));
}

void TestSimServer::nothingIsWrittenWithoutAHost()
{
    ReaderModel model;
    SimServer server(model);
    QStringList log;
    connect(&server, &SimServer::logLine, this, [&](const QString& line) { log << line; });
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    model.receive(buildFrame("n"));
    QCOMPARE(server.swipe(), buildFrame("lP"));
    QVERIFY(log.join(QLatin1Char('\n')).contains(QLatin1String("5 byte(s) not sent")));
    Host host(server.devicePath());
    QVERIFY(host.send(buildFrame("k")));
    // The first bytes to come are the reply to the query, not the swipe status.
    QCOMPARE(host.receive(5), buildFrame("k8"));
}

void TestSimServer::unreadRepliesDoNotGreetTheNextHost()
{
    ReaderModel model;
    SimServer server(model);
    QSignalSpy logged(&server, &SimServer::logLine);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    {
        Host first(server.devicePath());
        QVERIFY(first.send(buildFrame("n")));
        QVERIFY(waitFor([&] { return model.isArmed(); }));
    }
    auto closedSeen = [&] {
        for (const QList<QVariant>& args : logged) {
            if (args.at(0).toString().contains(QLatin1String("closed the device")))
                return true;
        }
        return false;
    };
    QVERIFY(waitFor(closedSeen));
    Host second(server.devicePath());
    QVERIFY(second.send(buildFrame("k")));
    QCOMPARE(second.receive(5), buildFrame("k8"));
}

void TestSimServer::autoSwipeAfterArm()
{
    ReaderModel model;
    SimServer server(model);
    server.setAutoSwipeMs(0);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    Host host(server.devicePath());
    QVERIFY(host.send(buildFrame("k")));
    QCOMPARE(host.receive(5), buildFrame("k8"));
    QVERIFY(host.send(buildFrame("n")));
    QCOMPARE(host.receive(10), buildFrame("l0") + buildFrame("lP"));
    QVERIFY(!model.isArmed());
    server.setAutoSwipeMs(-1);
    QVERIFY(host.send(buildFrame("n")));
    QCOMPARE(host.receive(5), buildFrame("l0"));
    for (int pass = 0; pass < 5; ++pass)
        QTest::qWait(kPassMs);
    QCOMPARE(host.take(), QByteArray());
    QVERIFY(model.isArmed());
}

void TestSimServer::linkAsCom()
{
    ReaderModel model;
    SimServer server(model);
    QString error;
    QVERIFY(!server.linkAsCom(5, &error));
    QVERIFY2(server.open(&error), qPrintable(error));
    const QString ports = m_config.path() + QStringLiteral("/quorvex-tarnavel/ports");
    const QString link = ports + QStringLiteral("/com5");
    QVERIFY2(server.linkAsCom(5, &error), qPrintable(error));
    QCOMPARE(server.linkPath(), link);
    QCOMPARE(QFileInfo(link).symLinkTarget(), server.devicePath());
    QCOMPARE(QFileInfo(ports).permissions() & (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());
    // A running emulator's number is not taken over; once it has ended, it is.
    ReaderModel otherModel;
    SimServer other(otherModel);
    QVERIFY2(other.open(&error), qPrintable(error));
    QVERIFY(!other.linkAsCom(5, &error));
    QVERIFY2(
        error.contains(QStringLiteral("held by another tarnavel-sim (process %1, serving on %2)")
                           .arg(::getpid())
                           .arg(server.devicePath())),
        qPrintable(error));
    QCOMPARE(QFileInfo(link).symLinkTarget(), server.devicePath());
    server.removeLink();
    QVERIFY2(other.linkAsCom(5, &error), qPrintable(error));
    QCOMPARE(QFileInfo(link).symLinkTarget(), other.devicePath());
    other.removeLink();
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(ports + QStringLiteral("/.com5.tarnavel-sim")));
}

// Emulators started at once for one number: one gets it, the others are told whose it is, and
// the link and the mark always name the same device.
void TestSimServer::oneNumberOneEmulator()
{
    const QString ports = m_config.path() + QStringLiteral("/quorvex-tarnavel/ports");
    for (int round = 0; round < 20; ++round) {
        std::array<ReaderModel, 3> models;
        std::vector<std::unique_ptr<SimServer>> servers;
        std::array<QString, 3> errors;
        std::array<std::atomic<bool>, 3> linked{};
        std::latch start(3);
        std::vector<std::thread> threads;
        QString error;
        for (int i = 0; i < 3; ++i) {
            servers.push_back(std::make_unique<SimServer>(models[i]));
            QVERIFY2(servers.back()->open(&error), qPrintable(error));
        }
        for (int i = 0; i < 3; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                linked[i] = servers[i]->linkAsCom(7, &errors[i]);
            });
        for (std::thread& thread : threads)
            thread.join();
        int winner = -1;
        for (int i = 0; i < 3; ++i) {
            if (!linked[i])
                continue;
            QCOMPARE(winner, -1);
            winner = i;
        }
        QVERIFY(winner >= 0);
        const QString device = servers[winner]->devicePath();
        QCOMPARE(QFileInfo(ports + QStringLiteral("/com7")).symLinkTarget(), device);
        QFile mark(ports + QStringLiteral("/.com7.tarnavel-sim"));
        QVERIFY(mark.open(QIODevice::ReadOnly));
        QVERIFY(mark.readAll().contains("device " + device.toLocal8Bit() + '\n'));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(
                i == winner ||
                    errors[i].contains(
                        QStringLiteral("process %1, serving on %2").arg(::getpid()).arg(device)),
                qPrintable(errors[i]));
    }
    QVERIFY(!QFileInfo::exists(ports + QStringLiteral("/com7")));
}

void TestSimServer::linkRefusals_data()
{
    QTest::addColumn<QString>("occupant");
    QTest::addColumn<bool>("isFile");
    QTest::newRow("a real device") << QStringLiteral("/dev/null") << false;
    QTest::newRow("a plain file") << QStringLiteral("not a link") << true;
}

void TestSimServer::linkRefusals()
{
    QFETCH(QString, occupant);
    QFETCH(bool, isFile);
    const QString ports = m_config.path() + QStringLiteral("/quorvex-tarnavel/ports");
    QVERIFY(QDir().mkpath(ports));
    const QString link = ports + QStringLiteral("/com9");
    QFile::remove(link);
    if (isFile) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(occupant.toUtf8());
    } else {
        QVERIFY(QFile::link(occupant, link));
    }
    ReaderModel model;
    SimServer server(model);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    QVERIFY(!server.linkAsCom(9, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(server.linkPath().isEmpty());
    QCOMPARE(QFileInfo(link).isSymLink(), !isFile);
    if (!isFile)
        QCOMPARE(QFileInfo(link).symLinkTarget(), occupant);
    QFile::remove(link);
}

void TestSimServer::linkTakenOverIsLeftAlone()
{
    ReaderModel model;
    QString error;
    const QString ports = m_config.path() + QStringLiteral("/quorvex-tarnavel/ports");
    const QString link = ports + QStringLiteral("/com6");
    {
        SimServer first(model);
        QVERIFY2(first.open(&error), qPrintable(error));
        QVERIFY2(first.linkAsCom(6, &error), qPrintable(error));
        ReaderModel secondModel;
        SimServer second(secondModel);
        QVERIFY2(second.open(&error), qPrintable(error));
        // The number is taken from the first one by hand.
        QVERIFY2(linkPort(6, second.devicePath(), &error, ports, true), qPrintable(error));
        // The first one ends: the link is the second one's now and stays, with its mark.
        first.removeLink();
        QCOMPARE(QFileInfo(link).symLinkTarget(), second.devicePath());
        QVERIFY(QFileInfo::exists(ports + QStringLiteral("/.com6.tarnavel-sim")));
    }
    QVERIFY(QFileInfo(link).isSymLink());
}

void TestSimServer::hostThatNeverReadsIsBounded()
{
    ReaderModel model;
    SimServer server(model);
    QSignalSpy log(&server, &SimServer::logLine);
    QString error;
    QVERIFY2(server.open(&error), qPrintable(error));
    Host host(server.devicePath());
    QVERIFY(host.isOpen());
    // Long answers to short questions, and the host never reads them.
    model.setForcedReply(QByteArray(500, 'l'), 1000);
    qsizetype peak = 0;
    for (int query = 0; query < 400; ++query) {
        if (!host.send(buildFrame("k")))
            QTest::qWait(kPassMs);
        QCoreApplication::processEvents();
        peak = qMax(peak, server.pendingBytes());
    }
    QVERIFY(waitFor([&] { return model.forcedCount() < 1000 - 300; }));
    QVERIFY2(peak <= SimServer::kMaxPendingBytes + 504, qPrintable(QString::number(peak)));
    QVERIFY(peak > SimServer::kMaxPendingBytes / 2);
    bool noted = false;
    for (const QList<QVariant>& line : log)
        noted |= line.at(0).toString().contains(QLatin1String("not reading"));
    QVERIFY(noted);
    // Once the host reads again, the newest replies come through.
    model.setForcedReply({});
    QVERIFY(waitFor([&] { return host.take().isEmpty() && server.pendingBytes() == 0; }));
    QVERIFY(host.send(buildFrame("k")));
    QCOMPARE(host.receive(5), buildFrame("k8"));
}

void TestSimServer::failedStepsLeaveNoUnmarkedLink_data()
{
    QTest::addColumn<bool>("atEnd");    // the emulator ends, rather than takes a number over
    QTest::addColumn<int>("step");      // fsutil::Step that fails
    QTest::addColumn<QByteArray>("on"); // the name it fails on; empty: every name
    QTest::addColumn<int>("number");    // errno
    for (const int number : {ENOSPC, EDQUOT, EIO}) {
        const QByteArray suffix = ", " + QByteArray(strerrorname_np(number));
        QTest::newRow("the new link" + suffix)
            << false << int(fsutil::Step::MakeLink) << QByteArray() << number;
        QTest::newRow("the link put in place" + suffix)
            << false << int(fsutil::Step::Rename) << QByteArray("com3") << number;
        QTest::newRow("the new link, the old one's removal too" + suffix)
            << false << int(fsutil::Step::MakeLink) << QByteArray("+remove") << number;
        QTest::newRow("the new mark" + suffix)
            << false << int(fsutil::Step::Write) << QByteArray() << number;
        QTest::newRow("removing the link at the end" + suffix)
            << true << int(fsutil::Step::Remove) << QByteArray("com3") << number;
    }
}

// However a step fails while an emulator takes over a dead one's number, or ends, the link it
// leaves is gone or stale: a link to a pseudo-terminal without its mark would open as one made by
// hand, into whatever terminal has that number next.
void TestSimServer::failedStepsLeaveNoUnmarkedLink()
{
    QFETCH(bool, atEnd);
    QFETCH(int, step);
    QFETCH(QByteArray, on);
    QFETCH(int, number);
    const QString ports = m_config.path() + QStringLiteral("/quorvex-tarnavel/ports");
    ReaderModel model;
    SimServer server(model);
    PseudoTerminal foreign; // has the dead emulator's number now
    QString error;
    QFile::remove(ports + QStringLiteral("/com3"));
    QFile::remove(ports + QStringLiteral("/.com3.tarnavel-sim"));
    QVERIFY2(server.open(&error) && foreign.open(), qPrintable(error));
    if (atEnd) {
        QVERIFY2(server.linkAsCom(3, &error), qPrintable(error));
    } else {
        QVERIFY(QDir().mkpath(ports) &&
                QFile::link(foreign.slavePath(), ports + QStringLiteral("/com3")));
        const fsutil::Fd folder(::open(QFile::encodeName(ports).constData(), O_RDONLY));
        QVERIFY(
            fsutil::Fd(linkmark::claim(folder.get(), 3, foreign.slavePath(), &error)).isValid());
    }
    {
        const fsutil::ScopedFaults faults([&](fsutil::Step at, const QByteArray& name) {
            if (at == fsutil::Step(step) && (on.isEmpty() || on.startsWith('+') || name == on))
                return number;
            return on == "+remove" && at == fsutil::Step::Remove && name == "com3" ? number : 0;
        });
        if (atEnd)
            QVERIFY(server.removeLink().contains(QLatin1String("left stale")));
        else
            QVERIFY(!server.linkAsCom(3, &error));
    }
    const ComEntry entry = PortsFolder(ports).entry(3);
    QVERIFY2(entry.kind == ComEntry::Kind::None || entry.refusalNumber == ESTALE,
             qPrintable(entry.target));
}

QTEST_GUILESS_MAIN(TestSimServer)
#include "test_simserver.moc"
