#include "platform/systemtree.h"

#include "platform/fsutil.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

QStringList parts(const QString& path)
{
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString joined(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? QLatin1Char('/') + name
                                        : folder + QLatin1Char('/') + name;
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The numbers in a "Name:\t1\t2 3" line of /proc/<pid>/status.
QList<uint> statusNumbers(const QByteArray& status, const QByteArray& field)
{
    QList<uint> numbers;
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith(field))
            continue;
        for (const QByteArray& word : line.mid(field.size()).simplified().split(' ')) {
            bool ok = false;
            const uint number = word.toUInt(&ok);
            if (ok)
                numbers << number;
        }
        break;
    }
    return numbers;
}

} // namespace

bool SystemTree::Node::isLink() const
{
    return exists && S_ISLNK(mode);
}

bool SystemTree::Node::isFolder() const
{
    return exists && S_ISDIR(mode);
}

bool SystemTree::Node::isRegular() const
{
    return exists && S_ISREG(mode);
}

SystemTree SystemTree::live()
{
    return SystemTree(QString(), true);
}

SystemTree SystemTree::prepared(const QString& root)
{
    return SystemTree(QDir::cleanPath(QDir(root).absolutePath()), false);
}

QString SystemTree::hostPath(const QString& path) const
{
    const QString clean = QDir::cleanPath(QLatin1Char('/') + path);
    return m_live ? clean : m_root + (clean == QLatin1String("/") ? QString() : clean);
}

SystemTree::Node SystemTree::look(const QString& path) const
{
    Node node;
    struct stat st {
    };
    if (::lstat(QFile::encodeName(hostPath(path)).constData(), &st) != 0) {
        node.error = errno;
        return node;
    }
    node.exists = true;
    node.mode = st.st_mode;
    node.uid = st.st_uid;
    node.gid = st.st_gid;
    node.rdev = st.st_rdev;
    node.size = st.st_size;
    return node;
}

bool SystemTree::isDeviceNode(const Node& node) const
{
    return node.exists && (S_ISCHR(node.mode) || (!m_live && S_ISREG(node.mode)));
}

QString SystemTree::readLink(const QString& path) const
{
    return fsutil::readLink(hostPath(path));
}

QString SystemTree::resolve(const QString& path, int* error) const
{
    QStringList todo = parts(path);
    QString at = QStringLiteral("/");
    int links = 0;
    while (!todo.isEmpty()) {
        const QString part = todo.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            at = parentOf(at);
            continue;
        }
        const QString next = joined(at, part);
        const Node node = look(next);
        if (!node.exists) {
            if (error)
                *error = node.error;
            // Only the last part may be missing for the path to be named at all.
            return todo.isEmpty() ? next : QString();
        }
        if (!node.isLink()) {
            at = next;
            continue;
        }
        const QString target = readLink(next);
        if (++links > kMaxLinks || target.isEmpty()) {
            if (error)
                *error = target.isEmpty() ? EINVAL : ELOOP;
            return QString();
        }
        todo = parts(target) + todo;
        if (target.startsWith(QLatin1Char('/')))
            at = QStringLiteral("/");
    }
    if (error)
        *error = 0;
    return at;
}

std::optional<QByteArray> SystemTree::readFile(const QString& path, qint64 maxBytes, int* error,
                                               bool* truncated) const
{
    const auto fail = [error](int number) -> std::optional<QByteArray> {
        if (error)
            *error = number;
        return std::nullopt;
    };
    int resolveError = 0;
    const QString resolved = resolve(path, &resolveError);
    if (resolved.isEmpty() || resolveError != 0)
        return fail(resolveError ? resolveError : ENOENT);
    const QByteArray host = QFile::encodeName(hostPath(resolved));
    // Looked at before it is opened: opening a FIFO could wait for ever, a device could act.
    struct stat before {
    };
    if (::lstat(host.constData(), &before) != 0)
        return fail(errno);
    if (!S_ISREG(before.st_mode))
        return fail(S_ISDIR(before.st_mode) ? EISDIR : EINVAL);
    const fsutil::Fd fd(
        ::open(host.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {
    };
    if (!fd.isValid())
        return fail(errno);
    if (::fstat(fd.get(), &opened) != 0 || opened.st_dev != before.st_dev ||
        opened.st_ino != before.st_ino || !S_ISREG(opened.st_mode))
        return fail(EINVAL);
    // /proc and /sys files say they are empty: their size means nothing, the bound does.
    QByteArray bytes;
    char chunk[4096];
    while (bytes.size() <= maxBytes) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        if (n == 0)
            break;
        bytes.append(chunk, n);
    }
    if (truncated)
        *truncated = bytes.size() > maxBytes;
    bytes.truncate(maxBytes);
    if (error)
        *error = 0;
    return bytes;
}

QStringList SystemTree::list(const QString& path, int maxEntries, int* error, bool* truncated) const
{
    QStringList names;
    if (truncated)
        *truncated = false;
    int resolveError = 0;
    const QString resolved = resolve(path, &resolveError);
    const fsutil::Fd fd(resolved.isEmpty() || resolveError
                            ? -1
                            : ::open(QFile::encodeName(hostPath(resolved)).constData(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid()) {
        if (error)
            *error = resolveError ? resolveError : (resolved.isEmpty() ? ENOENT : errno);
        return names;
    }
    const int copy = ::dup(fd.get());
    DIR* folder = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!folder) {
        if (error)
            *error = errno;
        if (copy >= 0)
            ::close(copy);
        return names;
    }
    errno = 0;
    while (const dirent* item = ::readdir(folder)) {
        const QString name = QFile::decodeName(item->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (names.size() >= maxEntries) {
            if (truncated)
                *truncated = true;
            break;
        }
        names << name;
    }
    if (error)
        *error = errno;
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

SystemTree::Identity SystemTree::self() const
{
    Identity identity;
    if (const auto status = readFile(QStringLiteral("/proc/self/status"), 64 * 1024)) {
        const QList<uint> uids = statusNumbers(*status, "Uid:");
        const QList<uint> gids = statusNumbers(*status, "Gid:");
        // The effective ids are the ones files are opened with.
        if (uids.size() >= 2 && gids.size() >= 2) {
            identity.known = true;
            identity.uid = uids.at(1);
            identity.gid = gids.at(1);
            for (const uint group : statusNumbers(*status, "Groups:"))
                identity.groups << gid_t(group);
            return identity;
        }
    }
    if (!m_live)
        return identity;
    identity.known = true;
    identity.uid = ::geteuid();
    identity.gid = ::getegid();
    gid_t groups[NGROUPS_MAX];
    const int count = ::getgroups(NGROUPS_MAX, groups);
    for (int i = 0; i < count; ++i)
        identity.groups << groups[i];
    return identity;
}

qint64 SystemTree::selfPid() const
{
    if (m_live)
        return ::getpid();
    return readLink(QStringLiteral("/proc/self")).toLongLong();
}

bool SystemTree::processExists(qint64 pid) const
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    // Another user's process may be hidden from /proc (hidepid); the kernel still knows it.
    if (m_live)
        return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
    return look(QStringLiteral("/proc/%1").arg(pid)).isFolder();
}

QList<SystemTree::Account> SystemTree::accounts(const QString& file) const
{
    QList<Account> found;
    const auto bytes = readFile(file, kMaxTextFile);
    if (!bytes)
        return found;
    const bool groups = file.endsWith(QLatin1String("group"));
    for (const QByteArray& line : bytes->split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 4 || line.startsWith('#'))
            continue;
        Account account;
        account.name = QString::fromUtf8(fields.at(0));
        bool ok = false;
        account.id = fields.at(2).toUInt(&ok);
        if (!ok || account.name.isEmpty())
            continue;
        if (groups) {
            for (const QByteArray& member : fields.at(3).split(',')) {
                if (!member.trimmed().isEmpty())
                    account.members << QString::fromUtf8(member.trimmed());
            }
        } else {
            account.primaryGroup = fields.at(3).toUInt();
        }
        found << account;
    }
    return found;
}

QString SystemTree::userName(uid_t uid) const
{
    for (const Account& account : accounts(QStringLiteral("/etc/passwd"))) {
        if (account.id == uid)
            return account.name;
    }
    return m_live ? fsutil::userName(uid) : QString::number(uid);
}

QString SystemTree::groupName(gid_t gid) const
{
    for (const Account& account : accounts(QStringLiteral("/etc/group"))) {
        if (account.id == gid)
            return account.name;
    }
    if (m_live) {
        group entry{};
        group* found = nullptr;
        char buffer[16384];
        if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
            return QString::fromLocal8Bit(found->gr_name);
    }
    return QString::number(gid);
}

bool SystemTree::groupListsUser(gid_t gid, const QString& user, uid_t uid) const
{
    for (const Account& account : accounts(QStringLiteral("/etc/passwd"))) {
        if (account.id == uid && account.primaryGroup == gid)
            return true;
    }
    for (const Account& account : accounts(QStringLiteral("/etc/group"))) {
        if (account.id == gid && account.members.contains(user))
            return true;
    }
    if (!m_live)
        return false;
    // Users and groups that come from a directory service rather than the files.
    const QByteArray name = user.toLocal8Bit();
    int count = 256;
    QList<gid_t> groups(count);
    if (::getgrouplist(name.constData(), gid_t(-1), groups.data(), &count) < 0) {
        // count now says how many there are.
        groups.resize(qBound(1, count, NGROUPS_MAX));
        count = int(groups.size());
        if (::getgrouplist(name.constData(), gid_t(-1), groups.data(), &count) < 0)
            return false;
    }
    groups.resize(count);
    return groups.contains(gid);
}

std::optional<unsigned> SystemTree::aclUserPermissions(const QString& path, uid_t uid) const
{
    int resolveError = 0;
    const QString resolved = resolve(path, &resolveError);
    if (resolved.isEmpty() || resolveError)
        return std::nullopt;
    // The kernel's extended attribute: a version word, then entries of tag, permissions, id.
    unsigned char data[4 + 8 * 64];
    const ssize_t size = ::lgetxattr(QFile::encodeName(hostPath(resolved)).constData(),
                                     "system.posix_acl_access", data, sizeof data);
    if (size < 4 || (size - 4) % 8 != 0)
        return std::nullopt;
    const auto word16 = [&](ssize_t at) { return unsigned(data[at] | data[at + 1] << 8); };
    const auto word32 = [&](ssize_t at) {
        return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
               uint32_t(data[at + 3]) << 24;
    };
    if (word32(0) != 2)
        return std::nullopt;
    constexpr unsigned kUser = 0x02;
    constexpr unsigned kMask = 0x10;
    std::optional<unsigned> granted;
    unsigned mask = 07;
    for (ssize_t at = 4; at < size; at += 8) {
        const unsigned tag = word16(at);
        if (tag == kUser && word32(at + 4) == uid)
            granted = word16(at + 2) & 07;
        else if (tag == kMask)
            mask = word16(at + 2) & 07;
    }
    if (granted)
        return *granted & mask;
    return std::nullopt;
}
