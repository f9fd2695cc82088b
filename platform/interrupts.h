#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Ctrl+C (and SIGTERM, SIGHUP) turned into an event: the handler only writes a byte to a pipe,
// and whoever waits (the event loop, a prompt) sees the pipe become readable.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    explicit Interrupts(QObject* parent = nullptr);
    ~Interrupts() override;

    // Installs the handlers; false when the pipe cannot be made.
    bool install();
    // The pipe's read end, for a prompt that polls it beside standard input.
    int fd() const;
    // Takes any pending signal; true once one has arrived.
    bool check();
    bool interrupted() const { return m_interrupted; }
    // The first signal taken (SIGINT, SIGTERM or SIGHUP); 0 before any.
    int signalNumber() const { return m_signal; }
    // 128 + the first signal's number, the shell's status for a program a signal ended.
    int exitStatus() const { return 128 + m_signal; }

    // Runs on every signal taken: a second Ctrl+C ends a last wait the first one allowed.
    std::function<void()> onInterrupt;

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_interrupted = false;
    int m_signal = 0;
};
