#include "config/ports.h"

#include "platform/linkmark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString linkPath(const QString& folder, int number)
{
    return folder + QStringLiteral("/com%1").arg(number);
}

QString systemError()
{
    return qt_error_string(errno);
}

bool validNumber(int number, QString* error)
{
    if (number >= 1 && number <= kMaxPortNumber)
        return true;
    *error = QStringLiteral("COM%1 is not a port number (1 to %2)").arg(number).arg(kMaxPortNumber);
    return false;
}

} // namespace

bool makePrivateFolders(const QString& path, QString* error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList missing;
    QString at = clean;
    while (!QFileInfo(at).exists()) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString& folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("cannot make the folder %1: %2").arg(folder, systemError());
            return false;
        }
    }
    if (!QFileInfo(clean).isDir()) {
        *error = QStringLiteral("%1 is not a folder").arg(clean);
        return false;
    }
    return true;
}

QList<PortLink> listPortLinks(const QString& folder)
{
    QList<PortLink> links;
    const QDir dir(folder);
    static const QRegularExpression name(QStringLiteral("^com([1-9][0-9]*)$"));
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QRegularExpressionMatch match = name.match(entry);
        if (!match.hasMatch())
            continue;
        PortLink link;
        link.number = match.captured(1).toInt();
        link.path = dir.filePath(entry);
        const QFileInfo info(link.path);
        link.symlink = info.isSymLink();
        if (link.symlink) {
            char target[4096];
            const ssize_t n =
                ::readlink(QFile::encodeName(link.path).constData(), target, sizeof target - 1);
            link.target = n < 0 ? QString() : QFile::decodeName(QByteArray(target, int(n)));
            link.resolved = info.canonicalFilePath();
            link.present = !link.resolved.isEmpty();
            const linkmark::Mark mark = linkmark::inspect(link.path);
            link.emulator = mark.present;
            link.stale = mark.present && !mark.alive;
            link.emulatorPid = mark.pid;
        } else {
            link.resolved = info.canonicalFilePath();
            link.present = info.exists();
        }
        links.append(link);
    }
    std::sort(links.begin(), links.end(),
              [](const PortLink& a, const PortLink& b) { return a.number < b.number; });
    return links;
}

bool linkPort(int number, const QString& device, QString* error, const QString& folder)
{
    if (!validNumber(number, error))
        return false;
    const QString target = QFileInfo(device).absoluteFilePath();
    struct stat st {
    };
    if (::stat(QFile::encodeName(target).constData(), &st) != 0) {
        *error = QStringLiteral("%1: %2. Plug the reader in, or pick a device from the list "
                                "(tarnavel-cli ports).")
                     .arg(target, systemError());
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        *error = QStringLiteral("%1 is not a serial device (a character device such as "
                                "/dev/ttyUSB0)")
                     .arg(target);
        return false;
    }
    if (!makePrivateFolders(folder, error))
        return false;
    const QString path = linkPath(folder, number);
    const QByteArray local = QFile::encodeName(path);
    if (::lstat(local.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it (move it away "
                                "first)")
                     .arg(path);
        return false;
    }
    // Made beside the old one and renamed over it: comN never goes missing on the way.
    const QString temporary = folder + QStringLiteral("/.com%1.new-%2").arg(number).arg(::getpid());
    const QByteArray temporaryLocal = QFile::encodeName(temporary);
    ::unlink(temporaryLocal.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporaryLocal.constData()) != 0) {
        *error = QStringLiteral("cannot make a link in %1: %2").arg(folder, systemError());
        return false;
    }
    if (::rename(temporaryLocal.constData(), local.constData()) != 0) {
        *error = QStringLiteral("cannot put the link %1 in place: %2").arg(path, systemError());
        ::unlink(temporaryLocal.constData());
        return false;
    }
    return true;
}

bool unlinkPort(int number, QString* error, const QString& folder)
{
    if (!validNumber(number, error))
        return false;
    const QString path = linkPath(folder, number);
    const QByteArray local = QFile::encodeName(path);
    struct stat st {
    };
    if (::lstat(local.constData(), &st) != 0) {
        *error = QStringLiteral("there is no link COM%1 (%2)").arg(number).arg(path);
        return false;
    }
    if (!S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 is not a link; not removing it").arg(path);
        return false;
    }
    const linkmark::Mark mark = linkmark::inspect(path);
    if (::unlink(local.constData()) != 0) {
        *error = QStringLiteral("cannot remove %1: %2").arg(path, systemError());
        return false;
    }
    // The mark of an emulator that is gone goes with its link; a running one removes its own.
    if (mark.present && !mark.alive)
        QFile::remove(linkmark::markPath(path));
    return true;
}

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
