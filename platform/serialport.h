#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The serial control as the rest of the program uses it. Every failure throws AppError.
// Data are bytes: one byte per protocol character.
class ISerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~ISerialPort() override = default;

    virtual void setCommPort(int number) = 0; // 1 = COM1
    virtual int commPort() const = 0;
    // "9600,e,7,1": speed, parity letter (e/o/n), data bits, stop bits. Checked when the port
    // opens (and at once if it is already open).
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual void setInputMode(int mode) = 0; // 0 = text, the only mode used
    // Writes every byte in order without waiting for the line; throws when the port is closed.
    virtual void output(const QByteArray& data) = 0;
    // All bytes waiting in the receive buffer, removed from it; empty when none.
    virtual QByteArray input() = 0;
    virtual int inBufferCount() const = 0;

    // The device COMn stands for, for messages; empty when there is no such thing.
    virtual QString devicePath() const { return QString(); }
    // True once the device has vanished under the open port (a pulled USB adapter, an emulator
    // that ended): the port is closed, and stays "lost" until it is opened or closed again.
    virtual bool deviceLost() const { return false; }

signals:
    // Line errors and line-state changes (never received characters).
    void onComm();
    // The device has vanished and the port has been closed; raised once per loss, after onComm.
    void lost();
    // Bytes have arrived for input() (a port that cannot tell never raises it).
    void dataArrived();
};
