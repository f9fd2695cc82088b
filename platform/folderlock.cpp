#include "platform/folderlock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using fsutil::printable;

// A lock file that is not the owner's private one is removed and made again, a few times at
// most: another program of the user may be doing the same.
constexpr int kMaxRemakes = 8;
// Between two tries the wait grows from 1 ms to this: a change of a moment is waited for a
// moment, a long one costs a few wake-ups a second.
constexpr int kMaxPollMs = 25;
constexpr qint64 kMaxReadBytes = 1 << 20;

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The process number whose flock on the file st describes the kernel lists; 0 when none.
qint64 lockingProcess(const struct stat& st)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a "->" line is a waiter, not a holder.
    const QByteArray file = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                            QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray& line : locks.read(kMaxReadBytes).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK" || fields.at(5) != file)
            continue;
        return fields.at(4).toLongLong();
    }
    return 0;
}

} // namespace

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_folder = std::move(other.m_folder);
        m_file = std::move(other.m_file);
    }
    return *this;
}

QString FolderLock::holderOf(int fd)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return QString();
    qint64 pid = lockingProcess(st);
    if (pid <= 0) {
        // What the holder wrote, when the kernel does not say (another process namespace).
        char text[64] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        const QByteArray said = QByteArray(text, int(qMax<ssize_t>(n, 0))).trimmed();
        if (said.startsWith("pid "))
            pid = said.mid(4).toLongLong();
    }
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return QString();
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString name = comm.open(QIODevice::ReadOnly)
                             ? QString::fromLocal8Bit(comm.read(64)).trimmed()
                             : QString();
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("process %1 (%2)").arg(pid).arg(printable(name));
}

FolderLock::Result FolderLock::acquire(int dirfd, const QString& shown, int waitMs, int cancelFd,
                                       QString* error)
{
    release();
    const QString path = shown + QLatin1Char('/') + QLatin1String(kName);
    const QDeadlineTimer deadline(waitMs);
    const auto cancelled = [cancelFd](int ms) {
        pollfd p{cancelFd, POLLIN, 0};
        return ::poll(cancelFd >= 0 ? &p : nullptr, cancelFd >= 0 ? 1 : 0, ms) > 0 &&
               (p.revents & POLLIN);
    };
    int remakes = 0;
    int pause = 1;
    for (int attempt = 0;; ++attempt) {
        // Another program of the user took the name over between two tries, again and again.
        if (attempt > 2 * kMaxRemakes && deadline.hasExpired()) {
            *error = QStringLiteral("the folder %1 is being locked by other programs without "
                                    "pause; try again")
                         .arg(printable(shown));
            return Result::Busy;
        }
        fsutil::Fd file(fsutil::sys::openat(
            dirfd, kName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
        struct stat st {
        };
        const int failure = file.isValid() ? (::fstat(file.get(), &st) == 0 ? 0 : errno) : errno;
        if (failure != 0 && failure != ELOOP) {
            *error = QStringLiteral("cannot open the lock file %1: %2")
                         .arg(printable(path), fsutil::errorText(failure));
            return Result::Failed;
        }
        // Anyone else who could open it could hold it against its owner, and a file with a
        // second name is some other file: neither is a lock.
        if (failure == ELOOP || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            (st.st_mode & 077) || st.st_nlink > 1) {
            if (++remakes <= kMaxRemakes &&
                (fsutil::sys::unlinkat(dirfd, kName, 0) == 0 || errno == ENOENT))
                continue;
            *error = QStringLiteral("%1 is not a lock file only you can open; not using it. Fix: "
                                    "rm %2")
                         .arg(printable(path), printable(fsutil::shellQuoted(path)));
            return Result::Failed;
        }
        // Removed by its holder on letting go, just after it was opened here: the next one.
        if (st.st_nlink == 0)
            continue;
        while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                *error = QStringLiteral("cannot lock %1: %2")
                             .arg(printable(path), fsutil::errorText(errno));
                return Result::Failed;
            }
            if (deadline.hasExpired()) {
                const QString holder = holderOf(file.get());
                *error = QStringLiteral("the folder %1 is locked by %2, which has not let go in "
                                        "%3 s; %4, and try again")
                             .arg(printable(shown),
                                  holder.isEmpty() ? QStringLiteral("another program") : holder)
                             .arg(waitMs / 1000.0)
                             .arg(holder.isEmpty() ? QStringLiteral("let it finish")
                                                   : QStringLiteral("let it finish or end it"));
                return Result::Busy;
            }
            pause = qMin(2 * pause, kMaxPollMs);
            if (cancelled(int(qMin<qint64>(pause, deadline.remainingTime())))) {
                *error = QStringLiteral("interrupted while waiting for the lock on %1")
                             .arg(printable(shown));
                return Result::Interrupted;
            }
        }
        // The holder waited for may have removed the file on letting go, and another program
        // made and locked a new one: only the file the name stands for now is the lock.
        struct stat named {
        };
        if (::fstatat(dirfd, kName, &named, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(named, st))
            continue;
        const QByteArray text = "pid " + QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(file.get(), 0) == 0) {
            [[maybe_unused]] const ssize_t n =
                ::pwrite(file.get(), text.constData(), size_t(text.size()), 0);
        }
        m_folder = fsutil::Fd(::fcntl(dirfd, F_DUPFD_CLOEXEC, 0));
        m_file = std::move(file);
        return Result::Held;
    }
}

void FolderLock::release()
{
    if (!m_file.isValid())
        return;
    struct stat held {
    }, named{};
    if (m_folder.isValid() && ::fstat(m_file.get(), &held) == 0 &&
        ::fstatat(m_folder.get(), kName, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named))
        fsutil::sys::unlinkat(m_folder.get(), kName, 0);
    m_file = fsutil::Fd();
    m_folder = fsutil::Fd();
}
