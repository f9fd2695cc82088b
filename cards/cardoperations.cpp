#include "cards/cardoperations.h"

#include "cards/cardmethods.h"
#include "cards/databox.h"
#include "cards/statuswindow.h"
#include "config/version.h"
#include "link/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/messagebox.h"

namespace {

QByteArray statusReply(char code)
{
    return QByteArray(1, cmd::REPLY_STATUS) + code;
}

const QByteArray OK_REPLY = statusReply(cmd::ST_OK);
const QByteArray READ_DONE_REPLY = statusReply(cmd::ST_READ_DONE);
const QByteArray WRITE_DONE_REPLY = statusReply(cmd::ST_WRITE_DONE);

QString swipePrompt()
{
    return QStringLiteral("Swipe card when ready");
}

} // namespace

CardOperations::CardOperations(ReaderLink& link, IStatusWindow& status, IMessageBox& messages,
                               IDataBox& dataBox)
    : m_link(link), m_status(status), m_messages(messages), m_dataBox(dataBox)
{
}

quint64 CardOperations::claimLink()
{
    return ++m_claims;
}

bool CardOperations::holdsLink(quint64 ticket) const
{
    // A port that lost its device answers nobody: what the buffer holds is no reply.
    return ticket == m_claims && !m_link.aborting() && !m_link.portLost();
}

void CardOperations::waitQuietly()
{
    // A partly received frame must never be taken for a reply.
    if (m_link.WaitForReply(false) == WAIT_TIMED_OUT)
        m_link.ReplyBuffer.clear();
}

CardOperations::Step CardOperations::examine(quint64 ticket, const QByteArray& expected)
{
    // What the buffer holds now answers whichever operation took the link meanwhile.
    if (!holdsLink(ticket))
        return Step::Lost;
    if (m_link.ReplyBuffer == expected)
        return Step::Passed;
    const bool retry = m_link.ShowReplyError() == mb::IDRETRY;
    if (!holdsLink(ticket))
        return Step::Lost;
    return retry ? Step::Retry : Step::Failed;
}

CardOperations::Step CardOperations::awaitStatus(quint64 ticket, const QByteArray& expected)
{
    waitQuietly();
    return examine(ticket, expected);
}

CardOperations::Step CardOperations::awaitSwipe(quint64 ticket, bool writingMode,
                                                const QByteArray& expected)
{
    m_status.ShowStatusWindow(swipePrompt(), writingMode);
    // The reader reports the swipe by itself. The previous reply stays in the buffer, so its
    // frame fails the start test and is fetched again by one resend request.
    m_link.WaitingForReply = true;
    waitQuietly();
    m_status.HideStatusWindow();
    return examine(ticket, expected);
}

void CardOperations::giveUp()
{
    // Without a device there is nobody to reset.
    if (!m_link.portLost())
        m_link.SendData(QByteArray(1, cmd::CMD_RESET));
    m_link.WaitingForReply = false;
}

void CardOperations::cmdRead_Click(int cardMethod)
{
    if (!isCardMethod(cardMethod) || m_link.aborting())
        return;
    try {
        read(methodReadCommand(cardMethod));
    } catch (const AppError& error) {
        m_status.HideStatusWindow();
        m_link.WaitingForReply = false;
        reportPortError(error);
    }
}

void CardOperations::read(char readCommand)
{
    const quint64 ticket = claimLink();
    for (;;) {
        if (m_link.DemoMode)
            m_link.ReplyBuffer = OK_REPLY;
        else
            m_link.SendData(QByteArray(1, cmd::CMD_ARM));
        Step step = awaitStatus(ticket, OK_REPLY);
        if (step == Step::Passed)
            step = awaitSwipe(ticket, false, READ_DONE_REPLY);
        if (step == Step::Retry)
            continue;
        if (step == Step::Passed)
            break;
        giveUp();
        return;
    }

    int outcome;
    do {
        m_link.SendData(QByteArray(1, readCommand));
        outcome = m_link.WaitForReply(true);
        // Another operation's reply is not this card's data: leave the box to that operation.
        if (!holdsLink(ticket))
            return;
    } while (outcome == WAIT_TRY_AGAIN);

    // Only a good frame is a reply. After the operator gives up on a time-out the buffer holds
    // whatever raw bytes had come, which may begin with the read command by chance: a piece of
    // the card's data, never to be shown as the card's data.
    const QByteArray& reply = m_link.ReplyBuffer;
    if (outcome == WAIT_REPLIED && !reply.isEmpty() && reply.at(0) == readCommand)
        m_dataBox.setText(QString::fromLatin1(reply.mid(1)));
    else
        m_dataBox.setText(QString());
}

void CardOperations::cmdWrite_Click(int cardMethod)
{
    if (!isCardMethod(cardMethod) || m_link.aborting())
        return;
    try {
        write(methodWriteCommand(cardMethod));
    } catch (const AppError& error) {
        m_status.HideStatusWindow();
        m_link.WaitingForReply = false;
        reportPortError(error);
    }
}

void CardOperations::write(char writeCommand)
{
    QString data = m_dataBox.text();
    if (!CheckTrackData(QString(QLatin1Char(writeCommand)), data, m_messages))
        return;
    // The check has refused every character that does not fit in one byte.
    const QByteArray load = QByteArray(1, writeCommand) + data.toLatin1();
    const quint64 ticket = claimLink();
    for (;;) {
        m_link.SendData(load);
        Step step = awaitStatus(ticket, OK_REPLY);
        if (step == Step::Passed) {
            m_link.SendData(QByteArray(1, cmd::CMD_ARM));
            step = awaitStatus(ticket, OK_REPLY);
        }
        if (step == Step::Passed)
            step = awaitSwipe(ticket, true, WRITE_DONE_REPLY);
        if (step == Step::Retry)
            continue;
        if (step != Step::Passed)
            giveUp();
        return;
    }
}

void CardOperations::cmdReset_Click()
{
    claimLink();
    try {
        m_link.SendData(QByteArray(1, cmd::CMD_RESET));
    } catch (const AppError& error) {
        // The operator still gets what Reset promises: no wait goes on, the box is cleared.
        m_link.WaitingForReply = false;
        m_dataBox.setText(QString());
        reportPortError(error);
        return;
    }
    m_link.WaitingForReply = false;
    m_dataBox.setText(QString());
}

void CardOperations::reportPortError(const AppError& error)
{
    // Closing the program: the window the box would belong to is going away. A lost device
    // has its own message, shown once by whoever watches the link.
    if (m_link.aborting() || m_link.portLost())
        return;
    m_messages.show(error.text(), appTitle() + QStringLiteral(" - ERROR"), mb::OK, mb::Critical);
}
