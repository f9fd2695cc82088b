#pragma once

#include <QByteArray>
#include <QString>

// The host side of an emulated line: a pseudo-terminal slave opened raw and non-blocking, as a
// serial port would be, for tests that speak the protocol byte by byte.
class RawLine
{
public:
    explicit RawLine(const QString& path);
    ~RawLine() { close(); }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close();
    bool send(const QByteArray& bytes);
    // What has arrived so far, without waiting.
    QByteArray take();
    // Runs the event loop in short passes until `count` bytes have come or the passes run out
    // (a bound, not a measured time).
    QByteArray receive(qsizetype count, int passes = 1500);

private:
    int m_fd = -1;
};
