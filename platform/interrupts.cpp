#include "platform/interrupts.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler that ends the process writes, prepared beforehand: a handler may not
// allocate or format.
struct Ending {
    char bytes[1024];
    size_t size;
};
Ending g_ending[3][2];

int slotOf(int signal)
{
    return signal == SIGINT ? 0 : signal == SIGTERM ? 1 : 2;
}

void writeWhole(int fd, const Ending& ending)
{
    size_t done = 0;
    while (done < ending.size) {
        const ssize_t n = ::write(fd, ending.bytes + done, ending.size - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += size_t(n);
    }
}

void endNow(int signal)
{
    // The message first: a standard output nobody reads must not keep it back.
    const Ending* texts = g_ending[slotOf(signal)];
    writeWhole(STDERR_FILENO, texts[0]);
    writeWhole(STDOUT_FILENO, texts[1]);
    ::_exit(128 + signal);
}

void onSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void handleWith(void (*handler)(int))
{
    struct sigaction action {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

Interrupts::Interrupts(QObject* parent) : QObject(parent) {}

Interrupts::~Interrupts()
{
    if (g_pipe[0] < 0)
        return;
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void Interrupts::endAtOnce()
{
    if (g_pipe[0] < 0)
        handleWith(endNow);
}

void Interrupts::setEndingText(const std::function<QByteArray(int signal, bool output)>& text)
{
    // The handler must never see a text half written.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    for (const int signal : kSignals)
        sigaddset(&blocked, signal);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    for (const int signal : kSignals) {
        for (const bool output : {false, true}) {
            const QByteArray bytes = text(signal, output);
            Ending& ending = g_ending[slotOf(signal)][output ? 1 : 0];
            ending.size = size_t(qMin<qsizetype>(bytes.size(), sizeof ending.bytes));
            std::memcpy(ending.bytes, bytes.constData(), ending.size);
        }
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

bool Interrupts::install()
{
    if (g_pipe[0] >= 0)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    handleWith(onSignal);
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { check(); });
    return true;
}

int Interrupts::fd() const
{
    return g_pipe[0];
}

bool Interrupts::check()
{
    if (g_pipe[0] < 0)
        return m_interrupted;
    char byte = 0;
    bool arrived = false;
    while (::read(g_pipe[0], &byte, 1) > 0) {
        arrived = true;
        if (m_signal == 0)
            m_signal = uchar(byte);
    }
    if (arrived) {
        m_interrupted = true;
        if (onInterrupt)
            onInterrupt();
    }
    return m_interrupted;
}

#include "moc_interrupts.cpp"
