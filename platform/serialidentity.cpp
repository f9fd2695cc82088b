#include "platform/serialidentity.h"

#include "platform/fsutil.h"
#include "platform/systemtree.h"

#include <QRegularExpression>

namespace {

constexpr int kMaxEntries = 4096;
// A USB device lies a few levels above its serial line in /sys; this is well beyond.
constexpr int kMaxLevels = 12;
constexpr qint64 kMaxAttribute = 256;
constexpr qint64 kMaxUdevRecord = 64 * 1024;

// A sysfs attribute, one line, printable.
QString attribute(const SystemTree& tree, const QString& path)
{
    const auto bytes = tree.readFile(path, kMaxAttribute);
    return bytes ? fsutil::printable(QString::fromUtf8(bytes->trimmed())) : QString();
}

QString lastPart(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Names in a /dev/serial folder that lead to node.
QStringList namesOf(const SystemTree& tree, const QString& folder, const QString& node)
{
    QStringList names;
    for (const QString& name : tree.list(folder, kMaxEntries)) {
        const QString path = folder + QLatin1Char('/') + name;
        int error = 0;
        if (tree.resolve(path, &error) == node && error == 0)
            names << path;
    }
    return names;
}

void readUdevRecord(const SystemTree& tree, SerialIdentity* identity)
{
    if (identity->number.isEmpty())
        return;
    const auto record =
        tree.readFile(QStringLiteral("/run/udev/data/c") + identity->number, kMaxUdevRecord);
    if (!record)
        return;
    identity->udev = true;
    for (const QByteArray& raw : record->split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1String("E:"))) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals > 2)
                identity->properties.insert(line.mid(2, equals - 2), line.mid(equals + 1));
        } else if (line.startsWith(QLatin1String("G:")) || line.startsWith(QLatin1String("Q:"))) {
            if (!identity->tags.contains(line.mid(2)))
                identity->tags << line.mid(2);
        }
    }
}

// Kernel names of lines that are never a USB adapter's: the consoles and the built-in UARTs.
bool builtInLine(const QString& name)
{
    static const QRegularExpression builtIn(
        QStringLiteral("^(tty[0-9]*|ttyS[0-9]+|console|ptmx|ttyprintk)$"));
    return builtIn.match(name).hasMatch();
}

} // namespace

QString SerialIdentity::label() const
{
    QStringList parts;
    const QString name =
        (manufacturer.isEmpty() || product.startsWith(manufacturer))
            ? product
            : (product.isEmpty() ? manufacturer : manufacturer + QLatin1Char(' ') + product);
    if (!name.isEmpty())
        parts << name;
    if (usb)
        parts << QStringLiteral("USB %1:%2").arg(vendorId, productId);
    if (usb)
        parts << (serial.isEmpty() ? QStringLiteral("no serial number")
                                   : QStringLiteral("serial %1").arg(serial));
    if (!driver.isEmpty())
        parts << QStringLiteral("driver %1").arg(driver);
    return parts.join(QStringLiteral(", "));
}

QString SerialIdentity::stableName() const
{
    return byId.isEmpty() ? node : byId.constFirst();
}

SerialIdentity identifySerial(const SystemTree& tree, const QString& node)
{
    SerialIdentity identity;
    identity.node = node;
    const QString name = lastPart(node);
    if (name.isEmpty() || !node.startsWith(QLatin1String("/dev/")))
        return identity;
    int error = 0;
    const QString line = tree.resolve(QStringLiteral("/sys/class/tty/") + name, &error);
    if (!line.isEmpty() && error == 0) {
        identity.sysfs = true;
        identity.number = attribute(tree, line + QStringLiteral("/dev"));
        identity.uartType = attribute(tree, line + QStringLiteral("/type"));
        const QString device = tree.resolve(line + QStringLiteral("/device"), &error);
        if (!device.isEmpty() && error == 0) {
            // Newer kernels put the serial core's "port" and "ctrl" devices between a built-in
            // line and its driver.
            QString at = device;
            for (int level = 0; level < 3 && identity.driver.isEmpty();
                 ++level, at = parentOf(at)) {
                const QString driver =
                    lastPart(tree.resolve(at + QStringLiteral("/driver"), &error));
                if (error == 0 && driver != QLatin1String("port") &&
                    driver != QLatin1String("ctrl"))
                    identity.driver = fsutil::printable(driver);
            }
            at = device;
            for (int level = 0; level < kMaxLevels && at.startsWith(QLatin1String("/sys/devices/"));
                 ++level, at = parentOf(at)) {
                if (!tree.look(at + QStringLiteral("/idVendor")).exists)
                    continue;
                identity.usb = true;
                identity.usbPath = at;
                identity.vendorId = attribute(tree, at + QStringLiteral("/idVendor"));
                identity.productId = attribute(tree, at + QStringLiteral("/idProduct"));
                identity.serial = attribute(tree, at + QStringLiteral("/serial"));
                identity.manufacturer = attribute(tree, at + QStringLiteral("/manufacturer"));
                identity.product = attribute(tree, at + QStringLiteral("/product"));
                break;
            }
        }
    }
    identity.byId = namesOf(tree, QStringLiteral("/dev/serial/by-id"), node);
    identity.byPath = namesOf(tree, QStringLiteral("/dev/serial/by-path"), node);
    readUdevRecord(tree, &identity);
    return identity;
}

QList<SerialIdentity> usbSerialAdapters(const SystemTree& tree)
{
    QList<SerialIdentity> adapters;
    for (const QString& name : tree.list(QStringLiteral("/sys/class/tty"), kMaxEntries)) {
        if (builtInLine(name))
            continue;
        const SerialIdentity identity = identifySerial(tree, QStringLiteral("/dev/") + name);
        if (identity.usb)
            adapters << identity;
    }
    return adapters;
}

QString serialChipName(const QString& vendorId, const QString& productId)
{
    static const struct {
        const char* vendor;
        const char* product;
        const char* chip;
    } chips[] = {
        {"0403", "6001", "FTDI FT232R"},         {"0403", "6010", "FTDI FT2232"},
        {"0403", "6011", "FTDI FT4232"},         {"0403", "6014", "FTDI FT232H"},
        {"0403", "6015", "FTDI FT-X"},           {"067b", "2303", "Prolific PL2303"},
        {"067b", "23a3", "Prolific PL2303"},     {"1a86", "7523", "WCH CH340"},
        {"1a86", "5523", "WCH CH341"},           {"1a86", "55d4", "WCH CH9102"},
        {"10c4", "ea60", "Silicon Labs CP210x"}, {"10c4", "ea70", "Silicon Labs CP2105"},
    };
    for (const auto& known : chips) {
        if (vendorId.compare(QLatin1String(known.vendor), Qt::CaseInsensitive) == 0 &&
            productId.compare(QLatin1String(known.product), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(known.chip);
    }
    return QString();
}

QString serialDriverModule(const QString& chip)
{
    if (chip.startsWith(QLatin1String("FTDI")))
        return QStringLiteral("ftdi_sio");
    if (chip.startsWith(QLatin1String("Prolific")))
        return QStringLiteral("pl2303");
    if (chip == QLatin1String("WCH CH340") || chip == QLatin1String("WCH CH341"))
        return QStringLiteral("ch341");
    if (chip.startsWith(QLatin1String("Silicon Labs")))
        return QStringLiteral("cp210x");
    return QString();
}

QList<AdapterWithoutLine> adaptersWithoutLine(const SystemTree& tree)
{
    QList<AdapterWithoutLine> found;
    const QString bus = QStringLiteral("/sys/bus/usb/devices");
    for (const QString& name : tree.list(bus, kMaxEntries)) {
        // Interfaces are "1-2:1.0"; devices have no colon.
        if (name.contains(QLatin1Char(':')))
            continue;
        const QString device = tree.resolve(bus + QLatin1Char('/') + name);
        if (device.isEmpty())
            continue;
        AdapterWithoutLine adapter;
        adapter.usbPath = device;
        adapter.vendorId = attribute(tree, device + QStringLiteral("/idVendor"));
        adapter.productId = attribute(tree, device + QStringLiteral("/idProduct"));
        adapter.chip = serialChipName(adapter.vendorId, adapter.productId);
        if (adapter.chip.isEmpty())
            continue;
        bool hasLine = false;
        bool firstInterface = true;
        for (const QString& entry : tree.list(device, kMaxEntries)) {
            if (!entry.startsWith(name + QLatin1Char(':')))
                continue;
            const QString interface = device + QLatin1Char('/') + entry;
            if (firstInterface) {
                int error = 0;
                const QString driver = tree.resolve(interface + QStringLiteral("/driver"), &error);
                adapter.driver = error == 0 ? fsutil::printable(lastPart(driver)) : QString();
                firstInterface = false;
            }
            for (const QString& inside : tree.list(interface, kMaxEntries))
                hasLine = hasLine || inside.startsWith(QLatin1String("tty"));
        }
        if (!hasLine)
            found << adapter;
    }
    return found;
}
