#include "cli/readersession.h"

#include "cards/cardmethods.h"
#include "cli/cliargs.h"
#include "cli/exitcodes.h"
#include "platform/interrupts.h"
#include "cli/tracingport.h"
#include "config/settingsio.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/paths.h"
#include "platform/regfilestore.h"

#include <QStringList>

#include <cerrno>

ReaderSession::ReaderSession(const CliArgs& args, Console& console, Interrupts& interrupts)
    : m_args(args), m_interrupts(interrupts), m_messages(console)
{
    m_port = &m_serial;
    if (args.trace) {
        m_tracer = std::make_unique<TracingPort>(m_serial, args.reveal, [](const QString& line) {
            Console::err(line + QLatin1Char('\n'));
        });
        m_port = m_tracer.get();
    }
    m_link = std::make_unique<ReaderLink>(*m_port, m_clock, m_messages, m_pump, m_settings);
    m_operations = std::make_unique<CardOperations>(*m_link, m_status, m_messages, m_dataBox);
    m_interrupts.onInterrupt = [this] { m_link->abortWaits(); };

    bool ok = false;
    const int poll = qEnvironmentVariableIntValue("TARNAVEL_CLI_POLL_MS", &ok);
    m_poll.setInterval(ok && poll > 0 && poll <= 1000 ? poll : kPollMs);
    QObject::connect(&m_poll, &QTimer::timeout, m_link.get(),
                     [this] { m_link->tmrCheckComms_Timer(); });
}

ReaderSession::~ReaderSession()
{
    m_poll.stop();
    m_interrupts.onInterrupt = nullptr;
    try {
        m_port->setPortOpen(false);
    } catch (const AppError&) {
    }
}

bool ReaderSession::interrupted() const
{
    return m_interrupts.interrupted();
}

int ReaderSession::configure()
{
    // Read only: the command line never saves settings.
    RegFileStore store(userStorePath());
    LoadSettings(m_settings, store, settingsKeyPath());

    if (!m_args.port.isEmpty()) {
        if (m_args.port.contains(QLatin1Char('/'))) {
            m_deviceOverride = m_args.port;
        } else {
            QString number = m_args.port;
            if (number.startsWith(QLatin1String("com"), Qt::CaseInsensitive))
                number.remove(0, 3);
            bool ok = false;
            const int port = number.toInt(&ok);
            if (!ok || port < 1 || port > 256) {
                Console::message(QStringLiteral("--port takes COM1 to COM256 or a device path such "
                                                "as /dev/ttyUSB0, not \"%1\"")
                                     .arg(m_args.port));
                return exitcode::Usage;
            }
            m_settings.CommPort = qint16(port);
        }
    }
    if (!m_args.timeout.isEmpty()) {
        bool ok = false;
        const int seconds = m_args.timeout.toInt(&ok);
        if (!ok || seconds < 0 || seconds > 32767) {
            Console::message(QStringLiteral("--timeout takes whole seconds from 0 to 32767, not "
                                            "\"%1\"")
                                 .arg(m_args.timeout));
            return exitcode::Usage;
        }
        m_settings.Timeout = qint16(seconds);
    }
    m_lineSettings = m_args.settings.isEmpty() ? lineSettingsText(m_settings) : m_args.settings;
    try {
        m_port->setSettings(m_lineSettings);
    } catch (const AppError& error) {
        Console::message(
            error.description() +
            (m_args.settings.isEmpty()
                 ? QStringLiteral(" (stored in %1; --settings overrides it)").arg(userStorePath())
                 : QString()));
        return exitcode::Usage;
    }
    return exitcode::Ok;
}

int ReaderSession::open()
{
    try {
        m_port->setCommPort(m_settings.CommPort);
        m_serial.setDeviceOverride(m_deviceOverride);
        m_port->setPortOpen(true);
        m_port->setInputMode(0);
    } catch (const AppError& error) {
        // The port's advice about the ports folder does not apply to a path given here.
        if (!m_deviceOverride.isEmpty() && error.number() == ENOENT)
            Console::message(QStringLiteral("%1: %2. Check the path; tarnavel-cli ports lists "
                                            "the serial devices.")
                                 .arg(m_deviceOverride, qt_error_string(ENOENT)));
        else
            Console::message(error.description());
        return exitcode::Port;
    }
    m_link->WaitingForReply = false;
    m_poll.start();
    return exitcode::Ok;
}

QString ReaderSession::portName() const
{
    return m_deviceOverride.isEmpty() ? QStringLiteral("COM%1").arg(m_port->commPort())
                                      : m_deviceOverride;
}

QString ReaderSession::portLabel() const
{
    const QString device = m_port->devicePath();
    if (!m_deviceOverride.isEmpty() || device.isEmpty())
        return portName();
    return QStringLiteral("%1 (%2)").arg(portName(), device);
}

int ReaderSession::connect()
{
    bool answered = false;
    try {
        answered = m_link->GetReaderType();
    } catch (const AppError& error) {
        Console::message(m_link->portLost() ? m_link->lossDescription() : error.description());
        return exitcode::Port;
    }
    if (answered)
        return exitcode::Ok;
    if (interrupted()) {
        Console::message(QStringLiteral("interrupted"));
        return exitcode::Interrupted;
    }
    if (m_link->portLost()) {
        Console::message(m_link->lossDescription());
        return exitcode::Port;
    }
    const QByteArray reply = m_link->ReplyBuffer;
    if (reply.startsWith('l')) {
        Console::message(QStringLiteral("the reader on %1 answered the version query with: %2 "
                                        "(reader status %3)")
                             .arg(portLabel(), statusMessage(reply), QString::fromLatin1(reply)));
        return exitcode::Reader;
    }
    if (!reply.isEmpty()) {
        Console::message(QStringLiteral("the device on %1 gave no version reply; is it a "
                                        "BT904/BT905-class reader, with the line settings %2?")
                             .arg(portLabel(), m_lineSettings));
        return exitcode::Reader;
    }
    Console::message(QStringLiteral("no reply from the reader on %1 within %2 s. Check that it "
                                    "is switched on and connected, and the line settings (%3).")
                         .arg(portLabel())
                         .arg(qMax<int>(0, m_settings.Timeout))
                         .arg(m_lineSettings));
    return exitcode::NoReply;
}

int ReaderSession::checkMethod(int method)
{
    const QList<int> lacking = unsupportedMethods(m_link->ReaderType);
    if (!lacking.contains(method))
        return exitcode::Ok;
    QStringList offered;
    for (int index = 0; index < CARD_METHOD_COUNT; ++index) {
        if (!lacking.contains(index))
            offered << methodShortName(index);
    }
    Console::message(QStringLiteral("%1 is not offered by this reader (type %2); it offers %3")
                         .arg(methodName(method))
                         .arg(m_link->ReaderType)
                         .arg(offered.join(QStringLiteral(", "))));
    return exitcode::Usage;
}

int ReaderSession::exitStatus(const CardOutcome& outcome)
{
    switch (outcome.result) {
    case CardOutcome::Done:
        return exitcode::Ok;
    case CardOutcome::NotStarted:
        return exitcode::Usage;
    case CardOutcome::Rejected:
    case CardOutcome::Declined:
        return exitcode::Rejected;
    case CardOutcome::TimedOut:
        return exitcode::NoReply;
    case CardOutcome::ReaderError:
        return exitcode::Reader;
    case CardOutcome::Mismatch:
        return exitcode::Mismatch;
    case CardOutcome::PortLost:
    case CardOutcome::PortError:
        return exitcode::Port;
    case CardOutcome::Interrupted:
        return exitcode::Interrupted;
    }
    return exitcode::Usage;
}

int ReaderSession::finish(const CardOutcome& outcome, const QString& what, int boxes)
{
    if (outcome.result == CardOutcome::Interrupted && !outcome.resetSent &&
        outcome.step != CardOutcome::NoStep && !m_link->portLost())
        m_operations->cmdReset_Click();
    if (!outcome.ok() && m_messages.shownCount() == boxes)
        Console::message(what + QStringLiteral(": ") +
                         describeOutcome(outcome, m_settings.Timeout));
    return exitStatus(outcome);
}
