#include "platform/regfileio.h"

#include "platform/fsutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace regfile {

namespace {

const QString kSavingInfix = QStringLiteral(".saving-");

int writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

} // namespace

// Anything but a regular file is not even opened, since opening a FIFO blocks and opening a
// device can act on it; the check after opening catches one swapped in meanwhile.
FileState readRegularFile(const QString& path, QByteArray* bytes, int* error, Ownership* ownership)
{
    int ignored = 0;
    int& failure = error ? *error : ignored;
    failure = 0;
    const QByteArray local = QFile::encodeName(path);
    struct stat info {
    };
    if (::stat(local.constData(), &info) != 0) {
        // A dangling link is not "no file": a save would create whatever it names.
        const bool nothing = errno == ENOENT && ::lstat(local.constData(), &info) != 0;
        return nothing ? FileState::Missing : FileState::Unusable;
    }
    if (!S_ISREG(info.st_mode))
        return FileState::Unusable;
    if (info.st_size > kMaxFileSize)
        return FileState::TooLarge;
    const int fd = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failure = errno;
        return FileState::Unusable;
    }
    FileState state = FileState::Unusable;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (ownership)
            *ownership = {info.st_uid, info.st_gid, info.st_mode};
        // One byte beyond the bound tells a file that grew past it meanwhile.
        constexpr qsizetype limit = kMaxFileSize + 1;
        bytes->resize(qMin<qsizetype>(info.st_size + 1, limit));
        qsizetype got = 0;
        for (;;) {
            if (got == bytes->size()) {
                if (got == limit)
                    break;
                bytes->resize(qMin<qsizetype>(got * 2, limit));
            }
            const ssize_t n = ::read(fd, bytes->data() + got, size_t(bytes->size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n < 0)
                    failure = errno;
                state = n == 0 ? FileState::Regular : FileState::Unusable;
                break;
            }
            got += n;
        }
        bytes->truncate(got);
        if (got > kMaxFileSize)
            state = FileState::TooLarge;
    }
    ::close(fd);
    return state;
}

namespace {

QString kindText(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

} // namespace

QString nonRegularText(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    struct stat info {
    };
    if (::lstat(local.constData(), &info) != 0)
        return fsutil::errorText(errno);
    if (!S_ISLNK(info.st_mode))
        return kindText(info.st_mode);
    const QString target = fsutil::printable(fsutil::readLink(path));
    if (::stat(local.constData(), &info) != 0)
        return QStringLiteral("a symbolic link to %1, which cannot be reached (%2)")
            .arg(target, fsutil::errorText(errno));
    return QStringLiteral("a symbolic link to %1, %2").arg(target, kindText(info.st_mode));
}

// The temporary name is this store's own, so that the next save (holding the lock, so no save
// is under way) can remove what a killed one left behind without ever touching a file of the
// user's.
Outcome replaceAtomically(const QString& target, const QByteArray& bytes,
                          const std::function<void()>& beforeCommit)
{
    const QFileInfo info(target);
    QDir directory = info.dir();
    const QString prefix = info.fileName() + kSavingInfix;
    for (const QString& left : directory.entryList({prefix + QLatin1Char('*')},
                                                   QDir::Files | QDir::Hidden | QDir::System))
        directory.remove(left);

    const QByteArray temp =
        QFile::encodeName(directory.filePath(prefix) + QString::number(qint64(::getpid())));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return {errno, true};
    int error = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 ? writeAll(fd, bytes) : errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && beforeCommit)
        beforeCommit();
    if (error == 0 && ::rename(temp.constData(), QFile::encodeName(target).constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.constData());
    return {error, false};
}

int moveAside(const QString& path)
{
    const QString base = path + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    return ::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) == 0
               ? 0
               : errno;
}

int writeAccess(const QString& path)
{
    // The effective identity decides, as it does for the write itself.
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) == 0
               ? 0
               : errno;
}

} // namespace regfile
