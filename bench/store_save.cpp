// How long the Options dialog's save takes, and how large a file the settings store writes. The
// seven settings are saved again and again, a value changed each time so that every save is a
// rewrite with its fsync, into a small file and into one just under the store's size bound;
// then the refusals: a save that would pass the bound, and one that finds the lock held.
//   bench_store_save [folder] [saves]   (default: the temporary folder, 50)
#include "config/appsettings.h"
#include "config/settingsio.h"
#include "platform/regfilestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray kStart = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quorvex\\Quorvex Tarnavel]\n";

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

// Milliseconds of each save, sorted; the time-out goes 1, 2, 1, ... so each save changes it.
QList<double> timeSaves(RegFileStore& store, int saves, store::Failure* last)
{
    QList<double> ms;
    AppSettings settings;
    for (int i = 0; i < saves; ++i) {
        settings.Timeout = qint16(1 + i % 2);
        QElapsedTimer timer;
        timer.start();
        *last = SaveSettings(settings, store, settingsKeyPath());
        ms.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void report(const char* what, const QList<double>& ms, const store::Failure& last,
            const QString& path)
{
    const qint64 size = QFileInfo(path).size();
    std::printf("%-34s median %8.2f ms  max %8.2f ms  file %7lld bytes  %s\n", what,
                ms.at(ms.size() / 2), ms.last(), static_cast<long long>(size),
                last.cause == store::Cause::None ? "saved" : qPrintable(last.reason));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTemporaryDir scratch((args.isEmpty() ? QDir::tempPath() : args.at(0)) +
                          QStringLiteral("/tarnavel-bench-XXXXXX"));
    const int saves = std::max(1, args.value(1, QStringLiteral("50")).toInt());
    const QString path = scratch.filePath(QStringLiteral("quorvex-tarnavel/user.reg"));
    store::Failure last;

    RegFileStore fresh(path);
    QList<double> ms = timeSaves(fresh, saves, &last);
    report("small file", ms, last, path);

    // The seven values are there, and a comment fills the file up to the bound exactly.
    const auto filled = [](QByteArray bytes) {
        bytes.append(';');
        return bytes.append(QByteArray(RegFileStore::kMaxFileSize - bytes.size() - 1, 'x'))
            .append('\n');
    };
    QFile saved(path);
    const QByteArray values = saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray();
    writeFile(path, filled(values));
    RegFileStore nearBound(path);
    ms = timeSaves(nearBound, saves, &last);
    report("file at the bound, values changed", ms, last, path);
    std::printf("bound %lld bytes\n", static_cast<long long>(RegFileStore::kMaxFileSize));

    // At the bound without the values: adding them is refused, the file left as it was.
    writeFile(path, filled(kStart));
    ms = timeSaves(nearBound, saves, &last);
    report("at the bound, values added", ms, last, path);

    QFile::remove(path);
    const int other = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
                             O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (other >= 0 && ::flock(other, LOCK_EX) == 0) {
        RegFileStore waiting(path);
        ms = timeSaves(waiting, 3, &last);
        report("lock held elsewhere", ms, last, path);
    }
    if (other >= 0)
        ::close(other);
    return 0;
}
