#include "link/commandlinerhythm.h"

#include "link/protocol/commands.h"
#include "link/protocol/framesplitter.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/serialport.h"

namespace {

// The good frames in bytes; a reply never holds a start character, so one inside a frame
// starts the search over.
QList<FrameSplitter::Piece> goodFrames(const QByteArray& bytes)
{
    FrameSplitter splitter(ReaderLink::kMaxReplyBuffer, FrameSplitter::StxInFrame::Restart);
    QList<FrameSplitter::Piece> frames;
    for (const FrameSplitter::Piece& piece : splitter.feed(bytes)) {
        if (piece.good() && !piece.bytes.isEmpty())
            frames.append(piece);
    }
    return frames;
}

} // namespace

void CommandLineRhythm::beforeSend(const QByteArray& data, bool resend)
{
    const bool reset = data.size() == 1 && data.at(0) == cmd::CMD_RESET;
    if (!resend && m_resetPending)
        settlePendingReset();
    // Frames still waiting their turn are older than this command: none answers it, but a
    // swipe's status among them says what a reset comes too late for.
    if (reset) {
        m_lateSwipeStatus.clear();
        for (const FrameSplitter::Piece& frame : goodFrames(m_carry)) {
            if (isSwipeStatus(frame.bytes))
                m_lateSwipeStatus = frame.bytes;
        }
    }
    m_carry.clear();
    if (reset) {
        m_resetPending = true;
        m_resetSentAt = m_link.m_clock.ms();
    } else if (!resend) {
        m_resetPending = false;
    }
}

QByteArray CommandLineRhythm::oneFrame(const QByteArray& received)
{
    // Frames that came in one read are taken one a poll, so that each wait sees its own.
    const QByteArray all = m_link.m_replyBuffer + m_carry + received;
    m_carry.clear();
    const QList<FrameSplitter::Piece> frames = goodFrames(all);
    if (frames.isEmpty())
        return all.mid(m_link.m_replyBuffer.size());
    const FrameSplitter::Piece& first = frames.first();
    m_carry = all.mid(first.end);
    m_link.m_replyBuffer.clear();
    return all.mid(first.begin, first.end - first.begin);
}

bool CommandLineRhythm::holdsBack(const QByteArray& body)
{
    if (!m_resetPending)
        return false;
    // A swipe the reset came too late for reports first; the reset's reply follows.
    if (isSwipeStatus(body)) {
        m_lateSwipeStatus = body;
        return true;
    }
    m_resetPending = false;
    return false;
}

bool CommandLineRhythm::settlePendingReset()
{
    if (!m_resetPending)
        return true;
    const qint64 deadline = m_link.deadlineFrom(m_resetSentAt);
    m_link.m_waitingForReply = true;
    ++m_link.m_waitDepth;
    bool timedOut = false;
    while (m_resetPending && !m_link.m_aborting && !m_link.portLost()) {
        if (m_link.m_clock.ms() > deadline) {
            timedOut = true;
            break;
        }
        m_link.m_pump.waitForEvents(deadline);
    }
    --m_link.m_waitDepth;
    m_link.m_waitingForReply = false;
    if (!m_resetPending)
        return true;
    // An interrupted wait leaves the reply owed, for a last wait after resumeWaits().
    if (timedOut)
        m_resetPending = false;
    return false;
}

bool CommandLineRhythm::startClean()
{
    try {
        (void)m_link.m_port.input();
    } catch (const AppError&) {
    }
    m_link.SendData(QByteArray(1, cmd::CMD_RESET));
    return settlePendingReset();
}
