#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Registry-like per-user store: keys addressed by a backslash path under a root, each holding
// named values of a type. Status 0 is success; other values follow the registry's codes.
namespace store {
enum Root : std::uintptr_t { HKEY_CURRENT_USER = 0x80000001u, HKEY_LOCAL_MACHINE = 0x80000002u };
enum Type : int { REG_SZ = 1, REG_DWORD = 4 };
enum Status : long {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_MORE_DATA = 234,
};
using Key = std::uintptr_t; // 0 is never a valid open key

// Why a change was not kept, or the store not read, in the terms an operator can act on.
enum class Cause {
    None,
    ReadOnlyFolder,
    ReadOnlyFile,
    Locked, // another program holds the store's lock
    DiskFull,
    TooLarge,   // the file would grow past what the store reads back
    NotAFile,   // a FIFO, a device or a dangling link stands where the file belongs
    NoFile,     // there is no place for the store at all
    Unparsable, // reading: not in the store's format
    Untrusted,  // reading: another user owns it or may change it
    Other,
};

struct Failure {
    Cause cause = Cause::None;
    QString file;   // where the store keeps its values; "" when it has no file
    QString reason; // the cause in plain words, such as "the disk is full"
};
} // namespace store

class ISettingsStore
{
public:
    virtual ~ISettingsStore() = default;

    // RegOpenKeyEx: ERROR_FILE_NOT_FOUND when the path does not exist.
    virtual long openKey(store::Root root, const QString& path, unsigned access,
                         store::Key* key) = 0;
    // RegCreateKeyEx: makes every missing level; an existing key is simply opened.
    virtual long createKey(store::Root root, const QString& path, unsigned access,
                           store::Key* key) = 0;
    // RegQueryValueEx. data == nullptr asks for type and size only. On input *size is the
    // buffer size; on output the value's size (ERROR_MORE_DATA when the buffer is too small).
    // Text values report their size with the terminating NUL the store keeps after them.
    virtual long queryValue(store::Key key, const QString& name, int* type, QByteArray* data,
                            unsigned* size) = 0;
    // RegSetValueEx: creates or replaces the value.
    virtual long setValue(store::Key key, const QString& name, int type,
                          const QByteArray& data) = 0;
    virtual long closeKey(store::Key key) = 0;

    // The calls between these two form one transaction: reads see one state of the store, and
    // the changes take effect together, all or none, when the outermost batch ends; endBatch
    // returns that status (a change inside reports success). Batches nest. A store without
    // transactions does every call at once.
    virtual void beginBatch() {}
    virtual long endBatch() { return store::ERROR_SUCCESS; }

    // Why the latest change (or batch) failed; cause None after one that succeeded, and from a
    // store that cannot tell. The statuses stay what callers see: this only explains them.
    virtual store::Failure lastFailure() const { return {}; }
    // Why the latest read could not be trusted to give the user's values: the store is there
    // but none of it could be read (a file too large, not a file, not readable, not in the
    // format), which reads as an empty store, or another user may have put its values there.
    // Cause None after a read that went well, and where there is no store yet. A caller that
    // must not take the defaults, or a stranger's values, for the user's settings asks here.
    virtual store::Failure readFailure() const { return {}; }
};
