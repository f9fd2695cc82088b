#include "support/fakeport.h"

#include <cerrno>
#include <cstring>

void FakePort::setPortOpen(bool open)
{
    if (open && openFailures > 0) {
        --openFailures;
        throw AppError(
            ENOENT, QStringLiteral("Cannot open COM%1: No such file or directory").arg(m_commPort));
    }
    m_open = open;
    m_lost = false;
}

void FakePort::pullCable()
{
    if (!m_open)
        return;
    m_open = false;
    m_lost = true;
    m_pieces.clear();
    emit onComm();
    emit lost();
}

void FakePort::output(const QByteArray& data)
{
    if (!m_open)
        throw AppError(EBADF, QStringLiteral("Port is not open"));
    if (failWrites)
        throw AppError(EIO, QStringLiteral("Input/output error"));
    written.append(data);
    if (onOutput)
        onOutput(data);
}

QByteArray FakePort::input()
{
    // Like the real port: polling a closed port finds nothing.
    if (!m_open)
        return {};
    return m_pieces.isEmpty() ? QByteArray() : m_pieces.takeFirst();
}

int FakePort::inBufferCount() const
{
    return m_pieces.isEmpty() ? 0 : int(m_pieces.first().size());
}
