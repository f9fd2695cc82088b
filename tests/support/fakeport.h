#pragma once

#include "platform/apperror.h"
#include "platform/serialport.h"

#include <QList>
#include <functional>

// A port that records what is written and hands out what a test queues, one queued piece per
// input() call. Closed, it fails the way a real port does.
class FakePort : public ISerialPort
{
    Q_OBJECT
public:
    using ISerialPort::ISerialPort;

    void setCommPort(int number) override { m_commPort = number; }
    int commPort() const override { return m_commPort; }
    void setSettings(const QString& settings) override { m_settings = settings; }
    QString settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_open; }
    void setInputMode(int mode) override { inputMode = mode; }
    void output(const QByteArray& data) override;
    QByteArray input() override;
    int inBufferCount() const override;
    QString devicePath() const override { return QStringLiteral("/dev/fake"); }
    bool deviceLost() const override { return m_lost; }
    // The device vanishes: the port closes, onComm and lost are raised once.
    void pullCable();

    // Queue bytes the "reader" sends; each call is delivered by one input().
    void feed(const QByteArray& bytes) { m_pieces.append(bytes); }

    QList<QByteArray> written;
    int inputMode = -1;
    int openFailures = 0;    // the next opens that fail
    bool failWrites = false; // every write fails as on a vanished device
    // Runs after each output(), so a test can answer a command.
    std::function<void(const QByteArray&)> onOutput;

private:
    int m_commPort = 0;
    QString m_settings;
    bool m_open = true;
    bool m_lost = false;
    QList<QByteArray> m_pieces;
};
