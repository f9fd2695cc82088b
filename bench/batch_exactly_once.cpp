// Exactly once, measured: tarnavel-cli batch and copy against tarnavel-sim, ended at random
// moments by SIGINT, SIGTERM, SIGHUP, SIGKILL or an unplugged reader (the emulator ends and a new
// one takes COM1 a moment later), then run again as the program advises until it finishes. The
// emulator's log says what was written on every swipe; every card's data must have been written
// exactly once. Each trial is one of these scenarios, in turn:
//   kills           one track a card, ended as above;
//   torn last line  a power cut (SIGKILL, the reader off at once) leaves the results file without
//                   the end of its last line; the next run cuts it, says so and goes on;
//   two runs        a second run on the same results file while the first one runs: refused
//                   (exit 7), with nothing written to the file or to a card;
//   verify          --verify, ended while the reader waits for the read-back swipe; every card
//                   ends verified;
//   several tracks  cards of track 1 and track 2, a swipe each (with --verify every other time);
//   copy            copy -n 4 of a master card, the bench swiping the master or a blank as asked.
// Batch trials also take turns at the four ways of naming the results file: --results F, then
// --resume F; --resume F alone from the start; --resume F --results F; and --results F once more
// on a file that records started cards, which must be refused before the advised command goes on.
//
//   build/bench/bench_batch_exactly_once [TRIALS] [SEED] [FIRST]
//     defaults 120, a random seed, 0; trial K of a seed runs alone with: 1 SEED K
// With TARNAVEL_BENCH_LOG set, a failed trial's folder is kept with the emulator's log and the
// programs' messages, and named.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace {

const QString kCli = QStringLiteral(TARNAVEL_CLI_PATH);
const QString kSim = QStringLiteral(TARNAVEL_SIM_PATH);
constexpr int kCards = 6;
constexpr int kCopies = 4;
// Only the first runs of a trial are ended; the ones after go on undisturbed, so a trial ends.
constexpr int kDisturbedRuns = 6;
constexpr int kMaxRuns = 40;

enum Scenario { Kills, Torn, TwoRuns, Verify, Tracks, Copy, kScenarios };
constexpr std::array<const char*, kScenarios> kScenarioNames = {
    "kills", "torn last line", "two runs", "verify", "several tracks", "copy"};
enum Way { ResultsThenResume, ResumeAlone, ResumeAndResults, ResultsAgain, kWays };
constexpr std::array<const char*, kWays> kWayNames = {
    "--results F, then --resume", "--resume F from the start", "--resume F --results F",
    "--results F again (refused)"};
// A power cut: SIGKILL and the reader off at once, so that it makes no swipe of its own after.
enum Action { SigInt, SigTerm, SigHup, SigKill, Unplug, PowerCut, kActions, NoAction = kActions };
constexpr std::array<const char*, kActions> kActionNames = {"SIGINT",  "SIGTERM",   "SIGHUP",
                                                            "SIGKILL", "unplugged", "power cut"};
constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGKILL};

qint64 nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

// Lets the programs' output in while the bench waits.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<QJsonObject> jsonObject(const QByteArray& line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Words of a command line as the program prints it (plain words, or quoted as a shell reads them).
QStringList shellWords(const QString& text)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('\''))
                quoted = false;
            else
                word += c;
        } else if (c == QLatin1Char('\'')) {
            quoted = inWord = true;
        } else if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            word += text.at(++i);
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << std::exchange(word, QString());
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

// The padding a write adds after the end sentinel is no part of what a card was meant to hold.
QString unpadded(const QString& data)
{
    const qsizetype end = data.indexOf(QLatin1Char('?'));
    if (end < 0)
        return data;
    for (qsizetype i = end + 1; i < data.size(); ++i) {
        if (data.at(i) != QLatin1Char('0'))
            return data;
    }
    return data.left(end + 1);
}

struct DeckCard {
    QString name;
    std::array<QString, 3> tracks;
};
using Deck = QList<DeckCard>;

QByteArray deckText(const Deck& deck)
{
    QByteArray text;
    for (const DeckCard& card : deck) {
        text += '[' + card.name.toLatin1() + "]\n";
        for (int t = 0; t < 3; ++t) {
            if (!card.tracks.at(t).isEmpty())
                text += QByteArray::number(t + 1) + '=' + card.tracks.at(t).toLatin1() + '\n';
        }
    }
    return text;
}

// What the emulators' logs tell, line by line: what was written onto which card, and the arms.
struct Ledger {
    Deck deck;                  // what each card holds now
    QHash<QString, int> writes; // data written (without padding) -> how often
    QList<int> cardWrites;      // deck card -> write swipes
    int arms = 0;
    int readArms = 0; // arms with nothing loaded: a read swipe is awaited
    int writeSwipes = 0;
    int readArmsAtLastWrite = 0;
    bool awaitingReadBack = false; // armed for a read that follows a write: a verify's swipe
    int opens = 0;                 // times a program opened the device
    QList<QPair<QString, QString>> loaded; // method, data: what the next armed swipe writes

    void feed(const QString& line)
    {
        static const QRegularExpression load(
            QStringLiteral("^host +> .*write (.+): \\d+ bytes of track data \"(.*)\"$"));
        static const QRegularExpression swiped(
            QStringLiteral("^ +\\* card (\\d+) \".*\" swiped to write$"));
        static const QRegularExpression track(QStringLiteral("on Track (\\d)$"));
        // A new emulator starts with nothing loaded.
        if (line.startsWith(QLatin1String("tarnavel-sim: serving on"))) {
            loaded.clear();
            return;
        }
        if (line.startsWith(QLatin1String("host"))) {
            const QRegularExpressionMatch match = load.match(line);
            if (match.hasMatch()) {
                const QString method = match.captured(1);
                loaded.removeIf([&method](const auto& entry) { return entry.first == method; });
                loaded.append({method, match.captured(2)});
            } else if (line.endsWith(QLatin1String("  reset"))) {
                loaded.clear();
                awaitingReadBack = false;
            } else if (line.endsWith(QLatin1String("  arm for a swipe"))) {
                ++arms;
                readArms += loaded.isEmpty() ? 1 : 0;
                awaitingReadBack = loaded.isEmpty() && writeSwipes > 0;
            }
            return;
        }
        if (line.contains(QLatin1String("swiped to read")) ||
            line.startsWith(QLatin1String("tarnavel-sim: serving on")))
            awaitingReadBack = false;
        if (line.contains(QLatin1String("a program has opened the device"))) {
            ++opens;
            return;
        }
        const QRegularExpressionMatch match = swiped.match(line);
        if (!match.hasMatch())
            return;
        const int card = match.captured(1).toInt() - 1;
        for (const auto& [method, data] : std::as_const(loaded)) {
            const QRegularExpressionMatch on = track.match(method);
            if (on.hasMatch() && card >= 0 && card < deck.size())
                deck[card].tracks[on.captured(1).toInt() - 1] = data;
            ++writes[unpadded(data)];
        }
        if (card >= 0 && card < cardWrites.size())
            ++cardWrites[card];
        ++writeSwipes;
        readArmsAtLastWrite = readArms;
        awaitingReadBack = false;
        loaded.clear();
    }
};

struct Emulator {
    QProcess process;
    QString log;

    // autoSwipeMs < 0: no swipe by itself; the bench swipes on the console, as an operator would.
    bool start(const QString& config, int autoSwipeMs, const QString& deck)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        process.setProcessEnvironment(env);
        QStringList arguments = {QStringLiteral("--com"), QStringLiteral("1"),
                                 QStringLiteral("--card"), deck};
        if (autoSwipeMs >= 0)
            arguments << QStringLiteral("--auto-swipe") << QString::number(autoSwipeMs);
        process.start(kSim, arguments);
        QElapsedTimer waited;
        waited.start();
        while (!log.contains(QLatin1String("linked as")) && waited.elapsed() < 5000) {
            process.waitForReadyRead(100);
            collect();
        }
        return log.contains(QLatin1String("linked as"));
    }
    void collect() { log += QString::fromLatin1(process.readAllStandardOutput()); }
    void command(const QByteArray& line) { process.write(line + '\n'); }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
        collect();
    }
};

struct Cli {
    QProcess process;
    QByteArray out;
    QByteArray err;
    qsizetype scanned = 0;
    // The operator: prompts read, the deck card the last one asks for, arms answered.
    int prompts = 0;
    int target = 1;
    int promptsUsed = 0;
    int armsAtStart = 0;
    int armsSwiped = 0;
    qint64 armSeenAt = -1;
    qint64 swipeAt = -1;

    void start(const QString& config, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(config);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(kCli, args);
    }
    bool running() const { return process.state() != QProcess::NotRunning; }
    void take()
    {
        static const QRegularExpression copyPrompt(QStringLiteral("^Copy (\\d+) of \\d+: "));
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        qsizetype end;
        while ((end = err.indexOf('\n', scanned)) >= 0) {
            const QString line = QString::fromLocal8Bit(err.mid(scanned, end - scanned));
            scanned = end + 1;
            if (line.startsWith(QLatin1String("Swipe the master card"))) {
                ++prompts;
                target = 1;
            } else if (const QRegularExpressionMatch match = copyPrompt.match(line);
                       match.hasMatch()) {
                ++prompts;
                target = 1 + match.captured(1).toInt();
            }
        }
    }
    bool killed() const { return process.exitStatus() == QProcess::CrashExit; }
    int status() const { return killed() ? -1 : process.exitCode(); }
    // The one object that answers the command (the batch's report, or its failure).
    QJsonObject report() const
    {
        const QList<QByteArray> lines = out.split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            const std::optional<QJsonObject> object = jsonObject(*line);
            if (object && object->contains(QLatin1String("exit")))
                return *object;
        }
        return {};
    }
};

struct Counts {
    int trials = 0;
    int runs = 0;
    int twice = 0;
    int never = 0;
    int unfinished = 0;
    int secondWrote = 0;
    int faults = 0;
    qint64 ms = 0;

    void add(const Counts& other)
    {
        trials += other.trials;
        runs += other.runs;
        twice += other.twice;
        never += other.never;
        unfinished += other.unfinished;
        secondWrote += other.secondWrote;
        faults += other.faults;
        ms += other.ms;
    }
    bool failed() const { return twice + never + unfinished + secondWrote + faults > 0; }
};

// What happened, beyond the failure counts.
struct Notes {
    std::array<int, kActions> actions{};
    int tornCut = 0;
    int tearsLeft = 0;     // the last line announced a write the reader had made: not torn
    int seconds = 0;       // second runs while the first one held the file
    int notConcurrent = 0; // the first run ended before the second one began
    int refusedAgain = 0;  // --results F once more, refused
    int verifyKills = 0;
    int advised = 0;
    int documented = 0;
};

class Trial
{
public:
    Trial(quint32 seed, int number, Scenario scenario, Way way, Notes& notes)
        : m_seed(seed), m_number(number), m_scenario(scenario), m_way(way), m_notes(notes)
    {
        const quint32 seeds[] = {seed, quint32(number)};
        m_random = QRandomGenerator(seeds);
    }

    // False when the bench itself cannot go on (the emulator does not start).
    bool run();
    const Counts& counts() const { return m_counts; }

private:
    struct Outcome {
        bool killed = false;
        int status = -1;
        QByteArray err;
        QJsonObject report;
    };

    bool copy() const { return m_scenario == Copy; }
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    QStringList batchCommand(const QStringList& results) const;
    void writeCards();
    bool startSim();
    void stopSim();
    void pull();
    void step(Cli* cli);
    void operate(Cli& cli);
    void waitMs(int ms, Cli* cli);
    Outcome attempt(const QStringList& args, int index);
    void secondRun(Cli& first);
    QStringList refusedRun(const QStringList& args);
    QStringList goOn(const Outcome& outcome);
    void tear();
    void checkTear(const Outcome& outcome);
    void checkLast(const Outcome& outcome);
    void countWrites();
    void fault(const QString& why);
    int headers() const;
    bool records(bool written) const;

    quint32 m_seed;
    int m_number;
    Scenario m_scenario;
    Way m_way;
    Notes& m_notes;
    QRandomGenerator m_random;
    QTemporaryDir m_dir;
    QString m_cards;
    QString m_results;
    QString m_deck;
    int m_swipeMs = 0;
    bool m_verify = false;
    QStringList m_expected; // each track's data, card by card ("" for none)
    QString m_master;
    QStringList m_documented;
    std::unique_ptr<Emulator> m_sim;
    qsizetype m_fed = 0;
    QString m_pastLogs;
    Ledger m_ledger;
    Counts m_counts;
    QStringList m_trace;
    // A torn last line waiting for the run that cuts it.
    bool m_tornMade = false;
    bool m_tornPending = false;
    QByteArray m_tornFile;
};

QStringList Trial::batchCommand(const QStringList& results) const
{
    QStringList args = {QStringLiteral("--json"),
                        QStringLiteral("batch"),
                        QStringLiteral("--keep-going"),
                        QStringLiteral("--wait-reader"),
                        QStringLiteral("5"),
                        QStringLiteral("-t"),
                        QStringLiteral("2")};
    if (m_verify)
        args << QStringLiteral("--verify");
    return args + results + QStringList{m_cards};
}

void Trial::writeCards()
{
    QByteArray text;
    for (int card = 1; card <= kCards; ++card) {
        const QString pan =
            QStringLiteral("4%1%2").arg(m_number + 1, 6, 10, QLatin1Char('0')).arg(card);
        if (m_scenario == Tracks) {
            const QString one = QStringLiteral("%B%1^NAME^2912?").arg(pan);
            const QString two = QStringLiteral(";%1=2912?").arg(pan);
            text +=
                QStringLiteral("{\"iso1\": \"%1\", \"iso2\": \"%2\"}\n").arg(one, two).toLatin1();
            m_expected << one << two;
        } else {
            const QString two = QStringLiteral(";%1=2912?").arg(pan);
            text += two.toLatin1() + '\n';
            m_expected << two;
        }
    }
    QFile file(m_cards);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

bool Trial::startSim()
{
    QFile deck(m_deck);
    if (!deck.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    deck.write(deckText(m_ledger.deck));
    deck.close();
    m_sim = std::make_unique<Emulator>();
    m_fed = 0;
    return m_sim->start(m_dir.path(), copy() ? -1 : m_swipeMs, m_deck);
}

void Trial::stopSim()
{
    m_sim->stop();
    pull();
    if (m_fed < m_sim->log.size())
        m_ledger.feed(m_sim->log.mid(m_fed));
    m_pastLogs += m_sim->log + QLatin1Char('\n');
    m_sim.reset();
}

void Trial::pull()
{
    if (!m_sim)
        return;
    m_sim->collect();
    const QString& log = m_sim->log;
    qsizetype end;
    while ((end = log.indexOf(QLatin1Char('\n'), m_fed)) >= 0) {
        m_ledger.feed(log.mid(m_fed, end - m_fed));
        m_fed = end + 1;
    }
}

void Trial::step(Cli* cli)
{
    spin(1);
    pull();
    if (cli) {
        cli->take();
        if (copy() && m_sim)
            operate(*cli);
    }
}

// Swipes what the prompt asks for once the reader is armed: the master (deck card 1), or copy k's
// own card (deck card k + 1), after a moment of the operator's.
void Trial::operate(Cli& cli)
{
    const int arms = m_ledger.arms - cli.armsAtStart;
    if (arms > cli.armsSwiped && cli.armSeenAt < 0)
        cli.armSeenAt = nowMs();
    // The prompt and the arm come together; an arm whose prompt went to a reader that was
    // unplugged is answered with the last card asked for.
    const bool asked = cli.prompts > cli.promptsUsed;
    if (cli.armSeenAt >= 0 && cli.swipeAt < 0 && (asked || nowMs() - cli.armSeenAt > 100))
        cli.swipeAt = nowMs() + m_random.bounded(m_swipeMs + 1);
    if (cli.swipeAt >= 0 && nowMs() >= cli.swipeAt) {
        m_sim->command("swipe " + QByteArray::number(cli.target));
        cli.armsSwiped = arms;
        cli.promptsUsed = cli.prompts;
        cli.armSeenAt = cli.swipeAt = -1;
    }
}

void Trial::waitMs(int ms, Cli* cli)
{
    const qint64 until = nowMs() + ms;
    while (nowMs() < until)
        step(cli);
}

int Trial::headers() const
{
    int count = 0;
    for (const QByteArray& line : readFile(m_results).split('\n'))
        count += line.startsWith("{\"batch\"") ? 1 : 0;
    return count;
}

// Whether the results file records a card as started (or, with written, as written), as a resume
// reads it: the last whole line of each card (or track) says it was written, or may have been.
bool Trial::records(bool written) const
{
    QHash<QString, bool> started;
    for (const QByteArray& line : readFile(m_results).split('\n')) {
        const std::optional<QJsonObject> object = jsonObject(line);
        if (!object || !object->contains(QLatin1String("index")))
            continue;
        const QString key = QStringLiteral("%1/%2")
                                .arg(object->value(QLatin1String("index")).toInt())
                                .arg(object->value(QLatin1String("track")).toString());
        const QString step = object->value(QLatin1String("step")).toString();
        const QJsonValue result = object->value(QLatin1String("written"));
        started[key] = object->contains(QLatin1String("result"))
                           ? (written ? result == QJsonValue(true) : result != QJsonValue(false))
                           : (!written && step == QLatin1String("armed")) ||
                                 step == QLatin1String("written") ||
                                 step == QLatin1String("verified");
    }
    return std::any_of(started.cbegin(), started.cend(), [](bool on) { return on; });
}

void Trial::fault(const QString& why)
{
    ++m_counts.faults;
    std::fprintf(stderr, "trial %d (%s%s%s, seed %u): %s\n", m_number, kScenarioNames[m_scenario],
                 copy() ? "" : ", ", copy() ? "" : kWayNames[m_way], m_seed, qPrintable(why));
}

Trial::Outcome Trial::attempt(const QStringList& args, int index)
{
    // How this run is ended, if it is.
    Action action = NoAction;
    std::function<bool()> ready = [] { return true; };
    int delayMs = 0;
    const int writesAtStart = m_ledger.writeSwipes;
    if (index < kDisturbedRuns) {
        action =
            m_scenario == Torn && !m_tornMade ? PowerCut : Action(m_random.bounded(int(PowerCut)));
        // About as long as an undisturbed run takes: the operator of a copy swipes within
        // m_swipeMs, the emulator of a batch at m_swipeMs after each arm.
        const int swipes =
            copy() ? 1 + 2 * kCopies : kCards * (m_scenario == Tracks ? 2 : 1) * (m_verify ? 2 : 1);
        delayMs = int(m_random.bounded(swipes * (copy() ? m_swipeMs / 2 + 8 : m_swipeMs + 15)));
        // A power cut in the first half of the run, so that it lands before the run's end.
        if (action == PowerCut)
            delayMs /= 2;
        if (m_scenario == Verify) {
            // While the reader waits for the read-back swipe of a card written in this run.
            const int written = 1 + int(m_random.bounded(kCards / 2));
            ready = [this, written, writesAtStart] {
                return m_ledger.writeSwipes - writesAtStart >= written &&
                       m_ledger.readArms > m_ledger.readArmsAtLastWrite;
            };
            delayMs = int(m_random.bounded(m_swipeMs));
        } else if (m_way == ResultsAgain && index == 0 && !copy()) {
            // Once the file records a card as written: started for good.
            ready = [this] { return records(true); };
            delayMs = int(m_random.bounded(m_swipeMs + 15));
        }
    }
    bool second =
        m_scenario == TwoRuns && index < kDisturbedRuns && (index == 0 || m_random.bounded(3) == 0);
    const int headersBefore = headers();

    Cli cli;
    cli.armsAtStart = m_ledger.arms;
    cli.start(m_dir.path(), args);
    ++m_counts.runs;
    m_trace << QStringLiteral("run: ") + args.join(QLatin1Char(' '));
    qint64 actAt = -1;
    Action acted = NoAction;
    const qint64 started = nowMs();
    while (cli.running()) {
        step(&cli);
        if (second && cli.running() && headers() > headersBefore) {
            secondRun(cli);
            second = false;
        }
        if (action != NoAction && acted == NoAction && !second) {
            if (actAt < 0 && ready())
                actAt = nowMs() + delayMs;
            if (actAt >= 0 && nowMs() >= actAt && cli.running()) {
                acted = action;
                ++m_notes.actions[action];
                m_notes.verifyKills += m_ledger.awaitingReadBack ? 1 : 0;
                m_trace << QStringLiteral("  %1 after %2 ms")
                               .arg(QLatin1String(kActionNames[action]))
                               .arg(nowMs() - started);
                if (action == Unplug) {
                    stopSim();
                    waitMs(int(m_random.bounded(500)), &cli);
                    if (!startSim())
                        fault(QStringLiteral("the emulator did not start again"));
                } else if (action == PowerCut) {
                    ::kill(pid_t(cli.process.processId()), SIGKILL);
                    stopSim();
                } else {
                    ::kill(pid_t(cli.process.processId()), kSignals[action]);
                }
            }
        }
        if (nowMs() - started > 120000) {
            fault(QStringLiteral("a run did not end within 120 s: ") + args.join(QLatin1Char(' ')));
            cli.process.kill();
            cli.process.waitForFinished(5000);
        }
    }
    cli.take();
    // The operator's hand was on its way: the swipe lands after the program has gone.
    if (copy() && cli.swipeAt >= 0 && m_sim)
        m_sim->command("swipe " + QByteArray::number(cli.target));
    pull();
    if (acted == PowerCut) {
        // A run that ended by itself just before the cut left its file whole.
        if (m_scenario == Torn && !m_tornMade && cli.killed())
            tear();
        waitMs(int(m_random.bounded(300)), nullptr);
        if (!startSim())
            fault(QStringLiteral("the emulator did not start again"));
    }
    m_trace << QStringLiteral("  exit %1%2").arg(cli.status()).arg(cli.killed() ? " (killed)" : "");
    m_trace << QString::fromLocal8Bit(cli.err);
    return {cli.killed(), cli.status(), cli.err, cli.report()};
}

// A second run on the same results file while the first one holds it: refused before it touches
// the reader, leaving the file as the first one makes it.
void Trial::secondRun(Cli& first)
{
    const QByteArray before = readFile(m_results);
    const int opens = m_ledger.opens;
    Cli second;
    second.start(m_dir.path(), batchCommand({QStringLiteral("--resume"), m_results}));
    ++m_counts.runs;
    const qint64 started = nowMs();
    while (second.running() && nowMs() - started < 30000) {
        step(&first);
        second.take();
    }
    if (second.running()) {
        second.process.kill();
        second.process.waitForFinished(5000);
    }
    second.take();
    step(&first);
    const QByteArray after = readFile(m_results);
    const QJsonObject report = second.report();
    m_trace << QStringLiteral("  second run: exit %1 %2")
                   .arg(second.status())
                   .arg(QString::fromLocal8Bit(second.err));
    if (!first.running() && second.status() != 7) {
        // The first run ended before the second one reached the file: an ordinary resume.
        ++m_notes.notConcurrent;
        return;
    }
    ++m_notes.seconds;
    int headersAdded = 0;
    for (const QByteArray& line : after.mid(before.size()).split('\n'))
        headersAdded += line.startsWith("{\"batch\"") ? 1 : 0;
    if (!after.startsWith(before) || headersAdded > 0 || m_ledger.opens != opens ||
        second.out.contains("\"index\"")) {
        ++m_counts.secondWrote;
        fault(QStringLiteral("the second run left a mark (results file or reader)"));
    }
    if (second.status() != 7 ||
        report.value(QLatin1String("code")).toString() != QLatin1String("results_refused") ||
        !second.err.contains("another run keeps its results there"))
        fault(QStringLiteral("the second run was not refused as held by the first one: exit %1")
                  .arg(second.status()));
}

// --results F once more, on a file that records started cards: refused with exit 7, nothing
// written; the command its message advises is what goes on.
QStringList Trial::refusedRun(const QStringList& args)
{
    static const QRegularExpression advice(
        QStringLiteral("To go on where it stopped: (tarnavel-cli .*)\\. To write every card"));
    const QByteArray before = readFile(m_results);
    const int opens = m_ledger.opens;
    const Outcome outcome = attempt(args, kDisturbedRuns);
    ++m_notes.refusedAgain;
    if (readFile(m_results) != before || m_ledger.opens != opens) {
        ++m_counts.secondWrote;
        fault(QStringLiteral("--results on a started file left a mark (results file or reader)"));
    }
    if (outcome.status != 7 ||
        outcome.report.value(QLatin1String("code")).toString() != QLatin1String("results_refused"))
        fault(QStringLiteral("--results on a started file was not refused: exit %1")
                  .arg(outcome.status));
    const QRegularExpressionMatch match = advice.match(QString::fromLocal8Bit(outcome.err));
    const QStringList words = shellWords(match.captured(1));
    const qsizetype resume = words.indexOf(QStringLiteral("--resume"));
    if (!match.hasMatch() || resume < 0 || words.value(resume + 1) != m_results) {
        fault(QStringLiteral("the refusal names no command that resumes from the results file"));
        ++m_notes.documented;
        return m_documented;
    }
    ++m_notes.advised;
    return words.mid(1);
}

// The command to run next: the one the last run advised, or else (no word from a killed run)
// the documented one, the same command with --resume F.
QStringList Trial::goOn(const Outcome& outcome)
{
    static const QRegularExpression advised(QStringLiteral("resume with: (tarnavel-cli .*)$"),
                                            QRegularExpression::MultilineOption);
    QString command = outcome.report.value(QLatin1String("resume")).toString();
    if (command.isEmpty())
        command = advised.match(QString::fromLocal8Bit(outcome.err)).captured(1);
    if (!command.isEmpty()) {
        const QStringList words = shellWords(command);
        const qsizetype resume = words.indexOf(QStringLiteral("--resume"));
        if (words.value(0) == QLatin1String("tarnavel-cli") && resume > 0 &&
            words.value(resume + 1) == m_results) {
            ++m_notes.advised;
            return words.mid(1);
        }
        fault(QStringLiteral("the advised command does not resume from the results file: ") +
              command);
    }
    ++m_notes.documented;
    return m_documented;
}

// A power cut tears only the line being written: every line is synced before the step it
// announces, so a line whose step the reader has carried out was whole on the disk. Such a line
// is left as it is.
void Trial::tear()
{
    const QByteArray bytes = readFile(m_results);
    if (bytes.size() < 2 || !bytes.endsWith('\n'))
        return;
    const qsizetype start = bytes.lastIndexOf('\n', bytes.size() - 2) + 1;
    const QByteArray line = bytes.mid(start, bytes.size() - 1 - start);
    const std::optional<QJsonObject> object = jsonObject(line);
    if (line.size() < 2 || !object)
        return;
    if (object->value(QLatin1String("step")).toString() == QLatin1String("armed")) {
        const int card = object->value(QLatin1String("index")).toInt();
        const QString data = m_expected.value(card - 1);
        if (card < 1 || m_ledger.writes.value(data) > 0) {
            ++m_notes.tearsLeft;
            return;
        }
    }
    const qsizetype kept = 1 + qsizetype(m_random.bounded(int(line.size() - 1)));
    QFile file(m_results);
    if (!file.resize(start + kept)) {
        fault(QStringLiteral("cannot tear the results file"));
        return;
    }
    m_tornMade = m_tornPending = true;
    m_tornFile = bytes.left(start + kept);
    m_trace
        << QStringLiteral("  tore the last line: %1 of %2 bytes kept").arg(kept).arg(line.size());
}

// The run after a tear that takes the file up again cuts the torn line and says so.
void Trial::checkTear(const Outcome& outcome)
{
    if (!m_tornPending)
        return;
    static const QRegularExpression cut(QStringLiteral("cut a torn last line of (\\d+) bytes"));
    const QByteArray now = readFile(m_results);
    const QRegularExpressionMatch said = cut.match(QString::fromLocal8Bit(outcome.err));
    const qsizetype torn = m_tornFile.size() - (m_tornFile.lastIndexOf('\n') + 1);
    if (said.hasMatch()) {
        m_tornPending = false;
        ++m_notes.tornCut;
        if (said.captured(1).toLongLong() != torn)
            fault(QStringLiteral("the torn line of %1 bytes was said to be %2 bytes")
                      .arg(torn)
                      .arg(said.captured(1)));
    } else if (now.startsWith(m_tornFile) && now.size() > m_tornFile.size()) {
        m_tornPending = false;
        fault(QStringLiteral("a run wrote after a torn last line without cutting it"));
    } else if (!now.startsWith(m_tornFile)) {
        m_tornPending = false;
        // Killed between the cut and its message, the run could not say it.
        if (!outcome.killed)
            fault(QStringLiteral("a torn last line was cut without a word"));
        else
            ++m_notes.tornCut;
    }
}

// The run that finished: its report says every card is done, and so do the results.
void Trial::checkLast(const Outcome& outcome)
{
    const int total = copy() ? kCopies : kCards;
    const QString done = m_verify ? QStringLiteral("verified") : QStringLiteral("written");
    const QJsonObject& report = outcome.report;
    if (report.value(QLatin1String("result")).toString() != QLatin1String("done") ||
        report.value(QLatin1String("exit")).toInt(-1) != 0 || !report.contains(done) ||
        report.value(done).toInt() + report.value(QLatin1String("skipped")).toInt() != total ||
        !report.value(QLatin1String("failed")).toArray().isEmpty() ||
        !report.value(QLatin1String("in_doubt")).toArray().isEmpty())
        fault(QStringLiteral("the last run's report is not of every card %1: %2")
                  .arg(done,
                       QString::fromUtf8(QJsonDocument(report).toJson(QJsonDocument::Compact))));
    static const QRegularExpression summary(
        QStringLiteral("(\\d+) (written|verified), 0 failed, 0 not attempted, of (\\d+) "
                       "(cards|copies)(, (\\d+) already \\2 before)?$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch said = summary.match(QString::fromLocal8Bit(outcome.err));
    if (!said.hasMatch() || said.captured(2) != done ||
        said.captured(1).toInt() + said.captured(6).toInt() != total)
        fault(QStringLiteral("the last run's summary is not of every card ") + done);
    // Every line whole, and each card's last result what the run promised.
    QHash<int, QString> results;
    int lineNumber = 0;
    for (const QByteArray& line : readFile(m_results).split('\n')) {
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const std::optional<QJsonObject> object = jsonObject(line);
        if (!object) {
            fault(QStringLiteral("results line %1 is not whole").arg(lineNumber));
            continue;
        }
        if (object->contains(QLatin1String("result")) && !object->contains(QLatin1String("track")))
            results[object->value(QLatin1String("index")).toInt()] =
                object->value(QLatin1String("result")).toString();
    }
    for (int card = 1; card <= total; ++card) {
        if (results.value(card) != done)
            fault(QStringLiteral("the results leave card %1 %2, not %3")
                      .arg(card)
                      .arg(results.value(card, QStringLiteral("unrecorded")), done));
    }
}

void Trial::countWrites()
{
    auto count = [this](const QString& what, int writes) {
        m_counts.twice += qMax(0, writes - 1);
        m_counts.never += writes == 0 ? 1 : 0;
        if (writes != 1)
            std::fprintf(stderr, "trial %d (%s, seed %u): %s written %d times\n", m_number,
                         kScenarioNames[m_scenario], m_seed, qPrintable(what), writes);
    };
    if (copy()) {
        int copies = 0;
        for (int k = 1; k <= kCopies; ++k) {
            count(QStringLiteral("copy %1").arg(k), m_ledger.cardWrites.value(k));
            copies += m_ledger.cardWrites.value(k);
        }
        if (m_ledger.cardWrites.value(0) != 0)
            fault(QStringLiteral("the master card was written"));
        if (m_ledger.writes.value(m_master) != copies || m_ledger.writes.size() > 1)
            fault(QStringLiteral("the copies hold other data than the master's"));
        if (m_ledger.writes.value(m_master) != kCopies)
            std::fprintf(stderr,
                         "trial %d (copy, seed %u): the master's data written %d times, "
                         "not %d\n",
                         m_number, m_seed, m_ledger.writes.value(m_master), kCopies);
        return;
    }
    const int tracks = m_scenario == Tracks ? 2 : 1;
    int expected = 0;
    for (qsizetype i = 0; i < m_expected.size(); ++i) {
        count(QStringLiteral("card %1%2")
                  .arg(i / tracks + 1)
                  .arg(tracks == 1 ? QString() : QStringLiteral(", iso%1").arg(i % tracks + 1)),
              m_ledger.writes.value(m_expected.at(i)));
        expected += m_ledger.writes.value(m_expected.at(i));
    }
    int all = 0;
    for (const int writes : std::as_const(m_ledger.writes))
        all += writes;
    if (all != expected)
        fault(QStringLiteral("%1 writes of data no card holds").arg(all - expected));
}

bool Trial::run()
{
    QElapsedTimer clock;
    clock.start();
    m_counts.trials = 1;
    m_cards = path("cards.txt");
    m_results = path("results.jsonl");
    m_deck = path("deck.txt");
    // Two runs need a first one still writing when the second one starts; a verify, a moment
    // between its arm and its swipe.
    m_swipeMs = m_scenario == TwoRuns  ? 40 + int(m_random.bounded(40))
                : m_scenario == Verify ? 20 + int(m_random.bounded(40))
                : copy()               ? int(m_random.bounded(40))
                                       : int(m_random.bounded(60));
    m_verify =
        m_scenario == Verify || copy() || (m_scenario == Tracks && m_number / kScenarios % 2 == 1);

    QStringList first;
    if (copy()) {
        m_master = QStringLiteral(";5%1=2912?").arg(m_number + 1, 6, 10, QLatin1Char('0'));
        m_ledger.deck = {{QStringLiteral("master"), {QString(), m_master, QString()}}};
        for (int k = 1; k <= kCopies; ++k)
            m_ledger.deck.append({QStringLiteral("copy %1").arg(k), {}});
        const QStringList copyCommand = {QStringLiteral("--json"),
                                         QStringLiteral("copy"),
                                         QStringLiteral("-m"),
                                         QStringLiteral("iso2"),
                                         QStringLiteral("-n"),
                                         QString::number(kCopies),
                                         QStringLiteral("--keep-going"),
                                         QStringLiteral("--wait-reader"),
                                         QStringLiteral("5"),
                                         QStringLiteral("-t"),
                                         QStringLiteral("2")};
        first = copyCommand + QStringList{QStringLiteral("--results"), m_results};
        m_documented = copyCommand + QStringList{QStringLiteral("--resume"), m_results};
    } else {
        writeCards();
        m_ledger.deck = {{QStringLiteral("slot"), {}}};
        const QStringList results = {QStringLiteral("--results"), m_results};
        const QStringList resume = {QStringLiteral("--resume"), m_results};
        first = batchCommand(m_way == ResumeAlone        ? resume
                             : m_way == ResumeAndResults ? resume + results
                                                         : results);
        // The manual's way on: the same command with --resume F.
        m_documented = batchCommand(m_way == ResumeAlone ? resume : results + resume);
    }
    m_ledger.cardWrites = QList<int>(m_ledger.deck.size(), 0);
    if (!startSim())
        return false;

    QStringList next = first;
    bool done = false;
    Outcome last;
    for (int index = 0; index < kMaxRuns && !done; ++index) {
        last = attempt(next, index);
        done = !last.killed && last.status == 0;
        checkTear(last);
        next = done ? next : goOn(last);
        if (!copy() && m_way == ResultsAgain && index == 0) {
            if (records(false)) {
                next = refusedRun(batchCommand({QStringLiteral("--results"), m_results}));
                done = false;
            } else {
                m_trace << QStringLiteral("  no card started: nothing to refuse");
            }
        }
    }
    stopSim();
    if (done)
        checkLast(last);
    else
        ++m_counts.unfinished;
    if (m_tornPending)
        fault(QStringLiteral("a torn last line was never cut"));
    countWrites();
    m_counts.ms = clock.elapsed();

    if (m_counts.failed()) {
        std::fprintf(stderr, "  reproduce: %s 1 %u %d\n",
                     qPrintable(QCoreApplication::applicationFilePath()), m_seed, m_number);
        if (qEnvironmentVariableIsSet("TARNAVEL_BENCH_LOG")) {
            m_dir.setAutoRemove(false);
            QFile trace(path("trace.txt"));
            if (trace.open(QIODevice::WriteOnly))
                trace.write(m_trace.join(QLatin1Char('\n')).toLocal8Bit() + "\n=== emulator\n" +
                            m_pastLogs.toLatin1());
            std::fprintf(stderr, "  kept: %s\n", qPrintable(m_dir.path()));
        }
    }
    return true;
}

void printRow(const char* name, const Counts& c)
{
    std::printf("%-28s %6d %6d %6d %6d %10d %12d %6d %8.1f\n", name, c.trials, c.runs, c.twice,
                c.never, c.unfinished, c.secondWrote, c.faults, c.ms / 1000.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int trials = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 120;
    const quint32 seed =
        args.size() > 2 ? args.at(2).toUInt() : QRandomGenerator::global()->generate();
    const int firstTrial = args.size() > 3 ? qMax(0, args.at(3).toInt()) : 0;
    std::array<Counts, kScenarios> scenarios{};
    std::array<Counts, kWays> ways{};
    Counts total;
    Notes notes;
    QElapsedTimer clock;
    clock.start();
    for (int number = firstTrial; number < firstTrial + trials; ++number) {
        // In turn, so every scenario meets every way of naming the results file.
        const auto scenario = Scenario(number % kScenarios);
        const auto way = Way(number / kScenarios % kWays);
        Trial trial(seed, number, scenario, way, notes);
        if (!trial.run()) {
            std::fprintf(stderr, "trial %d: the emulator did not start\n", number);
            return 1;
        }
        scenarios[scenario].add(trial.counts());
        if (scenario != Copy)
            ways[way].add(trial.counts());
        total.add(trial.counts());
    }
    std::printf("%d trials from %d (seed %u), %d runs in %.0f s; %d cards a batch, %d copies\n",
                trials, firstTrial, seed, total.runs, clock.elapsed() / 1000.0, kCards, kCopies);
    std::printf("runs ended by:");
    for (int action = 0; action < kActions; ++action)
        std::printf(" %d %s%s", notes.actions[action], kActionNames[action],
                    action + 1 < kActions ? "," : "\n");
    std::printf("%-28s %6s %6s %6s %6s %10s %12s %6s %8s\n", "", "trials", "runs", "twice", "never",
                "unfinished", "second wrote", "faults", "time s");
    for (int s = 0; s < kScenarios; ++s)
        printRow(kScenarioNames[s], scenarios[s]);
    std::printf("results file given as (batch trials):\n");
    for (int w = 0; w < kWays; ++w)
        printRow(kWayNames[w], ways[w]);
    printRow("all", total);
    std::printf("torn lines cut: %d (left whole, their step done: %d); second runs refused while "
                "the first ran: %d (first had ended: %d); --results again refused: %d; runs "
                "ended in a verify swipe's wait: %d; advised commands run: %d, documented: %d\n",
                notes.tornCut, notes.tearsLeft, notes.seconds, notes.notConcurrent,
                notes.refusedAgain, notes.verifyKills, notes.advised, notes.documented);
    return total.failed() ? 1 : 0;
}
