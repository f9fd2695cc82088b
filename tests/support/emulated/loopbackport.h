#pragma once

#include "emulator/readermodel.h"
#include "platform/serialport.h"

#include <QList>
#include <functional>
#include <memory>

// A serial port wired in-process to the emulator's device model: what the host writes goes
// straight to the model, and the model's answers wait in a receive queue for input().
// Open from the start, like FakePort, so it can take that double's place.
class LoopbackPort : public ISerialPort
{
    Q_OBJECT
public:
    // Serves a model of its own.
    explicit LoopbackPort(QObject* parent = nullptr);
    // Serves the given model, which must outlive the port.
    explicit LoopbackPort(ReaderModel& model, QObject* parent = nullptr);
    ~LoopbackPort() override;

    void setCommPort(int number) override { m_commPort = number; }
    int commPort() const override { return m_commPort; }
    void setSettings(const QString& settings) override
    {
        if (checkSettings)
            checkSettings(settings); // may throw, as a port rejecting the text does
        m_settings = settings;
    }
    QString settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return m_open; }
    void setInputMode(int mode) override { inputMode = mode; }
    void output(const QByteArray& data) override;
    // Everything queued, or one piece of the model's split size when that fault is on.
    QByteArray input() override;
    int inBufferCount() const override;
    QString devicePath() const override { return QStringLiteral("/dev/loopback"); }
    bool deviceLost() const override { return m_lost; }

    ReaderModel& model() { return m_model; }
    // Bytes the model has sent and input() has not yet handed out.
    QByteArray pending() const { return m_queue; }
    // A card passes the slot: the model's unsolicited status (if armed) joins the queue.
    // Returns that status frame.
    QByteArray swipe();
    QByteArray swipe(int card);
    // The cable comes out: the port closes, onComm and lost are raised once. Opening the port
    // again is plugging it back in (unless openFailures says the device is still missing).
    void pullCable();

    QList<QByteArray> written; // every output(), in order
    int inputMode = -1;
    int openFailures = 0; // the next opens that fail
    // The next write finds the device gone, as a real port's write is often first to notice.
    bool loseOnWrite = false;
    std::function<void(const QString&)> checkSettings;
    // When on, an armed model swipes its current card on the first input() that finds the
    // queue empty, i.e. one poll after the arm reply has been collected.
    bool autoSwipe = false;
    int autoSwipes = 0; // swipes made by autoSwipe

private:
    std::unique_ptr<ReaderModel> m_own;
    ReaderModel& m_model;
    int m_commPort = 0;
    QString m_settings;
    bool m_open = true;
    bool m_lost = false;
    QByteArray m_queue;
};
