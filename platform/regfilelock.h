#pragma once

#include <QString>

namespace regfile {

// A lock on a file beside the store, held through flock() until the object goes. The kernel
// releases it however its owner ends, so a lock is never stale: no owner's process number or
// age needs judging, and a lock file a killed program left behind is simply locked again.
class Lock
{
public:
    Lock() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock();

    // Waits up to timeoutMs (0: tries once) for other holders to let go. Returns 0 once held,
    // EWOULDBLOCK when another holder kept it, or the system's error number.
    int acquire(const QString& path, int timeoutMs);

private:
    int m_fd = -1;
};

} // namespace regfile
