#include "cards/cardoperations.h"

#include "cards/cardmethods.h"
#include "cards/databox.h"
#include "cards/statuswindow.h"
#include "link/commandlinerhythm.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/messagebox.h"
#include "platform/version.h"

namespace {

QByteArray statusReply(char code)
{
    return QByteArray(1, cmd::REPLY_STATUS) + code;
}

const QByteArray OK_REPLY = statusReply(cmd::ST_OK);
const QByteArray READ_DONE_REPLY = statusReply(cmd::ST_READ_DONE);
const QByteArray WRITE_DONE_REPLY = statusReply(cmd::ST_WRITE_DONE);

// What a reply that is neither the one expected nor a status says.
void readerAnswered(const QByteArray& reply, CardOutcome& out)
{
    out.result = CardOutcome::ReaderError;
    out.reply = reply;
    out.message = reply.startsWith(cmd::REPLY_STATUS)
                      ? statusMessage(reply)
                      : QStringLiteral("Unexpected reply from the reader");
}

} // namespace

CardOperations::CardOperations(ReaderLink& link, IStatusWindow& status, IMessageBox& messages,
                               IDataBox& dataBox)
    : m_link(link), m_status(status), m_messages(messages), m_dataBox(dataBox)
{
}

QString CardOperations::swipePrompt()
{
    return QStringLiteral("Swipe card when ready");
}

QString CardOperations::verifyPrompt()
{
    return QStringLiteral("Swipe the same card again to verify");
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

bool CardOperations::waitQuietly()
{
    return quietly(m_link.WaitForReply(false) == WAIT_TIMED_OUT);
}

bool CardOperations::quietly(bool timedOut)
{
    // A partly received frame must never be taken for a reply.
    if (timedOut)
        m_link.emptyReplyBuffer();
    return timedOut;
}

void CardOperations::lostLink(CardOutcome& out) const
{
    if (m_link.portLost()) {
        out.result = CardOutcome::PortLost;
        out.message = m_link.lossDescription();
    } else {
        out.result = CardOutcome::Interrupted;
    }
}

CardOperations::Step CardOperations::examine(quint64 ticket, const QByteArray& expected,
                                             bool timedOut, CardOutcome& out)
{
    // What the buffer holds now answers whichever operation took the link meanwhile.
    if (!holdsLink(ticket)) {
        // Still this operation's, ended by a signal or a loss: a "card written" that came
        // before still says the card was written.
        if (ticket == m_claims && out.acknowledged && !m_link.WaitingForReply() &&
            m_link.ReplyBuffer() == WRITE_DONE_REPLY)
            out.written = true;
        lostLink(out);
        return Step::Lost;
    }
    if (m_link.ReplyBuffer() == expected)
        return Step::Passed;
    const QByteArray reply = m_link.ReplyBuffer();
    const bool retry = m_link.ShowReplyError() == mb::IDRETRY;
    if (!holdsLink(ticket)) {
        lostLink(out);
        return Step::Lost;
    }
    if (timedOut) {
        out.result = CardOutcome::TimedOut;
        out.garbled = m_link.garbledFrames();
    } else
        readerAnswered(reply, out);
    return retry ? Step::Retry : Step::Failed;
}

CardOperations::Step CardOperations::awaitStatus(quint64 ticket, const QByteArray& expected,
                                                 CardOutcome& out)
{
    CommandLineRhythm* rhythm = m_link.commandLine();
    const bool timedOut = rhythm ? quietly(rhythm->waitForAcknowledgement()) : waitQuietly();
    return examine(ticket, expected, timedOut, out);
}

CardOperations::Step CardOperations::awaitSwipe(quint64 ticket, bool writingMode,
                                                const QString& prompt, const QByteArray& expected,
                                                CardOutcome& out)
{
    out.step = CardOutcome::Swipe;
    m_status.ShowStatusWindow(prompt, writingMode);
    // The reader reports the swipe by itself. The previous reply stays in the buffer, so its
    // frame fails the start test and is fetched again by one resend request.
    m_link.awaitSwipe();
    CommandLineRhythm* rhythm = m_link.commandLine();
    const bool timedOut = rhythm ? quietly(rhythm->waitForSwipeStatus()) : waitQuietly();
    m_status.HideStatusWindow();
    return examine(ticket, expected, timedOut, out);
}

void CardOperations::giveUp(CardOutcome& out)
{
    out.garbled = m_link.garbledFrames();
    // A status after the arm said how the swipe went (or that the arm was refused); anything
    // else leaves a write in doubt until the reset's reply shows the reader gave it up.
    const bool inDoubt = out.armed && !out.written && out.result != CardOutcome::ReaderError;
    bool settled = false;
    // Without a device there is nobody to reset.
    if (!m_link.portLost()) {
        m_link.SendData(QByteArray(1, cmd::CMD_RESET));
        out.resetSent = true;
        if (CommandLineRhythm* rhythm = m_link.commandLine()) {
            // A garbled frame since the arm may have been the reader's "card written".
            settled =
                rhythm->settlePendingReset() && out.garbled == 0 && m_link.garbledFrames() == 0;
            // Only after the arm's acknowledgement can a status be this card's; before it, one
            // says nothing either way.
            if (inDoubt && rhythm->lateSwipeStatus() == WRITE_DONE_REPLY) {
                out.written = out.acknowledged;
                settled = settled && out.acknowledged;
            }
        }
    }
    out.writeUncertain = inDoubt && !out.written && !settled;
    m_link.endWait();
}

void CardOperations::settleInterrupted(CardOutcome& out)
{
    CommandLineRhythm* rhythm = m_link.commandLine();
    if (!rhythm || out.result != CardOutcome::Interrupted || !out.writeUncertain ||
        !out.resetSent || m_link.portLost())
        return;
    m_link.resumeWaits();
    const bool answered = rhythm->settlePendingReset();
    if (rhythm->lateSwipeStatus() == WRITE_DONE_REPLY) {
        out.written = out.acknowledged;
        out.writeUncertain = !out.written;
        return;
    }
    // A garbled frame since the arm may have been the reader's "card written".
    out.writeUncertain = !answered || out.garbled != 0 || m_link.garbledFrames() != 0;
}

namespace {

CardOutcome notStarted()
{
    CardOutcome out;
    out.result = CardOutcome::NotStarted;
    return out;
}

} // namespace

CardOutcome CardOperations::cmdRead_Click(int cardMethod)
{
    const std::optional<CardMethodId> method = CardMethodId::fromIndex(cardMethod);
    if (!method)
        return notStarted();
    const CardOutcome out = readCard(*method);
    if (out.fetched)
        m_dataBox.setText(QString::fromLatin1(out.data));
    return out;
}

CardOutcome CardOperations::readCard(CardMethodId method)
{
    return readWith(method, swipePrompt());
}

CardOutcome CardOperations::readWith(CardMethodId method, const QString& prompt)
{
    if (m_link.aborting())
        return notStarted();
    CardOutcome out;
    try {
        read(QByteArray(1, method.readCommand()), prompt, out);
    } catch (const AppError& error) {
        m_status.HideStatusWindow();
        m_link.endWait();
        portFailed(error, out);
    }
    return out;
}

void CardOperations::read(const QByteArray& readCommands, const QString& prompt, CardOutcome& out)
{
    const quint64 ticket = claimLink();
    for (;;) {
        out.step = CardOutcome::Arm;
        if (m_link.DemoMode())
            m_link.putReply(OK_REPLY);
        else
            m_link.SendData(QByteArray(1, cmd::CMD_ARM));
        Step step = awaitStatus(ticket, OK_REPLY, out);
        if (step == Step::Passed)
            step = awaitSwipe(ticket, false, prompt, READ_DONE_REPLY, out);
        if (step == Step::Retry)
            continue;
        if (step == Step::Passed)
            break;
        giveUp(out);
        return;
    }

    // One swipe reads every track: each is fetched with its method's read command.
    out.step = CardOutcome::Fetch;
    for (const char readCommand : readCommands) {
        int outcome;
        do {
            m_link.SendData(QByteArray(1, readCommand));
            outcome = m_link.WaitForReply(true);
            // Another operation's reply is not this card's data: leave the box to that
            // operation.
            if (!holdsLink(ticket)) {
                lostLink(out);
                return;
            }
        } while (outcome == WAIT_TRY_AGAIN);

        out.fetched = true;
        // Only a good frame is a reply. After the operator gives up on a time-out the buffer
        // holds whatever raw bytes had come, which may begin with the read command by chance:
        // a piece of the card's data, never to be shown as the card's data.
        const QByteArray& reply = m_link.ReplyBuffer();
        if (outcome != WAIT_REPLIED) {
            out.result = CardOutcome::TimedOut;
            out.garbled = m_link.garbledFrames();
            return;
        }
        if (reply.isEmpty() || reply.at(0) != readCommand) {
            readerAnswered(reply, out);
            return;
        }
        out.result = CardOutcome::Done;
        out.tracks.append(reply.mid(1));
    }
    out.data = out.tracks.value(0);
}

CardOutcome CardOperations::readTracks(const QList<CardMethodId>& methods, const QString& prompt)
{
    if (m_link.aborting() || methods.isEmpty())
        return notStarted();
    CardOutcome out;
    QByteArray commands;
    for (const CardMethodId method : methods)
        commands += method.readCommand();
    try {
        read(commands, prompt, out);
    } catch (const AppError& error) {
        m_status.HideStatusWindow();
        m_link.endWait();
        portFailed(error, out);
    }
    return out;
}

CardOutcome CardOperations::cmdWrite_Click(int cardMethod)
{
    const std::optional<CardMethodId> method = CardMethodId::fromIndex(cardMethod);
    if (!method || m_link.aborting())
        return notStarted();
    CardOutcome out;
    QString data = m_dataBox.text();
    TrackDataCheck check;
    if (!CheckTrackData(QString(QLatin1Char(method->writeCommand())), data, m_messages, &check)) {
        out.step = CardOutcome::Check;
        out.result = check.verdict == TrackDataCheck::Invalid ? CardOutcome::Rejected
                                                              : CardOutcome::Declined;
        out.position = check.position;
        out.character = check.character;
        return out;
    }
    // The check has refused every character that does not fit in one byte.
    return writeChecked(*method, data.toLatin1());
}

CardOutcome CardOperations::writeCard(CardMethodId method, const QByteArray& data)
{
    if (m_link.aborting())
        return notStarted();
    return writeChecked(method, data);
}

CardOutcome CardOperations::writeChecked(CardMethodId method, const QByteArray& data)
{
    CardOutcome out;
    try {
        write(method.writeCommand(), data, out);
    } catch (const AppError& error) {
        m_status.HideStatusWindow();
        m_link.endWait();
        out.writeUncertain = out.armed && !out.written;
        portFailed(error, out);
    }
    return out;
}

void CardOperations::write(char writeCommand, const QByteArray& data, CardOutcome& out)
{
    const QByteArray load = QByteArray(1, writeCommand) + data;
    const quint64 ticket = claimLink();
    for (;;) {
        out.step = CardOutcome::Load;
        out.armed = false;
        out.acknowledged = false;
        m_link.SendData(load);
        Step step = awaitStatus(ticket, OK_REPLY, out);
        if (step == Step::Passed && beforeArm && !beforeArm()) {
            out.result = CardOutcome::NotStarted;
            giveUp(out);
            return;
        }
        if (step == Step::Passed) {
            out.step = CardOutcome::Arm;
            m_link.SendData(QByteArray(1, cmd::CMD_ARM));
            out.armed = true;
            step = awaitStatus(ticket, OK_REPLY, out);
            out.acknowledged = step == Step::Passed;
        }
        if (step == Step::Passed)
            step = awaitSwipe(ticket, true, swipePrompt(), WRITE_DONE_REPLY, out);
        if (step == Step::Retry)
            continue;
        if (step == Step::Passed) {
            out.result = CardOutcome::Done;
            out.written = true;
        } else {
            giveUp(out);
            // The reader confirmed the write while the reset was on its way.
            if (out.written && out.result == CardOutcome::TimedOut)
                out.result = CardOutcome::Done;
        }
        return;
    }
}

CardOutcome CardOperations::verifyCard(CardMethodId method, const QByteArray& data)
{
    const CardOutcome written = writeCard(method, data);
    if (!written.ok())
        return written;
    CardOutcome back = readWith(method, verifyPrompt());
    back.armed = true;
    back.written = true;
    if (back.step == CardOutcome::Fetch)
        back.step = CardOutcome::ReadBack;
    if (!back.ok())
        return back;
    if (back.data != data) {
        qsizetype at = 0;
        while (at < back.data.size() && at < data.size() && back.data.at(at) == data.at(at))
            ++at;
        back.result = CardOutcome::Mismatch;
        back.position = int(at) + 1;
    }
    return back;
}

CardOutcome CardOperations::cmdReset_Click()
{
    CardOutcome out;
    out.step = CardOutcome::Reset;
    claimLink();
    try {
        m_link.SendData(QByteArray(1, cmd::CMD_RESET));
        out.resetSent = true;
    } catch (const AppError& error) {
        // The operator still gets what Reset promises: no wait goes on, the box is cleared.
        m_link.endWait();
        m_dataBox.setText(QString());
        portFailed(error, out);
        return out;
    }
    m_link.endWait();
    m_dataBox.setText(QString());
    return out;
}

void CardOperations::portFailed(const AppError& error, CardOutcome& out)
{
    out.fetched = false;
    if (m_link.portLost()) {
        out.result = CardOutcome::PortLost;
        out.message = m_link.lossDescription();
    } else {
        out.result = CardOutcome::PortError;
        out.message = error.text();
    }
    reportPortError(error);
}

void CardOperations::reportPortError(const AppError& error)
{
    // Closing the program: the window the box would belong to is going away. A lost device
    // has its own message, shown once by whoever watches the link.
    if (m_link.aborting() || m_link.portLost())
        return;
    m_messages.show(error.text(), appTitle() + QStringLiteral(" - ERROR"), mb::OK, mb::Critical);
}
