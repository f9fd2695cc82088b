#pragma once

// Small pieces the benchmarks share.
#include "platform/messagebox.h"

#include <QByteArray>
#include <QFile>
#include <ctime>

// Answers every box No (or the set's first button): a benchmark never waits for a person.
class NoBoxes : public IMessageBox
{
public:
    int show(const QString&, const QString&, mb::Buttons, mb::Icon, int) override
    {
        return mb::IDNO;
    }
};

inline double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A field of /proc/self/status in KiB, such as "VmHWM:" (peak) or "VmRSS:"; -1 if unknown.
inline qint64 statusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
