#pragma once

#include "platform/paths.h"

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
    // Made by the reader emulator: alive while that emulator still runs, otherwise stale (its
    // pseudo-terminal number may belong to someone else's terminal by now).
    bool emulator = false;
    bool stale = false;
    qint64 emulatorPid = 0;
};

inline constexpr int kMaxPortNumber = 256;

// "1", "com1" or "COM1" (up to COM256) -> 1; -1 for anything else.
int parsePortNumber(const QString& text);

// Every comN entry of the folder, by number.
QList<PortLink> listPortLinks(const QString& folder = portsDirectory());

// Makes comN point at device (an absolute path is kept as given, so a stable by-id name stays
// one): a new link is made beside it and renamed over the old, so the name never leads nowhere
// on the way. Only a symlink is ever replaced. device must be a character device. Missing
// folders are made private (0700). False with *error set (what failed and the cure).
bool linkPort(int number, const QString& device, QString* error,
              const QString& folder = portsDirectory());

// Removes comN when it is a symlink; anything else is refused.
bool unlinkPort(int number, QString* error, const QString& folder = portsDirectory());

// Makes every missing folder of path with mode 0700. False with *error set.
bool makePrivateFolders(const QString& path, QString* error);
