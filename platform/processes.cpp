#include "platform/processes.h"

#include "platform/systemtree.h"

#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

#include <functional>

namespace {

// Bounds of a look through /proc: a machine with more than this is not looked at further.
constexpr int kMaxProcesses = 1 << 16;
constexpr int kMaxDescriptors = 1 << 14;
constexpr qint64 kMaxCommandLine = 4096;

bool isNumber(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Calls look for every process; false from it stops early.
ProcessScan eachProcess(const SystemTree& tree, const std::function<bool(qint64)>& look)
{
    ProcessScan scan;
    int error = 0;
    bool truncated = false;
    const QStringList names = tree.list(QStringLiteral("/proc"), kMaxProcesses, &error, &truncated);
    scan.procAvailable = error == 0 && names.contains(QLatin1String("self"));
    scan.complete = scan.procAvailable && !truncated;
    for (const QString& name : names) {
        if (isNumber(name) && !look(name.toLongLong()))
            break;
    }
    return scan;
}

} // namespace

QString ProcessInfo::shownName() const
{
    return program.isEmpty() ? name : program;
}

bool ProcessInfo::isNamed(const QStringList& names) const
{
    for (const QString& known : names) {
        if ((!name.isEmpty() && name == known.left(15)) || program == known || script == known)
            return true;
    }
    return false;
}

ProcessInfo processInfo(const SystemTree& tree, qint64 pid)
{
    ProcessInfo info;
    const QString folder = QStringLiteral("/proc/%1").arg(pid);
    const auto comm = tree.readFile(folder + QStringLiteral("/comm"), 64);
    if (!comm)
        return info;
    info.pid = pid;
    info.name = QString::fromUtf8(comm->trimmed());
    if (const auto line = tree.readFile(folder + QStringLiteral("/cmdline"), kMaxCommandLine)) {
        const QList<QByteArray> args = line->split('\0');
        info.program = QFileInfo(QString::fromUtf8(args.value(0))).fileName();
        info.script = QFileInfo(QString::fromUtf8(args.value(1))).fileName();
    }
    if (const auto status = tree.readFile(folder + QStringLiteral("/status"), 64 * 1024)) {
        for (const QByteArray& entry : status->split('\n')) {
            if (!entry.startsWith("Uid:"))
                continue;
            const QList<QByteArray> ids = entry.mid(4).simplified().split(' ');
            bool ok = false;
            const uint uid = ids.value(1).toUInt(&ok);
            info.uidKnown = ok;
            info.uid = uid;
            break;
        }
    }
    return info;
}

ProcessScan processesNamed(const SystemTree& tree, const QStringList& names)
{
    QList<ProcessInfo> found;
    ProcessScan scan = eachProcess(tree, [&](qint64 pid) {
        const ProcessInfo info = processInfo(tree, pid);
        if (info.pid && info.isNamed(names))
            found << info;
        return true;
    });
    scan.processes = found;
    return scan;
}

ProcessScan processesWithOpen(const SystemTree& tree, const QString& node)
{
    // On this machine a descriptor may name the device by another path (another mount
    // namespace, a name since replaced): the device number decides. In a prepared tree the
    // links' text does.
    dev_t device = 0;
    if (tree.isLive()) {
        struct stat st {
        };
        if (::stat(node.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode))
            device = st.st_rdev;
    }
    QList<ProcessInfo> found;
    QSet<qint64> hidden;
    bool complete = true;
    int descriptors = 0;
    ProcessScan scan = eachProcess(tree, [&](qint64 pid) {
        const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
        int error = 0;
        bool truncated = false;
        const QStringList fds = tree.list(folder, kMaxDescriptors, &error, &truncated);
        if (error != 0) {
            // Gone meanwhile, or another user's.
            if (tree.processExists(pid))
                hidden.insert(pid);
            return true;
        }
        complete = complete && !truncated;
        for (const QString& fd : fds) {
            const QString path = folder + QLatin1Char('/') + fd;
            const QString target = tree.readLink(path);
            bool open = target == node;
            // Only a device's link is followed: a file on a hung network mount would hang stat.
            if (!open && device != 0 && target.startsWith(QLatin1String("/dev/"))) {
                struct stat st {
                };
                open = ::stat(tree.hostPath(path).toLocal8Bit().constData(), &st) == 0 &&
                       S_ISCHR(st.st_mode) && st.st_rdev == device;
            }
            if (open) {
                const ProcessInfo info = processInfo(tree, pid);
                if (info.pid)
                    found << info;
                break;
            }
        }
        descriptors += int(fds.size());
        // A bound on the whole look, so that a machine with a great many processes cannot
        // hold it up.
        if (descriptors > kMaxProcesses * 16) {
            complete = false;
            return false;
        }
        return true;
    });
    scan.processes = found;
    scan.hidden = hidden;
    scan.complete = scan.complete && complete;
    return scan;
}
