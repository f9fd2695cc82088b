#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class SystemTree;

// What the kernel (/sys) and udev (/run/udev/data) know of a serial device: its driver, the USB
// adapter it belongs to, the stable names udev gave it, and udev's properties and tags.
struct SerialIdentity {
    QString node;       // /dev/ttyUSB0
    bool sysfs = false; // /sys knows the line
    QString number;     // "188:0"
    QString driver;     // ftdi_sio, cdc_acm, serial8250...
    QString uartType;   // of a built-in serial port: "0" when the kernel found no UART there
    bool usb = false;
    QString vendorId;  // "0403"
    QString productId; // "6001"
    QString serial;    // empty when the adapter has none
    QString manufacturer;
    QString product;
    QString usbPath;                    // the USB device in /sys, such as /sys/devices/.../usb1/1-2
    QStringList byId;                   // /dev/serial/by-id names that lead to the node
    QStringList byPath;                 // /dev/serial/by-path names
    bool udev = false;                  // udev's record of the device was read
    QHash<QString, QString> properties; // E: lines
    QStringList tags;                   // G: and Q: lines

    // "FTDI FT232R USB UART, USB 0403:6001, serial A1B2C3D4": what an operator recognises.
    QString label() const;
    // The name to link it by: its first by-id name, else the node.
    QString stableName() const;
};

// What is known of the node (a /dev path, links already followed).
SerialIdentity identifySerial(const SystemTree& tree, const QString& node);
// The serial lines of USB adapters that are present, in name order.
QList<SerialIdentity> usbSerialAdapters(const SystemTree& tree);

// A USB device of a common serial adapter chip that has no serial line: another driver (brltty
// through usbfs, say) has its interface, or none has.
struct AdapterWithoutLine {
    QString usbPath;
    QString vendorId;
    QString productId;
    QString chip;   // "WCH CH340"
    QString driver; // of its first interface; empty when none
};
QList<AdapterWithoutLine> adaptersWithoutLine(const SystemTree& tree);
// The chip behind a common USB serial adapter's ids, or empty.
QString serialChipName(const QString& vendorId, const QString& productId);
// The kernel module that drives such a chip ("WCH CH340" -> "ch341"), or empty.
QString serialDriverModule(const QString& chip);
