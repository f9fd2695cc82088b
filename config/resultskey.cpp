#include "config/resultskey.h"

#include "platform/fsutil.h"
#include "platform/pathwalk.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kName[] = "results.key";
constexpr char kNewName[] = ".results.key.new";

// Reads the key at fd, checked; nothing with *why set when it is not one.
std::optional<QByteArray> readKey(int fd, const QString& shown, QString* why)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        *why = fsutil::errorText(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
        st.st_size != kResultsKeyBytes) {
        *why = QStringLiteral("%1 is not a key of yours (a regular file of %2 bytes with one "
                              "name). Fix: move it away; a new key is made, and results files "
                              "made with the old one no longer match their batches")
                   .arg(fsutil::printable(shown))
                   .arg(kResultsKeyBytes);
        return std::nullopt;
    }
    // Someone else may have read a looser key already; still, no one more shall.
    if ((st.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600);
    QByteArray key(kResultsKeyBytes, '\0');
    if (::pread(fd, key.data(), size_t(key.size()), 0) != key.size()) {
        *why = QStringLiteral("cannot read %1").arg(fsutil::printable(shown));
        return std::nullopt;
    }
    return key;
}

} // namespace

std::optional<QByteArray> loadResultsKey(const QString& folder, QString* error)
{
    if (folder.isEmpty()) {
        *error = QStringLiteral("no configuration folder for the results key: neither HOME nor "
                                "XDG_CONFIG_HOME is an absolute path");
        return std::nullopt;
    }
    pathwalk::Options options;
    options.make = true;
    const pathwalk::Folder dir = pathwalk::open(folder, options);
    if (!dir.isOpen()) {
        *error = dir.error.isEmpty() ? QStringLiteral("cannot make %1").arg(folder) : dir.error;
        return std::nullopt;
    }
    // Whoever can change the folder can change the key.
    const QString untrusted = fsutil::untrustedReason(dir.st, dir.path);
    if (!untrusted.isEmpty()) {
        *error = untrusted;
        return std::nullopt;
    }
    const QString shown = folder + QLatin1Char('/') + QLatin1String(kName);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const fsutil::Fd existing(::openat(
            dir.fd.get(), kName, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (existing.isValid())
            return readKey(existing.get(), shown, error);
        if (errno != ENOENT) {
            *error = QStringLiteral("cannot open %1: %2")
                         .arg(fsutil::printable(shown), fsutil::errorText(errno));
            return std::nullopt;
        }
        // Made whole under another name, then linked in place: a run that stops midway leaves
        // no half key, and of two runs that race, both end up with the one that got there.
        ::unlinkat(dir.fd.get(), kNewName, 0);
        const fsutil::Fd made(::openat(dir.fd.get(), kNewName,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        QByteArray key(kResultsKeyBytes, '\0');
        QRandomGenerator::system()->generate(key.begin(), key.end());
        const bool written =
            made.isValid() &&
            ::write(made.get(), key.constData(), size_t(key.size())) == key.size() &&
            ::fsync(made.get()) == 0;
        const int failure = errno;
        const bool linked =
            written && ::linkat(dir.fd.get(), kNewName, dir.fd.get(), kName, 0) == 0;
        const int linkFailure = errno;
        ::unlinkat(dir.fd.get(), kNewName, 0);
        if (linked) {
            ::fsync(dir.fd.get());
            return key;
        }
        if (!written || linkFailure != EEXIST) {
            *error = QStringLiteral("cannot make %1: %2")
                         .arg(fsutil::printable(shown),
                              fsutil::errorText(written ? linkFailure : failure));
            return std::nullopt;
        }
    }
    *error = QStringLiteral("cannot make %1").arg(fsutil::printable(shown));
    return std::nullopt;
}
