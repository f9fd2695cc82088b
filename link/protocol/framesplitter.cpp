#include "link/protocol/framesplitter.h"

#include "link/protocol/commands.h"
#include "link/protocol/frame.h"

bool FrameSplitter::Piece::good() const
{
    return isFrame() && overflow == 0 && CalcLRC(bytes + cmd::ETX) == lrc;
}

QByteArray FrameSplitter::Piece::wire() const
{
    if (!isFrame())
        return bytes;
    return cmd::STX + bytes + cmd::ETX + lrc;
}

FrameSplitter::FrameSplitter(qsizetype maxData, StxInFrame stx) : m_maxData(maxData), m_stx(stx) {}

void FrameSplitter::startFrame(qsizetype at)
{
    m_state = State::InFrame;
    m_pending = QByteArray(1, cmd::STX);
    m_overflow = 0;
    m_begin = at;
}

QList<FrameSplitter::Piece> FrameSplitter::feed(const QByteArray& bytes)
{
    QList<Piece> pieces;
    Piece stray;
    const auto flushStray = [&](qsizetype at) {
        if (stray.bytes.isEmpty())
            return;
        stray.end = at;
        pieces.append(stray);
        stray = Piece{};
    };
    for (const char b : bytes) {
        const qsizetype at = m_fed++;
        switch (m_state) {
        case State::Idle:
            if (b == cmd::STX) {
                flushStray(at);
                startFrame(at);
            } else {
                if (stray.bytes.isEmpty())
                    stray.begin = at;
                stray.bytes.append(b);
            }
            break;
        case State::InFrame:
            if (b == cmd::ETX) {
                m_state = State::AwaitLrc;
            } else if (b == cmd::STX && m_stx == StxInFrame::Restart) {
                pieces.append({Piece::Kind::Stray, m_pending, 0, 0, m_begin, at});
                startFrame(at);
            } else if (m_pending.size() <= m_maxData) {
                m_pending.append(b);
            } else {
                ++m_overflow;
            }
            break;
        case State::AwaitLrc:
            pieces.append({Piece::Kind::Frame, m_pending.mid(1), b, m_overflow, m_begin, at + 1});
            m_state = State::Idle;
            m_pending.clear();
            m_overflow = 0;
            break;
        }
    }
    flushStray(m_fed);
    return pieces;
}

QByteArray FrameSplitter::takePending()
{
    QByteArray bytes = m_pending;
    if (m_state == State::AwaitLrc)
        bytes.append(cmd::ETX);
    m_state = State::Idle;
    m_pending.clear();
    m_overflow = 0;
    return bytes;
}

void FrameSplitter::clear()
{
    takePending();
    m_fed = 0;
}
