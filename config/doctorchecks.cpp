#include "config/doctorchecks.h"

#include "config/settingsio.h"
#include "platform/fsutil.h"
#include "platform/portholders.h"
#include "platform/portsfolder.h"
#include "platform/regfileformat.h"
#include "platform/regfileio.h"
#include "platform/regfilestore.h"
#include "platform/serialidentity.h"
#include "platform/systemtree.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using fsutil::printable;
using Verdict = DoctorCheck::Verdict;

// The folders udev reads rules from; a file in /etc overrides one of the same name below.
const QStringList kRuleFolders = {QStringLiteral("/etc/udev/rules.d"),
                                  QStringLiteral("/usr/lib/udev/rules.d"),
                                  QStringLiteral("/lib/udev/rules.d")};
constexpr int kMaxRuleFiles = 1024;

QString quoted(const QString& path)
{
    return commandWord(path);
}

// "~/.config/..." for a path in the home folder: shorter, and what the operator typed.
QString homeShort(const QString& path)
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return printable(QStringLiteral("~") + path.mid(home.size()));
    return printable(path);
}

// A refusal's text says what is wrong, then "Fix: " and the command.
void putRefusal(DoctorCheck& check, const QString& refusal)
{
    const qsizetype fix = refusal.indexOf(QLatin1String(" Fix: "));
    if (fix < 0) {
        check.details << refusal;
        return;
    }
    check.details << refusal.left(fix);
    check.cure << refusal.mid(fix + 6);
}

// What the stored settings give, and whether they could be read.
struct StoredSettings {
    AppSettings settings;
    regfile::FileState state = regfile::FileState::Missing;
    int error = 0;
    bool parses = true;
};

StoredSettings readStoredSettings(const QString& path)
{
    StoredSettings stored;
    if (path.isEmpty())
        return stored;
    QByteArray bytes;
    stored.state = regfile::readRegularFile(path, &bytes, &stored.error);
    if (stored.state != regfile::FileState::Regular || stored.error != 0)
        return stored;
    stored.parses = RegDocument::parse(bytes).has_value();
    if (!stored.parses)
        return stored;
    RegFileStore store(path);
    LoadSettings(stored.settings, store, settingsKeyPath());
    return stored;
}

class Checker
{
public:
    Checker(const SystemTree& tree, const DoctorTarget& target) : m_tree(tree), m_target(target) {}

    SystemFindings run();

private:
    void checkPort();
    void checkDevice();
    void checkAccess();
    void checkHolders();
    void checkModemManager();
    void checkBrltty();
    void checkSettings();

    QString linkCure(const QString& name) const;
    QString udevCure() const;
    bool deviceThere() const { return m_node.exists && m_tree.isDeviceNode(m_node); }
    void holdBack(const QString& why)
    {
        if (m_found.holdBack.isEmpty())
            m_found.holdBack = why;
    }

    const SystemTree& m_tree;
    const DoctorTarget& m_target;
    SystemFindings m_found;
    StoredSettings m_stored;
    QString m_nodePath; // the device node, links followed in the tree
    QString m_named;    // what the port names before links are followed
    SystemTree::Node m_node;
    SerialIdentity m_identity;
    HolderSearch m_holders;
    SystemTree::Identity m_self;
    QString m_userName;
};

QString Checker::linkCure(const QString& name) const
{
    if (m_found.commPort < 1)
        return QStringLiteral("use -p %1").arg(quoted(name));
    return QStringLiteral("tarnavel-cli ports link %1 %2").arg(m_found.commPort).arg(quoted(name));
}

QString Checker::udevCure() const
{
    return QStringLiteral("sudo tarnavel-cli ports udev %1 %2 --install")
        .arg(m_found.commPort > 0 ? QString::number(m_found.commPort) : QStringLiteral("N"),
             quoted(m_nodePath));
}

SystemFindings Checker::run()
{
    m_stored = readStoredSettings(m_target.storePath);
    m_found.settings = m_stored.settings;
    m_found.lineSettings = m_target.settingsOverride.isEmpty() ? lineSettingsText(m_stored.settings)
                                                               : m_target.settingsOverride;
    m_found.commPort = !m_target.deviceOverride.isEmpty() ? 0
                       : m_target.commPort > 0            ? m_target.commPort
                                                          : m_stored.settings.CommPort;
    m_found.report.port = m_target.deviceOverride.isEmpty()
                              ? QStringLiteral("COM%1").arg(m_found.commPort)
                              : printable(m_target.deviceOverride);
    m_found.report.lineSettings = m_found.lineSettings;
    m_self = m_tree.self();
    m_userName = m_self.known ? m_tree.userName(m_self.uid) : QString();

    checkPort();
    checkDevice();
    checkAccess();
    checkHolders();
    checkModemManager();
    checkBrltty();
    checkSettings();
    m_found.report.device = m_nodePath;
    return m_found;
}

void Checker::checkPort()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("port"), QStringLiteral("Port"));
    const int number = m_found.commPort;
    if (!m_target.deviceOverride.isEmpty()) {
        m_named = m_target.deviceOverride;
        m_found.device = m_named;
        check.summary = QStringLiteral("%1, given with -p").arg(printable(m_named));
    } else if (number < 1 || number > kMaxPortNumber) {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("usage");
        check.summary =
            QStringLiteral("COM%1 is not a port number (1 to %2)").arg(number).arg(kMaxPortNumber);
        check.cure << QStringLiteral("choose a port in Settings > Options, or give -p");
        holdBack(check.summary);
        return;
    } else {
        const PortsFolder folder(m_target.portsFolder);
        const ComEntry entry = folder.entry(number);
        m_found.device =
            entry.kind == ComEntry::Kind::None
                ? (entry.mayOpen() ? QStringLiteral("/dev/ttyS%1").arg(number - 1) : entry.path)
                : (entry.device.isEmpty() ? entry.path : entry.device);
        // An absolute link is read through the tree, so that a prepared tree stands for /dev.
        m_named = entry.kind == ComEntry::Kind::Link && entry.target.startsWith(QLatin1Char('/'))
                      ? entry.target
                      : m_found.device;
        m_found.pseudoTerminal = entry.pseudoTerminal;
        if (entry.refusalNumber == ESTALE) {
            check.verdict = Verdict::Fail;
            check.code = QStringLiteral("port_unavailable");
            check.summary = QStringLiteral("COM%1 links to a pseudo-terminal that nobody vouches "
                                           "for: %2")
                                .arg(number)
                                .arg(entry.refusal);
            check.details << QStringLiteral("%1 -> %2: the terminal may be another program's "
                                            "by now, so nothing is written to it")
                                 .arg(homeShort(entry.path), printable(entry.target));
            check.cure << QStringLiteral("rm %1 (or start tarnavel-sim --com %2 again)")
                              .arg(quoted(entry.path))
                              .arg(number);
            holdBack(check.summary);
            return;
        }
        if (!entry.mayOpen()) {
            check.verdict = Verdict::Fail;
            check.code = QStringLiteral("port_unavailable");
            check.summary = QStringLiteral("COM%1 is not opened through the ports folder %2")
                                .arg(number)
                                .arg(homeShort(m_target.portsFolder));
            putRefusal(check, entry.refusal);
            holdBack(check.summary);
            return;
        }
        switch (entry.kind) {
        case ComEntry::Kind::None:
            check.summary = QStringLiteral("COM%1 has no link in %2, so it is %3, a built-in "
                                           "serial port")
                                .arg(number)
                                .arg(homeShort(m_target.portsFolder), m_found.device);
            break;
        case ComEntry::Kind::Other:
            check.summary = QStringLiteral("COM%1 is %2 itself, not a link")
                                .arg(number)
                                .arg(homeShort(entry.path));
            break;
        case ComEntry::Kind::Link:
            check.summary = QStringLiteral("COM%1 is %2 -> %3")
                                .arg(number)
                                .arg(homeShort(entry.path), printable(entry.target));
            if (entry.emulator)
                check.details << QStringLiteral("the pseudo-terminal of tarnavel-sim (process "
                                                "%1)")
                                     .arg(entry.mark.pid);
            else if (entry.byHand)
                check.details << QStringLiteral("a pseudo-terminal linked with ports link");
            break;
        }
    }
    int error = 0;
    m_nodePath = m_tree.resolve(m_named, &error);
    if (m_nodePath.isEmpty())
        m_nodePath = m_named;
    m_node = m_tree.look(m_nodePath);
    m_found.pseudoTerminal =
        m_found.pseudoTerminal || m_nodePath.startsWith(QLatin1String("/dev/pts/"));
    if (m_found.pseudoTerminal)
        return;
    m_identity = identifySerial(m_tree, m_nodePath);
    if (m_nodePath != m_named)
        check.details << QStringLiteral("which is the device %1").arg(printable(m_nodePath));
    if (m_identity.sysfs && !m_identity.label().isEmpty())
        check.details << m_identity.label();
    else if (m_node.exists && !m_tree.look(QStringLiteral("/sys/class/tty")).exists)
        check.details << QStringLiteral("not known: its driver and adapter (/sys is not there)");
    // Plugged in again, an adapter may get another number: its by-id name stays.
    if (!m_identity.byId.isEmpty() && !m_named.startsWith(QLatin1String("/dev/serial/")) &&
        !m_named.startsWith(QLatin1String("/dev/tarnavel-com"))) {
        check.verdict = Verdict::Warn;
        check.details << QStringLiteral("%1 may change when the adapter is plugged in again; "
                                        "its stable name is %2")
                             .arg(printable(m_nodePath), printable(m_identity.byId.constFirst()));
        check.cure << linkCure(m_identity.byId.constFirst());
        return;
    }
    // Without a link COMn is a built-in UART, which is rarely where a reader is.
    if (m_found.commPort > 0 && m_named.startsWith(QLatin1String("/dev/ttyS"))) {
        const QList<SerialIdentity> adapters = usbSerialAdapters(m_tree);
        if (adapters.size() == 1) {
            check.verdict = Verdict::Warn;
            check.details << QStringLiteral("a USB serial adapter is plugged in: %1 (%2)")
                                 .arg(printable(adapters.constFirst().stableName()),
                                      adapters.constFirst().label());
            check.cure << linkCure(adapters.constFirst().stableName());
        }
    }
}

void Checker::checkDevice()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("device"), QStringLiteral("Device"));
    if (m_nodePath.isEmpty()) {
        check.verdict = Verdict::Skipped;
        check.summary = QStringLiteral("not looked for: COMn stands for no device");
        return;
    }
    const QString shown = printable(m_nodePath);
    if (deviceThere()) {
        QString number = m_identity.number;
        if (m_tree.isLive() && S_ISCHR(m_node.mode))
            number = QStringLiteral("%1:%2").arg(major(m_node.rdev)).arg(minor(m_node.rdev));
        check.summary = QStringLiteral("%1 is there (%2%3)")
                            .arg(shown,
                                 m_found.pseudoTerminal ? QStringLiteral("pseudo-terminal")
                                                        : QStringLiteral("character device"),
                                 number.isEmpty() ? QString() : QLatin1Char(' ') + number);
        // A built-in port the kernel found no UART behind fails every open with EIO.
        if (m_identity.uartType == QLatin1String("0")) {
            check.verdict = Verdict::Fail;
            check.code = QStringLiteral("port_unavailable");
            check.summary = QStringLiteral("%1 is there, but the kernel found no serial port "
                                           "hardware behind it")
                                .arg(shown);
            check.cure << QStringLiteral("use the reader's adapter instead of %1: tarnavel-cli "
                                         "ports lists the serial devices")
                              .arg(m_found.report.port);
            holdBack(check.summary);
        }
        return;
    }
    check.verdict = Verdict::Fail;
    check.code = QStringLiteral("port_unavailable");
    if (m_node.exists) {
        check.summary = QStringLiteral("%1 is not a device node").arg(shown);
        check.cure << QStringLiteral("use the reader's serial line instead of %1: tarnavel-cli "
                                     "ports lists them")
                          .arg(m_found.report.port);
        holdBack(check.summary);
        return;
    }
    check.summary =
        m_named == m_nodePath
            ? QStringLiteral("%1 does not exist").arg(shown)
            : QStringLiteral("%1 leads nowhere (%2 does not exist)").arg(printable(m_named), shown);
    if (m_found.pseudoTerminal) {
        check.cure << (m_found.commPort > 0
                           ? QStringLiteral("start the emulator again: tarnavel-sim --com %1")
                                 .arg(m_found.commPort)
                           : QStringLiteral("start the emulator again: tarnavel-sim"));
        holdBack(check.summary);
        return;
    }
    const QList<SerialIdentity> adapters = usbSerialAdapters(m_tree);
    for (const SerialIdentity& adapter : adapters)
        check.details << QStringLiteral("plugged in: %1 (%2)")
                             .arg(printable(adapter.stableName()), adapter.label());
    const QList<AdapterWithoutLine> lineless = adaptersWithoutLine(m_tree);
    for (const AdapterWithoutLine& other : lineless)
        check.details << QStringLiteral("plugged in, but with no serial line: a %1 (USB %2:%3), "
                                        "its interface %4")
                             .arg(other.chip, other.vendorId, other.productId,
                                  other.driver.isEmpty()
                                      ? QStringLiteral("without a driver")
                                      : QStringLiteral("taken by %1").arg(other.driver));
    if (adapters.isEmpty() && !lineless.isEmpty()) {
        const AdapterWithoutLine& other = lineless.constFirst();
        // usbfs: a program drives the adapter itself, as brltty does with those it claims.
        if (other.driver == QLatin1String("usbfs"))
            check.cure << QStringLiteral("a program holds the adapter's USB interface: see "
                                         "brltty below");
        else if (other.driver.isEmpty() && !serialDriverModule(other.chip).isEmpty())
            check.cure << QStringLiteral("load its driver: sudo modprobe %1, then unplug the "
                                         "adapter and plug it in again")
                              .arg(serialDriverModule(other.chip));
        else
            check.cure << QStringLiteral("unplug the adapter and plug it in again");
    } else if (adapters.size() == 1)
        check.cure << linkCure(adapters.constFirst().stableName());
    else if (!adapters.isEmpty())
        check.cure << linkCure(QStringLiteral("NAME")) +
                          QStringLiteral(", NAME being the reader's adapter above");
    else if (!m_tree.look(QStringLiteral("/sys/class/tty")).exists)
        check.cure << QStringLiteral("plug the reader in and check its cable; tarnavel-cli ports "
                                     "lists the serial devices");
    else
        check.cure << QStringLiteral("plug the reader's adapter in and check its cable");
    holdBack(check.summary);
}

void Checker::checkAccess()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("access"), QStringLiteral("Access"));
    if (!deviceThere()) {
        check.verdict = Verdict::Skipped;
        check.summary = QStringLiteral("not checked: no device");
        return;
    }
    if (!m_self.known) {
        check.verdict = Verdict::Unknown;
        check.summary = QStringLiteral("not known: who this program runs as cannot be read "
                                       "(/proc/self/status)");
        return;
    }
    const QString groupName = m_tree.groupName(m_node.gid);
    const QString owner = QStringLiteral("%1 is %2:%3, mode %4")
                              .arg(printable(m_nodePath), m_tree.userName(m_node.uid), groupName)
                              .arg(uint(m_node.mode & 07777), 4, 8, QLatin1Char('0'));
    const QString me = QStringLiteral("you (%1)").arg(m_userName);
    const auto rw = [](mode_t mode, int shift) { return ((mode >> shift) & 06) == 06; };
    const bool inLogin = m_self.gid == m_node.gid || m_self.groups.contains(m_node.gid);
    const std::optional<unsigned> acl = m_tree.aclUserPermissions(m_nodePath, m_self.uid);
    if (m_self.uid == 0) {
        check.summary = owner + QStringLiteral("; you are root");
    } else if (m_node.uid == m_self.uid && rw(m_node.mode, 6)) {
        check.summary = owner + QStringLiteral("; it is yours");
    } else if (acl && (*acl & 06) == 06) {
        check.summary = owner + QStringLiteral("; its access list lets %1 read and write: "
                                               "udev's uaccess for the user at the desk")
                                    .arg(me);
    } else if (rw(m_node.mode, 3) && inLogin) {
        check.summary = owner + QStringLiteral("; %1 are in %2").arg(me, groupName);
    } else if (rw(m_node.mode, 0)) {
        check.summary = owner + QStringLiteral("; anyone may open it");
    } else if (rw(m_node.mode, 3) && m_tree.groupListsUser(m_node.gid, m_userName, m_self.uid)) {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("permission_denied");
        check.summary = owner + QStringLiteral("; %1 were added to %2 after this login began, "
                                               "so it does not count yet")
                                    .arg(me, groupName);
        check.cure << QStringLiteral("log out and in again (a new login has the group; "
                                     "\"newgrp %1\" gives it to one terminal only)")
                          .arg(groupName);
    } else {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("permission_denied");
        check.summary = owner + QStringLiteral("; %1 may not open it").arg(me);
        if (rw(m_node.mode, 3))
            check.cure << QStringLiteral("sudo adduser %1 %2, then log out and in again")
                              .arg(m_userName, groupName);
        if (m_identity.usb)
            check.cure << QStringLiteral("or, for the user at the desk alone: ") + udevCure();
    }
    if (check.verdict == Verdict::Fail && m_identity.tags.contains(QLatin1String("uaccess")))
        check.details << QStringLiteral("udev lets the user at the desk use it (uaccess), but not "
                                        "%1: is this a login at the desk, not one over ssh?")
                             .arg(me);
    if (check.verdict == Verdict::Ok && m_tree.isLive() && m_self.uid != 0 &&
        ::faccessat(AT_FDCWD, m_nodePath.toLocal8Bit().constData(), R_OK | W_OK, AT_EACCESS) != 0 &&
        errno == EACCES) {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("permission_denied");
        check.details << QStringLiteral("and yet the system refuses it (a security module such "
                                        "as AppArmor or SELinux?)");
    }
    if (check.verdict == Verdict::Fail)
        holdBack(check.summary);
}

void Checker::checkHolders()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("holders"), QStringLiteral("In use"));
    if (!deviceThere()) {
        check.verdict = Verdict::Skipped;
        check.summary = QStringLiteral("not checked: no device");
        return;
    }
    m_holders = findPortHolders(m_tree, m_nodePath, {m_found.device, m_named});
    const uid_t self = m_self.uid;
    for (const LockFile& lock : m_holders.locks) {
        if (lock.stale()) {
            const bool ours = lock.owner == self || self == 0;
            check.details << QStringLiteral("stale lock file %1: %2")
                                 .arg(printable(lock.path), staleLockReason(lock));
            check.cure << QStringLiteral("%1rm %2").arg(ours ? QString() : QStringLiteral("sudo "),
                                                        quoted(lock.path));
            // Our own is taken over when the port opens; another user's cannot be.
            if (!ours && check.verdict != Verdict::Fail) {
                check.verdict = Verdict::Fail;
                check.code = QStringLiteral("port_busy");
                check.summary = QStringLiteral("a stale lock file of another user stands in the "
                                               "way");
            } else if (check.verdict == Verdict::Ok) {
                check.verdict = Verdict::Warn;
                check.summary = QStringLiteral("a stale lock file is left; this program takes it "
                                               "over, other serial programs may not");
            }
        } else {
            check.details << QStringLiteral("lock file %1 of process %2%3")
                                 .arg(printable(lock.path))
                                 .arg(lock.pid)
                                 .arg(lock.claimedBy.isEmpty()
                                          ? QString()
                                          : QStringLiteral(" (%1)").arg(lock.claimedBy));
        }
    }
    if (!m_holders.holders.isEmpty()) {
        QStringList names;
        QStringList cure;
        for (const PortHolder& holder : m_holders.holders) {
            names << holderName(holder, self);
            cure << holderAdvice(holder, m_nodePath, m_found.commPort, self);
        }
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("port_busy");
        check.summary = QStringLiteral("%1 is held by %2")
                            .arg(printable(m_nodePath), names.join(QStringLiteral(" and ")));
        check.cure = cure + check.cure;
    } else if (check.verdict == Verdict::Ok) {
        check.summary = m_holders.procAvailable
                            ? QStringLiteral("no program has %1 open, and no lock file names it")
                                  .arg(printable(m_nodePath))
                            : QStringLiteral("no lock file names %1").arg(printable(m_nodePath));
    }
    if (!m_holders.procAvailable) {
        if (check.verdict == Verdict::Ok)
            check.verdict = Verdict::Unknown;
        check.details << QStringLiteral("not known: which programs have it open (/proc is not "
                                        "there)");
    } else if (m_holders.hidden > 0) {
        check.details << QStringLiteral("not seen: the open files of %1 of other users (sudo "
                                        "tarnavel-cli doctor sees them)")
                             .arg(m_holders.hidden == 1
                                      ? QStringLiteral("1 process")
                                      : QStringLiteral("%1 processes").arg(m_holders.hidden));
    }
    if (check.verdict == Verdict::Fail)
        holdBack(check.summary);
}

void Checker::checkModemManager()
{
    DoctorCheck& check =
        m_found.report.add(QStringLiteral("modemmanager"), QStringLiteral("ModemManager"));
    if (m_found.pseudoTerminal || (!deviceThere() && !m_identity.usb)) {
        check.verdict = Verdict::Skipped;
        check.summary = m_found.pseudoTerminal
                            ? QStringLiteral("not concerned: it leaves pseudo-terminals alone")
                            : QStringLiteral("not checked: no device");
        return;
    }
    const ProcessScan scan = processesNamed(m_tree, {QStringLiteral("ModemManager")});
    if (!scan.procAvailable) {
        check.verdict = Verdict::Unknown;
        check.summary = QStringLiteral("not known whether it runs (/proc is not there)");
        return;
    }
    if (scan.processes.isEmpty()) {
        check.summary = QStringLiteral("not running");
        return;
    }
    const QString running =
        QStringLiteral("running (process %1)").arg(scan.processes.constFirst().pid);
    for (const PortHolder& holder : m_holders.holders) {
        if (holder.kind == PortHolder::Kind::ModemManager) {
            check.verdict = Verdict::Fail;
            check.code = QStringLiteral("port_busy");
            check.summary = running + QStringLiteral(", and it has %1 open: it is probing it for "
                                                     "a modem")
                                          .arg(printable(m_nodePath));
            check.cure << udevCure();
            return;
        }
    }
    if (!m_identity.udev) {
        check.verdict = Verdict::Unknown;
        check.summary = running + QStringLiteral("; whether it leaves this adapter alone is not "
                                                 "known: udev's database has no record of it "
                                                 "(/run/udev/data)");
        return;
    }
    if (m_identity.properties.value(QStringLiteral("ID_MM_DEVICE_IGNORE")) == QLatin1String("1")) {
        check.summary = running + QStringLiteral(", and udev tells it to leave this adapter "
                                                 "alone (ID_MM_DEVICE_IGNORE)");
        return;
    }
    check.verdict = Verdict::Warn;
    check.summary = running + QStringLiteral(", and nothing tells it to leave this adapter alone: "
                                             "it may probe it when it appears and upset the "
                                             "first seconds of talk");
    check.cure << udevCure();
}

void Checker::checkBrltty()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("brltty"), QStringLiteral("brltty"));
    if (m_found.pseudoTerminal) {
        check.verdict = Verdict::Skipped;
        check.summary = QStringLiteral("not concerned: it leaves pseudo-terminals alone");
        return;
    }
    // The rules files of brltty, by name; one in /etc overrides the one of its name below.
    QStringList names;
    QStringList files;
    for (const QString& folder : kRuleFolders) {
        for (const QString& name : m_tree.list(folder, kMaxRuleFiles)) {
            if (!name.contains(QLatin1String("brltty")) ||
                !name.endsWith(QLatin1String(".rules")) || names.contains(name))
                continue;
            names << name;
            files << folder + QLatin1Char('/') + name;
        }
    }
    bool installed = !files.isEmpty();
    for (const char* program : {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty"})
        installed = installed || m_tree.look(QString::fromLatin1(program)).exists;
    if (!installed) {
        check.summary = QStringLiteral("not installed");
        return;
    }
    // The adapter's ids: of the device, or of an adapter that has lost its serial line.
    QList<QPair<QString, QString>> ids;
    if (m_identity.usb)
        ids << qMakePair(m_identity.vendorId.toLower(), m_identity.productId.toLower());
    const QList<AdapterWithoutLine> lineless = adaptersWithoutLine(m_tree);
    for (const AdapterWithoutLine& adapter : lineless)
        ids << qMakePair(adapter.vendorId.toLower(), adapter.productId.toLower());
    if (ids.isEmpty()) {
        check.verdict = deviceThere() ? Verdict::Ok : Verdict::Unknown;
        check.summary = deviceThere()
                            ? QStringLiteral("installed; the device is no USB adapter, which is "
                                             "all it takes")
                            : QStringLiteral("installed; whether it takes the adapter is not "
                                             "known, as no adapter is found");
        return;
    }
    QString claimer;
    QString claimed;
    for (const QString& file : std::as_const(files)) {
        const auto bytes = m_tree.readFile(file, SystemTree::kMaxTextFile);
        if (!bytes)
            continue; // a link to /dev/null, or empty: masked
        for (const QByteArray& raw : bytes->split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith(QLatin1Char('#')))
                continue;
            for (const auto& [vendor, product] : std::as_const(ids)) {
                // ENV{PRODUCT} writes the ids in hex without leading zeros.
                const QString productKey =
                    QStringLiteral("\"%1/%2/")
                        .arg(QString::number(vendor.toUInt(nullptr, 16), 16),
                             QString::number(product.toUInt(nullptr, 16), 16));
                const bool byProduct = line.contains(productKey, Qt::CaseInsensitive);
                const bool byAttributes =
                    line.contains(QStringLiteral("{idVendor}==\"%1\"").arg(vendor),
                                  Qt::CaseInsensitive) &&
                    line.contains(QStringLiteral("{idProduct}==\"%1\"").arg(product),
                                  Qt::CaseInsensitive);
                if ((byProduct || byAttributes) && claimer.isEmpty()) {
                    claimer = file;
                    claimed = vendor + QLatin1Char(':') + product;
                }
            }
        }
    }
    if (claimer.isEmpty()) {
        check.summary =
            QStringLiteral("installed; none of its rules claims this adapter (USB %1)")
                .arg(ids.constFirst().first + QLatin1Char(':') + ids.constFirst().second);
        return;
    }
    bool holds = false;
    for (const PortHolder& holder : m_holders.holders)
        holds = holds || holder.kind == PortHolder::Kind::Brltty;
    const bool taken = holds || !lineless.isEmpty();
    check.verdict = taken ? Verdict::Fail : Verdict::Warn;
    check.code = taken ? QStringLiteral("port_busy") : QString();
    check.summary = taken ? QStringLiteral("installed, and its rule %1 claims USB %2 adapters as "
                                           "braille displays: it has taken this one")
                                .arg(printable(claimer), claimed)
                          : QStringLiteral("installed, and its rule %1 claims USB %2 adapters as "
                                           "braille displays: it may take this one when it is "
                                           "plugged in again")
                                .arg(printable(claimer), claimed);
    const QString name = claimer.section(QLatin1Char('/'), -1);
    check.cure << QStringLiteral("if no braille display is used here: sudo apt-get remove brltty");
    check.cure << QStringLiteral("or keep its rule off: sudo ln -s /dev/null %1/%2, then unplug "
                                 "the adapter and plug it in again")
                      .arg(kRuleFolders.constFirst(), quoted(name));
}

void Checker::checkSettings()
{
    DoctorCheck& check = m_found.report.add(QStringLiteral("settings"), QStringLiteral("Settings"));
    const QString path = homeShort(m_target.storePath);
    const AppSettings& s = m_stored.settings;
    const QString given = QStringLiteral("COM%1, line settings %2, time-out %3 s")
                              .arg(s.CommPort)
                              .arg(lineSettingsText(s))
                              .arg(s.Timeout);
    switch (m_stored.state) {
    case regfile::FileState::Missing:
        check.summary =
            m_target.storePath.isEmpty()
                ? QStringLiteral("no settings file (HOME is not set): the defaults, "
                                 "%1")
                      .arg(given)
                : QStringLiteral("no settings file yet (%1): the defaults, %2").arg(path, given);
        break;
    case regfile::FileState::Regular:
        if (m_stored.error != 0) {
            check.verdict = Verdict::Fail;
            check.summary = QStringLiteral("%1 cannot be read: %2")
                                .arg(path, fsutil::errorText(m_stored.error));
            check.cure << QStringLiteral("chmod 600 %1").arg(quoted(m_target.storePath));
        } else if (!m_stored.parses) {
            check.verdict = Verdict::Fail;
            check.summary = QStringLiteral("%1 is no settings file this program can read; the "
                                           "window takes the defaults instead (%2); tarnavel-cli "
                                           "stops unless -p, -s and -t stand in for them")
                                .arg(path, given);
            check.cure << QStringLiteral("press OK in Settings > Options: the file is kept aside "
                                         "and a fresh one written");
        } else {
            check.summary = QStringLiteral("%1: %2").arg(path, given);
        }
        break;
    case regfile::FileState::TooLarge:
        check.verdict = Verdict::Fail;
        check.summary = QStringLiteral("%1 is larger than a settings file can be; the window "
                                       "takes the defaults instead (%2); tarnavel-cli stops "
                                       "unless -p, -s and -t stand in for them")
                            .arg(path, given);
        check.cure << QStringLiteral("press OK in Settings > Options: the file is kept aside and "
                                     "a fresh one written");
        break;
    case regfile::FileState::Unusable:
        check.verdict = Verdict::Fail;
        check.summary =
            QStringLiteral("%1 is not a regular file; the window takes the defaults instead "
                           "(%2); tarnavel-cli stops unless -p, -s and -t stand "
                           "in for them")
                .arg(path, given);
        check.cure << QStringLiteral("move it away: mv %1 %2")
                          .arg(quoted(m_target.storePath),
                               quoted(m_target.storePath + QStringLiteral(".old")));
        break;
    }
    if (check.verdict == Verdict::Fail)
        check.code = QStringLiteral("settings_unusable");
    if (!m_target.settingsOverride.isEmpty())
        check.details << QStringLiteral("-s %1 is used instead of the stored line settings")
                             .arg(printable(m_target.settingsOverride));
    if (m_target.commPort > 0 || !m_target.deviceOverride.isEmpty())
        check.details
            << QStringLiteral("-p %1 is used instead of the stored port").arg(m_found.report.port);
}

} // namespace

SystemFindings checkSystem(const SystemTree& tree, const DoctorTarget& target)
{
    return Checker(tree, target).run();
}

QString optionsWording(const QString& lineSettings)
{
    const QStringList parts = lineSettings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return QString();
    const QString parity = parts.at(1).toLower();
    const QString parityName = parity == QLatin1String("e")   ? QStringLiteral("Even")
                               : parity == QLatin1String("o") ? QStringLiteral("Odd")
                                                              : QStringLiteral("None");
    return QStringLiteral("Baud Rate %1, Parity %2, Data Bits %3, Stop Bits %4")
        .arg(parts.at(0), parityName, parts.at(2), parts.at(3));
}
