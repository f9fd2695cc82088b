#pragma once

#include "platform/writequeue.h"

#include <QObject>
#include <QString>

class QSocketNotifier;

// Standard output that never holds the emulator up. Lines queue and go out as whoever reads
// the output takes them; when nobody does, the oldest lines are dropped (and counted) instead
// of blocking the device, so it keeps answering and still ends on a signal.
class LogSink : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype kMaxQueuedBytes = 256 * 1024;

    explicit LogSink(int fd, QObject* parent = nullptr);
    ~LogSink() override;

    void writeLine(const QString& line);
    qint64 droppedLines() const { return m_dropped; }

private:
    void writeQueued();

    int m_fd = -1;
    bool m_ownFd = false;
    QSocketNotifier* m_notifier = nullptr;
    WriteQueue m_queue{kMaxQueuedBytes};
    qint64 m_dropped = 0;
};
