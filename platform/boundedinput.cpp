#include "platform/boundedinput.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr qint64 kChunk = 64 * 1024;
} // namespace

BoundedLineReader::BoundedLineReader(int fd, qint64 maxLine, qint64 maxTotal)
    : m_fd(fd), m_maxLine(maxLine), m_maxTotal(maxTotal)
{
}

BoundedLineReader::Result BoundedLineReader::next(QByteArray* line)
{
    for (;;) {
        const qsizetype newline = m_buffer.indexOf('\n', m_scanned);
        if (newline >= 0 || (m_eof && !m_buffer.isEmpty())) {
            const qsizetype length = newline >= 0 ? newline : m_buffer.size();
            ++m_lineNumber;
            if (length > m_maxLine)
                return LineTooLong;
            *line = m_buffer.left(length);
            m_ended = newline >= 0;
            m_buffer.remove(0, newline >= 0 ? newline + 1 : length);
            m_scanned = 0;
            return Line;
        }
        if (m_eof)
            return End;
        // A line already past its limit is refused before anything more is read.
        if (m_buffer.size() > m_maxLine) {
            ++m_lineNumber;
            return LineTooLong;
        }
        m_scanned = m_buffer.size();
        const qsizetype had = m_buffer.size();
        m_buffer.resize(had + kChunk);
        ssize_t n;
        do {
            n = ::read(m_fd, m_buffer.data() + had, size_t(kChunk));
        } while (n < 0 && errno == EINTR);
        m_buffer.resize(had + qMax<ssize_t>(n, 0));
        if (n < 0) {
            m_error = qt_error_string(errno);
            return Failed;
        }
        if (n == 0) {
            m_eof = true;
            continue;
        }
        m_total += n;
        if (m_total > m_maxTotal)
            return TooMuch;
    }
}

int openInput(const QString& path, QString* error)
{
    if (path == QLatin1String("-"))
        return STDIN_FILENO;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return -1;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is a folder");
        return -1;
    }
    return fd;
}

void closeInput(int fd)
{
    if (fd > STDIN_FILENO)
        ::close(fd);
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}
