#pragma once

#include <QByteArray>
#include <QString>

// Input that never decides by itself how much memory is used: a file, a pipe, a terminal or
// /dev/zero is read in chunks against limits on a line and on the whole, and reading stops at
// the first limit passed.
class BoundedLineReader
{
public:
    enum Result { Line, End, LineTooLong, TooMuch, Failed };

    // fd stays the caller's. maxLine counts a line's bytes without its newline.
    BoundedLineReader(int fd, qint64 maxLine, qint64 maxTotal);

    // The next line without its "\n" (a "\r" before it stays); the last line of input may
    // lack the newline. Line or End, or the limit passed / the read that failed.
    Result next(QByteArray* line);
    // The 1-based number of the line last returned (or being read when a limit was passed).
    int lineNumber() const { return m_lineNumber; }
    // Whether the last line returned ended with a newline (a torn last line does not).
    bool lineEnded() const { return m_ended; }
    qint64 bytesRead() const { return m_total; }
    QString errorString() const { return m_error; }

private:
    int m_fd;
    qint64 m_maxLine;
    qint64 m_maxTotal;
    QByteArray m_buffer;
    qsizetype m_scanned = 0;
    qint64 m_total = 0;
    int m_lineNumber = 0;
    bool m_eof = false;
    bool m_ended = false;
    QString m_error;
};

// Opens a file named on the command line for reading: "-" is standard input (returned as is).
// A folder is refused; a FIFO, a device or a terminal is read like any other input, within the
// reader's limits. -1 with *error set on failure.
int openInput(const QString& path, QString* error);
// Closes what openInput opened (never standard input).
void closeInput(int fd);

// "4 MiB", "4096 bytes": a limit as messages state it.
QString sizeText(qint64 bytes);
