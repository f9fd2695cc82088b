#include "platform/regfilelock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace regfile {

Lock::~Lock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int Lock::acquire(const QString& path, int timeoutMs)
{
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                  S_IRUSR | S_IWUSR);
    if (m_fd < 0)
        return errno;
    const QDeadlineTimer deadline(timeoutMs);
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return errno;
        if (deadline.hasExpired())
            return EWOULDBLOCK;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

} // namespace regfile
