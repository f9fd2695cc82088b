#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <sys/types.h>

class SystemTree;

// Running processes as /proc shows them, read bounded: who they are, and which of them have a
// given device open.
struct ProcessInfo {
    qint64 pid = 0;
    QString name;    // /proc/<pid>/comm: the kernel's name, cut to 15 characters
    QString program; // the file name of argv[0]
    QString script;  // the file name of argv[1], for a program run by an interpreter
    bool uidKnown = false;
    uid_t uid = 0;

    // The name to show: the program's own when it has one, else the kernel's.
    QString shownName() const;
    // Whether any of its names is one of these.
    bool isNamed(const QStringList& names) const;
};

// The process with that id, as far as /proc tells; pid 0 when it has gone.
ProcessInfo processInfo(const SystemTree& tree, qint64 pid);

struct ProcessScan {
    bool procAvailable = false; // /proc could be listed at all
    bool complete = true;       // every process and every descriptor was looked at
    QList<ProcessInfo> processes;
    // Processes whose open files could not be looked at (another user's, without privilege).
    QSet<qint64> hidden;
};

// Every process whose name is one of these.
ProcessScan processesNamed(const SystemTree& tree, const QStringList& names);
// Every process that has the device node open: its descriptors' links name the node (or, on
// this machine, lead to the same device).
ProcessScan processesWithOpen(const SystemTree& tree, const QString& node);
