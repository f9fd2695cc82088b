#include "platform/linkmark.h"

#include "platform/fsutil.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace linkmark {

namespace {

constexpr qint64 kMaxMarkBytes = 4096;
constexpr char kEmulatorKind[] = "tarnavel-sim";
constexpr char kHandKind[] = "tarnavel-cli ports link";

QByteArray localName(int number)
{
    return QFile::encodeName(markName(number));
}

// The first line says whose mark it is; then "pid 1234", "device /dev/pts/5", "link com5".
void parse(const QByteArray& text, Mark* mark)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.constFirst() == kEmulatorKind)
        mark->kind = Mark::Kind::Emulator;
    else if (lines.constFirst() == kHandKind)
        mark->kind = Mark::Kind::Hand;
    else
        return;
    for (const QByteArray& line : lines) {
        if (line.startsWith("pid "))
            mark->pid = line.mid(4).toLongLong();
        else if (line.startsWith("device "))
            mark->device = QFile::decodeName(line.mid(7));
        else if (line.startsWith("link "))
            mark->link = QFile::decodeName(line.mid(5));
    }
}

QByteArray markText(const char* kind, int number, const QString& device)
{
    QByteArray text = QByteArray(kind) + '\n';
    if (qstrcmp(kind, kEmulatorKind) == 0)
        text += "pid " + QByteArray::number(qint64(::getpid())) + '\n';
    return text + "device " + QFile::encodeName(device) + "\nlink com" +
           QByteArray::number(number) + '\n';
}

// A new mark under the name, complete before it is seen: written under a temporary name (locked
// first when an emulator's) and renamed over the old one. A lock belongs to the open file, so it
// goes with the rename, and the name never stands empty or missing on the way: a link is never
// left without the mark that was beside it.
int create(int folderFd, int number, const char* kind, const QString& device, bool lock,
           QString* error)
{
    const QByteArray name = localName(number);
    const QByteArray temporary = name + ".new";
    // Left by a program stopped on the way; callers hold the folder's lock.
    fsutil::sys::unlinkat(folderFd, temporary.constData(), 0);
    const int fd = fsutil::sys::openat(folderFd, temporary.constData(),
                                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot make the mark %1: %2")
                     .arg(markName(number), fsutil::errorText(errno));
        return -1;
    }
    const QByteArray text = markText(kind, number, device);
    const bool ok = (!lock || ::flock(fd, LOCK_EX | LOCK_NB) == 0) &&
                    fsutil::sys::write(fd, text.constData(), size_t(text.size())) == text.size();
    // Only a mark that is a file or nothing is replaced: a folder standing there goes first.
    const bool placed =
        ok &&
        (fsutil::sys::renameat(folderFd, temporary.constData(), folderFd, name.constData()) == 0 ||
         (errno == EISDIR && remove(folderFd, number, error) &&
          fsutil::sys::renameat(folderFd, temporary.constData(), folderFd, name.constData()) == 0));
    if (!placed) {
        *error = QStringLiteral("cannot write the mark %1: %2")
                     .arg(markName(number), fsutil::errorText(errno));
        fsutil::sys::unlinkat(folderFd, temporary.constData(), 0);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

QString markName(int number)
{
    return QStringLiteral(".com%1.tarnavel-sim").arg(number);
}

Mark inspect(int folderFd, int number)
{
    Mark mark;
    const QByteArray name = localName(number);
    struct stat st {
    };
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            mark.kind = Mark::Kind::Unreadable;
        return mark;
    }
    mark.kind = Mark::Kind::Unreadable;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxMarkBytes)
        return mark;
    // O_NONBLOCK and O_NOFOLLOW: whatever took its place meanwhile, opening it never hangs.
    const fsutil::Fd fd(
        ::openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {
    };
    if (!fd.isValid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
        return mark;
    // A shared lock is refused only while an emulator holds its exclusive one. Taken before the
    // text is read: an emulator's text is complete before its lock can be seen.
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0)
        ::flock(fd.get(), LOCK_UN);
    else
        mark.alive = errno == EWOULDBLOCK;
    QByteArray text(kMaxMarkBytes, '\0');
    const ssize_t n = ::read(fd.get(), text.data(), size_t(text.size()));
    text.truncate(n > 0 ? n : 0);
    parse(text, &mark);
    if (mark.kind == Mark::Kind::Unreadable)
        mark.alive = false;
    return mark;
}

int claim(int folderFd, int number, const QString& device, QString* error)
{
    return create(folderFd, number, kEmulatorKind, device, true, error);
}

bool writeHandMark(int folderFd, int number, const QString& device, QString* error)
{
    const int fd = create(folderFd, number, kHandKind, device, false, error);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool remove(int folderFd, int number, QString* error)
{
    const QByteArray name = localName(number);
    if (fsutil::sys::unlinkat(folderFd, name.constData(), 0) == 0 || errno == ENOENT)
        return true;
    // A folder standing there goes too, when empty.
    if ((errno == EISDIR || errno == EPERM) &&
        fsutil::sys::unlinkat(folderFd, name.constData(), AT_REMOVEDIR) == 0)
        return true;
    *error = QStringLiteral("cannot remove %1: %2")
                 .arg(fsutil::printable(markName(number)), fsutil::errorText(errno));
    return false;
}

void release(int folderFd, int number, int fd)
{
    if (fd < 0)
        return;
    const QByteArray name = localName(number);
    struct stat held {
    }, named{};
    if (folderFd >= 0 && ::fstat(fd, &held) == 0 &&
        ::fstatat(folderFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev)
        fsutil::sys::unlinkat(folderFd, name.constData(), 0);
    ::close(fd);
}

} // namespace linkmark
