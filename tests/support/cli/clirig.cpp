#include "support/cli/clirig.h"

#include "cli/clicommands.h"
#include "platform/interrupts.h"
#include "platform/qtserialport.h"

#include <sys/mman.h>
#include <unistd.h>

CapturedStreams::CapturedStreams(const QByteArray& input)
    : m_input(::memfd_create("stdin", MFD_CLOEXEC))
{
    if (m_input >= 0 &&
        (::write(m_input, input.constData(), size_t(input.size())) != input.size() ||
         ::lseek(m_input, 0, SEEK_SET) != 0)) {
        ::close(m_input);
        m_input = -1;
    }
}

CapturedStreams::~CapturedStreams()
{
    if (m_input >= 0)
        ::close(m_input);
}

bool CapturedStreams::isTerminal(Stream stream) const
{
    return terminal && (stream != Output || outputTerminal);
}

int CapturedStreams::columns(Stream stream) const
{
    return isTerminal(stream) ? width : 0;
}

bool CapturedStreams::write(Stream stream, const QByteArray& bytes, QString* error)
{
    if (stream == Output && !outFailure.isEmpty()) {
        if (error)
            *error = outFailure;
        return false;
    }
    (stream == Output ? out : err) += bytes;
    if (isTerminal(stream))
        screen += bytes;
    return true;
}

CliRig::CliRig()
{
    model.onLog = [this](const FrameLogEntry& entry) {
        if (entry.direction == FrameLogEntry::FromHost && entry.bytes.size() >= 3)
            sent << entry.bytes.mid(1, entry.bytes.size() - 3);
    };
}

std::unique_ptr<ISerialPort> CliRig::makePort(const QString& device)
{
    if (realDevices && !device.isEmpty())
        return makeSystemPort(device);
    auto loopback = std::make_unique<LoopbackPort>(model);
    loopback->autoSwipe = autoSwipe;
    // Line settings are checked as the real port checks them.
    loopback->checkSettings = [](const QString& settings) { QtSerialPort().setSettings(settings); };
    port = loopback.get();
    return loopback;
}

CliRun CliRig::run(const QStringList& arguments, const QByteArray& input)
{
    CapturedStreams streams(input);
    streams.terminal = terminal;
    streams.outputTerminal = outputTerminal;
    streams.width = width;
    streams.outFailure = outFailure;
    Interrupts interrupts;
    const CliEnvironment environment{
        [this](const QString& device) { return makePort(device); },
        store,
        QStringLiteral("user.reg"),
        clock,
        pump,
        streams,
        interrupts,
        [this](ReaderLink* link) {
            pump.setLink(link);
            if (!link)
                port = nullptr;
        },
        [](QString*) { return std::optional<QByteArray>(QByteArray(32, 'k')); }};
    pump.onPass = [&] {
        if (onPass && port)
            onPass(QString::fromLocal8Bit(streams.err));
    };
    CliRun result;
    result.status = runCli(environment, arguments);
    pump.onPass = nullptr;
    result.out = streams.out;
    result.err = QString::fromLocal8Bit(streams.err);
    result.screen = streams.screen;
    return result;
}
