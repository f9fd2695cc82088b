// The settings file reader: any file is loaded, then the seven settings are saved over it. They
// read back, and either every line of the file is still there (bar values the save may
// replace) or the file was kept aside whole as corrupt. A save that would take the file past
// the size the reader accepts is refused and leaves the file exactly as it was.

#include "config/appsettings.h"
#include "config/settingsio.h"
#include "fuzzcheck.h"
#include "platform/regfilestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdint>

namespace {

// Lines the save may replace: values named like the seven settings, and bytes continuing one.
const QRegularExpression kReplaceable(
    QStringLiteral("^\\s*(\"(BaudRate|CommPort|DataBits|DefType|Parity|StopBits|Timeout)\"\\s*=.*|"
                   "[0-9a-f, \\t\\r\\\\]*)$"),
    QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);

QHash<QByteArray, int> keptLines(const QByteArray& bytes)
{
    QHash<QByteArray, int> counts;
    for (const QByteArray& line : bytes.split('\n')) {
        if (!kReplaceable.match(QString::fromLatin1(line)).hasMatch())
            ++counts[line];
    }
    return counts;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<int> fields(const AppSettings& s)
{
    return {s.CommPort, s.BaudRate, s.Parity, s.DataBits, s.StopBits, s.DefType, s.Timeout};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // In memory where there is some: every input is a save with an fsync.
    static QTemporaryDir scratch(QDir(QStringLiteral("/dev/shm")).exists()
                                     ? QStringLiteral("/dev/shm/tarnavel-fuzz-XXXXXX")
                                     : QDir::tempPath() + QStringLiteral("/tarnavel-fuzz-XXXXXX"));
    QDir dir(scratch.path());
    for (const QString& name : dir.entryList(QDir::Files))
        dir.remove(name);
    const QString path = dir.filePath(QStringLiteral("user.reg"));
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
    file.close();

    RegFileStore store(path);
    AppSettings settings;
    LoadSettings(settings, store, settingsKeyPath());
    const AppSettings saved{3, 1200, 2, 8, 2, 4, -5};
    const store::Failure failure = SaveSettings(saved, store, settingsKeyPath());
    if (failure.cause == store::Cause::TooLarge) {
        FUZZ_CHECK(readAll(path) == input && dir.entryList(QDir::Files).size() == 2);
        AppSettings again;
        LoadSettings(again, store, settingsKeyPath());
        FUZZ_CHECK(fields(again) == fields(settings));
        return 0;
    }
    FUZZ_CHECK(failure.cause == store::Cause::None);
    FUZZ_CHECK(QFileInfo(path).size() <= RegFileStore::kMaxFileSize);
    LoadSettings(settings, store, settingsKeyPath());
    FUZZ_CHECK(fields(settings) == fields(saved));

    const QStringList aside = dir.entryList({QStringLiteral("user.reg.corrupt-*")}, QDir::Files);
    FUZZ_CHECK(dir.entryList(QDir::Files).size() == 2 + aside.size()); // the file and its lock
    if (!aside.isEmpty()) {
        FUZZ_CHECK(aside.size() == 1 && readAll(dir.filePath(aside.first())) == input);
        return 0;
    }
    const QHash<QByteArray, int> after = keptLines(readAll(path));
    const QHash<QByteArray, int> before = keptLines(input);
    for (auto line = before.cbegin(); line != before.cend(); ++line)
        FUZZ_CHECK(after.value(line.key()) >= line.value());
    return 0;
}
