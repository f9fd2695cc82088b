// Wall time of tarnavel-cli doctor from start to exit against tarnavel-sim linked as COM1 in a
// throwaway configuration folder: with a reader that answers at once (it must stay well under
// 2 s), beside "version" for comparison, and with a silent one (the exchange's own bound).
// Unlike bench_cli_rhythm, the bench does not keep the pseudo-terminal open itself: doctor would
// rightly find it holding the port and leave the reader alone. So each run includes the up to
// 100 ms the emulator takes to notice a host while nobody has the device open.
//
//   build/bench/bench_doctor_time [RUNS]      (default 20)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);
const QString kSim = QStringLiteral(TARNAVEL_SIM_PATH);

struct Emulator {
    QProcess process;

    bool start(const QString& configHome, const QStringList& extra)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(kSim, QStringList{QStringLiteral("--com"), QStringLiteral("1"),
                                        QStringLiteral("--quiet")} +
                                extra);
        const QByteArray serving = "tarnavel-sim: serving on ";
        QByteArray first;
        while (!first.contains('\n') && process.waitForReadyRead(10000))
            first += process.readAllStandardOutput();
        return first.startsWith(serving);
    }
    ~Emulator()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
};

void measure(const char* label, const QString& configHome, const QStringList& arguments, int runs)
{
    QList<double> times;
    QList<int> statuses;
    for (int run = 0; run < runs; ++run) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        cli.setProcessEnvironment(env);
        cli.setStandardInputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        cli.start(kCli, arguments);
        const bool finished = cli.waitForFinished(60000);
        times << double(clock.nsecsElapsed()) / 1e6;
        statuses << (finished && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1);
        if (!finished) {
            cli.kill();
            cli.waitForFinished();
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(statuses.begin(), statuses.end());
    std::printf("%-40s %9.1f %9.1f %9.1f   exit %d..%d\n", label, times.constFirst(),
                times.at(times.size() / 2), times.constLast(), statuses.constFirst(),
                statuses.constLast());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int runs = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 20;
    std::printf("tarnavel-cli wall time, start to exit, %d runs each\n", runs);
    std::printf("%-40s %9s %9s %9s\n", "", "min ms", "median ms", "max ms");
    {
        QTemporaryDir config;
        Emulator sim;
        if (!sim.start(config.path(), {})) {
            std::fprintf(stderr, "bench_doctor_time: tarnavel-sim did not start\n");
            return 1;
        }
        measure("doctor, the reader answers", config.path(), {QStringLiteral("doctor")}, runs);
        measure("doctor --json, the reader answers", config.path(),
                {QStringLiteral("--json"), QStringLiteral("doctor")}, runs);
        measure("version, for comparison", config.path(), {QStringLiteral("version")}, runs);
    }
    {
        QTemporaryDir config;
        Emulator sim;
        if (!sim.start(config.path(), {QStringLiteral("--silent"), QStringLiteral("h")})) {
            std::fprintf(stderr, "bench_doctor_time: tarnavel-sim did not start\n");
            return 1;
        }
        measure("doctor, the reader is silent", config.path(), {QStringLiteral("doctor")},
                qMax(1, runs / 5));
    }
    return 0;
}
