// The ports folder: making, replacing, listing and removing COMn links.

#include "config/ports.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "support/fakeaccounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A pseudo-terminal of the test's own, the one kind of terminal every machine has.
struct Pty {
    fsutil::Fd master{::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)};
    QString slave() const
    {
        if (!master.isValid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
            return QString();
        return QString::fromLocal8Bit(::ptsname(master.get()));
    }
};

mode_t modeOf(const QString& path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private slots:
    void portsFolder();
    void refusedDevices_data();
    void refusedDevices();
    void marksGoWithTheirLinks();
    void foreignFolders_data();
    void foreignFolders();
    void folderTrust_data();
    void folderTrust();
    void lockFile();
};

void TestPorts::portsFolder()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString folder = home.filePath(QStringLiteral("config/quorvex-tarnavel/ports"));
    QString error;
    const Pty first, second;

    QVERIFY2(linkPort(2, first.slave(), &error, folder), qPrintable(error));
    for (const QString& made : {folder, QFileInfo(folder).path()})
        QCOMPARE(modeOf(made), mode_t(0700));
    // Replacing a link leaves no temporary behind, and the mark goes with its link.
    QVERIFY2(linkPort(2, second.slave(), &error, folder), qPrintable(error));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot),
             QStringList({QStringLiteral(".com2.tarnavel-sim"), QStringLiteral("com2")}));

    // Refused: a device that is no character device, a regular file in the way, bad numbers.
    QVERIFY(!linkPort(3, home.path(), &error, folder));
    QVERIFY(error.contains(QLatin1String("not a serial device")));
    QFile regular(folder + QStringLiteral("/com4"));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    QVERIFY(!linkPort(4, second.slave(), &error, folder, true));
    QVERIFY(!unlinkPort(4, &error, folder));
    QVERIFY(regular.exists());
    QVERIFY(!linkPort(0, second.slave(), &error, folder, true));
    QVERIFY(!linkPort(kMaxPortNumber + 1, second.slave(), &error, folder, true));
    QVERIFY(!unlinkPort(5, &error, folder));

    const QList<PortLink> links = listPortLinks(&error, folder);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(links.size(), 2);
    QCOMPARE(links.at(0).number, 2);
    QVERIFY(links.at(0).symlink && links.at(0).present && links.at(0).byHand);
    QCOMPARE(links.at(0).target, second.slave());
    QCOMPARE(links.at(1).number, 4);
    QVERIFY(!links.at(1).symlink);

    QVERIFY2(unlinkPort(2, &error, folder), qPrintable(error));
    QVERIFY(!QFileInfo(folder + QStringLiteral("/com2")).isSymLink());
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/.com2.tarnavel-sim")));
}

void TestPorts::refusedDevices_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("said");
    const QString notSerial = QStringLiteral("not a serial device");
    for (const char* device : {"/dev/null", "/dev/zero", "/dev/kmsg", "/dev/tty", "/dev/console",
                               "/dev/ptmx", "/dev/tty1"})
        QTest::newRow(device) << QString::fromLatin1(device) << notSerial;
    QTest::newRow("a folder") << QStringLiteral("/dev") << notSerial;
}

void TestPorts::refusedDevices()
{
    QFETCH(QString, device);
    QFETCH(QString, said);
    if (!QFileInfo::exists(device))
        QSKIP("this machine has no such device");
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("quorvex-tarnavel/ports"));
    QString error;
    QVERIFY(!linkPort(1, device, &error, folder, true));
    QVERIFY2(error.contains(said) && error.contains(device), qPrintable(error));
    QVERIFY(!QFileInfo(folder + QStringLiteral("/com1")).isSymLink());
}

// Whoever made a number's link, ports link and unlink replace or remove its mark with it; a
// number a running emulator holds is taken only with --force.
void TestPorts::marksGoWithTheirLinks()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("quorvex-tarnavel/ports"));
    const QString link = folder + QStringLiteral("/com1");
    const QString mark = folder + QStringLiteral("/.com1.tarnavel-sim");
    const Pty emulator, mine;
    QString error;
    QVERIFY(QDir().mkpath(folder));
    const fsutil::Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY));
    QVERIFY(QFile::link(emulator.slave(), link));
    fsutil::Fd held(linkmark::claim(dir.get(), 1, emulator.slave(), &error));
    QVERIFY2(held.isValid(), qPrintable(error));

    QVERIFY(!linkPort(1, mine.slave(), &error, folder, false));
    // A serial line, where only the emulator's hold stands in the way.
    if (QFileInfo::exists(QStringLiteral("/dev/ttyS0"))) {
        QVERIFY(!linkPort(1, QStringLiteral("/dev/ttyS0"), &error, folder, false));
        QVERIFY2(
            error.contains(QStringLiteral("held by tarnavel-sim (process %1)").arg(::getpid())),
            qPrintable(error));
    }
    QCOMPARE(QFileInfo(link).symLinkTarget(), emulator.slave());
    QVERIFY2(linkPort(1, mine.slave(), &error, folder, true), qPrintable(error));
    QCOMPARE(QFileInfo(link).symLinkTarget(), mine.slave());
    QCOMPARE(listPortLinks(&error, folder).value(0).byHand, true);

    // The emulator was killed: its number is free without --force, and no dead mark is left.
    held = fsutil::Fd(linkmark::claim(dir.get(), 1, emulator.slave(), &error));
    held = fsutil::Fd();
    QVERIFY2(linkPort(1, mine.slave(), &error, folder), qPrintable(error));
    QVERIFY(!listPortLinks(&error, folder).value(0).stale);
    QVERIFY2(unlinkPort(1, &error, folder), qPrintable(error));
    QVERIFY(!QFileInfo::exists(mark) && !QFileInfo(link).isSymLink());
}

void TestPorts::foreignFolders_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("linkMends");
    QTest::newRow("writable by all") << "chmod"
                                     << "(mode 0777)" << true;
    QTest::newRow("another user's") << "chown"
                                    << "uid 4321" << false;
    QTest::newRow("a link") << "link"
                            << "symbolic link" << false;
}

// Never "no links": a ports folder that cannot be trusted is an error, for listing and linking
// alike; only a folder of the user's own is tightened.
void TestPorts::foreignFolders()
{
    QFETCH(QString, damage);
    QFETCH(QString, said);
    QFETCH(bool, linkMends);
    if (damage == QLatin1String("chown") && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("quorvex-tarnavel/ports"));
    const QByteArray local = QFile::encodeName(folder);
    QString error;
    const Pty pty;
    QVERIFY2(linkPort(1, pty.slave(), &error, folder, true), qPrintable(error));
    if (damage == QLatin1String("chmod"))
        QVERIFY(::chmod(local.constData(), 0777) == 0);
    else if (damage == QLatin1String("chown"))
        QVERIFY(::chown(local.constData(), 4321, 4321) == 0);
    else
        QVERIFY(QDir().rename(folder, home.filePath("real")) &&
                QFile::link(home.filePath("real"), folder));

    QVERIFY(listPortLinks(&error, folder).isEmpty());
    QVERIFY2(error.contains(said) && error.contains(folder), qPrintable(error));
    QCOMPARE(linkPort(2, pty.slave(), &error, folder, true), linkMends);
    QVERIFY(!linkMends || modeOf(folder) == 0700);
    QCOMPARE(listPortLinks(&error, folder).size(), linkMends ? 2 : 0);
}

void TestPorts::folderTrust_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("trust"); // PortsFolderTrust
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("linked"); // ports link then succeeds
    const int missing = int(PortsFolderTrust::Missing);
    const int trusted = int(PortsFolderTrust::Trusted);
    const int refused = int(PortsFolderTrust::Refused);
    QTest::newRow("umask 002, no ports folder") << "config 775" << missing << "" << true;
    QTest::newRow("configuration folder open to all, no ports folder")
        << "config 777" << missing << "" << true;
    QTest::newRow("umask 002, ports folder") << "config 775, ports" << trusted << "" << true;
    QTest::newRow("group shared with another user")
        << "config 775, ports, shared" << refused << "which bob belong(s) to as well" << true;
    QTest::newRow("XDG_CONFIG_HOME open to all, no ports folder")
        << "xdg 777" << refused << "xdg can be changed by group or others" << false;
    QTest::newRow("configuration folder a link to dotfiles")
        << "dotfiles 755" << missing << "" << true;
    QTest::newRow("configuration folder a link to dotfiles open to all")
        << "dotfiles 777, ports" << refused << "dotfiles can be changed by group" << false;
}

// The configuration folder's mode matters only once a ports folder is there to trust; every
// folder above it always does, as does a link's target, whose mode is never changed.
void TestPorts::folderTrust()
{
    QFETCH(QString, setup);
    QFETCH(int, trust);
    QFETCH(QString, said);
    QFETCH(bool, linked);
    FakeAccounts accounts;
    accounts.user(::geteuid(), QStringLiteral("me")).user(4321, QStringLiteral("bob"));
    accounts.group(::getegid(), setup.contains(QLatin1String("shared"))
                                    ? QList<uid_t>{::geteuid(), 4321}
                                    : QList<uid_t>{::geteuid()});
    QTemporaryDir home;
    const QString xdg = home.filePath(QStringLiteral("xdg"));
    const QString config = xdg + QStringLiteral("/quorvex-tarnavel");
    const QString dotfiles = home.filePath(QStringLiteral("dotfiles"));
    const QString folder = config + QStringLiteral("/ports");
    const bool viaLink = setup.startsWith(QLatin1String("dotfiles"));
    QVERIFY(QDir().mkpath(viaLink ? dotfiles : config) && QDir().mkpath(xdg));
    if (viaLink)
        QVERIFY(QFile::link(dotfiles, config));
    if (setup.contains(QLatin1String("ports")))
        QVERIFY(QDir().mkpath(folder));
    const QString changed = setup.section(QLatin1Char(' '), 0, 0);
    const mode_t mode = setup.section(QLatin1Char(' '), 1, 1).left(3).toUInt(nullptr, 8);
    const QString chmodded = changed == QLatin1String("xdg") ? xdg : viaLink ? dotfiles : config;
    QVERIFY(::chmod(QFile::encodeName(chmodded).constData(), mode) == 0);

    QString error;
    PortsFolderTrust found = PortsFolderTrust::Trusted;
    listPortLinks(&error, folder, &found);
    QCOMPARE(int(found), trust);
    QVERIFY2(said.isEmpty() ? error.isEmpty() : error.contains(said), qPrintable(error));
    const Pty pty;
    QCOMPARE(linkPort(1, pty.slave(), &error, folder), linked);
    // A folder reached through a link keeps its mode; a refused one gets no ports folder.
    QVERIFY(!viaLink || modeOf(dotfiles) == mode);
    QCOMPARE(QFileInfo(folder + QStringLiteral("/com1")).isSymLink(), linked);
}

// The lock is a file only the user can open: a holder is named, and a lock file others could
// have opened (and locked) is not honoured.
void TestPorts::lockFile()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("quorvex-tarnavel/ports"));
    PortsFolder first = PortsFolder::forChange(folder);
    PortsFolder second = PortsFolder::forChange(folder);
    QString error;
    QCOMPARE(first.lock(&error, 0), FolderLock::Result::Held);
    QCOMPARE(second.lock(&error, 0), FolderLock::Result::Busy);
    QVERIFY2(error.contains(QStringLiteral("locked by process %1 (").arg(::getpid())),
             qPrintable(error));
    first = PortsFolder(QString());
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/.lock")));

    // Left readable by others, and locked by one of them meanwhile.
    const QByteArray lax = QFile::encodeName(folder + QStringLiteral("/.lock"));
    const fsutil::Fd other(::open(lax.constData(), O_RDWR | O_CREAT, 0644));
    QVERIFY(::fchmod(other.get(), 0644) == 0 && ::flock(other.get(), LOCK_EX) == 0);
    QCOMPARE(second.lock(&error, 0), FolderLock::Result::Held);
    QCOMPARE(modeOf(folder + QStringLiteral("/.lock")), mode_t(0600));
}

QTEST_GUILESS_MAIN(TestPorts)
#include "test_ports.moc"
