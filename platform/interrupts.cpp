#include "platform/interrupts.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void onSignal(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

Interrupts::Interrupts(QObject* parent) : QObject(parent) {}

Interrupts::~Interrupts()
{
    if (g_pipe[0] < 0)
        return;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool Interrupts::install()
{
    if (g_pipe[0] >= 0)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
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
