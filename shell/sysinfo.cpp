#include "shell/sysinfo.h"

#include "platform/messagebox.h"
#include "platform/shell.h"
#include "platform/version.h"

#include <exception>

namespace {
constexpr unsigned KEY_ALL_ACCESS = 0x2003F;
constexpr unsigned VALUE_BUFFER_SIZE = 1024;
} // namespace

QStringList systemInfoPrograms()
{
    return {QStringLiteral("hardinfo"),
            QStringLiteral("hardinfo2"),
            QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor"),
            QStringLiteral("mate-system-monitor"),
            QStringLiteral("xfce4-taskmanager")};
}

bool GetKeyValue(ISettingsStore& store, store::Root root, const QString& keyPath,
                 const QString& valueName, QString& value)
{
    store::Key key = 0;
    if (store.openKey(root, keyPath, KEY_ALL_ACCESS, &key) != store::ERROR_SUCCESS) {
        value.clear();
        return false;
    }
    int type = 0;
    QByteArray data(VALUE_BUFFER_SIZE, '\0');
    unsigned size = VALUE_BUFFER_SIZE;
    const long status = store.queryValue(key, valueName, &type, &data, &size);
    // A value larger than the buffer is as unreadable as a missing one.
    if (status != store::ERROR_SUCCESS || size > VALUE_BUFFER_SIZE) {
        value.clear();
        store.closeKey(key);
        return false;
    }
    QByteArray bytes = data.left(qsizetype(size));
    if (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    if (type == store::REG_SZ) {
        value = QString::fromLatin1(bytes);
    } else if (type == store::REG_DWORD) {
        QString hex = QStringLiteral("&h");
        for (qsizetype i = bytes.size() - 1; i >= 0; --i)
            hex += QStringLiteral("%1").arg(uchar(bytes.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        value = hex;
    }
    store.closeKey(key);
    return true;
}

namespace {
// The tool's path from the machine store, or "" with *stop set when the store names a tool
// that is not there.
QString registeredTool(ISettingsStore& store, const IShell& shell, bool* stop)
{
    QString path;
    if (GetKeyValue(store, store::HKEY_LOCAL_MACHINE, QString::fromLatin1(MSINFO_KEY),
                    QString::fromLatin1(MSINFO_VALUE), path))
        return path;
    QString folder;
    if (GetKeyValue(store, store::HKEY_LOCAL_MACHINE, QString::fromLatin1(MSINFO_LOCATION_KEY),
                    QString::fromLatin1(MSINFO_LOCATION_VALUE), folder)) {
        const QString candidate = folder + QStringLiteral("\\MSINFO32.EXE");
        if (shell.fileExists(candidate))
            return candidate;
        *stop = true;
    }
    return {};
}
} // namespace

void StartSysInfo(ISettingsStore& store, IShell& shell, IMessageBox& messages)
{
    bool started = false;
    try {
        bool stop = false;
        QString path = registeredTool(store, shell, &stop);
        // No machine store on Linux: take the first system-information program on PATH.
        if (path.isEmpty() && !stop)
            path = shell.findProgram(systemInfoPrograms());
        if (!path.isEmpty())
            started = shell.startProgram(path);
    } catch (const std::exception&) {
        started = false;
    }
    if (!started)
        messages.show(QString::fromLatin1(SYSINFO_UNAVAILABLE), appTitle(), mb::OK, mb::NoIcon);
}
