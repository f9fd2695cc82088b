#pragma once

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>

// Small file-system steps that several parts need done the same careful way: private folders,
// links replaced in one step, links read, and objects judged as OpenSSH's StrictModes judges
// ~/.ssh before trusting them.
namespace fsutil {

// An open descriptor, closed when it goes.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

enum class FollowLink { Yes, No };

// Makes path a folder only its owner can use: every missing folder on the way is made with mode
// 0700, and path itself, when it was there and belongs to the user, is tightened to 0700. A path
// that is no folder, or a folder of another user, is refused. False with *error set and errno
// saying why (EPERM for a folder of another user, ELOOP for a link refused).
bool makePrivateFolder(const QString& path, QString* error = nullptr);
// The same, keeping path open (O_DIRECTORY); an invalid Fd with *error set on failure.
Fd openPrivateFolder(const QString& path, QString* error);
// One level of it: the folder name inside dirfd, made when missing, checked and tightened.
// shown names it in messages. FollowLink::No refuses a symbolic link standing there.
Fd openPrivateFolderAt(int dirfd, const QString& name, const QString& shown, FollowLink follow,
                       QString* error);

// What the symbolic link name (inside dirfd; AT_FDCWD for a path) says; empty when it is no
// link, cannot be read or says more than PATH_MAX bytes.
QString readLinkAt(int dirfd, const QString& name);
inline QString readLink(const QString& path)
{
    return readLinkAt(AT_FDCWD, path);
}

// Points name (inside dirfd) at target in one step: a link made as ".name.new" is renamed over
// it, so name never goes missing on the way. The temporary name is fixed, so a leftover one is
// replaced next time; callers that may run at once hold a lock on the folder. Only a symbolic
// link or nothing may stand at name. False with *error set.
bool replaceSymlinkAt(int dirfd, const QString& name, const QString& target, const QString& shown,
                      QString* error);

// Empty when the object st describes (found at path) may be trusted: it belongs to the user or
// to root and, unless it is a symbolic link (whose mode means nothing) or a character device
// (whose mode says who may use the device, not where it leads), is writable by its owner alone.
// Otherwise what is wrong, with the command that mends it.
QString untrustedReason(const struct stat& st, const QString& path);

// errno's text.
QString errorText(int number);
// The user name of uid, or the number when it has none.
QString userName(uid_t uid);
// "alice (uid 1000)", or "uid 1000" when it has no name.
QString ownerText(uid_t uid);
// For a shell: 'text', with any ' in it written as '\''.
QString shellQuoted(const QString& text);
// Text safe to print on a terminal: control characters (C0, DEL, C1) shown as \ooo in octal,
// the bidirectional overrides as \uXXXX, and a backslash as \\, so that a file name can neither
// drive the terminal nor pass for another.
QString printable(const QString& text);

} // namespace fsutil
