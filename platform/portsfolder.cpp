#include "platform/portsfolder.h"

#include "platform/pathwalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using fsutil::printable;
using fsutil::shellQuoted;

// Why a folder cannot be read, and the cure when it is the user's own.
QString unreadable(const QString& path, int number, const struct stat* st)
{
    if (st) {
        const QString untrusted = fsutil::untrustedReason(*st, path);
        if (!untrusted.isEmpty())
            return untrusted;
    }
    const QString sudo = st && st->st_uid != ::geteuid() ? QStringLiteral("sudo ") : QString();
    return QStringLiteral("cannot read %1: %2. Fix: %3chmod 700 %4")
        .arg(printable(path), fsutil::errorText(number), sudo, printable(shellQuoted(path)));
}

// The mark's device is the one the link leads to: named the same way, or resolving to it.
bool namesDevice(const linkmark::Mark& mark, const QString& written, const QString& device)
{
    if (mark.device.isEmpty())
        return false;
    const QString named = QDir::cleanPath(mark.device);
    if (named == written)
        return true;
    const QString resolved = QFileInfo(named).canonicalFilePath();
    return !resolved.isEmpty() && resolved == device;
}

QString staleReason(const ComEntry& entry, int number, const QString& written)
{
    if (entry.mark.kind == linkmark::Mark::Kind::Unreadable)
        return QStringLiteral("its mark %1 is not a regular file holding a mark")
            .arg(linkmark::markName(number));
    if (entry.mark.link != comName(number))
        return entry.mark.link.isEmpty() ? QStringLiteral("its mark names no link")
                                         : QStringLiteral("its mark belongs to another link (%1)")
                                               .arg(printable(entry.mark.link));
    if (!namesDevice(entry.mark, written, entry.device))
        return QStringLiteral("its mark names another device (%1), not %2")
            .arg(printable(entry.mark.device), printable(written));
    return QStringLiteral("its mark is one that no running tarnavel-sim holds");
}

} // namespace

int parsePortNumber(const QString& text)
{
    QString digits = text;
    if (digits.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
        digits.remove(0, 3);
    // Digits only: no sign, no blanks, no "0x".
    if (digits.isEmpty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return -1;
    const int number = digits.toInt();
    return number >= 1 && number <= kMaxPortNumber ? number : -1;
}

QString comName(int number)
{
    return QStringLiteral("com%1").arg(number);
}

bool checkPortNumber(int number, QString* error)
{
    if (number >= 1 && number <= kMaxPortNumber)
        return true;
    *error = QStringLiteral("COM%1 is not a port number (1 to %2)").arg(number).arg(kMaxPortNumber);
    return false;
}

bool isPseudoTerminal(const QString& device)
{
    const QByteArray local = QFile::encodeName(device);
    struct stat st {
    };
    if (::stat(local.constData(), &st) == 0)
        return S_ISCHR(st.st_mode) && major(st.st_rdev) >= kFirstPtySlaveMajor &&
               major(st.st_rdev) <= kLastPtySlaveMajor;
    // Gone: its number is free for the next terminal to take.
    return QDir::cleanPath(QFileInfo(device).absoluteFilePath())
        .startsWith(QLatin1String("/dev/pts/"));
}

PortsFolder::PortsFolder(const QString& folder) : m_path(folder)
{
    if (folder.isEmpty())
        return;
    const QFileInfo info(folder);
    const QString config = info.path();
    const QByteArray name = QFile::encodeName(info.fileName());
    // The configuration folder may be a link (to a folder of dotfiles, say): what it leads to
    // is what is checked and used, and so is every folder on the way to it.
    const pathwalk::Folder parent = pathwalk::open(config, {});
    if (parent.missing)
        return;
    if (!parent.isOpen()) {
        refuse(parent.errorNumber, parent.error);
        return;
    }
    // Another user's configuration folder decides whether a ports folder is there at all.
    if (parent.st.st_uid != ::geteuid() && parent.st.st_uid != 0) {
        refuse(EPERM, fsutil::untrustedReason(parent.st, config));
        return;
    }
    struct stat st {
    };
    m_fd = fsutil::Fd(::openat(parent.fd.get(), name.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!m_fd.isValid()) {
        const int failure = errno;
        const bool there =
            ::fstatat(parent.fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        // No ports folder: COMn is /dev/ttyS(n-1), which no link decides, so the configuration
        // folder's mode does not matter (a umask 002 desk makes it 0775).
        if (!there && failure == ENOENT)
            return;
        if (there && S_ISLNK(st.st_mode))
            refuse(EPERM, QStringLiteral("%1 is a symbolic link, not a folder of its own: not "
                                         "following it. Fix: rm %2 (tarnavel-cli ports link makes "
                                         "a private folder in its place)")
                              .arg(printable(folder), printable(shellQuoted(folder))));
        else if (there && !S_ISDIR(st.st_mode))
            refuse(ENOTDIR,
                   QStringLiteral("%1 is not a folder. Fix: move it away").arg(printable(folder)));
        else
            refuse(failure, unreadable(folder, failure, there ? &st : nullptr));
        return;
    }
    // A link's target is named as it is, so that the cure names what it changes.
    if (trust(parent.fd.get(), parent.throughLink ? parent.path : config) &&
        trust(m_fd.get(), folder))
        m_state = State::Open;
}

bool PortsFolder::trust(int fd, const QString& path)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        refuse(errno, unreadable(path, errno, nullptr));
        return false;
    }
    if (const QString reason = fsutil::untrustedReason(st, path); !reason.isEmpty()) {
        refuse(EPERM, reason);
        return false;
    }
    return true;
}

PortsFolder PortsFolder::forChange(const QString& folder)
{
    PortsFolder opened{QString()};
    opened.m_path = folder;
    if (folder.isEmpty()) {
        opened.refuse(ENOENT, QStringLiteral("no configuration folder, as neither HOME nor "
                                             "XDG_CONFIG_HOME is an absolute path; set HOME"));
        return opened;
    }
    const QFileInfo info(folder);
    const QString config = info.path();
    QString error;
    pathwalk::Folder parent = pathwalk::open(config, {true, true});
    if (!parent.isOpen()) {
        opened.refuse(EPERM, parent.error);
        return opened;
    }
    const bool throughLink = parent.throughLink;
    fsutil::Fd parentFd = fsutil::openPrivateFolderAt(parent.fd.get(), QStringLiteral("."), config,
                                                      fsutil::FollowLink::No, &error, throughLink);
    if (parentFd.isValid())
        opened.m_fd = fsutil::openPrivateFolderAt(parentFd.get(), info.fileName(), folder,
                                                  fsutil::FollowLink::No, &error, throughLink);
    if (!opened.m_fd.isValid()) {
        opened.refuse(EPERM, error);
        return opened;
    }
    // Tightened where it was ours to change; where it was not (a link's target, a file system
    // with fixed modes), it must be private as it is.
    if (opened.trust(parentFd.get(), throughLink ? parent.path : config) &&
        opened.trust(opened.m_fd.get(), folder))
        opened.m_state = State::Open;
    return opened;
}

void PortsFolder::refuse(int number, const QString& text)
{
    m_state = State::Refused;
    m_errorNumber = number;
    m_error = text;
    m_fd = fsutil::Fd();
}

ComEntry PortsFolder::entry(int number) const
{
    ComEntry entry;
    entry.path = m_path + QLatin1Char('/') + comName(number);
    if (m_state == State::Refused) {
        entry.refusalNumber = m_errorNumber;
        entry.refusal = m_error;
    }
    if (m_state != State::Open)
        return entry;
    const QByteArray name = QFile::encodeName(comName(number));
    struct stat st {
    };
    if (::fstatat(m_fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            entry.refusalNumber = errno;
            entry.refusal = unreadable(m_path, errno, nullptr);
        }
        return entry;
    }
    entry.kind = S_ISLNK(st.st_mode) ? ComEntry::Kind::Link : ComEntry::Kind::Other;
    if (entry.kind == ComEntry::Kind::Link)
        entry.target = fsutil::readLinkAt(m_fd.get(), comName(number));
    if (const QString reason = fsutil::untrustedReason(st, entry.path); !reason.isEmpty()) {
        entry.refusalNumber = EPERM;
        entry.refusal = reason;
        return entry;
    }
    if (entry.kind == ComEntry::Kind::Other) {
        entry.device = entry.path;
        entry.present = true;
        entry.characterDevice = S_ISCHR(st.st_mode);
        entry.deviceNumber = entry.characterDevice ? st.st_rdev : 0;
        return entry;
    }
    const QString written = QDir::cleanPath(QDir(m_path).absoluteFilePath(entry.target));
    const QString resolved = QFileInfo(written).canonicalFilePath();
    // A dangling link still names the device the operator meant: opening it then says that it
    // is missing instead of quietly taking /dev/ttyS(n-1).
    entry.device = resolved.isEmpty() ? written : resolved;
    entry.present = !resolved.isEmpty();
    struct stat device {
    };
    if (entry.present && ::stat(QFile::encodeName(resolved).constData(), &device) == 0 &&
        S_ISCHR(device.st_mode)) {
        entry.characterDevice = true;
        entry.deviceNumber = device.st_rdev;
    }
    entry.pseudoTerminal = isPseudoTerminal(entry.device) || isPseudoTerminal(written);
    if (!entry.pseudoTerminal)
        return entry;
    // A pseudo-terminal's number passes to the next terminal opened once its owner ends, so a
    // link beside a mark is only as good as that mark now. An emulator makes its mark before
    // its link and removes it after, and marks are replaced in one step, so a link with no mark
    // beside it was made by hand, and opens as it always did.
    entry.mark = linkmark::inspect(m_fd.get(), number);
    if (entry.mark.kind == linkmark::Mark::Kind::None)
        return entry;
    const bool namesThisLink =
        entry.mark.link == comName(number) && namesDevice(entry.mark, written, entry.device);
    if (entry.mark.kind == linkmark::Mark::Kind::Emulator && namesThisLink && entry.mark.alive) {
        entry.emulator = true;
        return entry;
    }
    if (entry.mark.kind == linkmark::Mark::Kind::Hand && namesThisLink) {
        entry.byHand = true;
        return entry;
    }
    entry.refusalNumber = ESTALE;
    entry.refusal = staleReason(entry, number, written);
    return entry;
}

QList<int> PortsFolder::numbers(QString* error) const
{
    QList<int> found;
    if (m_state != State::Open)
        return found;
    // A descriptor of its own: reading a folder moves the position of every copy.
    const int copy = ::openat(m_fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!listing) {
        *error = unreadable(m_path, errno, nullptr);
        if (copy >= 0)
            ::close(copy);
        return found;
    }
    errno = 0;
    while (const dirent* item = ::readdir(listing)) {
        const QString name = QFile::decodeName(item->d_name);
        const int number = parsePortNumber(name);
        // Only the name COMn is opened under: not COM1, com01 or a number out of range.
        if (number > 0 && name == comName(number))
            found.append(number);
    }
    if (errno != 0)
        *error = unreadable(m_path, errno, nullptr);
    ::closedir(listing);
    std::sort(found.begin(), found.end());
    return found;
}

FolderLock::Result PortsFolder::lock(QString* error, int waitMs, int cancelFd)
{
    if (m_state != State::Open) {
        *error = m_error;
        return FolderLock::Result::Failed;
    }
    return m_lock.acquire(m_fd.get(), m_path, waitMs, cancelFd, error);
}
