#pragma once

#include <QByteArray>
#include <QList>

// Bytes on their way to a non-blocking descriptor, in pieces kept in order. A reader that does
// not keep up neither blocks the writer nor grows the queue without bound: beyond the bound the
// oldest whole pieces go, all but the first, which may be half written already.
class WriteQueue
{
public:
    struct Dropped {
        qsizetype pieces = 0;
        qsizetype bytes = 0;
    };
    enum class Result {
        Empty,     // everything is written
        Blocked,   // the descriptor takes no more now: wait until it is writable
        PieceDone, // piece by piece: a whole piece has gone and more wait
        Failed,    // the write failed for good; error() tells why, the queue is left as it is
    };

    explicit WriteQueue(qsizetype maxBytes) : m_maxBytes(maxBytes) {}

    // Queues a piece (nothing is written yet); returns what had to go to keep the bound.
    Dropped append(const QByteArray& piece);
    // Writes what the descriptor takes; with pieceByPiece, at most one whole piece.
    Result writeTo(int fd, bool pieceByPiece = false);
    Dropped clear();

    bool isEmpty() const { return m_pieces.isEmpty(); }
    qsizetype bytes() const { return m_bytes; }
    int error() const { return m_error; }

private:
    qsizetype m_maxBytes;
    QList<QByteArray> m_pieces;
    qsizetype m_bytes = 0;
    int m_error = 0;
};
