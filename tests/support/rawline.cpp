#include "support/rawline.h"

#include <QFile>
#include <QTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

RawLine::RawLine(const QString& path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return;
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
}

void RawLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawLine::send(const QByteArray& bytes)
{
    return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray RawLine::take()
{
    QByteArray got;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0)
        got.append(buffer, int(n));
    return got;
}

QByteArray RawLine::receive(qsizetype count, int passes)
{
    QByteArray got;
    for (int pass = 0; pass < passes && got.size() < count; ++pass) {
        QTest::qWait(10);
        got += take();
    }
    return got;
}
