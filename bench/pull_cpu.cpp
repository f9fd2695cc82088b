// CPU used by the program's side of the line after the device has gone: the reader's end of
// the pseudo-terminal is closed under an open port with the 200 ms poll running.
//   bench_pull_cpu [seconds]   (default 5)
#include "benchtools.h"
#include "config/appsettings.h"
#include "emulator/pty.h"
#include "link/readerlink.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/qtserialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <ctime>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds =
        argc > 1 && QByteArray(argv[1]).toInt() > 0 ? QByteArray(argv[1]).toInt() : 5;
    PseudoTerminal pty;
    if (!pty.open())
        return 1;
    QtSerialPort port;
    port.setDeviceOverride(pty.slavePath());
    port.setSettings(QStringLiteral("9600,n,8,1"));
    port.setPortOpen(true);
    SystemClock clock;
    NoBoxes boxes;
    QtEventPump pump(clock);
    AppSettings settings;
    ReaderLink link(port, clock, boxes, pump, settings);
    int losses = 0;
    QObject::connect(&link, &ReaderLink::lost, [&] { ++losses; });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &link, &ReaderLink::tmrCheckComms_Timer);
    poll.start(ReaderLink::kPollIntervalMs);

    pty.close(); // the cable comes out
    QTimer done;
    done.setSingleShot(true);
    done.start(seconds * 1000);
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    while (done.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    std::printf("after a pull: %d loss report(s), port %s, cpu %.4f s over %.3f s wall (%.3f%%)\n",
                losses, port.portOpen() ? "open" : "closed", cpu, elapsed, 100.0 * cpu / elapsed);
    return 0;
}
