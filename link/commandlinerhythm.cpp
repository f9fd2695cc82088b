#include "link/commandlinerhythm.h"

#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/protocol/framesplitter.h"
#include "link/protocol/frametext.h"
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
    if (resend)
        return;
    if (m_resetPending)
        settlePendingReset();
    // Whatever the line holds now is older than this command: none of it answers it, but a
    // swipe's status among it says what a reset comes too late for.
    QByteArray waiting = m_carry;
    m_carry.clear();
    try {
        waiting += m_link.m_port.input();
    } catch (const AppError&) {
    }
    if (reset)
        m_lateSwipeStatus.clear();
    for (const FrameSplitter::Piece& frame : goodFrames(waiting)) {
        if (reset && isSwipeStatus(frame.bytes))
            m_lateSwipeStatus = frame.bytes;
        else
            dropped(frame.bytes, QStringLiteral("it came before the command it would answer"));
    }
    if (reset) {
        m_resetPending = true;
        m_resetSentAt = m_link.m_clock.ms();
    } else {
        m_resetPending = false;
    }
}

void CommandLineRhythm::dropped(const QByteArray& body, const QString& why)
{
    if (onDropped)
        onDropped(
            QStringLiteral("dropped %1: %2")
                .arg(
                    describeFrame(FrameSender::Reader, buildFrame(body), TrackData::Hidden).meaning,
                    why));
}

bool CommandLineRhythm::waitSkipping(bool (*skip)(const QByteArray& body), const char* why)
{
    const qint64 deadline = m_link.deadlineFrom(m_link.m_clock.ms());
    for (;;) {
        m_link.waitUntil(deadline);
        // Still waiting: the deadline passed, the waits were ended or the device went.
        if (m_link.m_waitingForReply)
            return true;
        if (!skip(m_link.m_replyBuffer))
            return false;
        dropped(m_link.m_replyBuffer, QString::fromLatin1(why));
        m_link.m_replyBuffer.clear();
        m_link.m_waitingForReply = true;
    }
}

bool CommandLineRhythm::waitForAcknowledgement()
{
    return waitSkipping(isSwipeStatus, "a swipe's status before the arm was acknowledged belongs "
                                       "to no card in hand");
}

bool CommandLineRhythm::waitForSwipeStatus()
{
    return waitSkipping(
        [](const QByteArray& body) {
            return body == QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK;
        },
        "an acknowledgement repeated on a resend request, not the swipe's status");
}

QByteArray CommandLineRhythm::oneFrame(const QByteArray& received)
{
    // A reply nobody has looked at yet stays: what comes meanwhile waits its turn (and goes
    // before the next command, if no wait takes it), however many polls run before the waiting
    // operation looks.
    if (!m_link.m_waitingForReply) {
        m_carry += received;
        if (m_carry.size() > ReaderLink::kMaxReplyBuffer)
            m_carry = m_carry.right(ReaderLink::kMaxReplyBuffer);
        return QByteArray();
    }
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
