// Peak memory of the program's side of the line while the reader's end floods it with bytes
// that never end a frame, and whether a good frame is still recognised afterwards. With
// --unbounded the port's read buffer has no limit, as before it was bounded.
//   bench_flood_memory [--unbounded] [seconds]   (default 10)
#include "benchtools.h"
#include "config/appsettings.h"
#include "emulator/pty.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/qtserialport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void runFor(int ms)
{
    QTimer done;
    done.setSingleShot(true);
    done.start(ms);
    while (done.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool unbounded = args.contains(QStringLiteral("--unbounded"));
    int seconds = 10;
    for (const QString& arg : args)
        if (arg.toInt() > 0)
            seconds = arg.toInt();

    PseudoTerminal pty;
    if (!pty.open()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    QtSerialPort port;
    port.setDeviceOverride(pty.slavePath());
    port.setSettings(QStringLiteral("9600,n,8,1"));
    if (unbounded)
        port.setReadBufferLimit(0);
    port.setPortOpen(true);
    SystemClock clock;
    NoBoxes boxes;
    QtEventPump pump(clock);
    AppSettings settings;
    settings.Timeout = 2;
    ReaderLink link(port, clock, boxes, pump, settings);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &link, &ReaderLink::tmrCheckComms_Timer);
    poll.start(ReaderLink::kPollIntervalMs);
    runFor(1000);
    const qint64 idlePeak = statusKiB("VmHWM:");

    const pid_t flooder = ::fork();
    if (flooder == 0) {
        const QByteArray noise(65536, 'x');
        for (;;)
            if (::write(pty.masterFd(), noise.constData(), size_t(noise.size())) < 0)
                _exit(0);
    }
    runFor(seconds * 1000);
    ::kill(flooder, SIGKILL);
    ::waitpid(flooder, nullptr, 0);
    const qint64 floodPeak = statusKiB("VmHWM:");
    const qint64 floodNow = statusKiB("VmRSS:");

    // What the flood left behind drains; then one good frame must be recognised.
    runFor(3000);
    link.emptyReplyBuffer();
    link.awaitSwipe();
    const QByteArray frame = buildFrame("k8");
    if (::write(pty.masterFd(), frame.constData(), size_t(frame.size())) != frame.size())
        return 1;
    const int outcome = link.WaitForReply(false);
    std::printf("read buffer %s: peak RSS idle %lld KiB, after a %d s flood %lld KiB (+%lld), "
                "RSS then %lld KiB; a good frame afterwards: %s\n",
                unbounded ? "unlimited" : "64 KiB", idlePeak, seconds, floodPeak,
                floodPeak - idlePeak, floodNow,
                outcome == WAIT_REPLIED && link.ReplyBuffer() == "k8" ? "recognised" : "missed");
    return 0;
}
