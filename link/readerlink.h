#pragma once

#include "link/protocol/commands.h"
// statusMessage, the text ShowReplyError shows, is one of the frame texts.
#include "link/protocol/frametext.h"

#include <QByteArray>
#include <QObject>

class ISerialPort;
class IClock;
class IMessageBox;
class IEventPump;
struct AppSettings;

// The link to the reader: its state and the transaction building blocks. One instance lives
// for the whole run; every window shares it.
class ReaderLink : public QObject
{
    Q_OBJECT
public:
    ReaderLink(ISerialPort& port, IClock& clock, IMessageBox& messages, IEventPump& pump,
               const AppSettings& settings, QObject* parent = nullptr);

    // A line that never completes a frame keeps only this many of its newest characters.
    static constexpr int kMaxReplyBuffer = 4096;
    static constexpr int kPollIntervalMs = 200;

    QByteArray ReplyBuffer;
    bool WaitingForReply = false;
    qint16 ReaderType = 0;
    bool DemoMode = false;

    // Empties ReplyBuffer, raises WaitingForReply, then writes one frame. Port errors
    // (AppError) reach the caller.
    void SendData(const QByteArray& data);
    // The 200 ms poll: collect, recognise and check a frame, or ask for it again.
    void tmrCheckComms_Timer();
    // Line error or line change: drop what the port holds.
    void MSComm1_OnComm();
    // Waits for WaitingForReply to drop or the time-out to pass; returns a WaitOutcome.
    int WaitForReply(bool askOnTimeout);
    // Shows the status message of a status reply; 4 for Retry, 2 otherwise.
    int ShowReplyError();
    bool GetReaderType();
    // Drops what the line holds, resets the reader and waits for the reset's reply, so that
    // the reader's state is known (an earlier run may have left it armed) and no stale reply
    // is taken for the next command's. False when the reader did not answer within the
    // time-out; ReplyBuffer then holds the reset's reply. Port errors (AppError) reach the
    // caller.
    bool startClean();

    // Ends every wait in progress at once and keeps new ones from starting (the program is
    // closing). Waits then return as timed out, and no prompt or status message is shown.
    void abortWaits();
    bool aborting() const { return m_aborting; }
    // Lets waits run again after abortWaits(), for one last bounded exchange (the reset a
    // command line sends when it is interrupted).
    void resumeWaits() { m_aborting = false; }

    // The command line's poll, many times faster than the window's, meets what a 200 ms poll
    // and an operator's pace never do. With this on, a reset sent without awaiting its reply
    // (a give-up) is awaited before the next command, so that its reply is never taken for
    // another's; and card operations take a swipe's status that arrives in the arm reply's
    // place as the swipe's outcome. The window leaves it off and keeps its rhythm exactly.
    void setFastRhythm(bool on) { m_fastRhythm = on; }
    bool fastRhythm() const { return m_fastRhythm; }
    // Waits until a reset sent earlier has its reply, or its time-out has passed since it was
    // sent. True when the reply came (or none was owed). A swipe status that arrives first is
    // the outcome of a swipe the reset came too late for: lateSwipeStatus() keeps it.
    bool settlePendingReset();
    bool resetPending() const { return m_resetPending; }
    // "l@" and the like: the last swipe status received while a reset was owed its reply.
    QByteArray lateSwipeStatus() const { return m_lateSwipeStatus; }
    // Frames that failed the check (and were asked for again) since the last command.
    int garbledFrames() const { return m_garbledFrames; }
    // The port's device has vanished (until the port is opened again). Waits end at once as
    // when aborting: there is nobody to answer and nothing to prompt about.
    bool portLost() const;
    // "The card reader/writer on COM1 (/dev/ttyUSB0) was disconnected."
    QString lossDescription() const;
    int waitDepth() const { return m_waitDepth; }

    ISerialPort& port() { return m_port; }
    const AppSettings& settings() const { return m_settings; }

signals:
    // The port has lost its device; raised once per loss, after every wait has been told.
    void lost();

private:
    // The command line's steps around a send: a reset owed its reply is settled first, frames
    // carried over are dropped, a reset is remembered as owed. Never run in the window's rhythm.
    void beforeFastSend(const QByteArray& data, bool resend);

    ISerialPort& m_port;
    IClock& m_clock;
    IMessageBox& m_messages;
    IEventPump& m_pump;
    const AppSettings& m_settings;
    bool m_aborting = false;
    int m_waitDepth = 0;
    bool m_fastRhythm = false;
    bool m_resetPending = false;
    qint64 m_resetSentAt = 0;
    QByteArray m_lateSwipeStatus;
    // Fast rhythm: bytes after a whole frame, taken at the next poll.
    QByteArray m_carry;
    int m_garbledFrames = 0;
};

// The statuses a reader sends by itself when a card has been swiped ("l@", "lA", "lP", "lQ",
// "lR"): never the reply to a command.
bool isSwipeStatus(const QByteArray& reply);
