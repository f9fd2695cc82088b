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

    // Runs once, on the first signal taken.
    std::function<void()> onInterrupt;

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_interrupted = false;
};
