#include "emulator/logsink.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A descriptor of our own for the same pipe or terminal, non-blocking without changing the
// descriptor the shell shares with us. Files never block, so they are written as they are.
int nonBlockingTwin(int fd, bool* own)
{
    *own = false;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))
        return fd;
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    const int twin = ::open(proc.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (twin >= 0) {
        *own = true;
        return twin;
    }
    // A socket cannot be opened again: make the shared one non-blocking.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return fd;
}

} // namespace

LogSink::LogSink(int fd, QObject* parent) : QObject(parent)
{
    m_fd = nonBlockingTwin(fd, &m_ownFd);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &LogSink::writeQueued);
}

LogSink::~LogSink()
{
    // One last try; whatever the reader does not take now is left behind.
    writeQueued();
    if (m_ownFd)
        ::close(m_fd);
}

void LogSink::writeLine(const QString& line)
{
    QByteArray bytes = line.toLocal8Bit();
    bytes.append('\n');
    m_dropped += m_queue.append(bytes).pieces;
    if (!m_notifier->isEnabled())
        writeQueued();
}

void LogSink::writeQueued()
{
    m_notifier->setEnabled(false);
    for (;;) {
        switch (m_queue.writeTo(m_fd)) {
        case WriteQueue::Result::Blocked:
            m_notifier->setEnabled(true);
            return;
        case WriteQueue::Result::Failed:
            // Nobody will ever read it (the reader closed the pipe): stop queueing for it.
            m_dropped += m_queue.clear().pieces;
            return;
        case WriteQueue::Result::Empty:
        case WriteQueue::Result::PieceDone:
            break;
        }
        if (m_dropped == 0)
            return;
        m_queue.append("       * standard output was not read: " + QByteArray::number(m_dropped) +
                       " log line(s) dropped\n");
        m_dropped = 0;
    }
}

#include "moc_logsink.cpp"
