#pragma once

#include <QString>
#include <QtGlobal>

// The mark beside a COMn link that says who made it: a hidden file ".comN.tarnavel-sim" in the
// ports folder naming its maker, the device and the link it belongs to.
//
// The reader emulator keeps its mark locked (flock) for as long as it runs. The kernel drops the
// lock when the process ends, however it ends, so the lock is the only proof of life: a mark
// nobody holds was left by an emulator that is gone, and its pseudo-terminal number may belong
// to another program's terminal by now. "tarnavel-cli ports link" leaves an unlocked mark of its
// own kind beside a pseudo-terminal it links, which also replaces a dead emulator's mark.
//
// Everything here works inside the ports folder's descriptor, and the changes (claim, write,
// remove) are made while the caller holds that folder's lock, so that no two programs change one
// number's link and mark at once.
namespace linkmark {

// "com5" -> ".com5.tarnavel-sim"
QString markName(int number);

struct Mark {
    enum class Kind {
        None,      // no mark
        Emulator,  // tarnavel-sim's
        Hand,      // tarnavel-cli ports link, beside a pseudo-terminal
        Unreadable // something else stands there: not a regular file, too long, or no mark
    };
    Kind kind = Kind::None;
    bool alive = false; // an emulator holds its lock now
    qint64 pid = 0;     // as the mark says; only worth anything while alive
    QString device;
    QString link; // the name it belongs to, such as "com5"
};

// What the mark of comN inside the folder folderFd says. Never blocks, whatever stands there.
Mark inspect(int folderFd, int number);

// The emulator's side: replaces comN's mark with a locked one naming device. The caller holds
// the folder lock and has found no live mark. The returned descriptor keeps the lock; -1 with
// *error set on failure.
int claim(int folderFd, int number, const QString& device, QString* error);
// The mark of a pseudo-terminal linked by hand. False with *error set.
bool writeHandMark(int folderFd, int number, const QString& device, QString* error);
// Removes comN's mark, whatever it is. False with *error set.
bool remove(int folderFd, int number, QString* error);
// Removes the mark if it is still the one fd holds (another emulator may have marked the number
// since, after ports link --force), and closes fd.
void release(int folderFd, int number, int fd);

} // namespace linkmark
