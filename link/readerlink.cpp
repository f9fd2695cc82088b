#include "link/readerlink.h"

#include "config/appsettings.h"
#include "link/commandlinerhythm.h"
#include "link/protocol/frame.h"
#include "link/protocol/frametext.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/serialport.h"
#include "platform/version.h"

ReaderLink::ReaderLink(ISerialPort& port, IClock& clock, IMessageBox& messages, IEventPump& pump,
                       const AppSettings& settings, Rhythm rhythm, QObject* parent)
    : QObject(parent), m_port(port), m_clock(clock), m_messages(messages), m_pump(pump),
      m_settings(settings)
{
    if (rhythm == Rhythm::CommandLine)
        m_commandLine = std::make_unique<CommandLineRhythm>(*this);
    connect(&m_port, &ISerialPort::onComm, this, &ReaderLink::MSComm1_OnComm);
    connect(&m_port, &ISerialPort::lost, this, &ReaderLink::lost);
}

ReaderLink::~ReaderLink() = default;

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

qint64 ReaderLink::deadlineFrom(qint64 start) const
{
    return start + qMax<qint32>(0, qint32(m_settings.Timeout) * 1000);
}

void ReaderLink::SendData(const QByteArray& data)
{
    const bool resend = data.size() == 1 && data.at(0) == cmd::CMD_RESEND;
    if (m_commandLine)
        m_commandLine->beforeSend(data, resend);
    if (!resend)
        m_garbledFrames = 0;
    // Buffer and flag first, so a reply that starts at once lands in an empty buffer.
    m_replyBuffer.clear();
    m_waitingForReply = true;
    m_port.output(buildFrame(data));
}

void ReaderLink::tmrCheckComms_Timer()
{
    QByteArray received;
    try {
        received = m_port.input();
    } catch (const AppError&) {
        return;
    }
    if (m_commandLine)
        received = m_commandLine->oneFrame(received);
    if (received.isEmpty())
        return;
    m_replyBuffer.append(received);
    if (m_replyBuffer.size() > kMaxReplyBuffer)
        m_replyBuffer = m_replyBuffer.right(kMaxReplyBuffer);
    const qsizetype length = m_replyBuffer.size();
    if (length < 2)
        return;
    // Completeness is judged by the second-last character alone.
    if (m_replyBuffer.at(length - 2) != cmd::ETX)
        return;
    const char receivedLrc = m_replyBuffer.at(length - 1);
    const char receivedStx = m_replyBuffer.at(0);
    // A two-character buffer (ETX and one more) has no body and no start: a bad frame.
    const bool hasBody = length >= 3;
    m_replyBuffer = hasBody ? m_replyBuffer.mid(1, length - 3) : QByteArray();
    // Frames collected together look like one frame from the first STX to the last check
    // character; with an odd number of identical frames the XOR still matches, so a body
    // that holds a start character is never taken for a reply.
    if (hasBody && receivedStx == cmd::STX && !m_replyBuffer.contains(cmd::STX) &&
        CalcLRC(m_replyBuffer + cmd::ETX) == receivedLrc) {
        if (m_commandLine && m_commandLine->holdsBack(m_replyBuffer))
            return;
        m_waitingForReply = false;
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

void ReaderLink::waitUntil(qint64 deadline)
{
    ++m_waitDepth;
    while (m_waitingForReply && !m_aborting && !portLost()) {
        m_pump.waitForEvents(deadline);
        if (m_clock.ms() > deadline)
            break;
    }
    --m_waitDepth;
}

int ReaderLink::WaitForReply(bool askOnTimeout)
{
    waitUntil(deadlineFrom(m_clock.ms()));
    if (!m_waitingForReply)
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
    if (m_replyBuffer.isEmpty() || m_replyBuffer.at(0) != cmd::REPLY_STATUS || m_aborting ||
        portLost())
        return mb::IDCANCEL;
    const int answer =
        m_messages.show(statusMessage(m_replyBuffer), appTitle() + QStringLiteral(" - ERROR"),
                        mb::RetryCancel, mb::Critical);
    return answer == mb::IDRETRY && !portLost() ? int(mb::IDRETRY) : int(mb::IDCANCEL);
}

bool ReaderLink::GetReaderType()
{
    if (m_demoMode) {
        m_readerType = 8;
        return true;
    }
    int outcome;
    do {
        SendData(QByteArray(1, cmd::CMD_VERSION));
        outcome = WaitForReply(true);
    } while (outcome == WAIT_TRY_AGAIN);
    if (outcome != WAIT_REPLIED)
        m_replyBuffer.clear();
    if (m_replyBuffer.size() == 2 && m_replyBuffer.at(0) == cmd::CMD_VERSION) {
        const char type = m_replyBuffer.at(1);
        m_readerType = (type >= '0' && type <= '9') ? qint16(type - '0') : qint16(0);
        return true;
    }
    return false;
}

void ReaderLink::abortWaits()
{
    m_aborting = true;
}

#include "moc_readerlink.cpp"
