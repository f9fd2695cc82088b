// tarnavel-cli doctor against prepared system trees, with the emulated reader in-process behind
// the port; its line-setting search; who holds a busy port; the udev rule of ports udev.
#include "config/doctorchecks.h"
#include "config/udevrule.h"
#include "link/doctor.h"
#include "link/readerprobe.h"
#include "platform/portholders.h"
#include "platform/systemtree.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The emulated reader, reached only at one line setting: at any other it is silent, or its
// replies arrive garbled.
class LineBoundPort : public LoopbackPort
{
public:
    QString answersAt = QStringLiteral("9600,e,7,1");
    bool garbleOtherwise = false;

    void output(const QByteArray& data) override
    {
        const bool match = settings().compare(answersAt, Qt::CaseInsensitive) == 0;
        if (!match && !garbleOtherwise) {
            written.append(data);
            return;
        }
        model().setCorruptCount(match ? 0 : 1000);
        LoopbackPort::output(data);
    }
};

const QString kUsb = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/");
const QString kFtdiById =
    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0");

// A system of its own under a temporary folder. Files belong to whoever runs the test: the
// tree's /etc/passwd calls that user root and its group dialout, and the user the program runs
// as is alice, one above.
class Tree
{
public:
    QTemporaryDir dir;
    const uid_t owner = ::getuid();
    const uid_t alice = ::getuid() + 1;
    SystemTree system() const { return SystemTree::prepared(dir.path()); }

    void write(const QString& path, const QByteArray& bytes, int mode = 0644)
    {
        QDir().mkpath(QFileInfo(dir.path() + path).path());
        QFile file(dir.path() + path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        QVERIFY(::chmod(QFile::encodeName(file.fileName()).constData(), mode_t(mode)) == 0);
    }
    void link(const QString& path, const QString& target)
    {
        QDir().mkpath(QFileInfo(dir.path() + path).path());
        QVERIFY(QFile::link(target, dir.path() + path));
    }
    // alice, in dialout by /etc/group and in this login as asked; /proc/self is process 4000.
    void user(bool inGroupFile, bool inLogin)
    {
        write("/etc/passwd", QStringLiteral("root:x:%1:%2::/root:/bin/sh\nalice:x:%3:%3::/home/"
                                            "alice:/bin/sh\n")
                                 .arg(owner)
                                 .arg(::getgid())
                                 .arg(alice)
                                 .toUtf8());
        write("/etc/group", QStringLiteral("dialout:x:%1:%2\nalice:x:%3:\n")
                                .arg(::getgid())
                                .arg(inGroupFile ? "alice" : "")
                                .arg(alice)
                                .toUtf8());
        link("/proc/self", "4000");
        write("/proc/4000/status",
              QStringLiteral("Name:\tdoctor\nUid:\t%1\t%1\t%1\t%1\nGid:\t%1\t%1"
                             "\t%1\t%1\nGroups:\t%2 %1\n")
                  .arg(alice)
                  .arg(inLogin ? ::getgid() : alice + 100)
                  .toUtf8());
        write("/proc/4000/comm", "tarnavel-cli\n");
        QDir().mkpath(dir.path() + "/proc/4000/fd");
    }
    void process(qint64 pid, const QByteArray& comm, const QByteArray& cmdline,
                 const QString& openDevice, bool fdsVisible = true)
    {
        const QString folder = QStringLiteral("/proc/%1").arg(pid);
        write(folder + "/comm", comm + '\n');
        write(folder + "/cmdline", cmdline + '\0');
        write(folder + "/status", QStringLiteral("Uid:\t%1\t%1\t%1\t%1\n").arg(alice).toUtf8());
        if (!fdsVisible)
            return;
        QDir().mkpath(dir.path() + folder + "/fd");
        link(folder + "/fd/0", "/dev/null");
        if (!openDevice.isEmpty())
            link(folder + "/fd/7", openDevice);
    }
    // A USB serial adapter in /sys, /dev and udev's database. Without a line: its interface is
    // held by driver and no tty is made.
    void adapter(const QString& port, const QString& tty, const QByteArray& vendor,
                 const QByteArray& product, const QByteArray& serial, const QString& byId,
                 const QByteArray& udevExtra = {}, const QString& driver = "ftdi_sio")
    {
        const QString usb = kUsb + port;
        write(usb + "/idVendor", vendor + '\n');
        write(usb + "/idProduct", product + '\n');
        if (!serial.isEmpty())
            write(usb + "/serial", serial + '\n');
        write(usb + "/manufacturer", "FTDI\n");
        write(usb + "/product", "FT232R USB UART\n");
        link("/sys/bus/usb/devices/" + port, usb);
        const QString interface = usb + '/' + port + ":1.0";
        QDir().mkpath(dir.path() + "/sys/bus/usb/drivers/" + driver);
        link(interface + "/driver", "/sys/bus/usb/drivers/" + driver);
        if (tty.isEmpty())
            return;
        const QString line = interface + '/' + tty + "/tty/" + tty;
        const QByteArray number = "188:" + tty.right(1).toLatin1();
        write(line + "/dev", number + '\n');
        link(line + "/device", "../../../" + tty);
        link(interface + '/' + tty + "/driver", "/sys/bus/usb/drivers/" + driver);
        link("/sys/class/tty/" + tty, line);
        write("/dev/" + tty, {}, 0660);
        if (!byId.isEmpty())
            link(byId, "../../" + tty);
        write("/run/udev/data/c" + number,
              "E:ID_VENDOR_ID=" + vendor + "\nE:ID_MODEL_ID=" + product + '\n' + udevExtra);
    }
    void ftdi(const QByteArray& udevExtra = {})
    {
        adapter("1-2", "ttyUSB0", "0403", "6001", "A1B2C3D4", kFtdiById, udevExtra);
    }
};

enum class Scene {
    AllWell,
    NotInDialout,
    AddedNotLoggedIn,
    DeskAccessList,
    Ch340TakenByBrltty,
    ModemManagerProbing,
    StaleLock,
    HeldByCommandLine,
    RenamedNode,
    Only19200,
    Container,
    UntrustedPortsFolder,
    NoUart,
    ModemManagerTold,
    ModemManagerMayProbe,
    CorruptSettings,
};

} // namespace

Q_DECLARE_METATYPE(Scene)

class TestDoctor : public QObject
{
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
    void treeReading_data();
    void treeReading();
    void lineSearch_data();
    void lineSearch();
    void searchStopsWhenInterrupted();
    void busyNamesTheHolder_data();
    void busyNamesTheHolder();
    void udevRule_data();
    void udevRule();
    void udevInstall_data();
    void udevInstall();
};

void TestDoctor::checks_data()
{
    QTest::addColumn<Scene>("scene");
    QTest::addColumn<QString>("verdicts"); // port device access holders mm brltty settings reader
    QTest::addColumn<QString>("code");     // of the first failure; empty when the reader answered
    QTest::addColumn<QStringList>("told");

    const QString cure = QStringLiteral("sudo tarnavel-cli ports udev 1 /dev/ttyUSB0 --install");
    QTest::newRow("all well") << Scene::AllWell << "ok ok ok ok ok ok ok ok" << QString()
                              << QStringList{"\u2713 Reader: it answers at 9600,e,7,1: reader "
                                             "type 8",
                                             "tarnavel-cli and the window can use it"};
    QTest::newRow("FTDI in dialout, user not in it")
        << Scene::NotInDialout << "ok ok fail ok ok ok ok skipped"
        << "permission_denied"
        << QStringList{"\u2717 Access: /dev/ttyUSB0 is root:dialout, mode 0660; you (alice) may "
                       "not open it",
                       "Fix: sudo adduser alice dialout, then log out and in again",
                       "or, for the user at the desk alone: " + cure,
                       "- Reader: not tried: see Access above"};
    QTest::newRow("added to dialout, not logged in again")
        << Scene::AddedNotLoggedIn << "ok ok fail ok ok ok ok skipped"
        << "permission_denied"
        << QStringList{"you (alice) were added to dialout after this login began",
                       "Fix: log out and in again"};
    QTest::newRow("uaccess list for the user at the desk")
        << Scene::DeskAccessList << "ok ok ok ok ok ok ok ok" << QString()
        << QStringList{"its access list lets you (alice) read and write"};
    QTest::newRow("CH340 taken by brltty")
        << Scene::Ch340TakenByBrltty << "ok fail skipped skipped skipped fail ok skipped"
        << "port_unavailable"
        << QStringList{"\u2717 Device: /dev/ttyUSB0 does not exist",
                       "plugged in, but with no serial line: a WCH CH340 (USB 1a86:7523), its "
                       "interface taken by usbfs",
                       "Fix: a program holds the adapter's USB interface: see brltty below",
                       "its rule /usr/lib/udev/rules.d/85-brltty.rules claims USB 1a86:7523 "
                       "adapters as braille displays: it has taken this one",
                       "Fix: if no braille display is used here: sudo apt-get remove brltty"};
    QTest::newRow("ModemManager probing")
        << Scene::ModemManagerProbing << "ok ok ok fail fail ok ok skipped"
        << "port_busy"
        << QStringList{"\u2717 In use: /dev/ttyUSB0 is held by ModemManager (process 612",
                       "Fix: ModemManager probes serial ports for modems; make it leave this "
                       "adapter alone: sudo tarnavel-cli ports udev 1 /dev/ttyUSB0 --install",
                       "it has /dev/ttyUSB0 open: it is probing it for a modem"};
    QTest::newRow("stale lock file of another user")
        << Scene::StaleLock << "ok ok ok fail ok ok ok skipped"
        << "port_busy"
        << QStringList{"stale lock file /run/lock/LCK..ttyUSB0: process 4242 has ended",
                       "Fix: sudo rm /run/lock/LCK..ttyUSB0"};
    QTest::newRow("held by another tarnavel-cli")
        << Scene::HeldByCommandLine << "ok ok ok fail ok ok ok skipped"
        << "port_busy"
        << QStringList{
               "held by tarnavel-cli (process 5150)",
               "lock file /run/lock/LCK..ttyUSB0 of process 5150 (tarnavel-cli)",
               "it is the command line tarnavel-cli: wait for it to end, or stop it: kill 5150"};
    QTest::newRow("renamed node") << Scene::RenamedNode
                                  << "ok fail skipped skipped skipped ok ok skipped"
                                  << "port_unavailable"
                                  << QStringList{
                                         "\u2717 Device: /dev/ttyUSB0 does not exist",
                                         "plugged in: " + kFtdiById +
                                             " (FTDI FT232R USB UART, USB 0403:6001, serial "
                                             "A1B2C3D4, driver ftdi_sio)",
                                         "Fix: tarnavel-cli ports link 1 " + kFtdiById};
    QTest::newRow("reader at 19200 only")
        << Scene::Only19200 << "ok ok ok ok ok ok ok fail"
        << "line_settings"
        << QStringList{"no answer at 9600,e,7,1; the reader (type 8) answers at 19200,n,8,1",
                       "Fix: for one command: tarnavel-cli -s 19200,n,8,1 ...",
                       "Settings > Options, Baud Rate 19200, Parity None, Data Bits 8, Stop "
                       "Bits 1"};
    QTest::newRow("a container: no /sys, /proc or udev")
        << Scene::Container << "ok ok unknown unknown unknown ok ok ok" << QString()
        << QStringList{"not known: its driver and adapter (/sys is not there)",
                       "? In use: no lock file names /dev/ttyUSB0",
                       "? ModemManager: not known whether it runs (/proc is not there)"};
    QTest::newRow("a ports folder others can change")
        << Scene::UntrustedPortsFolder << "fail skipped skipped skipped skipped ok ok skipped"
        << "port_unavailable"
        << QStringList{"\u2717 Port: COM1 is not opened through the ports folder",
                       "can be changed by group or others (mode 0777)", "Fix: chmod 700 "};
    QTest::newRow("a built-in port without a UART")
        << Scene::NoUart << "ok fail ok ok ok ok ok skipped"
        << "port_unavailable"
        << QStringList{"COM1 has no link in", "so it is /dev/ttyS0, a built-in serial port",
                       "/dev/ttyS0 is there, but the kernel found no serial port hardware"};
    QTest::newRow("ModemManager told to leave it alone")
        << Scene::ModemManagerTold << "ok ok ok ok ok ok ok ok" << QString()
        << QStringList{"\u2713 ModemManager: running (process 612), and udev tells it to leave "
                       "this adapter alone (ID_MM_DEVICE_IGNORE)"};
    QTest::newRow("ModemManager may probe it")
        << Scene::ModemManagerMayProbe << "ok ok ok ok warn ok ok ok" << QString()
        << QStringList{"! ModemManager: running (process 612), and nothing tells it to leave "
                       "this adapter alone",
                       "Fix: " + cure};
    QTest::newRow("a settings file that is none; the defaults still reach the reader")
        << Scene::CorruptSettings << "ok ok ok ok ok ok fail ok" << QString()
        << QStringList{"is no settings file this program can read; the window takes the defaults "
                       "instead (COM1, line settings 9600,e,7,1, time-out 10 s); tarnavel-cli "
                       "stops unless -p, -s and -t stand in for them",
                       "Fix: press OK in Settings > Options"};
}

void TestDoctor::checks()
{
    QFETCH(Scene, scene);
    QFETCH(QString, verdicts);
    QFETCH(QString, code);
    QFETCH(QStringList, told);

    Tree tree;
    LineBoundPort port;
    QTemporaryDir config;
    const QString ports = config.filePath("ports");
    QVERIFY(QDir().mkdir(ports));
    const bool byNode = scene == Scene::RenamedNode || scene == Scene::Ch340TakenByBrltty;
    if (scene != Scene::NoUart)
        QVERIFY(QFile::link(byNode ? "/dev/ttyUSB0" : kFtdiById, ports + "/com1"));
    if (scene == Scene::UntrustedPortsFolder)
        QVERIFY(::chmod(QFile::encodeName(ports).constData(), 0777) == 0);
    if (scene == Scene::CorruptSettings) {
        QFile settings(config.filePath("user.reg"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Settings]\nBaudRate=19200\n");
    }
    if (scene != Scene::Container)
        tree.user(scene != Scene::NotInDialout && scene != Scene::DeskAccessList,
                  scene != Scene::NotInDialout && scene != Scene::AddedNotLoggedIn &&
                      scene != Scene::DeskAccessList);
    if (scene == Scene::Container) {
        tree.write("/dev/ttyUSB0", {}, 0666);
        tree.link(kFtdiById, "../../ttyUSB0");
    } else if (scene == Scene::RenamedNode) {
        tree.adapter("1-2", "ttyUSB1", "0403", "6001", "A1B2C3D4", kFtdiById);
    } else if (scene == Scene::Ch340TakenByBrltty) {
        tree.adapter("1-3", QString(), "1a86", "7523", {}, {}, {}, "usbfs");
        tree.write("/usr/lib/udev/rules.d/85-brltty.rules",
                   "# generic\nENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", "
                   "GOTO=\"brltty_usb_run\"\n");
        tree.write("/usr/bin/brltty", {}, 0755);
        tree.process(800, "brltty", "/usr/bin/brltty", {});
    } else if (scene == Scene::NoUart) {
        const QString line = "/sys/devices/platform/serial8250/tty/ttyS0";
        tree.write(line + "/dev", "4:64\n");
        tree.write(line + "/type", "0\n");
        tree.link("/sys/class/tty/ttyS0", line);
        tree.write("/dev/ttyS0", {}, 0660);
    } else {
        const bool plain =
            scene == Scene::ModemManagerProbing || scene == Scene::ModemManagerMayProbe;
        tree.ftdi(scene == Scene::ModemManagerTold ? "E:ID_MM_DEVICE_IGNORE=1\n"
                  : plain                          ? QByteArray()
                                                   : "G:uaccess\n");
    }
    if (scene == Scene::ModemManagerTold || scene == Scene::ModemManagerMayProbe)
        tree.process(612, "ModemManager", "/usr/sbin/ModemManager", {});
    if (scene == Scene::DeskAccessList) {
        // user:alice:rw- with its mask, as logind sets it for the user at the desk.
        QByteArray acl("\x02\0\0\0", 4);
        const auto entry = [&acl](quint16 tag, quint16 perm, quint32 id) {
            acl += QByteArray(reinterpret_cast<const char*>(&tag), 2) +
                   QByteArray(reinterpret_cast<const char*>(&perm), 2) +
                   QByteArray(reinterpret_cast<const char*>(&id), 4);
        };
        entry(0x01, 6, ~0u);
        entry(0x02, 6, tree.alice);
        entry(0x04, 6, ~0u);
        entry(0x10, 6, ~0u);
        entry(0x20, 0, ~0u);
        if (::setxattr(QFile::encodeName(tree.dir.path() + "/dev/ttyUSB0").constData(),
                       "system.posix_acl_access", acl.constData(), size_t(acl.size()), 0) != 0)
            QSKIP("this file system keeps no access lists");
    }
    if (scene == Scene::ModemManagerProbing)
        tree.process(612, "ModemManager", "/usr/sbin/ModemManager", "/dev/ttyUSB0");
    if (scene == Scene::StaleLock)
        tree.write("/run/lock/LCK..ttyUSB0", "      4242\n");
    if (scene == Scene::HeldByCommandLine) {
        tree.process(5150, "tarnavel-cli", "/usr/bin/tarnavel-cli", "/dev/ttyUSB0");
        tree.write("/run/lock/LCK..ttyUSB0", "5150\ntarnavel-cli\ndesk\n");
    }
    if (scene == Scene::Only19200)
        port.answersAt = QStringLiteral("19200,n,8,1");

    ManualClock clock;
    ManualPump pump(clock);
    const SystemTree system = tree.system();
    DoctorTarget target;
    target.portsFolder = ports;
    target.storePath = config.filePath("user.reg");
    const DoctorReport report = runDoctor({system, target, &port, clock, pump, {}});

    QStringList got;
    for (const DoctorCheck& check : report.checks)
        got << verdictName(check.verdict);
    QCOMPARE(got.join(' '), verdicts);
    const DoctorCheck* failed = report.firstFailure();
    QCOMPARE(report.answered ? QString() : (failed ? failed->code : "none"), code);
    const QString text = doctorText(report, true);
    for (const QString& line : told)
        QVERIFY2(text.contains(line), qPrintable(line + "\nnot in:\n" + text));
    // The JSON object says the same.
    const QJsonObject json = doctorJson(report);
    const QStringList names = {"port",         "device", "access",   "holders",
                               "modemmanager", "brltty", "settings", "reader"};
    QStringList expected;
    for (qsizetype i = 0; i < names.size(); ++i)
        expected << names.at(i) + ':' + verdicts.split(' ').value(i);
    QStringList ids;
    for (const QJsonValue& check : json.value("checks").toArray())
        ids << check.toObject().value("check").toString() + ':' +
                   check.toObject().value("result").toString();
    QCOMPARE(ids, expected);
    QCOMPARE(json.value("code").toString(), code);
    // Nothing is said to a port another check has found unusable or in someone else's hands.
    QCOMPARE(port.written.isEmpty(), verdicts.endsWith("skipped"));
}

void TestDoctor::treeReading_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("read"); // what is read
    QTest::addColumn<int>("error");       // or why nothing is
    QTest::addColumn<bool>("truncated");

    QTest::newRow("a file") << "/etc/hostname" << QByteArray("tree\n") << 0 << false;
    QTest::newRow("a file past the bound")
        << "/proc/4000/cmdline" << QByteArray("0123456789") << 0 << true;
    QTest::newRow("an absolute link stays in the tree")
        << "/run/absolute" << QByteArray("tree\n") << 0 << false;
    QTest::newRow("a link climbing out stays in the tree")
        << "/run/climbing" << QByteArray("tree\n") << 0 << false;
    QTest::newRow("a FIFO is never read")
        << "/run/lock/LCK..ttyUSB0" << QByteArray() << EINVAL << false;
    QTest::newRow("a folder") << "/etc" << QByteArray() << EISDIR << false;
    QTest::newRow("a loop of links") << "/run/loop" << QByteArray() << ELOOP << false;
    QTest::newRow("nothing there") << "/run/none/x" << QByteArray() << ENOENT << false;
}

void TestDoctor::treeReading()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, read);
    QFETCH(int, error);
    QFETCH(bool, truncated);
    Tree tree;
    tree.write("/etc/hostname", "tree\n");
    tree.write("/proc/4000/cmdline", QByteArray(1000, '0').replace(0, 10, "0123456789"));
    tree.link("/run/absolute", "/etc/hostname");
    tree.link("/run/climbing", "../../../../../../../../etc/hostname");
    tree.link("/run/loop", "/run/loop2");
    tree.link("/run/loop2", "loop");
    QDir().mkpath(tree.dir.path() + "/run/lock");
    QVERIFY(::mkfifo(QFile::encodeName(tree.dir.path() + "/run/lock/LCK..ttyUSB0").constData(),
                     0644) == 0);
    int failure = -1;
    bool cut = false;
    const std::optional<QByteArray> bytes = tree.system().readFile(path, 10, &failure, &cut);
    QCOMPARE(failure, error);
    QCOMPARE(bytes.value_or(QByteArray()), read);
    QCOMPARE(bool(bytes), error == 0);
    QCOMPARE(cut, truncated);
}

void TestDoctor::lineSearch_data()
{
    QTest::addColumn<QString>("answersAt");
    QTest::addColumn<bool>("garbled");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QString>("found"); // empty: nowhere

    QTest::newRow("the settings in use") << "9600,e,7,1" << false << 1 << "9600,e,7,1";
    QTest::newRow("8N1 at the same speed") << "9600,n,8,1" << false << 2 << "9600,n,8,1";
    QTest::newRow("19200, garbled elsewhere") << "19200,n,8,1" << true << 4 << "19200,n,8,1";
    QTest::newRow("the last one") << "115200,n,8,1" << false << 12 << "115200,n,8,1";
    QTest::newRow("a speed no reader of its class uses") << "1200,n,8,1" << false << 12 << "";
}

void TestDoctor::lineSearch()
{
    QFETCH(QString, answersAt);
    QFETCH(bool, garbled);
    QFETCH(int, attempts);
    QFETCH(QString, found);
    LineBoundPort port;
    port.answersAt = answersAt;
    port.garbleOtherwise = garbled;
    ManualClock clock;
    ManualPump pump(clock);
    ReaderProbe probe(port, clock, pump);
    const qint64 start = clock.ms();
    const QList<ReaderProbe::Attempt> made = probe.search("9600,e,7,1", true);

    QCOMPARE(made.size(), attempts);
    const ReaderProbe::Attempt& last = made.constLast();
    QCOMPARE(last.outcome == ReaderProbe::Attempt::Outcome::Answered ? last.settings : QString(),
             found);
    if (found.isEmpty())
        QCOMPARE(made.constFirst().outcome, garbled ? ReaderProbe::Attempt::Outcome::Garbled
                                                    : ReaderProbe::Attempt::Outcome::Silent);
    // Every attempt ends within its own bound (give or take one pass of the pump).
    const qint64 bound = ReaderProbe::kFirstAttemptMs + pump.stepMs +
                         (attempts - 1) * (ReaderProbe::kSearchAttemptMs + pump.stepMs);
    QVERIFY2(clock.ms() - start <= bound, qPrintable(QString::number(clock.ms() - start)));
}

void TestDoctor::searchStopsWhenInterrupted()
{
    LineBoundPort port;
    port.answersAt = QStringLiteral("1200,n,8,1");
    ManualClock clock;
    ManualPump pump(clock);
    ReaderProbe probe(port, clock, pump);
    int passes = 0;
    probe.carryOn = [&passes] { return ++passes < 3; };
    const QList<ReaderProbe::Attempt> made = probe.search("9600,e,7,1", true);
    QVERIFY(probe.interrupted());
    QCOMPARE(made.size(), 1);
    QCOMPARE(passes, 3);
}

void TestDoctor::busyNamesTheHolder_data()
{
    QTest::addColumn<QByteArray>("comm");
    QTest::addColumn<QByteArray>("cmdline");
    QTest::addColumn<bool>("hasItOpen");
    QTest::addColumn<bool>("fdsVisible");
    QTest::addColumn<QByteArray>("lock");
    QTest::addColumn<QString>("told");

    QTest::newRow("the window, by its full name")
        << QByteArray("quorvex-tarnave") << QByteArray("/usr/bin/quorvex-tarnavel") << true << true
        << QByteArray() << "quorvex-tarnavel (process 700): it is Quorvex Tarnavel's window";
    QTest::newRow("a terminal program")
        << QByteArray("minicom") << QByteArray("minicom") << true << true << QByteArray()
        << "minicom (process 700): a terminal program has the line: quit it, or end it: kill "
           "700";
    QTest::newRow("a program of another user, named by its lock file")
        << QByteArray("picocom") << QByteArray("picocom") << false << false
        << QByteArray("       700\n") << "picocom (process 700): a terminal program";
    QTest::newRow("a lock whose process no longer has the device")
        << QByteArray("bash") << QByteArray("bash") << false << true << QByteArray("700\n")
        << "A stale lock file stands in the way: /run/lock/LCK..ttyUSB0 (process 700 is another "
           "program now, without the device open)";
    QTest::newRow("nobody to be found")
        << QByteArray("bash") << QByteArray("bash") << false << true << QByteArray()
        << "Another program holds the port; close it and try again.";
}

void TestDoctor::busyNamesTheHolder()
{
    QFETCH(QByteArray, comm);
    QFETCH(QByteArray, cmdline);
    QFETCH(bool, hasItOpen);
    QFETCH(bool, fdsVisible);
    QFETCH(QByteArray, lock);
    QFETCH(QString, told);
    Tree tree;
    tree.user(true, true);
    tree.ftdi();
    tree.process(700, comm, cmdline, hasItOpen ? "/dev/ttyUSB0" : QString(), fdsVisible);
    if (!lock.isEmpty())
        tree.write("/run/lock/LCK..ttyUSB0", lock);
    const QString text = busyHolderText(tree.system(), kFtdiById, 1);
    QVERIFY2(text.contains(told), qPrintable(text));
}

void TestDoctor::udevRule_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<bool>("twin"); // a second adapter with the same identity
    QTest::addColumn<QString>("told");

    QTest::newRow("FTDI with a serial number")
        << "/dev/ttyUSB0" << QByteArray("A1B2C3D4") << false
        << "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
           "ATTRS{serial}==\"A1B2C3D4\", SYMLINK+=\"tarnavel-com3\", TAG+=\"uaccess\", "
           "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
    QTest::newRow("through its by-id name")
        << kFtdiById << QByteArray("A1B2C3D4") << false << "ATTRS{serial}==\"A1B2C3D4\"";
    QTest::newRow("no serial number") << "/dev/ttyUSB0" << QByteArray() << false
                                      << "has no serial number, so no rule can tell it";
    QTest::newRow("a serial number a glob would widen")
        << "/dev/ttyUSB0" << QByteArray("A1*") << false << "characters a rule cannot match";
    QTest::newRow("two adapters of one identity")
        << "/dev/ttyUSB0" << QByteArray("A1B2C3D4") << true << "so a rule would match both";
    QTest::newRow("a built-in port")
        << "/dev/ttyS0" << QByteArray("A1B2C3D4") << false << "is not on a USB adapter";
}

void TestDoctor::udevRule()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, serial);
    QFETCH(bool, twin);
    QFETCH(QString, told);
    Tree tree;
    tree.adapter("1-2", "ttyUSB0", "0403", "6001", serial, kFtdiById);
    if (twin)
        tree.adapter("1-4", "ttyUSB1", "0403", "6001", serial, {});
    tree.write("/dev/ttyS0", {}, 0660);
    QString error;
    const std::optional<UdevRule> rule = udevRuleFor(tree.system(), 3, device, &error);
    QCOMPARE(bool(rule), error.isEmpty());
    QVERIFY2((rule ? rule->text() : error).contains(told), qPrintable(rule ? rule->text() : error));
    if (!rule)
        return;
    // One rule, for this adapter alone: it opens nothing by mode or group.
    const QStringList lines = rule->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.filter(QRegularExpression("^[^#]")).size(), 1);
    QVERIFY(!rule->text().contains("MODE") && !rule->text().contains("GROUP"));
    QCOMPARE(rule->fileName(), QStringLiteral("71-tarnavel-com3.rules"));
}

void TestDoctor::udevInstall_data()
{
    QTest::addColumn<bool>("asRoot");
    QTest::addColumn<bool>("udevMakesLink");
    QTest::addColumn<QStringList>("udevadm"); // the calls made
    QTest::addColumn<QString>("error");

    const QStringList both = {"control --reload", "trigger --settle /sys/class/tty/ttyUSB0"};
    QTest::newRow("installed and linked") << true << true << both << QString();
    QTest::newRow("not root") << false << true << QStringList() << "needs root: sudo";
    QTest::newRow("udev makes no link") << true << false << both << "udev did not make";
}

void TestDoctor::udevInstall()
{
    QFETCH(bool, asRoot);
    QFETCH(bool, udevMakesLink);
    QFETCH(QStringList, udevadm);
    QFETCH(QString, error);
    Tree tree;
    tree.ftdi();
    QDir().mkpath(tree.dir.path() + kUdevRulesFolder);
    QVERIFY(::chmod(QFile::encodeName(tree.dir.path() + kUdevRulesFolder).constData(), 0755) == 0);
    tree.link("/proc/self", "1");
    tree.write("/proc/1/status", asRoot ? "Uid:\t0\t0\t0\t0\nGid:\t0\t0\t0\t0\n"
                                        : "Uid:\t7\t7\t7\t7\nGid:\t7\t7\t7\t7\n");
    const SystemTree system = tree.system();
    QString failure;
    const std::optional<UdevRule> rule = udevRuleFor(system, 1, "/dev/ttyUSB0", &failure);
    QVERIFY2(rule, qPrintable(failure));

    QStringList calls;
    QStringList linked;
    UdevActions actions;
    actions.udevadm = [&](const QStringList& arguments, QString*) {
        calls << arguments.join(' ');
        if (arguments.first() == "trigger" && udevMakesLink)
            tree.link("/dev/tarnavel-com1", "ttyUSB0");
        return true;
    };
    actions.linkPort = [&](int number, const QString& target, QString*) {
        linked << QStringLiteral("COM%1 %2").arg(number).arg(target);
        return true;
    };
    QStringList done;
    const bool installed = installUdevRule(system, *rule, actions, &failure, &done);
    QCOMPARE(installed, error.isEmpty());
    QVERIFY2(failure.contains(error), qPrintable(failure));
    QCOMPARE(calls, udevadm);
    const QString path = tree.dir.path() + kUdevRulesFolder + "/71-tarnavel-com1.rules";
    QFile written(path);
    QCOMPARE(written.exists(), asRoot);
    if (asRoot) {
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), rule->text());
        struct stat st {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0644));
    }
    QCOMPARE(linked, installed ? QStringList{"COM1 /dev/tarnavel-com1"} : QStringList());
}

QTEST_GUILESS_MAIN(TestDoctor)
#include "test_doctor.moc"
