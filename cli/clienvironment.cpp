#include "cli/clienvironment.h"

#include "platform/qtserialport.h"

#include <cerrno>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

int ProcessStreams::inputFd() const
{
    return STDIN_FILENO;
}

namespace {

int descriptorOf(IStandardStreams::Stream stream)
{
    return stream == IStandardStreams::Input    ? STDIN_FILENO
           : stream == IStandardStreams::Output ? STDOUT_FILENO
                                                : STDERR_FILENO;
}

} // namespace

bool ProcessStreams::isTerminal(Stream stream) const
{
    return ::isatty(descriptorOf(stream)) == 1;
}

int ProcessStreams::columns(Stream stream) const
{
    // Asked each time: the window may have been resized since.
    winsize size{};
    if (::ioctl(descriptorOf(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool ProcessStreams::write(Stream stream, const QByteArray& bytes, QString* error)
{
    FILE* file = stream == Output ? stdout : stderr;
    errno = 0;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size()) &&
        std::fflush(file) == 0;
    if (written)
        return true;
    if (error)
        *error = qt_error_string(errno != 0 ? errno : EIO);
    std::clearerr(file);
    return false;
}

std::unique_ptr<ISerialPort> makeSystemPort(const QString& device)
{
    auto port = std::make_unique<QtSerialPort>();
    port->setDeviceOverride(device);
    port->setStaleLinkRemoval(QStringLiteral("tarnavel-cli ports unlink %1"));
    return port;
}
