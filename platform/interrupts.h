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

    // Until install(), a signal ends the process at once: the handlers write the ending text
    // and exit with 128 + the signal's number. A program calls this before it touches any
    // file or port, so that no signal ends it by the default action, without a word.
    static void endAtOnce();
    // The ending text for each signal: the bytes for standard error and for standard output
    // (the output's may be empty). Kept up to 1 KiB each; may be changed at any time.
    static void setEndingText(const std::function<QByteArray(int signal, bool output)>& text);
    // Installs the handlers that turn a signal into an event; false when the pipe cannot be
    // made.
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
