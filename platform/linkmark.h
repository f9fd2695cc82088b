#pragma once

#include <QString>
#include <QtGlobal>

// The mark the reader emulator leaves beside each COMn link it makes: a hidden file
// ".comN.tarnavel-sim" in the ports folder naming its process and device, locked for as long
// as the emulator runs. The kernel drops the lock when the process ends, however it ends, so a
// link whose mark is unlocked was left by an emulator that is gone (killed with SIGKILL, say)
// and points at a pseudo-terminal number that another program may have taken since.
namespace linkmark {

// ".../ports/com1" -> ".../ports/.com1.tarnavel-sim"
QString markPath(const QString& linkPath);

struct Mark {
    bool present = false; // a mark exists and names the device the link points to now
    bool alive = false;   // its emulator still runs
    qint64 pid = 0;
    QString device;
};

// What the mark beside linkPath says about the link. A mark that names another device than
// the link's target (the link was made again by hand) does not count.
Mark inspect(const QString& linkPath);

// The emulator's side: writes the mark for device and keeps it locked through the returned
// descriptor until release(). -1 with *error set on failure.
int claim(const QString& linkPath, const QString& device, QString* error);
// Removes the mark if it is still this process's, and closes the descriptor.
void release(const QString& linkPath, int fd);

} // namespace linkmark
