#include "platform/fsutil.h"

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

QString octalMode(mode_t mode)
{
    return QStringLiteral("%1").arg(uint(mode & 07777), 4, 8, QLatin1Char('0'));
}

} // namespace

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

QString untrustedReason(const struct stat& st, const QString& path)
{
    const uid_t me = ::geteuid();
    const QString shown = printable(path);
    const QString quoted = printable(shellQuoted(path));
    if (st.st_uid != me && st.st_uid != 0) {
        const QString fix = S_ISDIR(st.st_mode)
                                ? QStringLiteral("sudo chown -R %1 %2").arg(userName(me), quoted)
                                : QStringLiteral("rm %1").arg(quoted);
        return QStringLiteral("%1 belongs to %2, not to you (%3), so another user decides "
                              "what it leads to. Fix: %4")
            .arg(shown, ownerText(st.st_uid), userName(me), fix);
    }
    if (S_ISLNK(st.st_mode) || S_ISCHR(st.st_mode) || !(st.st_mode & (S_IWGRP | S_IWOTH)))
        return QString();
    const QString sudo = st.st_uid == me ? QString() : QStringLiteral("sudo ");
    const QString fix =
        S_ISDIR(st.st_mode) ? QStringLiteral("chmod 700 ") : QStringLiteral("chmod go-w ");
    return QStringLiteral("%1 can be changed by group or others (mode %2), so another user "
                          "decides what it leads to. Fix: %3")
        .arg(shown, octalMode(st.st_mode), sudo + fix + quoted);
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

Fd openPrivateFolderAt(int dirfd, const QString& name, const QString& shown, FollowLink follow,
                       QString* error)
{
    const QByteArray local = QFile::encodeName(name);
    if (::mkdirat(dirfd, local.constData(), 0700) != 0 && errno != EEXIST) {
        const int made = errno;
        struct stat there {
        };
        if (::fstatat(dirfd, local.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            return noFolder(error, made,
                            QStringLiteral("cannot make the folder %1: %2")
                                .arg(printable(shown), errorText(made)));
        }
    }
    const int noFollow = follow == FollowLink::No ? O_NOFOLLOW : 0;
    Fd fd(::openat(dirfd, local.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
    if (!fd.isValid()) {
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
        if (failure == ENOTDIR)
            return noFolder(error, ENOTDIR,
                            QStringLiteral("%1 exists and is not a folder").arg(printable(shown)));
        return noFolder(error, failure,
                        QStringLiteral("cannot open the folder %1: %2")
                            .arg(printable(shown), errorText(failure)));
    }
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
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
        const int failure = errno;
        return noFolder(error, failure,
                        QStringLiteral("cannot make the folder %1 private (chmod 700): %2")
                            .arg(printable(shown), errorText(failure)));
    }
    return fd;
}

Fd openPrivateFolder(const QString& path, QString* error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    struct stat st {
    };
    for (QString at = QFileInfo(clean).path(); ::lstat(QFile::encodeName(at).constData(), &st) != 0;
         at = QFileInfo(at).path()) {
        if (errno != ENOENT || at == QFileInfo(at).path())
            break;
        missing.prepend(at);
    }
    for (const QString& folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
            const int failure = errno;
            return noFolder(error, failure,
                            QStringLiteral("cannot make the folder %1: %2")
                                .arg(printable(folder), errorText(failure)));
        }
    }
    return openPrivateFolderAt(AT_FDCWD, clean, clean, FollowLink::Yes, error);
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
    ::unlinkat(dirfd, temporary.constData(), 0);
    if (::symlinkat(QFile::encodeName(target).constData(), dirfd, temporary.constData()) != 0) {
        setError(
            error,
            QStringLiteral("cannot make the link %1: %2").arg(printable(shown), errorText(errno)));
        return false;
    }
    struct stat there {
    };
    if (::fstatat(dirfd, local.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(there.st_mode)) {
        ::unlinkat(dirfd, temporary.constData(), 0);
        setError(
            error,
            QStringLiteral("%1 exists and is not a link; not replacing it").arg(printable(shown)));
        return false;
    }
    if (::renameat(dirfd, temporary.constData(), dirfd, local.constData()) != 0) {
        const int failure = errno;
        ::unlinkat(dirfd, temporary.constData(), 0);
        setError(error, QStringLiteral("cannot put the link %1 in place: %2")
                            .arg(printable(shown), errorText(failure)));
        return false;
    }
    return true;
}

} // namespace fsutil
