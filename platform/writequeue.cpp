#include "platform/writequeue.h"

#include <cerrno>
#include <unistd.h>

WriteQueue::Dropped WriteQueue::append(const QByteArray& piece)
{
    Dropped dropped;
    if (piece.isEmpty())
        return dropped;
    m_pieces.append(piece);
    m_bytes += piece.size();
    while (m_bytes > m_maxBytes && m_pieces.size() > 2) {
        const qsizetype size = m_pieces.at(1).size();
        m_pieces.removeAt(1);
        m_bytes -= size;
        ++dropped.pieces;
        dropped.bytes += size;
    }
    return dropped;
}

WriteQueue::Result WriteQueue::writeTo(int fd, bool pieceByPiece)
{
    while (!m_pieces.isEmpty()) {
        QByteArray& first = m_pieces.first();
        const ssize_t n = ::write(fd, first.constData(), size_t(first.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Result::Blocked;
        if (n < 0) {
            m_error = errno;
            return Result::Failed;
        }
        m_bytes -= n;
        first.remove(0, n);
        if (!first.isEmpty())
            continue;
        m_pieces.removeFirst();
        if (pieceByPiece && !m_pieces.isEmpty())
            return Result::PieceDone;
    }
    return Result::Empty;
}

WriteQueue::Dropped WriteQueue::clear()
{
    const Dropped dropped{m_pieces.size(), m_bytes};
    m_pieces.clear();
    m_bytes = 0;
    return dropped;
}
