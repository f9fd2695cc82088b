// Wall time of tarnavel-cli from start to exit against tarnavel-sim: "version", one "write" and
// a batch of 20 cards (the emulator swipes by itself), with the command line's own rhythm (a
// 10 ms poll that also wakes when bytes arrive) and with the window's 200 ms poll alone
// (TARNAVEL_CLI_POLL_MS=200), each run several times. "own" is the time per card beyond the
// emulator's swipe delay. The bench keeps the
// pseudo-terminal open itself (never reading it), so that every run finds the line as a real
// serial line would be.
//
//   build/bench_cli_rhythm [RUNS] [AUTO_SWIPE_MS]      (defaults 15 and 500)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);
const QString kSim = QStringLiteral(TARNAVEL_SIM_PATH);

struct Figures {
    double min = 0, median = 0, max = 0;
    int failures = 0;
};

Figures measure(const QString& configHome, int pollMs, const QStringList& arguments, int runs)
{
    QList<double> times;
    Figures figures;
    for (int run = 0; run < runs; ++run) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("TARNAVEL_CLI_POLL_MS"), QString::number(pollMs));
        cli.setProcessEnvironment(env);
        cli.setStandardInputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        cli.start(kCli, arguments);
        const bool finished = cli.waitForFinished(30000);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (!finished || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            ++figures.failures;
            cli.kill();
            cli.waitForFinished();
            continue;
        }
        times << ms;
    }
    std::sort(times.begin(), times.end());
    if (!times.isEmpty()) {
        figures.min = times.constFirst();
        figures.max = times.constLast();
        figures.median = times.at(times.size() / 2);
    }
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 15;
    const int autoSwipe = args.size() > 2 ? qMax(0, args.at(2).toInt()) : 500;

    QTemporaryDir config;
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    sim.setProcessEnvironment(env);
    sim.setStandardInputFile(QProcess::nullDevice());
    sim.start(kSim, {QStringLiteral("--com"), QStringLiteral("1"), QStringLiteral("--quiet"),
                     QStringLiteral("--auto-swipe"), QString::number(autoSwipe)});
    // The link exists once the device is announced.
    const QByteArray serving = "tarnavel-sim: serving on ";
    QByteArray first;
    while (!first.contains('\n') && sim.waitForReadyRead(10000))
        first += sim.readAllStandardOutput();
    if (!first.startsWith(serving)) {
        std::fprintf(stderr, "bench_cli_rhythm: tarnavel-sim did not start\n");
        return 1;
    }
    const QByteArray device = first.mid(serving.size(), first.indexOf('\n') - serving.size());
    const int holder = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    std::printf("tarnavel-cli wall time, start to exit, %d runs each; emulator swipes %d ms "
                "after each arm\n",
                runs, autoSwipe);
    std::printf("%-34s %6s %9s %9s %9s %9s %5s\n", "command", "tick", "min ms", "median ms",
                "max ms", "own ms", "fail");
    constexpr int kBatchCards = 20;
    const QString batchFile = config.filePath(QStringLiteral("cards.txt"));
    QFile cards(batchFile);
    if (cards.open(QIODevice::WriteOnly)) {
        for (int card = 1; card <= kBatchCards; ++card)
            cards.write(QStringLiteral(";%1=%1?\n").arg(card).toLatin1());
        cards.close();
    }
    const struct {
        const char* label;
        QStringList arguments;
        int cards;
    } commands[] = {
        {"version", {QStringLiteral("version")}, 0},
        {"write ;123=45? (one card)", {QStringLiteral("write"), QStringLiteral(";123=45?")}, 1},
        {"batch of 20 cards", {QStringLiteral("batch"), batchFile}, kBatchCards},
    };
    for (const auto& command : commands) {
        for (const int tick : {10, 200}) {
            const Figures f = measure(config.path(), tick, command.arguments, runs);
            const double own = command.cards > 0
                                   ? (f.median - double(command.cards) * autoSwipe) / command.cards
                                   : f.median;
            std::printf("%-34s %4d ms %9.1f %9.1f %9.1f %9.1f %5d\n", command.label, tick, f.min,
                        f.median, f.max, own, f.failures);
        }
    }
    if (holder >= 0)
        ::close(holder);
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
