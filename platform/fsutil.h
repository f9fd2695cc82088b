#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <functional>
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

// The steps that change the file system go through one seam, so that a test or a campaign can
// make any of them fail the way a full disk, a quota or a failing network file system does.
enum class Step { MakeFolder, Chmod, MakeLink, Rename, Create, Write, Remove };
// Given each step and the name it works on: 0 lets it run, an errno makes it fail with that.
using FaultHook = std::function<int(Step step, const QByteArray& name)>;
// Installs a hook for as long as it lives (tests and campaigns only; one at a time).
class ScopedFaults
{
public:
    explicit ScopedFaults(FaultHook hook);
    ~ScopedFaults();
    ScopedFaults(const ScopedFaults&) = delete;
    ScopedFaults& operator=(const ScopedFaults&) = delete;
};

// The system calls of those steps, asking the hook first.
namespace sys {
int mkdirat(int dirfd, const char* name, mode_t mode);
int fchmod(int fd, mode_t mode);
int symlinkat(const char* target, int dirfd, const char* name);
int renameat(int fromDirfd, const char* from, int toDirfd, const char* to);
// Step Create when flags hold O_CREAT.
int openat(int dirfd, const char* name, int flags, mode_t mode = 0);
ssize_t write(int fd, const void* bytes, size_t count);
int unlinkat(int dirfd, const char* name, int flags);
} // namespace sys

// Makes path a folder only its owner can use: every missing folder on the way is made with mode
// 0700, and path itself, when it was there and belongs to the user, is tightened to 0700 unless
// it was reached through a symbolic link (whose target is not ours to change), or its file
// system keeps modes fixed. A path that is no folder, or a folder of another user, is refused.
// False with *error set and errno saying why (EPERM for a folder of another user, ELOOP for a
// link refused).
bool makePrivateFolder(const QString& path, QString* error = nullptr);
// The same, keeping path open (O_DIRECTORY); an invalid Fd with *error set on failure.
Fd openPrivateFolder(const QString& path, QString* error);
// One level of it: the folder name inside dirfd, made when missing, checked and tightened.
// shown names it in messages. FollowLink::No refuses a symbolic link standing there; a link
// followed is never tightened, nor is a folder below one when throughLink says so.
Fd openPrivateFolderAt(int dirfd, const QString& name, const QString& shown, FollowLink follow,
                       QString* error, bool throughLink = false);

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
// (whose mode says who may use the device, not where it leads), is writable by its owner alone,
// or by its group too where that is the user's private group (see isPrivateGroup). Otherwise
// what is wrong, with the command that mends it.
// A folder passed through on the way (Role::Passage) is mended with a gentler command than the
// folder itself: write taken from the others, its readers and owner kept.
enum class Role { Object, Passage };
QString untrustedReason(const struct stat& st, const QString& path, Role role = Role::Object);

// errno's text.
QString errorText(int number);
// A mode as chmod takes it: "0755", "1777".
QString octalMode(mode_t mode);
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
