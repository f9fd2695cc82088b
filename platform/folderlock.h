#pragma once

#include "platform/fsutil.h"

#include <QString>

// A lock on a folder's changes: an flock on a file inside it, mode 0600, that only the folder's
// owner can open. An flock on the folder itself could be taken by anyone able to open the
// folder, and held against its owner for ever. The file holds the holder's process number, and
// goes when its holder lets go; one a killed holder left behind is taken over, as the kernel
// drops a lock with its process.
class FolderLock
{
public:
    // How long a change waits for another one in progress before it gives up.
    static constexpr int kWaitMs = 5000;
    static constexpr char kName[] = ".lock";

    enum class Result {
        Held,
        Busy,        // another holder kept it for the whole wait: error names it where known
        Interrupted, // cancelFd became readable (a signal came) while waiting
        Failed,      // the lock file could not be had: error says why
    };

    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(FolderLock&&) noexcept = default;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Locks the folder dirfd (named shown in messages), waiting up to waitMs (0: one try) for
    // another holder, and returning early once cancelFd (if >= 0) is readable. *error is set
    // unless Held.
    Result acquire(int dirfd, const QString& shown, int waitMs, int cancelFd, QString* error);
    bool isHeld() const { return m_file.isValid(); }
    // Removes the lock file, if it is still this one, and lets go.
    void release();

    // "process 1234 (tarnavel-sim)" for whoever holds the lock file open as fd, from the
    // kernel's list of locks, else from what the file says; empty when it cannot be known.
    static QString holderOf(int fd);

private:
    fsutil::Fd m_folder;
    fsutil::Fd m_file;
};
