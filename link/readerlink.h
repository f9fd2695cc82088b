#pragma once

#include "link/commands.h"
// statusMessage, the text ShowReplyError shows, is one of the frame texts.
#include "link/frametext.h"

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

    // Ends every wait in progress at once and keeps new ones from starting (the program is
    // closing). Waits then return as timed out, and no prompt or status message is shown.
    void abortWaits();
    bool aborting() const { return m_aborting; }
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
    ISerialPort& m_port;
    IClock& m_clock;
    IMessageBox& m_messages;
    IEventPump& m_pump;
    const AppSettings& m_settings;
    bool m_aborting = false;
    int m_waitDepth = 0;
};
