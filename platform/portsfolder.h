#pragma once

#include "platform/folderlock.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/paths.h"

#include <QList>
#include <QString>

#include <sys/types.h>

// Unix98 pseudo-terminal slaves use majors 136 to 143 on Linux.
inline constexpr unsigned kFirstPtySlaveMajor = 136;
inline constexpr unsigned kLastPtySlaveMajor = 143;

inline constexpr int kMaxPortNumber = 256;

// "1", "com1" or "COM1" (up to COM256) -> 1; -1 for anything else.
int parsePortNumber(const QString& text);
// The entry of the ports folder that stands for COMn: "comN".
QString comName(int number);
// True for 1 to kMaxPortNumber; otherwise false with *error naming the range.
bool checkPortNumber(int number, QString* error);

// A pseudo-terminal slave: by its device number when it exists, by its /dev/pts/ name when it
// does not (a number freed by its owner).
bool isPseudoTerminal(const QString& device);

// What COMn stands for in the ports folder, and whether it may be opened.
struct ComEntry {
    enum class Kind {
        None,  // no comN: COMn is /dev/ttyS(n-1)
        Link,  // a symbolic link
        Other, // a device node or file put there, opened as it is
    };
    Kind kind = Kind::None;
    QString path;         // <folder>/comN
    QString target;       // what the link says, as written
    QString device;       // what opening COMn opens: the link followed to the end (as written when
                          // it leads nowhere)
    bool present = false; // device exists
    // What device is there, when it is a character device: what an open of it must find.
    bool characterDevice = false;
    dev_t deviceNumber = 0;
    bool pseudoTerminal = false; // device is (or was) a pseudo-terminal slave
    linkmark::Mark mark;         // looked at for pseudo-terminals only
    // A pseudo-terminal link beside a mark is trusted only while the mark names this link and
    // its device and, for tarnavel-sim's, the emulator still holds it; one without a mark was
    // made by hand and opens.
    bool emulator = false; // held by a running tarnavel-sim (mark.pid)
    bool byHand = false;   // linked with ports link, which vouches for it
    // Why it must not be opened; empty when it may. ESTALE: a pseudo-terminal link nobody
    // vouches for; EPERM: another user decides where it leads.
    int refusalNumber = 0;
    QString refusal;

    bool mayOpen() const { return refusalNumber == 0; }
};

// The ports folder, opened so that what is checked is what is used: every folder from the
// user's home (or from the root, for a folder outside it) down to the configuration folder (its
// parent) is opened below the one before and judged as OpenSSH judges the path to
// authorized_keys, the configuration folder and the ports folder as OpenSSH's StrictModes
// judges ~/.ssh (owned by the user or root, writable by nobody else, group write by the user's
// private group aside), and every entry is then looked at through the folder's descriptor
// without following it.
class PortsFolder
{
public:
    enum class State {
        Missing, // no folder (or no configuration folder): no links, nothing to refuse
        Open,
        Refused, // cannot be read, or cannot be trusted: error() says why, with the cure
    };

    // Opens folder (normally portsDirectory(), whose parent is the configuration folder) to
    // look at it.
    explicit PortsFolder(const QString& folder = portsDirectory());
    // Opens it for a change: the configuration folder and the folder are made when missing and
    // tightened to 0700 (unless reached through a symbolic link, whose target keeps its mode);
    // a folder of another user, one on the way that another user may change, or a ports folder
    // that is a symbolic link, is refused. State Open, or Refused with error().
    static PortsFolder forChange(const QString& folder = portsDirectory());

    State state() const { return m_state; }
    QString path() const { return m_path; }
    // errno of a refusal: EPERM for an untrusted folder, else what the system said.
    int errorNumber() const { return m_errorNumber; }
    QString error() const { return m_error; }
    int fd() const { return m_fd.get(); }

    ComEntry entry(int number) const;
    // The numbers N of every comN entry, in order. *error is set when the folder cannot be read
    // to the end.
    QList<int> numbers(QString* error) const;

    // Held until this object goes: every change to a link or a mark is made under it. Waits
    // up to waitMs for another change in progress, or until cancelFd (when >= 0) is readable;
    // then FolderLock::Result says which, with *error set.
    FolderLock::Result lock(QString* error, int waitMs = FolderLock::kWaitMs, int cancelFd = -1);

private:
    void refuse(int number, const QString& text);
    // Checks the folder opened as fd (found at path); refuses it when it cannot be trusted.
    bool trust(int fd, const QString& path);

    State m_state = State::Missing;
    QString m_path;
    int m_errorNumber = 0;
    QString m_error;
    fsutil::Fd m_fd;
    FolderLock m_lock;
};
