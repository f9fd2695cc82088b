#pragma once

#include "link/protocol/commands.h"
// statusMessage, the text ShowReplyError shows, is one of the frame texts.
#include "link/protocol/frametext.h"

#include <QByteArray>
#include <QObject>

#include <memory>

class ISerialPort;
class IClock;
class IMessageBox;
class IEventPump;
class CommandLineRhythm;
struct AppSettings;

// The link to the reader: its state and the transaction building blocks. One instance lives
// for the whole run; every window shares it. The state is read through the methods named after
// it and changed only by the steps below, so every change has a name to look for.
class ReaderLink : public QObject
{
    Q_OBJECT
public:
    // The window polls every 200 ms and awaits no reply to a reset, exactly as designed. The
    // command line polls many times faster, which meets what that rhythm never does, and adds
    // the steps of CommandLineRhythm. A link keeps its rhythm for life: a step of one cannot run
    // in the other.
    enum class Rhythm { Window, CommandLine };

    ReaderLink(ISerialPort& port, IClock& clock, IMessageBox& messages, IEventPump& pump,
               const AppSettings& settings, Rhythm rhythm = Rhythm::Window,
               QObject* parent = nullptr);
    ~ReaderLink() override;

    // A line that never completes a frame keeps only this many of its newest characters.
    static constexpr int kMaxReplyBuffer = 4096;
    static constexpr int kPollIntervalMs = 200;

    // What has been received, or the body of the last good reply.
    const QByteArray& ReplyBuffer() const { return m_replyBuffer; }
    bool WaitingForReply() const { return m_waitingForReply; }
    // As the version query reported it (0 before any; 8 in demonstration mode).
    qint16 ReaderType() const { return m_readerType; }
    bool DemoMode() const { return m_demoMode; }
    void setDemoMode(bool on) { m_demoMode = on; }

    // An operation's time-out: a partly received frame is never to be taken for a reply.
    void emptyReplyBuffer() { m_replyBuffer.clear(); }
    // A reply put in place of the one the reader would send (the arm of a demonstration-mode
    // Read). WaitingForReply stays as it is.
    void putReply(const QByteArray& body) { m_replyBuffer = body; }
    // Raises WaitingForReply without sending: the reader reports the swipe by itself.
    void awaitSwipe() { m_waitingForReply = true; }
    // Lowers WaitingForReply: a reset awaits no reply, an opened port awaits nothing yet, and a
    // failed operation stops waiting.
    void endWait() { m_waitingForReply = false; }

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

    // The command line's steps; nullptr in the window's rhythm.
    CommandLineRhythm* commandLine() { return m_commandLine.get(); }

    // Ends every wait in progress at once and keeps new ones from starting (the program is
    // closing). Waits then return as timed out, and no prompt or status message is shown.
    void abortWaits();
    bool aborting() const { return m_aborting; }
    // Lets waits run again after abortWaits(), for one last bounded exchange (the reset a
    // command line sends when it is interrupted).
    void resumeWaits() { m_aborting = false; }

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
    friend class CommandLineRhythm;

    // start plus the time-out: in 32 bits every stored time-out up to 32767 s fits, and a
    // negative one counts as 0.
    qint64 deadlineFrom(qint64 start) const;
    // Runs the event loop until WaitingForReply drops, the waits are ended, the device goes,
    // or the deadline passes.
    void waitUntil(qint64 deadline);

    ISerialPort& m_port;
    IClock& m_clock;
    IMessageBox& m_messages;
    IEventPump& m_pump;
    const AppSettings& m_settings;
    QByteArray m_replyBuffer;
    bool m_waitingForReply = false;
    qint16 m_readerType = 0;
    bool m_demoMode = false;
    bool m_aborting = false;
    int m_waitDepth = 0;
    int m_garbledFrames = 0;
    std::unique_ptr<CommandLineRhythm> m_commandLine;
};

// The statuses a reader sends by itself when a card has been swiped ("l@", "lA", "lP", "lQ",
// "lR"): never the reply to a command.
bool isSwipeStatus(const QByteArray& reply);
