#include "cli/console.h"

#include "cli/clienvironment.h"
#include "platform/interrupts.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// Message texts of the window break lines with CR LF.
QString oneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

} // namespace

bool Console::out(const QByteArray& bytes, QString* error)
{
    // On a terminal shared with the status line, the line steps aside for the data too.
    const bool aside = !m_progress.isEmpty() && m_streams.isTerminal(IStandardStreams::Output);
    if (aside)
        writeErr(QByteArrayLiteral("\r\033[K"));
    QString failure;
    const bool written = m_streams.write(IStandardStreams::Output, bytes, &failure);
    if (aside && bytes.endsWith('\n'))
        writeErr(progressLine());
    if (written)
        return true;
    if (m_outputError.isEmpty())
        m_outputError = failure;
    if (error)
        *error = failure;
    return false;
}

void Console::message(const QString& text)
{
    err(QStringLiteral("tarnavel-cli: ") + text + QLatin1Char('\n'));
}

void Console::writeErr(const QByteArray& bytes)
{
    m_streams.write(IStandardStreams::Error, bytes, nullptr);
}

void Console::err(const QString& text)
{
    // The status line steps aside for the text and comes back under it.
    const QByteArray clear = m_progress.isEmpty() ? QByteArray() : QByteArrayLiteral("\r\033[K");
    const QByteArray redraw =
        m_progress.isEmpty() || !text.endsWith(QLatin1Char('\n')) ? QByteArray() : progressLine();
    writeErr(clear + text.toLocal8Bit() + redraw);
}

QByteArray Console::progressLine() const
{
    // A line that wrapped would leave its first part behind at every redraw; the last column
    // stays free, as some terminals wrap on reaching it.
    const int columns = m_streams.columns(IStandardStreams::Error);
    return (columns > 1 ? m_progress.left(columns - 1) : m_progress).toLocal8Bit();
}

bool Console::stderrIsTerminal() const
{
    return m_streams.isTerminal(IStandardStreams::Error);
}

void Console::setProgress(const QString& text)
{
    if (!stderrIsTerminal() || text == m_progress)
        return;
    const bool had = !m_progress.isEmpty();
    m_progress = text;
    writeErr((had ? QByteArrayLiteral("\r\033[K") : QByteArray()) + progressLine());
}

int Console::input() const
{
    return m_streams.inputFd();
}

bool Console::stdinIsTerminal() const
{
    return m_streams.isTerminal(IStandardStreams::Input);
}

bool Console::askYesNo(const QString& question)
{
    if (!m_interactive || m_interrupts.interrupted())
        return false;
    err(QStringLiteral("tarnavel-cli: ") + question + QStringLiteral(" [y/N] "));
    QByteArray line;
    for (;;) {
        pollfd fds[2] = {{input(), POLLIN, 0}, {m_interrupts.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if ((fds[1].revents & POLLIN) && m_interrupts.check()) {
            err(QStringLiteral("\n"));
            return false;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP)))
            continue;
        char c = 0;
        const ssize_t n = ::read(input(), &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err(QStringLiteral("\n"));
            break;
        }
        if (c == '\n')
            break;
        line.append(c);
    }
    const QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

int ConsoleMessageBox::show(const QString& text, const QString& title, mb::Buttons buttons,
                            mb::Icon icon, int defaultResult)
{
    Q_UNUSED(title);
    Q_UNUSED(icon);
    Q_UNUSED(defaultResult);
    switch (buttons) {
    case mb::YesNo:
        // Without a terminal the question is not put at all: the caller reports the outcome.
        if (!m_console.interactive())
            return mb::IDNO;
        ++m_shown;
        return m_console.askYesNo(oneLine(text)) ? mb::IDYES : mb::IDNO;
    case mb::RetryCancel:
        ++m_shown;
        m_console.message(oneLine(text));
        return m_console.askYesNo(QStringLiteral("Retry?")) ? mb::IDRETRY : mb::IDCANCEL;
    case mb::OKCancel:
        ++m_shown;
        return m_console.askYesNo(oneLine(text)) ? mb::IDOK : mb::IDCANCEL;
    case mb::OK:
        break;
    }
    ++m_shown;
    m_console.message(oneLine(text));
    return mb::IDOK;
}

void ConsoleStatusWindow::ShowStatusWindow(const QString& message, bool writingMode)
{
    Q_UNUSED(writingMode);
    // A prompt, not a complaint: no program name before it.
    if (m_context.isEmpty()) {
        m_console.err(message + QLatin1Char('\n'));
        return;
    }
    QString text = message;
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    m_console.err(m_context + QStringLiteral(": ") + text + QLatin1Char('\n'));
}
