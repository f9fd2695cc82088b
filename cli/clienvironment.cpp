#include "cli/clienvironment.h"

#include "platform/qtserialport.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

int ProcessStreams::inputFd() const
{
    return STDIN_FILENO;
}

bool ProcessStreams::isTerminal(Stream stream) const
{
    const int fd = stream == Input    ? STDIN_FILENO
                   : stream == Output ? STDOUT_FILENO
                                      : STDERR_FILENO;
    return ::isatty(fd) == 1;
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
    return port;
}
