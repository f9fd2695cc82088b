#pragma once

#include "platform/settingsstore.h"

#include <QString>
#include <QVariant>

// The store access layer. Every call that takes a root opens and closes the key itself, so
// each is a self-contained operation.
namespace IncludeDude {

// Every key-specific right: query and set value, create and enumerate subkeys, notify, link.
inline constexpr unsigned KEY_ALL_RIGHTS = 0x3F;

// Creates the path and every missing level above it; returns the creation's status.
long CreateKey(ISettingsStore& store, store::Root root, const QString& path);

// Writes one value, making the path first when it does not exist; returns the write's status.
long WriteKeyValue(ISettingsStore& store, store::Root root, const QString& path,
                   const QString& name, const QVariant& value, int type);

// The value as text, up to any NUL; "" when the key or value is missing or of another type.
QString ReadKeyValue(ISettingsStore& store, store::Root root, const QString& path,
                     const QString& name);

// Reads a REG_SZ value into a QString (one character per byte, with the size the store reports)
// or a REG_DWORD into a qint32; value stays untouched unless the read gets that far. -1 for a
// value of another type.
long ReadValue(ISettingsStore& store, store::Key key, const QString& name, QVariant* value);

// REG_SZ: the characters as Latin-1 bytes, no NUL; REG_DWORD: a signed 32-bit integer. Any
// other type writes nothing and returns 0.
long WriteValue(ISettingsStore& store, store::Key key, const QString& name, int type,
                const QVariant& value);

} // namespace IncludeDude
