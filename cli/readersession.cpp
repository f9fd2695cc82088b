#include "cli/readersession.h"

#include "cards/cardmethods.h"
#include "cli/command.h"
#include "cli/tracingport.h"
#include "config/ports.h"
#include "config/settingsio.h"
#include "link/commandlinerhythm.h"
#include "link/linkdriver.h"
#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/interrupts.h"

#include <QRegularExpression>
#include <QStringList>

#include <cerrno>

ReaderSession::ReaderSession(CliContext& ctx)
    : m_ctx(ctx), m_messages(ctx.console), m_status(ctx.console)
{
}

ReaderSession::~ReaderSession()
{
    if (!m_link)
        return;
    m_ctx.interrupts.onInterrupt = nullptr;
    m_driver->close();
    if (m_ctx.env.onLink)
        m_ctx.env.onLink(nullptr);
}

void ReaderSession::makeLink()
{
    m_serial = m_ctx.env.makePort(m_deviceOverride);
    m_port = m_serial.get();
    if (m_ctx.args.has(Opt::Trace)) {
        m_tracer = std::make_unique<TracingPort>(
            *m_serial, m_ctx.args.has(Opt::Reveal),
            [this](const QString& line) { m_ctx.console.err(line + QLatin1Char('\n')); });
        m_port = m_tracer.get();
    }
    m_link = std::make_unique<ReaderLink>(*m_port, m_ctx.env.clock, m_messages, m_ctx.env.pump,
                                          m_settings, ReaderLink::Rhythm::CommandLine);
    bool ok = false;
    const int poll = qEnvironmentVariableIntValue("TARNAVEL_CLI_POLL_MS", &ok);
    const int interval = ok && poll > 0 && poll <= 1000 ? poll : kPollMs;
    m_driver = std::make_unique<LinkDriver>(*m_link, interval);
    // Set to the window's rhythm, the bench compares with a program that only polls.
    m_driver->setEager(interval < ReaderLink::kPollIntervalMs);
    m_operations = std::make_unique<CardOperations>(*m_link, m_status, m_messages, m_dataBox);
    if (m_tracer)
        m_link->commandLine()->onDropped = [this](const QString& note) {
            m_ctx.console.err(QStringLiteral("       * ") + note + QLatin1Char('\n'));
        };
    m_ctx.interrupts.onInterrupt = [this] { m_link->abortWaits(); };
    if (m_ctx.env.onLink)
        m_ctx.env.onLink(m_link.get());
}

IClock& ReaderSession::clock()
{
    return m_ctx.env.clock;
}

IEventPump& ReaderSession::pump()
{
    return m_ctx.env.pump;
}

bool ReaderSession::interrupted() const
{
    return m_ctx.interrupts.interrupted();
}

int ReaderSession::start()
{
    if (const int status = configure())
        return status;
    return bringUp();
}

int ReaderSession::configure(std::optional<CardMethodId>* method)
{
    // Read only: the command line never saves settings.
    const store::Failure unread = LoadSettings(m_settings, m_ctx.env.store, settingsKeyPath());

    const CliArgs& args = m_ctx.args;
    const QString port = args.value(Opt::Port);
    if (!port.isEmpty()) {
        if (port.contains(QLatin1Char('/'))) {
            m_deviceOverride = port;
        } else {
            const int number = parsePortNumber(port);
            if (number < 1)
                return m_ctx.usage(QStringLiteral("--port takes COM1 to COM%1 or a device path "
                                                  "such as /dev/ttyUSB0, not \"%2\"")
                                       .arg(kMaxPortNumber)
                                       .arg(fsutil::printable(port)));
            m_settings.CommPort = qint16(number);
        }
    }
    if (args.has(Opt::Timeout)) {
        bool ok = false;
        const int seconds = args.value(Opt::Timeout).toInt(&ok);
        // No time at all would fail every exchange before the reader could answer.
        if (!ok || seconds < 1 || seconds > 32767)
            return m_ctx.usage(QStringLiteral("--timeout takes whole seconds from 1 to 32767, not "
                                              "\"%1\"")
                                   .arg(args.value(Opt::Timeout)));
        m_settings.Timeout = qint16(seconds);
    }
    if (unread.cause != store::Cause::None) {
        if (const int status = refuseUnreadSettings(unread, method != nullptr))
            return status;
    }
    makeLink();
    m_lineSettings =
        args.has(Opt::Settings) ? args.value(Opt::Settings) : lineSettingsText(m_settings);
    try {
        m_port->setSettings(m_lineSettings);
    } catch (const AppError& error) {
        // The serial control's "Invalid property value:" is the window's number 380, not news
        // to a terminal.
        QString text = error.description();
        text.remove(QRegularExpression(QStringLiteral("^Invalid property value: ")));
        if (args.has(Opt::Settings))
            return m_ctx.usage(text);
        return m_ctx.fail(ErrorCode::SettingsUnusable,
                          text + QStringLiteral(" (stored in %1; --settings overrides it)")
                                     .arg(fsutil::printable(m_ctx.env.storePath)));
    }
    if (!method)
        return exitcode::Ok;
    if (!args.has(Opt::Method)) {
        *method = CardMethodId::fromIndex(m_settings.DefType);
        if (!*method)
            *method = CardMethodId::fromIndex(1);
        return exitcode::Ok;
    }
    *method = CardMethodId::fromText(args.value(Opt::Method));
    if (!*method)
        return m_ctx.usage(QStringLiteral("unknown card method \"%1\": use 0 to 4 or %2")
                               .arg(args.value(Opt::Method), CardMethodId::shortNames()));
    return exitcode::Ok;
}

int ReaderSession::refuseUnreadSettings(const store::Failure& failure, bool withMethod)
{
    // What the stored settings would have given: every one of them on the command line makes
    // the file unnecessary.
    QStringList missing;
    for (const Opt option : {Opt::Port, Opt::Settings, Opt::Timeout, Opt::Method}) {
        if ((option != Opt::Method || withMethod) && !m_ctx.args.has(option))
            missing << QStringLiteral("-%1").arg(QLatin1Char(cliOption(option).shortName));
    }
    // Nothing of the file is used, not even what a stranger may have put there.
    m_settings = AppSettings();
    if (missing.isEmpty())
        return exitcode::Ok;
    const QString last = missing.takeLast();
    const QString options =
        missing.isEmpty() ? last
                          : missing.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    return m_ctx.fail(ErrorCode::SettingsUnusable,
                      loadFailureText(failure) +
                          QStringLiteral("; the defaults are not taken in its place, so no port "
                                         "was touched. Give %1 for this run, or mend the file "
                                         "(or move it aside and save the settings again in the "
                                         "window's Options).")
                              .arg(options));
}

int ReaderSession::open()
{
    try {
        m_driver->configure(m_settings.CommPort, m_lineSettings);
        m_driver->open();
    } catch (const AppError& error) {
        // The port's advice about the ports folder does not apply to a path given here.
        if (!m_deviceOverride.isEmpty() && error.number() == ENOENT)
            return m_ctx.fail(ErrorCode::PortUnavailable,
                              QStringLiteral("%1: %2. Check the path; tarnavel-cli ports lists "
                                             "the serial devices.")
                                  .arg(m_deviceOverride, qt_error_string(ENOENT)));
        return m_ctx.fail(ErrorCode::PortUnavailable, error.description());
    }
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

QString ReaderSession::lossText() const
{
    return QStringLiteral("The card reader/writer on %1 was disconnected.").arg(portLabel());
}

int ReaderSession::bringUp()
{
    m_ctx.interrupts.install();
    if (const int status = open())
        return status;
    return connect();
}

int ReaderSession::connect()
{
    bool settled = false;
    bool answered = false;
    try {
        // An earlier run may have left the reader armed, and its replies on the line.
        settled = m_link->commandLine()->startClean();
        const QByteArray reply = m_link->ReplyBuffer();
        if (settled && reply.startsWith(cmd::REPLY_STATUS) &&
            reply != QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK)
            return m_ctx.fail(ErrorCode::ReaderError,
                              QStringLiteral("the reader on %1 answered the reset with: %2")
                                  .arg(portLabel(), readerStatusText(reply)));
        answered = settled && m_link->GetReaderType();
    } catch (const AppError& error) {
        return m_link->portLost() ? m_ctx.fail(ErrorCode::ReaderLost, lossText())
                                  : m_ctx.fail(ErrorCode::PortError, error.description());
    }
    m_connected = answered;
    if (answered)
        return exitcode::Ok;
    if (interrupted())
        return m_ctx.fail(ErrorCode::Interrupted, QStringLiteral("interrupted"));
    if (m_link->portLost())
        return m_ctx.fail(ErrorCode::ReaderLost, lossText());
    // A storm of corrupted frames is not silence: the cure differs.
    const bool garbled = m_link->garbledFrames() > 0;
    const QByteArray reply = m_link->ReplyBuffer();
    // Without the reset's answer no version query went out: what came answered nothing.
    if (!settled && !reply.isEmpty() && !garbled)
        return m_ctx.fail(
            ErrorCode::UnexpectedReply,
            QStringLiteral("the reader on %1 did not answer the reset within %2 s, and sent %3 "
                           "instead; is it a BT904/BT905-class reader, with the line settings "
                           "%4?")
                .arg(portLabel())
                .arg(qMax<int>(0, m_settings.Timeout))
                .arg(isSwipeStatus(reply)
                         ? QStringLiteral("the status %1 (%2)")
                               .arg(printableBytes(reply, Quotes::None), statusMeaning(reply.at(1)))
                         : QStringLiteral("%1 bytes that are no reply (%2)")
                               .arg(reply.size())
                               .arg(printableBytesCut(reply)),
                     m_lineSettings));
    if (settled && reply.startsWith(cmd::REPLY_STATUS))
        return m_ctx.fail(ErrorCode::ReaderError,
                          QStringLiteral("the reader on %1 answered the version query with: %2")
                              .arg(portLabel(), readerStatusText(reply)));
    if (settled && !reply.isEmpty())
        return m_ctx.fail(ErrorCode::UnexpectedReply,
                          QStringLiteral("the device on %1 gave no version reply; is it a "
                                         "BT904/BT905-class reader, with the line settings %2?")
                              .arg(portLabel(), m_lineSettings));
    return m_ctx.fail(
        garbled ? ErrorCode::GarbledReplies : ErrorCode::NoReply,
        QStringLiteral("%1 from the reader on %2 within %3 s. %4 (%5)%6.")
            .arg(garbled ? QStringLiteral("only corrupted replies") : QStringLiteral("no reply"),
                 portLabel())
            .arg(qMax<int>(0, m_settings.Timeout))
            .arg(garbled ? QStringLiteral("Check the line settings")
                         : QStringLiteral("Check that it is switched on and "
                                          "connected, and the line settings"),
                 m_lineSettings, garbled ? QStringLiteral(" and the cable") : QString()));
}

int ReaderSession::settleReset()
{
    if (m_link->commandLine()->settlePendingReset()) {
        const QByteArray reply = m_link->ReplyBuffer();
        if (reply.startsWith(cmd::REPLY_STATUS) &&
            reply != QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK)
            return m_ctx.fail(ErrorCode::ReaderError,
                              QStringLiteral("the reader on %1 answered the reset with: %2")
                                  .arg(portLabel(), readerStatusText(reply)));
        return exitcode::Ok;
    }
    if (interrupted())
        return m_ctx.fail(ErrorCode::Interrupted, QStringLiteral("interrupted"));
    if (m_link->portLost())
        return m_ctx.fail(ErrorCode::ReaderLost, lossText());
    return m_ctx.fail(ErrorCode::NoReply,
                      QStringLiteral("no answer to the reset from the reader on %1 within %2 s")
                          .arg(portLabel())
                          .arg(qMax<int>(0, m_settings.Timeout)));
}

int ReaderSession::checkMethod(CardMethodId method, const QString& where)
{
    const QList<CardMethodId> lacking = unsupportedMethods(m_link->ReaderType());
    if (!lacking.contains(method))
        return exitcode::Ok;
    QStringList offered;
    for (const CardMethodId other : CardMethodId::all()) {
        if (!lacking.contains(other))
            offered << other.shortName();
    }
    return m_ctx.fail(ErrorCode::UnsupportedMethod,
                      where + QStringLiteral("%1 is not offered by this reader (type %2); it "
                                             "offers %3")
                                  .arg(method.name())
                                  .arg(m_link->ReaderType())
                                  .arg(offered.join(QStringLiteral(", "))));
}

int ReaderSession::finish(CardOutcome& outcome, const QString& what, int boxes)
{
    if (outcome.result == CardOutcome::Interrupted && !outcome.resetSent &&
        outcome.step != CardOutcome::NoStep && !m_link->portLost())
        m_operations->cmdReset_Click();
    m_operations->settleInterrupted(outcome);
    if (outcome.ok())
        return exitcode::Ok;
    const bool told = m_messages.shownCount() != boxes;
    QString text = outcome.result == CardOutcome::PortLost
                       ? lossText()
                       : describeOutcome(outcome, m_settings.Timeout);
    // The window's sentences end with a full stop; here the sentence goes on.
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (outcome.written && outcome.result != CardOutcome::Mismatch)
        text += QStringLiteral(" (the card was written)");
    else if (outcome.writeUncertain)
        text += QStringLiteral(" (whether the card was written is not known: read it back)");
    else if (outcome.step == CardOutcome::Load || outcome.armed)
        text += QStringLiteral(" (the card was not written)");
    return m_ctx.fail(*outcomeCode(outcome), what + QStringLiteral(": ") + text, told);
}
