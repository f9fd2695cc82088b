#include "config/ports.h"

#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/portsfolder.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using fsutil::printable;

// Why the character device st (at path) cannot stand for a COM port; empty when it can.
QString notASerialLine(const QString& path, const struct stat& st)
{
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("not a character device");
    const unsigned deviceMajor = major(st.st_rdev);
    const unsigned deviceMinor = minor(st.st_rdev);
    // Terminals, but never a line to a reader: whichever program's own terminal, the console,
    // the pseudo-terminal multiplexer, the kernel's printk terminal, the virtual consoles.
    if (deviceMajor == 5)
        return deviceMinor == 0 ? QStringLiteral("the terminal of whichever program opens it")
                                : QStringLiteral("a system terminal, not a serial line");
    if (deviceMajor == 4 && deviceMinor < 64)
        return QStringLiteral("a virtual console, not a serial line");
    if (deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor)
        return QString();
    // Every serial driver registers its lines in sysfs's tty class, whatever major it got.
    const QString node =
        QFileInfo(QStringLiteral("/sys/dev/char/%1:%2").arg(deviceMajor).arg(deviceMinor))
            .canonicalFilePath();
    if (!node.isEmpty())
        return node.contains(QLatin1String("/tty/")) ? QString() : QStringLiteral("not a terminal");
    // Without sysfs, the device itself says: opened without becoming anyone's controlling
    // terminal and without waiting for a carrier.
    const fsutil::Fd fd(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return fd.isValid() && ::isatty(fd.get()) ? QString() : QStringLiteral("not a terminal");
}

} // namespace

QList<PortLink> listPortLinks(QString* error, const QString& folder, PortsFolderTrust* trust)
{
    QList<PortLink> links;
    error->clear();
    const PortsFolder ports(folder);
    if (trust)
        *trust = ports.state() == PortsFolder::State::Open      ? PortsFolderTrust::Trusted
                 : ports.state() == PortsFolder::State::Missing ? PortsFolderTrust::Missing
                                                                : PortsFolderTrust::Refused;
    if (ports.state() == PortsFolder::State::Refused) {
        *error = ports.error();
        return links;
    }
    const QList<int> numbers = ports.numbers(error);
    if (!error->isEmpty())
        return links;
    for (const int number : numbers) {
        const ComEntry entry = ports.entry(number);
        PortLink link;
        link.number = number;
        link.path = entry.path;
        link.symlink = entry.kind == ComEntry::Kind::Link;
        link.target = entry.target;
        link.present = entry.present;
        link.resolved = entry.present ? entry.device : QString();
        link.emulator = entry.emulator;
        link.emulatorPid = entry.emulator ? entry.mark.pid : 0;
        link.byHand = entry.byHand;
        link.stale = entry.refusalNumber == ESTALE;
        link.problem = entry.refusal;
        links.append(link);
    }
    return links;
}

bool linkPort(int number, const QString& device, QString* error, const QString& folder, bool force)
{
    if (!checkPortNumber(number, error))
        return false;
    const QString target = QFileInfo(device).absoluteFilePath();
    struct stat st {
    };
    if (::stat(QFile::encodeName(target).constData(), &st) != 0) {
        *error = QStringLiteral("%1: %2. Plug the reader in, or pick a device from the list "
                                "(tarnavel-cli ports).")
                     .arg(printable(target), fsutil::errorText(errno));
        return false;
    }
    if (const QString why = notASerialLine(target, st); !why.isEmpty()) {
        *error = QStringLiteral("%1 is not a serial device (%2): link a serial line such as "
                                "/dev/ttyUSB0 or a /dev/serial/by-id name")
                     .arg(printable(target), why);
        return false;
    }
    const bool pseudoTerminal = isPseudoTerminal(target);
    PortsFolder ports = PortsFolder::forChange(folder);
    if (ports.lock(error) != FolderLock::Result::Held)
        return false;
    const ComEntry entry = ports.entry(number);
    if (entry.kind == ComEntry::Kind::Other) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it (move it away "
                                "first)")
                     .arg(printable(entry.path));
        return false;
    }
    const linkmark::Mark mark = linkmark::inspect(ports.fd(), number);
    if (mark.kind == linkmark::Mark::Kind::Emulator && mark.alive && !force) {
        *error = QStringLiteral("COM%1 is held by tarnavel-sim (process %2), which is still "
                                "running; end it first, or take the number from it with --force")
                     .arg(number)
                     .arg(mark.pid);
        return false;
    }
    // Never a moment with an emulator's link and no mark beside it, which would pass for one
    // made by hand: a pseudo-terminal's mark is replaced before its link comes, and a serial
    // line's link (which no mark concerns) comes before the old mark goes.
    if (pseudoTerminal)
        return linkmark::writeHandMark(ports.fd(), number, target, error) &&
               fsutil::replaceSymlinkAt(ports.fd(), comName(number), target, entry.path, error);
    return fsutil::replaceSymlinkAt(ports.fd(), comName(number), target, entry.path, error) &&
           linkmark::remove(ports.fd(), number, error);
}

bool unlinkPort(int number, QString* error, const QString& folder)
{
    if (!checkPortNumber(number, error))
        return false;
    PortsFolder ports(folder);
    const QString name = comName(number);
    const QString path = folder + QLatin1Char('/') + name;
    if (ports.state() == PortsFolder::State::Missing) {
        *error = QStringLiteral("there is no link COM%1 (%2)").arg(number).arg(printable(path));
        return false;
    }
    if (ports.lock(error) != FolderLock::Result::Held)
        return false;
    const QByteArray local = QFile::encodeName(name);
    struct stat st {
    };
    if (::fstatat(ports.fd(), local.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int failure = errno;
        // A mark whose link never came (its maker was stopped between the two) goes quietly.
        const linkmark::Mark mark = linkmark::inspect(ports.fd(), number);
        if (failure == ENOENT && !mark.alive)
            linkmark::remove(ports.fd(), number, error);
        *error =
            failure == ENOENT
                ? QStringLiteral("there is no link COM%1 (%2)").arg(number).arg(printable(path))
                : QStringLiteral("cannot look at %1: %2")
                      .arg(printable(path), fsutil::errorText(failure));
        return false;
    }
    if (!S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 is not a link; not removing it").arg(printable(path));
        return false;
    }
    if (fsutil::sys::unlinkat(ports.fd(), local.constData(), 0) != 0) {
        *error =
            QStringLiteral("cannot remove %1: %2").arg(printable(path), fsutil::errorText(errno));
        return false;
    }
    // Its mark goes with it, whoever made it: a running emulator keeps serving on its device,
    // only the number is free again.
    return linkmark::remove(ports.fd(), number, error);
}
