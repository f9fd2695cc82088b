// Exactly once, measured: tarnavel-cli batch against tarnavel-sim, ended at random moments by
// SIGINT, SIGTERM, SIGHUP, SIGKILL or an unplugged reader (the emulator ends and a new one takes
// COM1 a moment later), then run again with --resume until it finishes. The emulator's log says
// what was written on every swipe; every card's data must have been written exactly once.
//
//   build/bench/bench_batch_exactly_once [TRIALS] [SEED]      (defaults 100 and a random one)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <csignal>
#include <cstdio>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);
const QString kSim = QStringLiteral(TARNAVEL_SIM_PATH);
constexpr int kCards = 6;

struct Emulator {
    QProcess process;
    QString log;

    // deck: a deck file for the card in the slot, or empty for the emulator's own.
    bool start(const QString& config, int autoSwipeMs, const QString& deck = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        process.setProcessEnvironment(env);
        process.setStandardInputFile(QProcess::nullDevice());
        QStringList arguments = {QStringLiteral("--com"), QStringLiteral("1"),
                                 QStringLiteral("--auto-swipe"), QString::number(autoSwipeMs)};
        if (!deck.isEmpty())
            arguments << QStringLiteral("--card") << deck;
        process.start(kSim, arguments);
        QByteArray first;
        while (!first.contains("linked as") && process.waitForReadyRead(5000))
            first += process.readAllStandardOutput();
        log += QString::fromLatin1(first);
        return first.contains("linked as");
    }
    void collect() { log += QString::fromLatin1(process.readAllStandardOutput()); }
    void stop()
    {
        process.terminate();
        process.waitForFinished(5000);
        collect();
    }
};

// How often the emulator wrote each data: a "swiped to write" writes what was loaded since the
// last reset. *last: what the card holds after the last write.
QHash<QString, int> writesIn(const QString& log, QString* last = nullptr)
{
    static const QRegularExpression loaded(QStringLiteral("^host +> .*track data \"([^\"]*)\""));
    QHash<QString, int> writes;
    QString pending;
    for (const QString& line : log.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = loaded.match(line);
        if (match.hasMatch())
            pending = match.captured(1);
        else if (line.contains(QLatin1String("  reset")) && line.startsWith(QLatin1String("host")))
            pending.clear();
        else if (line.contains(QLatin1String("swiped to write")) && !pending.isEmpty()) {
            if (last)
                *last = pending;
            ++writes[std::exchange(pending, QString())];
        }
    }
    return writes;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int trials = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 100;
    const quint32 seed = args.size() > 2 ? args.at(2).toUInt() : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int actions[5] = {};
    int runs = 0;
    int doubles = 0;
    int skipped = 0;
    int unfinished = 0;
    QElapsedTimer clock;
    clock.start();
    for (int trial = 0; trial < trials; ++trial) {
        QTemporaryDir dir;
        const QString cards = dir.filePath(QStringLiteral("cards.txt"));
        const QString results = dir.filePath(QStringLiteral("results.jsonl"));
        QFile file(cards);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QStringList data;
        for (int card = 1; card <= kCards; ++card) {
            const QString track = QStringLiteral(";%1%2=%1?").arg(trial).arg(card);
            file.write(track.toLatin1() + '\n');
            data << track + QString(37 - track.size(), QLatin1Char('0'));
        }
        file.close();
        const int swipeMs = int(random.bounded(60));
        auto sim = std::make_unique<Emulator>();
        if (!sim->start(dir.path(), swipeMs))
            return 1;
        QString log;
        bool done = false;
        for (int attempt = 0; attempt < 40 && !done; ++attempt, ++runs) {
            QProcess cli;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
            cli.setProcessEnvironment(env);
            cli.setStandardInputFile(QProcess::nullDevice());
            cli.setStandardOutputFile(QProcess::nullDevice());
            cli.setStandardErrorFile(qEnvironmentVariableIsSet("TARNAVEL_BENCH_LOG")
                                         ? dir.filePath(QStringLiteral("cli.err"))
                                         : QProcess::nullDevice(), QIODevice::Append);
            cli.start(kCli, {QStringLiteral("batch"), QStringLiteral("--keep-going"),
                             QStringLiteral("--wait-reader"), QStringLiteral("5"),
                             QStringLiteral("-t"), QStringLiteral("2"),
                             QStringLiteral("--results"), results, QStringLiteral("--resume"),
                             results, cards});
            if (attempt < 6) {
                QThread::msleep(random.bounded(kCards * (swipeMs + 15)));
                const int action = int(random.bounded(5));
                ++actions[action];
                log += QStringLiteral("=== %1\n").arg(QLatin1String(
                    std::array{"SIGINT", "SIGTERM", "SIGHUP", "SIGKILL", "unplug"}[action]));
                if (action < 4) {
                    const int signal[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
                    ::kill(pid_t(cli.processId()), signal[action]);
                } else {
                    sim->stop();
                    log += sim->log;
                    QThread::msleep(random.bounded(500));
                    // The card in the slot keeps what was written on it.
                    QString onCard;
                    writesIn(log, &onCard);
                    const QString deck = dir.filePath(QStringLiteral("deck.txt"));
                    QFile deckFile(deck);
                    if (!deckFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
                        return 1;
                    deckFile.write("[card]\n2=" + onCard.toLatin1() + "\n");
                    deckFile.close();
                    sim = std::make_unique<Emulator>();
                    if (!sim->start(dir.path(), swipeMs, onCard.isEmpty() ? QString() : deck))
                        return 1;
                }
            }
            cli.waitForFinished(60000);
            sim->collect();
            done = cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
        }
        sim->stop();
        log += sim->log;
        if (!done)
            ++unfinished;
        if (qEnvironmentVariableIsSet("TARNAVEL_BENCH_LOG")) {
            QFile err(dir.filePath(QStringLiteral("cli.err")));
            if (err.open(QIODevice::ReadOnly))
                log += QStringLiteral("=== cli\n") + QString::fromLocal8Bit(err.readAll());
        }
        const QHash<QString, int> writes = writesIn(log);
        for (const QString& track : std::as_const(data)) {
            const int count = writes.value(track);
            if (count == 0)
                ++skipped;
            doubles += qMax(0, count - 1);
            if (count != 1) {
                std::fprintf(stderr, "trial %d: %s written %d times\n", trial, qPrintable(track),
                             count);
                if (qEnvironmentVariableIsSet("TARNAVEL_BENCH_LOG"))
                    std::fprintf(stderr, "%s\n", qPrintable(log));
            }
        }
    }
    std::printf("%d trials of %d cards (seed %u), %d runs in %.0f s\n", trials, kCards, seed, runs,
                clock.elapsed() / 1000.0);
    std::printf("ended by: %d SIGINT, %d SIGTERM, %d SIGHUP, %d SIGKILL, %d unplugged\n",
                actions[0], actions[1], actions[2], actions[3], actions[4]);
    std::printf("cards written twice: %d; cards never written: %d; trials unfinished: %d\n",
                doubles, skipped, unfinished);
    return doubles == 0 && skipped == 0 ? 0 : 1;
}
