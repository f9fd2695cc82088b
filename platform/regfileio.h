#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>

// The settings file on disk: read only when it is a regular file of bounded size, replaced
// whole and atomically, and kept aside whole when it cannot be used.
namespace regfile {

// The largest file read, and so the largest one written: a file the store would not read back
// is never written.
inline constexpr qint64 kMaxFileSize = 1 << 20;

enum class FileState { Missing, Regular, TooLarge, Unusable };

// Who may change a regular file that was read.
struct Ownership {
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
};

// Reads the file only when it is a regular one of at most kMaxFileSize bytes. Anything else at
// the path (a FIFO, a device, a dangling link) is Unusable and never opened. For a regular file
// that could not be opened or read, *error gets the system's error number; otherwise 0. The
// ownership is that of the file opened, when it was one.
FileState readRegularFile(const QString& path, QByteArray* bytes, int* error = nullptr,
                          Ownership* ownership = nullptr);

// What stands at path instead of a regular file, in words: "a FIFO", "a symbolic link to
// /dev/zero, a character device", "a symbolic link to nowhere (missing)".
QString nonRegularText(const QString& path);

// How a change on disk ended: the system's error number (0: done), and whether the step that
// failed was the making of the new file rather than writing or placing it.
struct Outcome {
    int error = 0;
    bool notCreated = false;
};

// Writes bytes beside target (mode 0600) and renames them over it, so that target is always
// either the old file or the new one. beforeCommit runs between the two.
Outcome replaceAtomically(const QString& target, const QByteArray& bytes,
                          const std::function<void()>& beforeCommit);

// Renames the file to <path>.corrupt-<timestamp>, a name no other file has; returns 0 or the
// system's error number.
int moveAside(const QString& path);

// 0 when this process may write the existing file, else the system's error number.
int writeAccess(const QString& path);

} // namespace regfile
