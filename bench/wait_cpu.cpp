// CPU cost of a reply wait: process CPU time against wall time for an unanswered 10-second
// wait and for a wait answered after one second, with the 200 ms poll timer running.
#include "benchtools.h"
#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/serialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {
class QuietPort : public ISerialPort
{
public:
    void setCommPort(int) override {}
    int commPort() const override { return 1; }
    void setSettings(const QString&) override {}
    QString settings() const override { return {}; }
    void setPortOpen(bool) override {}
    bool portOpen() const override { return true; }
    void setInputMode(int) override {}
    void output(const QByteArray&) override {}
    QByteArray input() override { return std::exchange(pending, {}); }
    int inBufferCount() const override { return int(pending.size()); }
    QByteArray pending;
};

void measure(const char* label, qint16 timeout, int answerAfterMs)
{
    QuietPort port;
    SystemClock clock;
    NoBoxes boxes;
    QtEventPump pump(clock);
    AppSettings settings;
    settings.Timeout = timeout;
    ReaderLink link(port, clock, boxes, pump, settings);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &link, &ReaderLink::tmrCheckComms_Timer);
    poll.start(ReaderLink::kPollIntervalMs);
    if (answerAfterMs >= 0)
        QTimer::singleShot(answerAfterMs, [&] { port.pending = buildFrame("k8"); });

    link.SendData("k");
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    const int outcome = link.WaitForReply(false);
    const double cpu = cpuSeconds() - cpu0;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    std::printf("%-22s outcome %d  wall %.3f s  cpu %.4f s  cpu/wall %.4f%%\n", label, outcome,
                seconds, cpu, 100.0 * cpu / seconds);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    measure("unanswered, 10 s", 10, -1);
    measure("answered after 1 s", 10, 1000);
    return 0;
}
