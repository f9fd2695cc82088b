#pragma once

#include "platform/paths.h"
#include "platform/portsfolder.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// The ports folder: the links comN that stand for COMn (normally symlinks to /dev/ttyUSB0, a
// /dev/serial/by-id name or the emulator's pseudo-terminal).
struct PortLink {
    int number = 0;       // N of comN
    QString path;         // the entry itself
    bool symlink = false; // false: a file or folder of that name stands there, not a link
    QString target;       // what the link says, as written
    QString resolved;     // the link followed to the end; empty when it leads nowhere
    bool present = false; // it leads to a device that exists
    // Made by the reader emulator: alive while that emulator still runs.
    bool emulator = false;
    qint64 emulatorPid = 0;
    // A pseudo-terminal linked with ports link, whose mark vouches for it.
    bool byHand = false;
    // A link to a pseudo-terminal that nobody vouches for now: its number may belong to
    // someone else's terminal by now.
    bool stale = false;
    // Why COMn will not open it (stale, or another user decides where it leads); empty when
    // it will.
    QString problem;
};

// Whether COMn may be opened through the folder at all.
enum class PortsFolderTrust {
    Missing, // no folder: COMn is /dev/ttyS(n-1), and nothing needs trusting
    Trusted, // it and every folder on the way to it are the user's (or root's) alone
    Refused, // cannot be read or trusted: the listing's error says why, and the cure
};

// Every comN entry of the folder, by number. A folder that cannot be read or trusted is an
// error (*error set, nothing listed); a missing one has no entries. *trust (when given) says
// which.
QList<PortLink> listPortLinks(QString* error, const QString& folder = portsDirectory(),
                              PortsFolderTrust* trust = nullptr);

// Makes comN point at device, which must be a serial terminal (an absolute path is kept as
// given, so a stable by-id name stays one). The link and its mark are replaced together, each
// in one step, so the name never leads nowhere on the way; only a symlink is ever replaced. A
// pseudo-terminal gets a mark that vouches for it; a number a running emulator holds is taken
// only with force.
// The configuration and ports folders are made private (0700) or tightened to it; folders of
// another user are refused. False with *error set (what failed and the cure).
bool linkPort(int number, const QString& device, QString* error,
              const QString& folder = portsDirectory(), bool force = false);

// Removes comN when it is a symlink, and its mark with it; anything else is refused.
bool unlinkPort(int number, QString* error, const QString& folder = portsDirectory());
