#include "platform/fsutil.h"

#include "platform/accounts.h"
#include "platform/pathwalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace fsutil {

Fd::~Fd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int Fd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// A folder that could not be had: *error says why, errno says it to callers that sort causes.
Fd noFolder(QString* error, int number, const QString& text)
{
    setError(error, text);
    errno = number;
    return Fd();
}

const FaultHook* g_faults = nullptr;

// 0 when the step may run; otherwise errno is set and the step fails.
int fault(Step step, const char* name)
{
    if (!g_faults)
        return 0;
    const int number = (*g_faults)(step, QByteArray(name));
    if (number != 0)
        errno = number;
    return number;
}

} // namespace

ScopedFaults::ScopedFaults(FaultHook hook)
{
    g_faults = new FaultHook(std::move(hook));
}

ScopedFaults::~ScopedFaults()
{
    delete g_faults;
    g_faults = nullptr;
}

namespace sys {

int mkdirat(int dirfd, const char* name, mode_t mode)
{
    return fault(Step::MakeFolder, name) ? -1 : ::mkdirat(dirfd, name, mode);
}

int fchmod(int fd, mode_t mode)
{
    return fault(Step::Chmod, "") ? -1 : ::fchmod(fd, mode);
}

int symlinkat(const char* target, int dirfd, const char* name)
{
    return fault(Step::MakeLink, name) ? -1 : ::symlinkat(target, dirfd, name);
}

int renameat(int fromDirfd, const char* from, int toDirfd, const char* to)
{
    return fault(Step::Rename, to) ? -1 : ::renameat(fromDirfd, from, toDirfd, to);
}

int openat(int dirfd, const char* name, int flags, mode_t mode)
{
    if ((flags & O_CREAT) && fault(Step::Create, name))
        return -1;
    return ::openat(dirfd, name, flags, mode);
}

ssize_t write(int fd, const void* bytes, size_t count)
{
    return fault(Step::Write, "") ? -1 : ::write(fd, bytes, count);
}

int unlinkat(int dirfd, const char* name, int flags)
{
    return fault(Step::Remove, name) ? -1 : ::unlinkat(dirfd, name, flags);
}

} // namespace sys

QString octalMode(mode_t mode)
{
    return QStringLiteral("%1").arg(uint(mode & 07777), 4, 8, QLatin1Char('0'));
}

QString errorText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

QString userName(uid_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

QString ownerText(uid_t uid)
{
    const QString name = userName(uid);
    return name == QString::number(uid) ? QStringLiteral("uid %1").arg(uid)
                                        : QStringLiteral("%1 (uid %2)").arg(name).arg(uid);
}

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            shown += QLatin1String("\\\\");
        else if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            shown += QStringLiteral("\\%1").arg(uint(code), 3, 8, QLatin1Char('0'));
        else if ((code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069))
            shown += QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString untrustedReason(const struct stat& st, const QString& path, Role role)
{
    const uid_t me = ::geteuid();
    const QString shown = printable(path);
    const QString quoted = printable(shellQuoted(path));
    const bool passage = role == Role::Passage;
    if (st.st_uid != me && st.st_uid != 0) {
        const QString fix = !S_ISDIR(st.st_mode) ? QStringLiteral("rm %1").arg(quoted)
                            : passage
                                ? QStringLiteral("sudo chown %1 %2").arg(userName(me), quoted)
                                : QStringLiteral("sudo chown -R %1 %2").arg(userName(me), quoted);
        return QStringLiteral("%1 belongs to %2, not to you (%3), so another user decides "
                              "what it leads to. Fix: %4")
            .arg(shown, ownerText(st.st_uid), userName(me), fix);
    }
    if (S_ISLNK(st.st_mode) || S_ISCHR(st.st_mode) || !(st.st_mode & (S_IWGRP | S_IWOTH)))
        return QString();
    QStringList others;
    if (!(st.st_mode & S_IWOTH) && isPrivateGroup(st.st_gid, me, &others))
        return QString();
    const QString sudo = st.st_uid == me ? QString() : QStringLiteral("sudo ");
    const QString fix = S_ISDIR(st.st_mode) && !passage ? QStringLiteral("chmod 700 ")
                                                        : QStringLiteral("chmod go-w ");
    if (st.st_mode & S_IWOTH)
        return QStringLiteral("%1 can be changed by group or others (mode %2), so another user "
                              "decides what it leads to. Fix: %3")
            .arg(shown, octalMode(st.st_mode), sudo + fix + quoted);
    const std::optional<Accounts::Group> group = Accounts::current().group(st.st_gid);
    const QString groupName = group ? printable(group->name) : QString::number(st.st_gid);
    const QString members =
        others.isEmpty() ? QStringLiteral("which is not your own private group")
                         : QStringLiteral("which %1 belong(s) to as well")
                               .arg(printable(others.mid(0, 5).join(QLatin1String(", "))) +
                                    (others.size() > 5 ? QStringLiteral(", ...") : QString()));
    return QStringLiteral("%1 can be changed by its group %2 (mode %3), %4, so another user "
                          "decides what it leads to. Fix: %5")
        .arg(shown, groupName, octalMode(st.st_mode), members, sudo + fix + quoted);
}

QString readLinkAt(int dirfd, const QString& name)
{
    char target[PATH_MAX + 1];
    const ssize_t n =
        ::readlinkat(dirfd, QFile::encodeName(name).constData(), target, sizeof target);
    if (n <= 0 || size_t(n) >= sizeof target)
        return QString();
    return QFile::decodeName(QByteArray(target, int(n)));
}

namespace {

// The folder fd (shown as shown) is the user's, and becomes 0700 when it is ours to change.
Fd keptPrivate(Fd fd, const QString& shown, bool throughLink, QString* error)
{
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0) {
        const int failure = errno;
        return noFolder(error, failure,
                        QStringLiteral("cannot look at the folder %1: %2")
                            .arg(printable(shown), errorText(failure)));
    }
    if (st.st_uid != ::geteuid()) {
        return noFolder(error, EPERM,
                        QStringLiteral("%1 belongs to %2, not to you (%3): not using it. Fix: "
                                       "sudo chown -R %3 %4")
                            .arg(printable(shown), ownerText(st.st_uid), userName(::geteuid()),
                                 printable(shellQuoted(shown))));
    }
    // A folder reached through a link is the link target's, say a folder of dotfiles: its mode
    // is left as it is. A file system that keeps modes fixed (FAT, some network homes) refuses
    // the change; the folder is still the user's own, so it is used as it is, and whoever needs
    // it private judges its mode themselves.
    if (!throughLink && (st.st_mode & 07777) != 0700)
        sys::fchmod(fd.get(), 0700);
    return fd;
}

} // namespace

Fd openPrivateFolderAt(int dirfd, const QString& name, const QString& shown, FollowLink follow,
                       QString* error, bool throughLink)
{
    const QByteArray local = QFile::encodeName(name);
    if (sys::mkdirat(dirfd, local.constData(), 0700) != 0 && errno != EEXIST) {
        const int made = errno;
        struct stat there {
        };
        if (::fstatat(dirfd, local.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            return noFolder(error, made,
                            QStringLiteral("cannot make the folder %1: %2")
                                .arg(printable(shown), errorText(made)));
        }
    }
    Fd fd(::openat(dirfd, local.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.isValid())
        return keptPrivate(std::move(fd), shown, throughLink, error);
    const int failure = errno;
    struct stat there {
    };
    const bool link = ::fstatat(dirfd, local.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISLNK(there.st_mode);
    if (follow == FollowLink::No && link)
        return noFolder(error, ELOOP,
                        QStringLiteral("%1 is a symbolic link, not a folder of its own: not "
                                       "following it. Fix: rm %2 (a private folder is then "
                                       "made in its place)")
                            .arg(printable(shown), printable(shellQuoted(shown))));
    if (link) {
        fd = Fd(::openat(dirfd, local.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.isValid())
            return keptPrivate(std::move(fd), shown, true, error);
    }
    const int reason = link ? errno : failure;
    if (reason == ENOTDIR)
        return noFolder(error, ENOTDIR,
                        QStringLiteral("%1 exists and is not a folder").arg(printable(shown)));
    return noFolder(
        error, reason,
        QStringLiteral("cannot open the folder %1: %2").arg(printable(shown), errorText(reason)));
}

Fd openPrivateFolder(const QString& path, QString* error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Made where missing; the folders on the way are not judged here: this is the settings'
    // folder, which the store has always used as it finds it.
    pathwalk::Folder folder = pathwalk::open(clean, {true, false});
    if (!folder.isOpen()) {
        setError(error, folder.error);
        errno = folder.errorNumber;
        return Fd();
    }
    return keptPrivate(std::move(folder.fd), clean, folder.throughLink, error);
}

bool makePrivateFolder(const QString& path, QString* error)
{
    return openPrivateFolder(path, error).isValid();
}

bool replaceSymlinkAt(int dirfd, const QString& name, const QString& target, const QString& shown,
                      QString* error)
{
    const QByteArray local = QFile::encodeName(name);
    const QByteArray temporary = QFile::encodeName(QLatin1Char('.') + name + QLatin1String(".new"));
    sys::unlinkat(dirfd, temporary.constData(), 0);
    if (sys::symlinkat(QFile::encodeName(target).constData(), dirfd, temporary.constData()) != 0) {
        setError(
            error,
            QStringLiteral("cannot make the link %1: %2").arg(printable(shown), errorText(errno)));
        return false;
    }
    struct stat there {
    };
    if (::fstatat(dirfd, local.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(there.st_mode)) {
        sys::unlinkat(dirfd, temporary.constData(), 0);
        setError(
            error,
            QStringLiteral("%1 exists and is not a link; not replacing it").arg(printable(shown)));
        return false;
    }
    if (sys::renameat(dirfd, temporary.constData(), dirfd, local.constData()) != 0) {
        const int failure = errno;
        sys::unlinkat(dirfd, temporary.constData(), 0);
        setError(error, QStringLiteral("cannot put the link %1 in place: %2")
                            .arg(printable(shown), errorText(failure)));
        return false;
    }
    return true;
}

} // namespace fsutil
