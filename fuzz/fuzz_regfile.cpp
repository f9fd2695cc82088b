// The settings file reader: any file is loaded, then the seven settings are saved over it.
// Afterwards the settings read back, and either every line of the file is still there (bar the
// values the save replaces) or the file was kept aside whole as corrupt.

#include "config/appsettings.h"
#include "config/settingsio.h"
#include "fuzzcheck.h"
#include "link/globals.h"
#include "platform/regfilestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <algorithm>
#include <cctype>
#include <cstdint>

namespace {

const char* const kNames[] = {"BaudRate", "CommPort", "DataBits", "DefType",
                              "Parity",   "StopBits", "Timeout"};

QString scratchBase()
{
    // Memory-backed when there is one: every input is a save with an fsync.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
}

// A line the save may replace: a value named like one of the seven, or bytes continuing one.
bool replaceable(const QByteArray& line)
{
    const QByteArray text = line.trimmed();
    if (std::all_of(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ',' || c == ' ' ||
                   c == '\t' || c == '\\';
        }))
        return true;
    for (const char* name : kNames) {
        const QByteArray quoted = '"' + QByteArray(name) + '"';
        if (text.left(quoted.size()).compare(quoted, Qt::CaseInsensitive) == 0 &&
            text.mid(quoted.size()).trimmed().startsWith('='))
            return true;
    }
    return false;
}

QHash<QByteArray, int> keptLines(const QByteArray& bytes)
{
    QHash<QByteArray, int> counts;
    for (const QByteArray& line : bytes.split('\n')) {
        if (!line.trimmed().isEmpty() && !replaceable(line))
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
    static QTemporaryDir scratch(scratchBase() + QStringLiteral("/tarnavel-fuzz-XXXXXX"));
    QDir dir(scratch.path());
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
    const QString path = dir.filePath(QStringLiteral("user.reg"));
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
    }

    RegFileStore store(path);
    AppSettings loaded;
    LoadSettings(loaded, store, settingsKeyPath());
    AppSettings saved;
    saved.CommPort = 3;
    saved.BaudRate = 1200;
    saved.Parity = 2;
    saved.DataBits = 8;
    saved.StopBits = 2;
    saved.DefType = 4;
    saved.Timeout = -5;
    SaveSettings(saved, store, settingsKeyPath());
    AppSettings reread;
    LoadSettings(reread, store, settingsKeyPath());
    FUZZ_CHECK(fields(reread) == fields(saved));

    const QStringList aside = dir.entryList({QStringLiteral("user.reg.corrupt-*")}, QDir::Files);
    FUZZ_CHECK(aside.size() <= 1);
    FUZZ_CHECK(dir.entryList({QStringLiteral("*.saving-*")}, QDir::Files).isEmpty());
    if (!aside.isEmpty()) {
        FUZZ_CHECK(readAll(dir.filePath(aside.first())) == input);
        return 0;
    }
    const QHash<QByteArray, int> after = keptLines(readAll(path));
    const QHash<QByteArray, int> before = keptLines(input);
    for (auto line = before.cbegin(); line != before.cend(); ++line)
        FUZZ_CHECK(after.value(line.key()) >= line.value());
    return 0;
}
