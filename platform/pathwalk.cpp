#include "platform/pathwalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pathwalk {

namespace {

using fsutil::printable;
using fsutil::shellQuoted;

// As many links as the kernel follows for one path.
constexpr int kMaxLinks = 40;

Folder refused(int number, const QString& text)
{
    Folder folder;
    folder.errorNumber = number;
    folder.error = text;
    return folder;
}

Folder missing()
{
    Folder folder;
    folder.missing = true;
    return folder;
}

QString below(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Where fd really is, for a link that says where to go from there; at when the system does not
// say.
QString realPathOf(int fd, const QString& at)
{
    const QString real = fsutil::readLink(QStringLiteral("/proc/self/fd/%1").arg(fd));
    return real.startsWith(QLatin1Char('/')) ? real : at;
}

// A folder anyone may write, but with the sticky bit, whose owner is the user or root: nobody
// else can remove or rename what the user (or root) owns in it (/tmp is one).
bool isStickyPassage(const struct stat& st)
{
    return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
           (st.st_uid == ::geteuid() || st.st_uid == 0);
}

bool ownedBySelfOrRoot(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

QString stickyRefusal(const QString& folder, const struct stat& st, const QString& entry,
                      uid_t owner)
{
    return QStringLiteral("%1 may be written by others (mode %2); in it only what is yours or "
                          "root's is safe, and %3 belongs to %4. Fix: choose a configuration "
                          "folder of your own (XDG_CONFIG_HOME)")
        .arg(printable(folder), fsutil::octalMode(st.st_mode), printable(entry),
             fsutil::ownerText(owner));
}

Folder walk(const QString& path, const Options& options, int* links)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean))
        return refused(EINVAL, QStringLiteral("%1 is not an absolute path").arg(printable(clean)));
    QString at = startOf(clean);
    fsutil::Fd fd(::open(QFile::encodeName(at).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A home that is not there yet is made like any folder below the root.
    if (!fd.isValid() && errno == ENOENT && options.make && at != QLatin1String("/")) {
        at = QStringLiteral("/");
        fd = fsutil::Fd(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd.isValid()) {
        const int failure = errno;
        if (failure == ENOENT && !options.make)
            return missing();
        return refused(
            failure,
            QStringLiteral("cannot read %1: %2").arg(printable(at), fsutil::errorText(failure)));
    }
    Folder result;
    if (::fstat(fd.get(), &result.st) != 0)
        return refused(errno, QStringLiteral("cannot look at the folder %1: %2")
                                  .arg(printable(at), fsutil::errorText(errno)));
    const QStringList names = clean.mid(at.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        const QByteArray local = QFile::encodeName(name);
        const QString next = below(at, name);
        // The folder is judged as what leads to the next one: whoever may change it decides
        // what stands there.
        bool sticky = false;
        const struct stat passage = result.st;
        if (options.judge) {
            const QString reason = fsutil::untrustedReason(result.st, at, fsutil::Role::Passage);
            sticky = !reason.isEmpty() && isStickyPassage(result.st);
            if (!reason.isEmpty() && !sticky)
                return refused(EPERM, reason);
        }
        if (options.make && fsutil::sys::mkdirat(fd.get(), local.constData(), 0700) != 0 &&
            errno != EEXIST) {
            const int failure = errno;
            return refused(failure, QStringLiteral("cannot make the folder %1: %2")
                                        .arg(printable(next), fsutil::errorText(failure)));
        }
        fsutil::Fd child(
            ::openat(fd.get(), local.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (child.isValid()) {
            if (::fstat(child.get(), &result.st) != 0)
                return refused(errno, QStringLiteral("cannot look at the folder %1: %2")
                                          .arg(printable(next), fsutil::errorText(errno)));
            if (sticky && !ownedBySelfOrRoot(result.st.st_uid))
                return refused(EPERM, stickyRefusal(at, passage, next, result.st.st_uid));
            at = next;
            fd = std::move(child);
            continue;
        }
        const int failure = errno;
        struct stat there {
        };
        if (::fstatat(fd.get(), local.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && !options.make)
                return missing();
            return refused(failure, QStringLiteral("cannot open the folder %1: %2")
                                        .arg(printable(next), fsutil::errorText(failure)));
        }
        if (!S_ISLNK(there.st_mode)) {
            if (!S_ISDIR(there.st_mode))
                return refused(
                    ENOTDIR, QStringLiteral("%1 exists and is not a folder").arg(printable(next)));
            const QString fix =
                there.st_uid == ::geteuid()
                    ? QStringLiteral("chmod u+rwx %1").arg(printable(shellQuoted(next)))
                    : QStringLiteral("it is %1's; choose a configuration folder of your own "
                                     "(XDG_CONFIG_HOME)")
                          .arg(fsutil::ownerText(there.st_uid));
            return refused(failure, QStringLiteral("cannot read %1: %2. Fix: %3")
                                        .arg(printable(next), fsutil::errorText(failure), fix));
        }
        // A link: its owner decides where it leads, and so does whoever may change the folders
        // on the way to its target, which are walked to from their own start.
        if (options.judge) {
            if (sticky && !ownedBySelfOrRoot(there.st_uid))
                return refused(EPERM, stickyRefusal(at, passage, next, there.st_uid));
            if (const QString reason = fsutil::untrustedReason(there, next); !reason.isEmpty())
                return refused(EPERM, reason);
        }
        if (++*links > kMaxLinks)
            return refused(ELOOP,
                           QStringLiteral("%1: %2").arg(printable(next), fsutil::errorText(ELOOP)));
        const QString target = fsutil::readLinkAt(fd.get(), name);
        if (target.isEmpty())
            return refused(EINVAL, QStringLiteral("cannot read the link %1").arg(printable(next)));
        const QString to =
            QDir::isAbsolutePath(target) ? target : below(realPathOf(fd.get(), at), target);
        Folder reached = walk(to, options, links);
        if (!reached.isOpen())
            return reached;
        result.st = reached.st;
        result.throughLink = true;
        at = reached.path;
        fd = std::move(reached.fd);
    }
    result.fd = std::move(fd);
    result.path = at;
    return result;
}

} // namespace

QString startOf(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString home = QDir::cleanPath(qEnvironmentVariable("HOME"));
    if (!QDir::isAbsolutePath(home))
        return QStringLiteral("/");
    // The home as written, or where it really is (a link target once walked to).
    for (const QString& start : {home, QFileInfo(home).canonicalFilePath()}) {
        if (start.isEmpty())
            continue;
        if (clean == start || start == QLatin1String("/") ||
            clean.startsWith(start + QLatin1Char('/')))
            return start;
    }
    return QStringLiteral("/");
}

Folder open(const QString& path, const Options& options)
{
    int links = 0;
    return walk(path, options, &links);
}

} // namespace pathwalk
