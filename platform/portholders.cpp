#include "platform/portholders.h"

#include "platform/fsutil.h"
#include "platform/systemtree.h"

#include <QRegularExpression>
#include <QSet>

namespace {

using fsutil::printable;
using fsutil::shellQuoted;

// The most of a lock file that is read: a process id and a few names.
constexpr qint64 kMaxLockFile = 1024;

const QStringList& terminalPrograms()
{
    static const QStringList names = {
        QStringLiteral("minicom"),
        QStringLiteral("picocom"),
        QStringLiteral("microcom"),
        QStringLiteral("screen"),
        QStringLiteral("tio"),
        QStringLiteral("cu"),
        QStringLiteral("gtkterm"),
        QStringLiteral("cutecom"),
        QStringLiteral("moserial"),
        QStringLiteral("putty"),
        QStringLiteral("kermit"),
        QStringLiteral("ckermit"),
        QStringLiteral("miniterm"),
        QStringLiteral("miniterm.py"),
        QStringLiteral("socat"),
        QStringLiteral("ser2net"),
        QStringLiteral("serial-monitor"),
    };
    return names;
}

// "1234" (UUCP), "1234\nprogram\nhost\n" (QLockFile) or four bytes of a binary int (old
// Kermit); the id and the program named, if any.
void parseLock(const QByteArray& bytes, LockFile* lock)
{
    const QList<QByteArray> lines = bytes.split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (ok && pid > 0) {
        lock->pid = pid;
        lock->claimedBy = printable(QString::fromUtf8(lines.value(1).trimmed()));
        return;
    }
    if (bytes.size() == 4) {
        const auto byte = [&](int i) { return qint64(uchar(bytes.at(i))); };
        const qint64 binary = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
        if (binary > 0 && binary < (qint64(1) << 31))
            lock->pid = binary;
    }
}

QString sudoFor(const PortHolder& holder, uid_t self)
{
    return holder.process.uidKnown && holder.process.uid != self && self != 0
               ? QStringLiteral("sudo ")
               : QString();
}

} // namespace

QString commandWord(const QString& path)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    return printable(plain.match(path).hasMatch() ? path : shellQuoted(path));
}

QString lockFileName(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

QStringList lockFolders()
{
    return {QStringLiteral("/run/lock"), QStringLiteral("/var/lock"), QStringLiteral("/tmp")};
}

PortHolder::Kind holderKind(const ProcessInfo& process)
{
    if (process.isNamed({QStringLiteral("quorvex-tarnavel")}))
        return PortHolder::Kind::Window;
    if (process.isNamed({QStringLiteral("tarnavel-cli")}))
        return PortHolder::Kind::CommandLine;
    if (process.isNamed({QStringLiteral("tarnavel-sim")}))
        return PortHolder::Kind::Emulator;
    if (process.isNamed({QStringLiteral("ModemManager")}))
        return PortHolder::Kind::ModemManager;
    if (process.isNamed({QStringLiteral("brltty")}))
        return PortHolder::Kind::Brltty;
    if (process.isNamed(terminalPrograms()))
        return PortHolder::Kind::Terminal;
    if (process.isNamed(
            {QStringLiteral("agetty"), QStringLiteral("getty"), QStringLiteral("mgetty")}))
        return PortHolder::Kind::Login;
    return PortHolder::Kind::Other;
}

HolderSearch findPortHolders(const SystemTree& tree, const QString& node,
                             const QStringList& aliases)
{
    HolderSearch search;
    const ProcessScan openers = processesWithOpen(tree, node);
    search.procAvailable = openers.procAvailable;
    search.complete = openers.complete;
    search.hidden = int(openers.hidden.size());
    const qint64 self = tree.selfPid();
    QSet<qint64> seen;
    for (const ProcessInfo& process : openers.processes) {
        PortHolder holder;
        holder.process = process;
        holder.kind = holderKind(process);
        holder.openSeen = true;
        holder.itself = process.pid == self;
        search.holders << holder;
        seen.insert(process.pid);
    }

    QStringList names;
    for (const QString& path : QStringList{node} + aliases) {
        const QString name = lockFileName(path);
        if (!path.isEmpty() && !names.contains(name))
            names << name;
    }
    QStringList folders;
    for (const QString& folder : lockFolders()) {
        const QString resolved = tree.resolve(folder);
        if (!resolved.isEmpty() && tree.look(resolved).isFolder() && !folders.contains(resolved))
            folders << resolved;
    }
    for (const QString& folder : std::as_const(folders)) {
        for (const QString& name : std::as_const(names)) {
            const QString path = folder + QLatin1Char('/') + name;
            const SystemTree::Node there = tree.look(path);
            if (!there.exists)
                continue;
            LockFile lock;
            lock.path = path;
            lock.owner = there.uid;
            // A link, a FIFO or a huge file is no lock file that anyone wrote honestly.
            if (const auto bytes =
                    there.isRegular() ? tree.readFile(path, kMaxLockFile) : std::nullopt)
                parseLock(*bytes, &lock);
            lock.alive = lock.pid > 0 && tree.processExists(lock.pid);
            // Where the claimant's open files can be seen, it must have the device open.
            if (lock.alive && openers.procAvailable && !seen.contains(lock.pid) &&
                !openers.hidden.contains(lock.pid))
                lock.pidReused = true;
            if (lock.alive && !lock.pidReused) {
                bool known = false;
                for (PortHolder& holder : search.holders) {
                    if (holder.process.pid == lock.pid) {
                        holder.lockFile = path;
                        known = true;
                    }
                }
                if (!known) {
                    PortHolder holder;
                    holder.process = processInfo(tree, lock.pid);
                    if (holder.process.pid == 0) {
                        // Hidden from /proc: the lock file's word is all there is.
                        holder.process.pid = lock.pid;
                        holder.process.program = lock.claimedBy;
                    }
                    holder.kind = holderKind(holder.process);
                    holder.itself = lock.pid == self;
                    holder.lockFile = path;
                    search.holders << holder;
                }
            }
            search.locks << lock;
        }
    }
    return search;
}

QString staleLockReason(const LockFile& lock)
{
    if (lock.pid <= 0)
        return QStringLiteral("it names no process");
    if (!lock.alive)
        return QStringLiteral("process %1 has ended").arg(lock.pid);
    return QStringLiteral("process %1 is another program now, without the device open")
        .arg(lock.pid);
}

QString holderName(const PortHolder& holder, uid_t self)
{
    const QString name = holder.process.shownName().isEmpty()
                             ? QStringLiteral("a program")
                             : printable(holder.process.shownName());
    QString text = QStringLiteral("%1 (process %2").arg(name).arg(holder.process.pid);
    if (holder.process.uidKnown && holder.process.uid != self)
        text += QStringLiteral(", user %1").arg(fsutil::userName(holder.process.uid));
    return text + QLatin1Char(')');
}

QString holderAdvice(const PortHolder& holder, const QString& node, int commPort, uid_t self)
{
    const qint64 pid = holder.process.pid;
    const QString kill = QStringLiteral("%1kill %2").arg(sudoFor(holder, self)).arg(pid);
    const QString number = commPort > 0 ? QString::number(commPort) : QStringLiteral("N");
    if (holder.itself)
        return QStringLiteral("it is this program itself, which has the port open already");
    switch (holder.kind) {
    case PortHolder::Kind::Window:
        return QStringLiteral("it is Quorvex Tarnavel's window: use the reader there, or close "
                              "that window first");
    case PortHolder::Kind::CommandLine:
        return QStringLiteral("it is the command line tarnavel-cli: wait for it to end, or stop "
                              "it: %1")
            .arg(kill);
    case PortHolder::Kind::Emulator:
        return QStringLiteral("it is the reader emulator tarnavel-sim: stop it (%1) or use "
                              "another COM number")
            .arg(kill);
    case PortHolder::Kind::ModemManager:
        return QStringLiteral("ModemManager probes serial ports for modems; make it leave this "
                              "adapter alone: sudo tarnavel-cli ports udev %1 %2 --install (or "
                              "for now: sudo systemctl stop ModemManager)")
            .arg(number, commandWord(node));
    case PortHolder::Kind::Brltty:
        return QStringLiteral("brltty, the braille display service, takes some USB serial "
                              "adapters for braille displays; if no braille display is used "
                              "here: sudo apt-get remove brltty");
    case PortHolder::Kind::Terminal:
        return QStringLiteral("a terminal program has the line: quit it, or end it: %1").arg(kill);
    case PortHolder::Kind::Login:
        return QStringLiteral("a login prompt runs on this line: sudo systemctl stop "
                              "serial-getty@%1.service")
            .arg(printable(node.section(QLatin1Char('/'), -1)));
    case PortHolder::Kind::Other:
        break;
    }
    return QStringLiteral("end it if it is not needed: %1").arg(kill);
}

QString busyHolderText(const SystemTree& tree, const QString& device, int commPort)
{
    const QString node = tree.resolve(device);
    const HolderSearch search = findPortHolders(tree, node.isEmpty() ? device : node, {device});
    const uid_t self = tree.self().uid;
    QStringList told;
    for (const PortHolder& holder : search.holders)
        told << QStringLiteral("%1: %2").arg(
            holderName(holder, self),
            holderAdvice(holder, node.isEmpty() ? device : node, commPort, self));
    if (!told.isEmpty())
        return QStringLiteral("It is held by %1.").arg(told.join(QStringLiteral("; and by ")));
    // A stale lock file of another user cannot be taken over: it stands in the way by itself.
    for (const LockFile& lock : search.locks) {
        if (lock.stale())
            return QStringLiteral("A stale lock file stands in the way: %1 (%2). Remove it: "
                                  "%3rm %4")
                .arg(printable(lock.path), staleLockReason(lock),
                     lock.owner == self || self == 0 ? QString() : QStringLiteral("sudo "),
                     commandWord(lock.path));
    }
    QString text = QStringLiteral("Another program holds the port; close it and try again.");
    if (search.hidden > 0)
        text += QStringLiteral(" Which one cannot be seen from here (other users' programs): "
                               "sudo tarnavel-cli doctor names it.");
    return text;
}
