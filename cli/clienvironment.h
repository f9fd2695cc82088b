#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class IClock;
class IEventPump;
class ISerialPort;
class ISettingsStore;
class Interrupts;
class ReaderLink;

// Standard input, output and error: the process's own, or a test's.
class IStandardStreams
{
public:
    enum Stream { Input, Output, Error };

    virtual ~IStandardStreams() = default;
    // Standard input's descriptor: read in bounded lines, polled by prompts.
    virtual int inputFd() const = 0;
    virtual bool isTerminal(Stream stream) const = 0;
    // The width of the terminal the stream is, in columns; 0 when it is none or does not say.
    virtual int columns(Stream stream) const = 0;
    // Output or Error: the bytes as given, whole; false with *error set (when given) when they
    // could not go out (a full disk, a closed pipe).
    virtual bool write(Stream stream, const QByteArray& bytes, QString* error) = 0;
};

// The process's standard input, output and error.
class ProcessStreams : public IStandardStreams
{
public:
    int inputFd() const override;
    bool isTerminal(Stream stream) const override;
    int columns(Stream stream) const override;
    bool write(Stream stream, const QByteArray& bytes, QString* error) override;
};

// What tarnavel-cli runs on. main() passes the process's own; tests pass the emulator on a
// loopback port, an in-memory store, a manual clock and streams in memory, so that a command
// runs the same code in both.
struct CliEnvironment {
    // The serial port for COMn (its number is set when it opens) when device is empty, else
    // for the device path given with --port.
    std::function<std::unique_ptr<ISerialPort>(const QString& device)> makePort;
    // The per-user settings, read and never written, and where they are kept, for messages.
    ISettingsStore& store;
    QString storePath;
    IClock& clock;
    IEventPump& pump;
    IStandardStreams& streams;
    Interrupts& interrupts;
    // Told of the link a command opens, and of nullptr once it is gone: a pump on a manual
    // clock runs that link's poll.
    std::function<void(ReaderLink*)> onLink;
    // The key that identifies batches in results files (loadResultsKey); nothing, with *error
    // set, when it cannot be had.
    std::function<std::optional<QByteArray>(QString* error)> resultsKey;
};

// The real serial port (QtSerialPort) for CliEnvironment::makePort.
std::unique_ptr<ISerialPort> makeSystemPort(const QString& device);
