// Connect-to-first-reply of tarnavel-sim: a host opens the pseudo-terminal, sends a version
// query and waits for the reply, closes, and the next host comes GAP_MS later, as one program
// run after another does. Also the emulator's CPU time while nobody has the device open.
//
//   build/bench_sim_connect [CONNECTIONS] [GAP_MS] [TARNAVEL_SIM]   (defaults 200, 5, the
//   tarnavel-sim built beside this benchmark)

#include "link/protocol/frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Milliseconds from the host's open to the last byte of the reply; negative on failure.
double oneConnection(const QByteArray& device, const QByteArray& query, qsizetype replyBytes)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    double ms = -1;
    if (::write(fd, query.constData(), size_t(query.size())) == query.size()) {
        qsizetype got = 0;
        while (got < replyBytes && clock.elapsed() < 2000) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            got += qMax<ssize_t>(n, 0);
        }
        if (got >= replyBytes)
            ms = double(clock.nsecsElapsed()) / 1e6;
    }
    ::close(fd);
    return ms;
}

// User and system CPU time of a process in clock ticks, from /proc.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks: state is field 3, utime 14.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int connections = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 200;
    const int gapMs = args.size() > 2 ? qMax(0, args.at(2).toInt()) : 5;
    const QString program = args.size() > 3 ? args.at(3) : QStringLiteral(TARNAVEL_SIM_PATH);

    QProcess sim;
    sim.setStandardInputFile(QProcess::nullDevice());
    sim.start(program, {QStringLiteral("--quiet")});
    const QByteArray serving = "tarnavel-sim: serving on ";
    QByteArray first;
    while (!first.contains('\n') && sim.waitForReadyRead(10000))
        first += sim.readAllStandardOutput();
    if (!first.startsWith(serving)) {
        std::fprintf(stderr, "bench_sim_connect: %s did not start\n", qPrintable(program));
        return 1;
    }
    const QByteArray device = first.mid(serving.size(), first.indexOf('\n') - serving.size());
    const QByteArray query = buildFrame("k");
    const qsizetype replyBytes = buildFrame("k8").size();

    QList<double> times;
    int failures = 0;
    for (int connection = 0; connection < connections; ++connection) {
        const double ms = oneConnection(device, query, replyBytes);
        if (ms < 0)
            ++failures;
        else
            times << ms;
        QThread::msleep(gapMs);
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) {
        return times.isEmpty() ? 0.0
                               : times.at(qMin(times.size() - 1, qsizetype(share * times.size())));
    };

    // Nobody connected: what the emulator spends waiting for the next host.
    const qint64 idleBefore = cpuTicks(sim.processId());
    QThread::sleep(3);
    const qint64 idleAfter = cpuTicks(sim.processId());
    const double idleShare =
        100.0 * double(idleAfter - idleBefore) / double(::sysconf(_SC_CLK_TCK)) / 3.0;

    std::printf("%s: %d connections, %d ms apart: open to first reply\n", qPrintable(program),
                connections, gapMs);
    std::printf("  min %.2f ms, median %.2f ms, 90%% %.2f ms, 99%% %.2f ms, max %.2f ms, "
                "failed %d\n",
                at(0), at(0.5), at(0.9), at(0.99), times.isEmpty() ? 0.0 : times.constLast(),
                failures);
    std::printf("  CPU while nobody is connected: %.1f%% over 3 s\n", idleShare);
    sim.terminate();
    sim.waitForFinished(5000);
    return failures == 0 ? 0 : 1;
}
