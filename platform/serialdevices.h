#pragma once

#include <QList>
#include <QString>

// A serial device node as found in /dev: a UART (ttyS*), a USB adapter (ttyUSB*, ttyACM*), or
// one of the stable names udev keeps in /dev/serial/by-id, which survive replugging.
struct SerialDevice {
    QString path;   // as listed, e.g. /dev/serial/by-id/usb-FTDI_..-if00-port0
    QString target; // the node it resolves to, e.g. /dev/ttyUSB0 (== path for plain nodes)
    bool usb = false;
    bool stableName = false; // a /dev/serial/by-id entry
};

// Every such device that exists, plain nodes first (sorted by kind and number), then the
// stable names. devRoot replaces "/dev" for tests.
QList<SerialDevice> listSerialDevices(const QString& devRoot = QStringLiteral("/dev"));

// When exactly one USB serial adapter is present: the name to link it by (its stable name
// when it has one, else its node). Empty when there is none or more than one.
QString soleUsbSerialAdapter(const QList<SerialDevice>& devices);
