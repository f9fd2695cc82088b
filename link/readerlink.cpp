#include "link/readerlink.h"

#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/protocol/frametext.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/serialport.h"
#include "platform/version.h"

namespace {

// The first whole, good frame in bytes: [*start, end). -1 when there is none.
qsizetype findFrame(const QByteArray& bytes, qsizetype* start)
{
    for (qsizetype stx = bytes.indexOf(cmd::STX); stx >= 0;
         stx = bytes.indexOf(cmd::STX, stx + 1)) {
        const qsizetype etx = bytes.indexOf(cmd::ETX, stx + 1);
        if (etx < 0 || etx + 1 >= bytes.size())
            return -1;
        const QByteArray body = bytes.mid(stx + 1, etx - stx - 1);
        if (!body.isEmpty() && !body.contains(cmd::STX) &&
            CalcLRC(body + cmd::ETX) == bytes.at(etx + 1)) {
            *start = stx;
            return etx + 2;
        }
    }
    return -1;
}

} // namespace

ReaderLink::ReaderLink(ISerialPort& port, IClock& clock, IMessageBox& messages, IEventPump& pump,
                       const AppSettings& settings, QObject* parent)
    : QObject(parent), m_port(port), m_clock(clock), m_messages(messages), m_pump(pump),
      m_settings(settings)
{
    connect(&m_port, &ISerialPort::onComm, this, &ReaderLink::MSComm1_OnComm);
    connect(&m_port, &ISerialPort::lost, this, &ReaderLink::lost);
}

bool ReaderLink::portLost() const
{
    return m_port.deviceLost();
}

QString ReaderLink::lossDescription() const
{
    const QString device = m_port.devicePath();
    return QStringLiteral("The card reader/writer on COM%1%2 was disconnected.")
        .arg(m_port.commPort())
        .arg(device.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device));
}

void ReaderLink::SendData(const QByteArray& data)
{
    const bool resend = data.size() == 1 && data.at(0) == cmd::CMD_RESEND;
    if (m_fastRhythm)
        beforeFastSend(data, resend);
    if (!resend)
        m_garbledFrames = 0;
    // Buffer and flag first, so a reply that starts at once lands in an empty buffer.
    ReplyBuffer.clear();
    WaitingForReply = true;
    m_port.output(buildFrame(data));
}

void ReaderLink::beforeFastSend(const QByteArray& data, bool resend)
{
    const bool reset = data.size() == 1 && data.at(0) == cmd::CMD_RESET;
    if (!resend && m_resetPending)
        settlePendingReset();
    // Frames still waiting their turn are older than this command: none answers it, but a
    // swipe's status among them says what a reset comes too late for.
    if (reset)
        m_lateSwipeStatus.clear();
    for (qsizetype start = 0, end; (end = findFrame(m_carry, &start)) >= 0;
         m_carry.remove(0, end)) {
        const QByteArray body = m_carry.mid(start + 1, end - start - 3);
        if (reset && isSwipeStatus(body))
            m_lateSwipeStatus = body;
    }
    m_carry.clear();
    if (reset) {
        m_resetPending = true;
        m_resetSentAt = m_clock.ms();
    } else if (!resend) {
        m_resetPending = false;
    }
}

bool ReaderLink::settlePendingReset()
{
    if (!m_resetPending)
        return true;
    const qint32 budget = qMax<qint32>(0, qint32(m_settings.Timeout) * 1000);
    const qint64 deadline = m_resetSentAt + budget;
    WaitingForReply = true;
    ++m_waitDepth;
    bool timedOut = false;
    while (m_resetPending && !m_aborting && !portLost()) {
        if (m_clock.ms() > deadline) {
            timedOut = true;
            break;
        }
        m_pump.waitForEvents(deadline);
    }
    --m_waitDepth;
    WaitingForReply = false;
    if (!m_resetPending)
        return true;
    // An interrupted wait leaves the reply owed, for a last wait after resumeWaits().
    if (timedOut)
        m_resetPending = false;
    return false;
}

void ReaderLink::tmrCheckComms_Timer()
{
    QByteArray received;
    try {
        received = m_port.input();
    } catch (const AppError&) {
        return;
    }
    if (m_fastRhythm) {
        // Frames that came in one read are taken one a poll, so that each wait sees its own.
        received.prepend(m_carry);
        m_carry.clear();
        qsizetype start = 0;
        const qsizetype end = findFrame(ReplyBuffer + received, &start);
        if (end >= 0) {
            const QByteArray all = ReplyBuffer + received;
            m_carry = all.mid(end);
            ReplyBuffer.clear();
            received = all.mid(start, end - start);
        }
    }
    if (received.isEmpty())
        return;
    ReplyBuffer.append(received);
    if (ReplyBuffer.size() > kMaxReplyBuffer)
        ReplyBuffer = ReplyBuffer.right(kMaxReplyBuffer);
    const qsizetype length = ReplyBuffer.size();
    if (length < 2)
        return;
    // Completeness is judged by the second-last character alone.
    if (ReplyBuffer.at(length - 2) != cmd::ETX)
        return;
    const char receivedLrc = ReplyBuffer.at(length - 1);
    const char receivedStx = ReplyBuffer.at(0);
    // A two-character buffer (ETX and one more) has no body and no start: a bad frame.
    const bool hasBody = length >= 3;
    ReplyBuffer = hasBody ? ReplyBuffer.mid(1, length - 3) : QByteArray();
    // Frames collected together look like one frame from the first STX to the last check
    // character; with an odd number of identical frames the XOR still matches, so a body
    // that holds a start character is never taken for a reply.
    if (hasBody && receivedStx == cmd::STX && !ReplyBuffer.contains(cmd::STX) &&
        CalcLRC(ReplyBuffer + cmd::ETX) == receivedLrc) {
        if (m_fastRhythm && m_resetPending) {
            // A swipe the reset came too late for reports first; the reset's reply follows.
            if (isSwipeStatus(ReplyBuffer)) {
                m_lateSwipeStatus = ReplyBuffer;
                return;
            }
            m_resetPending = false;
        }
        WaitingForReply = false;
        return;
    }
    ++m_garbledFrames;
    try {
        SendData(QByteArray(1, cmd::CMD_RESEND));
    } catch (const AppError&) {
        // The port is gone; the waiting operation ends by its time-out.
    }
}

void ReaderLink::MSComm1_OnComm()
{
    try {
        (void)m_port.input();
    } catch (const AppError&) {
    }
}

int ReaderLink::WaitForReply(bool askOnTimeout)
{
    const qint64 start = m_clock.ms();
    // In 32 bits every stored time-out up to 32767 s fits; a negative one counts as 0.
    const qint32 budget = qMax<qint32>(0, qint32(m_settings.Timeout) * 1000);
    const qint64 deadline = start + budget;
    ++m_waitDepth;
    while (WaitingForReply && !m_aborting && !portLost()) {
        m_pump.waitForEvents(deadline);
        if (m_clock.ms() > deadline)
            break;
    }
    --m_waitDepth;
    if (!WaitingForReply)
        return WAIT_REPLIED;
    if (!askOnTimeout || m_aborting || portLost())
        return askOnTimeout ? WAIT_GIVE_UP : WAIT_TIMED_OUT;
    const int answer = m_messages.show(
        QStringLiteral("A Comms Timeout has occured.  Would you like to try again?"),
        appTitle() + QStringLiteral(" - Timeout ERROR"), mb::YesNo, mb::Exclamation);
    // The device may vanish while the question is up: there is nothing left to try again.
    return answer == mb::IDYES && !portLost() ? WAIT_TRY_AGAIN : WAIT_GIVE_UP;
}

bool isSwipeStatus(const QByteArray& reply)
{
    if (reply.size() != 2 || reply.at(0) != cmd::REPLY_STATUS)
        return false;
    switch (reply.at(1)) {
    case cmd::ST_WRITE_DONE:
    case cmd::ST_WRITE_ERROR:
    case cmd::ST_READ_DONE:
    case cmd::ST_READ_ERROR:
    case cmd::ST_READ_NO_DATA:
        return true;
    default:
        return false;
    }
}

int ReaderLink::ShowReplyError()
{
    if (ReplyBuffer.isEmpty() || ReplyBuffer.at(0) != cmd::REPLY_STATUS || m_aborting || portLost())
        return mb::IDCANCEL;
    const int answer =
        m_messages.show(statusMessage(ReplyBuffer), appTitle() + QStringLiteral(" - ERROR"),
                        mb::RetryCancel, mb::Critical);
    return answer == mb::IDRETRY && !portLost() ? int(mb::IDRETRY) : int(mb::IDCANCEL);
}

bool ReaderLink::GetReaderType()
{
    if (DemoMode) {
        ReaderType = 8;
        return true;
    }
    int outcome;
    do {
        SendData(QByteArray(1, cmd::CMD_VERSION));
        outcome = WaitForReply(true);
    } while (outcome == WAIT_TRY_AGAIN);
    if (outcome != WAIT_REPLIED)
        ReplyBuffer.clear();
    if (ReplyBuffer.size() == 2 && ReplyBuffer.at(0) == cmd::CMD_VERSION) {
        const char type = ReplyBuffer.at(1);
        ReaderType = (type >= '0' && type <= '9') ? qint16(type - '0') : qint16(0);
        return true;
    }
    return false;
}

bool ReaderLink::startClean()
{
    try {
        (void)m_port.input();
    } catch (const AppError&) {
    }
    SendData(QByteArray(1, cmd::CMD_RESET));
    return settlePendingReset();
}

void ReaderLink::abortWaits()
{
    m_aborting = true;
}

#include "moc_readerlink.cpp"
