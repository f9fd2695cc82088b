// A batch against the emulated reader, in-process on a manual clock, with an operator who
// swipes when asked and a world that kills the program, signals it, pulls the cable and
// garbles the line at random moments. Whatever happens, every card ends up written exactly
// once, with its own data, and recorded as written.

#include "cards/batchjournal.h"
#include "cards/batchrunner.h"
#include "cards/cardbatch.h"
#include "cards/cardoperations.h"
#include "cards/databox.h"
#include "cards/statuswindow.h"
#include "config/appsettings.h"
#include "emulator/readertext.h"
#include "link/commandlinerhythm.h"
#include "link/linkdriver.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/messagebox.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The command line's answers without a terminal: no retry, no confirmation.
class SafeAnswers : public IMessageBox
{
public:
    int show(const QString&, const QString&, mb::Buttons buttons, mb::Icon, int) override
    {
        return buttons == mb::RetryCancel ? mb::IDCANCEL
               : buttons == mb::YesNo     ? mb::IDNO
                                          : mb::IDOK;
    }
};

class Prompt : public IStatusWindow
{
public:
    void ShowStatusWindow(const QString&, bool) override { up = true; }
    void HideStatusWindow() override { up = false; }
    bool up = false;
};

class NoDataBox : public IDataBox
{
public:
    QString text() const override { return QString(); }
    void setText(const QString&) override {}
};

struct Killed {
};

// One run of the program: its own clock, link and operations over the reader that outlives it.
struct Run : BatchFrontEnd {
    Run(LoopbackPort& port, int cardCount) : port(port), cards(cardCount)
    {
        settings.Timeout = 1;
        pump.stepMs = 10;
        pump.setLink(&link);
    }
    void cardInHand(const BatchCard& card, const BatchTrack*, int) override { inHand = card.index; }
    void note(const QString&) override {}
    void cardFailed(const BatchCard&, const BatchResult&) override {}
    bool emitResult(const QByteArray& line, QString*) override
    {
        if (events)
            *events << QString::fromLatin1(line.trimmed());
        return true;
    }
    void progress(const BatchTally&) override {}
    bool stopRequested() override { return signalled; }

    LoopbackPort& port;
    int cards;
    AppSettings settings;
    ManualClock clock;
    ManualPump pump{clock};
    SafeAnswers boxes;
    Prompt prompt;
    NoDataBox dataBox;
    ReaderLink link{port, clock, boxes, pump, settings, ReaderLink::Rhythm::CommandLine};
    LinkDriver driver{link, 10};
    CardOperations operations{link, prompt, boxes, dataBox};
    int inHand = 0;
    bool signalled = false;
    QStringList* events = nullptr;
};

const QByteArray kWriteDone = "\x02l@\x03";

} // namespace

class TestBatchRunner : public QObject
{
    Q_OBJECT
private slots:
    void exactlyOnceWhateverHappens();
};

void TestBatchRunner::exactlyOnceWhateverHappens()
{
    const QByteArray seedText = qgetenv("TARNAVEL_BATCH_SEED");
    const quint32 seed = seedText.isEmpty() ? 20261207u : seedText.toUInt();
    QRandomGenerator random(seed);
    int runsInAll = 0;
    int disruptions[3] = {}; // kills, signals, pulled cables
    for (int round = 0; round < 40; ++round) {
        constexpr int kCards = 6;
        // Every other round, cards of two tracks: a swipe a track, each exactly once.
        const bool twoTracks = round % 2 == 1;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString results = dir.filePath(QStringLiteral("results.jsonl"));
        QByteArray text;
        for (int k = 1; k <= kCards; ++k)
            text +=
                (twoTracks ? QStringLiteral("{\"iso1\": \"%B%1^C%1^?\", \"iso2\": \";%1%1=%1?\"}\n")
                           : QStringLiteral(";%1%1=%1?\n"))
                    .arg(k)
                    .toLatin1();
        CardBatch batch = parseCardBatch(text, *CardMethodId::fromIndex(1), false);
        QCOMPARE(batch.cards.size(), kCards);
        const CardIdentity identities(QByteArray(32, 'k'));
        for (BatchCard& card : batch.cards)
            card.id = identities.of(card);
        const QByteArray identity = identities.ofBatch(batch.cards);

        ReaderModel model;
        QList<ReaderCard> deck(kCards);
        QVERIFY(model.setDeck(deck));
        LoopbackPort port(model);
        QList<int> writes(kCards, 0);
        QStringList events; // what happened, for a failure's message
        model.onLog = [&](const FrameLogEntry& entry) { events << logEntryLine(entry); };
        const auto swipe = [&](int card) {
            events << QStringLiteral("operator swipes card %1").arg(card + 1);
            if (port.swipe(card).contains(kWriteDone))
                ++writes[card];
        };

        bool done = false;
        for (int attempt = 0; attempt < 60 && !done; ++attempt, ++runsInAll) {
            Run run(port, kCards);
            run.events = &events;
            events << QStringLiteral("run %1").arg(attempt + 1);
            BatchOptions options;
            options.keepGoing = random.bounded(2) == 0;
            options.verify = random.bounded(2) == 0;
            options.waitReaderSeconds = 2;
            int swipeIn = -1;
            run.pump.onPass = [&] {
                // The operator swipes the card in hand a few polls after being asked.
                if (run.prompt.up && run.inHand > 0) {
                    if (swipeIn < 0)
                        swipeIn = int(random.bounded(4));
                    if (swipeIn-- == 0)
                        swipe(run.inHand - 1);
                } else {
                    swipeIn = -1;
                }
                switch (random.bounded(120)) {
                case 0:
                    events << QStringLiteral("killed");
                    ++disruptions[0];
                    throw Killed{};
                case 1:
                    events << QStringLiteral("signal");
                    ++disruptions[1];
                    run.signalled = true;
                    run.link.abortWaits();
                    break;
                case 2:
                    events << QStringLiteral("cable pulled");
                    ++disruptions[2];
                    port.openFailures = int(random.bounded(3));
                    port.pullCable();
                    break;
                case 3:
                    model.setSilentCommands(QByteArray(1, "Anh"[random.bounded(3)]));
                    break;
                case 4:
                    model.setCorruptCount(int(random.bounded(3)));
                    break;
                case 5:
                    // A card swiped for no reason while the reader waits.
                    if (run.inHand > 0)
                        swipe(run.inHand - 1);
                    break;
                default:
                    if (random.bounded(20) == 0)
                        model.setSilentCommands({});
                }
            };
            ResumeState resume;
            QString error;
            ResultsJournal journal;
            QVERIFY2(journal.open(results, &error), qPrintable(error));
            QVERIFY2(journal.read(batch.cards, identity, batch.sha256, QStringLiteral("cards"),
                                  &resume, &error),
                     qPrintable(error));
            QVERIFY(resume.changed.isEmpty());
            try {
                run.driver.open();
                if (!run.link.commandLine()->startClean())
                    continue;
                qint64 cut = 0;
                QVERIFY(journal.begin(batchHeaderLine(QStringLiteral("cards"), identity, kCards,
                                                      QDateTime::currentDateTimeUtc()),
                                      &cut, &error));
                BatchRunner runner(run.operations, run.link, run.driver, run.clock, run.pump, run,
                                   options);
                const BatchTally tally = runner.run(batch.cards, 1, resume, &journal);
                done = tally.stop == BatchStop::None && tally.failed == 0 &&
                       tally.done + tally.skipped == kCards;
            } catch (const Killed&) {
            } catch (const AppError&) {
            }
            model.setSilentCommands({});
            model.setCorruptCount(0);
        }
        QVERIFY2(
            done,
            qPrintable(QStringLiteral("round %1 never finished (seed %2)").arg(round).arg(seed)));
        for (int card = 0; card < kCards; ++card) {
            const BatchCard& written = batch.cards.at(card);
            QVERIFY2(writes[card] == written.tracks.size(),
                     qPrintable(QStringLiteral("card %1 written %2 times (seed %3):\n%4")
                                    .arg(card + 1)
                                    .arg(writes[card])
                                    .arg(seed)
                                    .arg(events.join(QLatin1Char('\n')))));
            for (const BatchTrack& track : written.tracks)
                QCOMPARE(model.deck().at(card).tracks[track.method.track()], track.bytes);
        }
        ResultsJournal journal;
        ResumeState recorded;
        QString error;
        QVERIFY(journal.open(results, &error));
        QVERIFY(journal.read(batch.cards, identity, batch.sha256, QStringLiteral("cards"),
                             &recorded, &error));
        QCOMPARE(recorded.writtenCards(batch.cards), kCards);
    }
    qInfo("seed %u: %d runs, %d kills, %d signals, %d pulled cables, no card written twice", seed,
          runsInAll, disruptions[0], disruptions[1], disruptions[2]);
}

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "test_batchrunner.moc"
