#pragma once

#include "platform/processes.h"

#include <QList>
#include <QString>
#include <QStringList>

class SystemTree;

// Who holds a serial device: the lock files that serial programs on Linux leave in /run/lock
// (LCK..ttyUSB0 holding the holder's process id; QSerialPort writes one too) and the processes
// that have the device open. A lock file's process id is only a claim: it counts when that
// process runs and, where its open files can be seen, has the device open.
struct PortHolder {
    enum class Kind {
        Window,       // quorvex-tarnavel
        CommandLine,  // tarnavel-cli
        Emulator,     // tarnavel-sim
        ModemManager, // probes serial ports for modems
        Brltty,       // takes some USB serial adapters for braille displays
        Terminal,     // minicom, picocom, screen and the like
        Login,        // a getty on the line
        Other,
    };
    ProcessInfo process;
    Kind kind = Kind::Other;
    bool openSeen = false; // found with the device open in /proc
    bool itself = false;   // this very program
    QString lockFile;      // the lock file naming it, if any
};

struct LockFile {
    QString path;
    uid_t owner = 0;
    qint64 pid = 0;     // as the file claims; 0 when it holds none
    QString claimedBy;  // the program it names, if it names one (QSerialPort's do)
    bool alive = false; // a process of that id runs
    // The process runs but, as far as can be seen, does not have the device open: its id has
    // gone to another program since.
    bool pidReused = false;

    bool stale() const { return !alive || pidReused; }
};

struct HolderSearch {
    QList<LockFile> locks;
    QList<PortHolder> holders;
    bool procAvailable = false;
    bool complete = true;
    // Processes whose open files could not be looked at (other users', without privilege).
    int hidden = 0;
};

// The lock files' names for a device: LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for
// /dev/pts/3, as QSerialPort and the UUCP convention make them.
QString lockFileName(const QString& device);
// The folders serial programs put lock files in.
QStringList lockFolders();

// Looks for the holders of the node (the device file, links followed) and for lock files
// under any of the names it may have been opened by (aliases: the link or path given).
HolderSearch findPortHolders(const SystemTree& tree, const QString& node,
                             const QStringList& aliases = {});

PortHolder::Kind holderKind(const ProcessInfo& process);
// Why a stale lock file is one: "process 4242 has ended".
QString staleLockReason(const LockFile& lock);
// "ModemManager (process 612)", with "another user's" when it is not ours.
QString holderName(const PortHolder& holder, uid_t self);
// What to do about it: one sentence, with the command where there is one. commPort 0: the
// device was given by its path.
QString holderAdvice(const PortHolder& holder, const QString& node, int commPort, uid_t self);

// A path as a command line takes it: as it is when nothing in it needs quoting, else quoted;
// printable either way.
QString commandWord(const QString& path);

// What an open that failed with "busy" adds: who holds the device and what to do, or, when
// nobody can be found, that another program does and how to find out which.
QString busyHolderText(const SystemTree& tree, const QString& device, int commPort);
