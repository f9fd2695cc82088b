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
};
