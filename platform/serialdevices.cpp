#include "platform/serialdevices.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

// ttyS10 after ttyS9: names that differ only in their trailing number go by that number.
void sortNatural(QStringList& names)
{
    const auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::make_pair(name.left(digits), name.mid(digits).toULongLong());
    };
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return split(a) < split(b); });
}

} // namespace

QList<SerialDevice> listSerialDevices(const QString& devRoot)
{
    QList<SerialDevice> devices;
    const QDir dev(devRoot);
    const struct {
        const char* pattern;
        bool usb;
    } kinds[] = {{"ttyS*", false}, {"ttyUSB*", true}, {"ttyACM*", true}};
    for (const auto& kind : kinds) {
        QStringList names =
            dev.entryList({QString::fromLatin1(kind.pattern)}, QDir::System | QDir::Files);
        sortNatural(names);
        for (const QString& name : names) {
            const QString path = dev.filePath(name);
            devices.append({path, path, kind.usb, false});
        }
    }
    const QDir byId(dev.filePath(QStringLiteral("serial/by-id")));
    QStringList names = byId.entryList(QDir::System | QDir::Files);
    sortNatural(names);
    for (const QString& name : names) {
        const QFileInfo link(byId.filePath(name));
        const QString target = link.canonicalFilePath();
        if (target.isEmpty())
            continue; // a name whose device has gone
        devices.append({link.filePath(), target, true, true});
    }
    return devices;
}

QString soleUsbSerialAdapter(const QList<SerialDevice>& devices)
{
    QString node;
    for (const SerialDevice& device : devices) {
        if (!device.usb || device.stableName)
            continue;
        if (!node.isEmpty())
            return QString();
        node = device.target;
    }
    if (node.isEmpty())
        return QString();
    for (const SerialDevice& device : devices) {
        if (device.stableName && QFileInfo(device.target) == QFileInfo(node))
            return device.path;
    }
    return node;
}
