#pragma once

#include "platform/fsutil.h"

#include <QString>

#include <sys/stat.h>

// Opens a folder one level below the other from a start that is given, judging on the way every
// folder it passes through, as OpenSSH judges the path to authorized_keys: whoever can change a
// folder on the way decides where the rest of the path leads. The start is the user's home when
// the folder lies in it (what is above a home is the system's), otherwise the root.
namespace pathwalk {

struct Options {
    // Missing folders are made, mode 0700 (a missing one is otherwise "missing", not an error).
    bool make = false;
    // Every folder passed through must belong to the user or root and be writable by nobody
    // else, group write by the user's private group aside. A sticky folder anyone may write
    // (such as /tmp) is passed only to what the user owns in it. A symbolic link met on the way
    // must belong to the user or root; what it leads to is then walked to the same way.
    bool judge = true;
};

struct Folder {
    fsutil::Fd fd; // the folder, open; invalid when missing or refused
    struct stat st {
    };            // of fd
    QString path; // where it is, every link on the way followed
    // A symbolic link was followed below the start: the folder is someone's link target, not
    // ours to change the mode of.
    bool throughLink = false;
    bool missing = false; // not made: the folder, or one above it, does not exist
    int errorNumber = 0;  // why it was refused: EPERM when it cannot be trusted
    QString error;        // the same in words, naming the path and the command that mends it

    bool isOpen() const { return fd.isValid(); }
};

// Opens the folder at path (absolute), judged as options say. The folder itself is not
// judged: its caller knows what it needs of it (see fsutil::untrustedReason).
Folder open(const QString& path, const Options& options);

// Where the start of path is: the user's home ($HOME) when path lies in it, else "/".
QString startOf(const QString& path);

} // namespace pathwalk
