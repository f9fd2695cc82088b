#pragma once

#include "link/protocol/framesplitter.h"
#include "link/protocol/frametext.h"
#include "link/readerlink.h"
#include "platform/serialport.h"

#include <QByteArray>
#include <functional>

// Wraps the real port and shows every frame in both directions, in hex and with its meaning.
// Track data (of a write command, of a read reply) is shown as its length unless revealed.
class TracingPort : public ISerialPort
{
    Q_OBJECT
public:
    using Sink = std::function<void(const QString& line)>;
    TracingPort(ISerialPort& inner, bool reveal, Sink sink, QObject* parent = nullptr);

    void setCommPort(int number) override { m_inner.setCommPort(number); }
    int commPort() const override { return m_inner.commPort(); }
    void setSettings(const QString& settings) override { m_inner.setSettings(settings); }
    QString settings() const override { return m_inner.settings(); }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_inner.portOpen(); }
    void setInputMode(int mode) override { m_inner.setInputMode(mode); }
    void output(const QByteArray& data) override;
    QByteArray input() override;
    int inBufferCount() const override { return m_inner.inBufferCount(); }
    QString devicePath() const override { return m_inner.devicePath(); }
    bool deviceLost() const override { return m_inner.deviceLost(); }

private:
    void show(FrameSender sender, const QByteArray& bytes);
    void takeReaderBytes(const QByteArray& bytes);

    ISerialPort& m_inner;
    TrackData m_trackData;
    Sink m_sink;
    // Reader bytes not yet shown: the start of a frame.
    FrameSplitter m_rx{ReaderLink::kMaxReplyBuffer};
};
