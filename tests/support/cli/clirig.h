#pragma once

#include "cli/clienvironment.h"
#include "emulator/readermodel.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/memorystore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Standard streams in memory: input given beforehand and read through a descriptor, as the
// program reads its own; output and error kept.
class CapturedStreams : public IStandardStreams
{
public:
    explicit CapturedStreams(const QByteArray& input);
    ~CapturedStreams() override;
    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;

    int inputFd() const override { return m_input; }
    bool isTerminal(Stream stream) const override;
    int columns(Stream stream) const override;
    bool write(Stream stream, const QByteArray& bytes, QString* error) override;

    QByteArray out;
    QByteArray err;
    // What a terminal shows: every write to a stream posing as one, in order.
    QByteArray screen;
    // Standard input and error pose as a terminal this wide; output too when outputTerminal.
    bool terminal = false;
    bool outputTerminal = false;
    int width = 80;
    // When set, standard output is closed: every write to it fails with this.
    QString outFailure;

private:
    int m_input = -1;
};

struct CliRun {
    int status = -1;
    QByteArray out;
    QString err;
    QByteArray screen;
};

// tarnavel-cli in-process on test doubles: the emulator's device model behind a loopback
// port, an in-memory store, a manual clock whose pump runs the link's poll, and standard
// streams in memory. Waits and time-outs cost no real time. The model and the store outlive
// the runs.
class CliRig
{
public:
    CliRig();
    CliRun run(const QStringList& arguments, const QByteArray& input = QByteArray());

    ReaderModel model;
    MemoryStore store;
    ManualClock clock;
    ManualPump pump{clock};
    // The loopback port of the command in progress; nullptr outside one.
    LoopbackPort* port = nullptr;
    // The port swipes the card in the slot as soon as the reader is armed.
    bool autoSwipe = false;
    bool terminal = false;
    bool outputTerminal = false;
    int width = 80;
    QString outFailure;
    // Ports for device paths given with --port: the real port.
    bool realDevices = false;
    // Runs on every pass of a wait with standard error so far: the operator's hands.
    std::function<void(const QString& err)> onPass;
    // The data of every frame the host sent, in order, over all runs.
    QList<QByteArray> sent;

private:
    std::unique_ptr<ISerialPort> makePort(const QString& device);
};
