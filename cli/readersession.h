#pragma once

#include "cards/cardoperations.h"
#include "cards/errorcode.h"
#include "cli/console.h"
#include "config/appsettings.h"
#include "link/protocol/cardmethod.h"
#include "platform/settingsstore.h"

#include <memory>

struct CliContext;
class IClock;
class IEventPump;
class ISerialPort;
class LinkDriver;
class ReaderLink;
class TracingPort;

// Everything a command needs to talk to the reader: the stored settings with the options laid
// over them, the environment's port (traced on request), the link with its poll, and the card
// operations with the console's boxes. Each step returns an exit status, 0 to go on; a failure has
// been reported through the context.
class ReaderSession
{
public:
    // The poll is this much faster than the window's 200 ms; the bench sets it through
    // TARNAVEL_CLI_POLL_MS to compare the two rhythms.
    static constexpr int kPollMs = 10;

    explicit ReaderSession(CliContext& ctx);
    ~ReaderSession();

    // Stored settings, then -p, -s, -t; with method, -m or the stored default method (else ISO
    // on Track 2, as a fresh installation has it). Usage errors exit 1; stored settings that
    // cannot be used exit 8. Makes the port and the link: everything below needs a session
    // configured.
    int configure(std::optional<CardMethodId>* method = nullptr);
    // configure() and bringUp(): what the commands without a card method start with.
    int start();
    // Opens the port, resets the reader (dropping whatever an earlier run left) and asks for
    // its type, as the window does before any operation.
    int bringUp();
    // bringUp() reached the reader.
    bool connected() const { return m_connected; }
    // Waits for the answer to the reset just sent: exit 3 when none came within the time-out,
    // 4 when it was an error status.
    int settleReset();
    // Exits 1 when the connected reader does not offer the method.
    int checkMethod(CardMethodId method, const QString& where = QString());

    // The exit status of an operation's outcome, reported unless one of the console's boxes
    // has told it already (since `boxes`), with whether the card was written. An interrupted
    // operation that has not reset the reader does so now, and an interrupted write is
    // settled by the reset's reply (outcome is updated).
    int finish(CardOutcome& outcome, const QString& what, int boxes);

    const AppSettings& settings() const { return m_settings; }
    ReaderLink& link() { return *m_link; }
    LinkDriver& driver() { return *m_driver; }
    CardOperations& operations() { return *m_operations; }
    ConsoleStatusWindow& status() { return m_status; }
    ConsoleMessageBox& messages() { return m_messages; }
    IClock& clock();
    IEventPump& pump();
    bool interrupted() const;
    // "COM1", or the device path given with --port.
    QString portName() const;
    // "COM1 (/dev/ttyUSB0)", or the device path given with --port.
    QString portLabel() const;
    // "The card reader/writer on COM1 (/dev/ttyUSB0) was disconnected.", naming a device
    // given with --port by its path.
    QString lossText() const;

private:
    // The port for what -p or the settings name, traced with --trace, and the link over it.
    void makeLink();
    // A settings file that is there but cannot be used: the command goes on only when the
    // options give every setting it needs (-m too, withMethod), never on the defaults.
    int refuseUnreadSettings(const store::Failure& failure, bool withMethod);
    int open();
    int connect();

    CliContext& m_ctx;
    bool m_connected = false;
    AppSettings m_settings;
    QString m_lineSettings;
    QString m_deviceOverride;
    std::unique_ptr<ISerialPort> m_serial;
    std::unique_ptr<TracingPort> m_tracer;
    ISerialPort* m_port = nullptr;
    ConsoleMessageBox m_messages;
    ConsoleStatusWindow m_status;
    ConsoleDataBox m_dataBox;
    std::unique_ptr<ReaderLink> m_link;
    std::unique_ptr<LinkDriver> m_driver;
    std::unique_ptr<CardOperations> m_operations;
};
