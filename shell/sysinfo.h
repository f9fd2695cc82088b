#pragma once

#include "platform/settingsstore.h"

#include <QString>
#include <QStringList>

class IMessageBox;
class IShell;

// Where Windows records its system-information tool, and the Linux tools tried in its place.
inline constexpr const char* MSINFO_KEY = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* MSINFO_VALUE = "PATH";
inline constexpr const char* MSINFO_LOCATION_KEY = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* MSINFO_LOCATION_VALUE = "MSINFO";
inline constexpr const char* SYSINFO_UNAVAILABLE = "System Information Is Unavailable At This Time";
QStringList systemInfoPrograms();

// Reads one value of the machine's store into value; false (and value "") when the key or the
// value cannot be read. Numbers come back as "&h" and their bytes in hexadecimal.
bool GetKeyValue(ISettingsStore& store, store::Root root, const QString& keyPath,
                 const QString& valueName, QString& value);

// Starts the system-information tool, or says it is unavailable. Never throws.
void StartSysInfo(ISettingsStore& store, IShell& shell, IMessageBox& messages);
