#include "platform/linkmark.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linkmark {

namespace {

constexpr qint64 kMaxMarkBytes = 4096;

QString readLinkTarget(const QString& path)
{
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target - 1);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(target, int(n)));
}

// "pid 1234" and "device /dev/pts/5" lines; anything else is ignored.
void parse(const QByteArray& text, Mark* mark)
{
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("pid "))
            mark->pid = line.mid(4).trimmed().toLongLong();
        else if (line.startsWith("device "))
            mark->device = QFile::decodeName(line.mid(7).trimmed());
    }
}

} // namespace

QString markPath(const QString& linkPath)
{
    const QFileInfo link(linkPath);
    return link.absolutePath() + QStringLiteral("/.") + link.fileName() +
           QStringLiteral(".tarnavel-sim");
}

Mark inspect(const QString& linkPath)
{
    Mark mark;
    const QByteArray path = QFile::encodeName(markPath(linkPath));
    // O_NONBLOCK: whatever sits there, opening it must never hang the caller.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return mark;
    QByteArray text(kMaxMarkBytes, '\0');
    const ssize_t n = ::read(fd, text.data(), size_t(text.size()));
    text.truncate(n > 0 ? n : 0);
    parse(text, &mark);
    const QString target = readLinkTarget(linkPath);
    mark.present = !mark.device.isEmpty() && target == mark.device;
    if (mark.present) {
        // A shared lock is refused only while the emulator holds its exclusive one.
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
            ::flock(fd, LOCK_UN);
        else
            mark.alive = errno == EWOULDBLOCK;
    }
    ::close(fd);
    return mark;
}

int claim(const QString& linkPath, const QString& device, QString* error)
{
    const QString final = markPath(linkPath);
    const QString temp = final + QStringLiteral(".new-%1").arg(::getpid());
    const QByteArray tempLocal = QFile::encodeName(temp);
    ::unlink(tempLocal.constData());
    const int fd = ::open(tempLocal.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(temp, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    // Locked before it is put in place, so nobody ever finds the mark unlocked while we run.
    const QByteArray text = QByteArrayLiteral("tarnavel-sim\npid ") +
                            QByteArray::number(qint64(::getpid())) + "\ndevice " +
                            QFile::encodeName(device) + '\n';
    const bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                    ::write(fd, text.constData(), size_t(text.size())) == text.size() &&
                    ::rename(tempLocal.constData(), QFile::encodeName(final).constData()) == 0;
    if (!ok) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(final, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(tempLocal.constData());
        ::close(fd);
        return -1;
    }
    return fd;
}

void release(const QString& linkPath, int fd)
{
    if (fd < 0)
        return;
    const QByteArray path = QFile::encodeName(markPath(linkPath));
    // Another emulator may have marked the number since: only our own file goes.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::lstat(path.constData(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev)
        ::unlink(path.constData());
    ::close(fd);
}

} // namespace linkmark
