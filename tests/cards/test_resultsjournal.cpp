// The results file of a batch: who may keep it, what it says after a crash, and what a resume
// makes of it.

#include "cards/batchjournal.h"
#include "cards/cardbatch.h"
#include "cards/jobreport.h"
#include "config/resultskey.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kKey(32, 'k');

CardBatch cardsOf(const QByteArray& text, const QByteArray& key = kKey)
{
    CardBatch batch = parseCardBatch(text, *CardMethodId::fromIndex(1), false);
    const CardIdentity identities(key);
    for (BatchCard& card : batch.cards)
        card.id = identities.of(card);
    return batch;
}

QByteArray identityOf(const CardBatch& batch, const QByteArray& key = kKey)
{
    return CardIdentity(key).ofBatch(batch.cards);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What a run of batch writes for its cards: a header, then an intent and a result each.
QByteArray runOf(const CardBatch& batch, const QString& source, const QByteArray& key,
                 const QList<BatchStep>& steps)
{
    QByteArray text = batchHeaderLine(source, identityOf(batch, key), int(batch.cards.size()),
                                      QDateTime::currentDateTimeUtc());
    for (qsizetype i = 0; i < steps.size() && i < batch.cards.size(); ++i)
        text += batchProgressLine(batch.cards.at(i), nullptr, steps.at(i),
                                  QDateTime::currentDateTimeUtc());
    return text;
}

// What a resume makes of the results file at path for the cards of batch.
void readBack(const QString& path, const CardBatch& batch, ResumeState* state)
{
    ResultsJournal journal;
    QString error;
    QVERIFY2(journal.open(path, &error), qPrintable(error));
    QVERIFY2(journal.read(batch.cards, identityOf(batch), batch.sha256, QStringLiteral("cards"),
                          state, &error),
             qPrintable(error));
}

} // namespace

class TestResultsJournal : public QObject
{
    Q_OBJECT
private slots:
    void refusedFiles_data();
    void refusedFiles();
    void oneRunAtATime();
    void nothingLeftBehindBeforeTheReader();
    void resume_data();
    void resume();
    void tornLastLineIsCut();
    void nothingOfTheDataInTheFile();
    void writtenIdentities();
    void keyMadeOnce();
    void report_data();
    void report();
    void boxCheckNeverUndoesAWrite();
    void aCardsResultCoversItsTracks();
};

void TestResultsJournal::refusedFiles_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::newRow("a new file") << "new"
                                << "";
    QTest::newRow("a symbolic link") << "link"
                                     << "it is a symbolic link";
    QTest::newRow("a FIFO") << "fifo"
                            << "it is a FIFO, not a regular file";
    QTest::newRow("a folder") << "folder"
                              << "";
    QTest::newRow("a second name") << "hard link"
                                   << "it has 2 names";
    QTest::newRow("another user's") << "other owner"
                                    << "it belongs to another user";
    QTest::newRow("readable by others: made private") << "0644"
                                                      << "";
    QTest::newRow("in a folder others may write") << "open folder"
                                                  << "can be changed by";
}

void TestResultsJournal::refusedFiles()
{
    QFETCH(QString, what);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("results.jsonl"));
    const QByteArray local = QFile::encodeName(path);
    if (what == QLatin1String("link")) {
        writeFile(dir.filePath(QStringLiteral("target")), QByteArray());
        QVERIFY(::symlink("target", local.constData()) == 0);
    } else if (what == QLatin1String("fifo")) {
        QVERIFY(::mkfifo(local.constData(), 0600) == 0);
    } else if (what == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
        refusal = QStringLiteral("it is a folder");
    } else if (what == QLatin1String("hard link")) {
        writeFile(path, QByteArray());
        QVERIFY(::link(local.constData(), QFile::encodeName(path + "2").constData()) == 0);
    } else if (what == QLatin1String("other owner")) {
        writeFile(path, QByteArray());
        if (::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QVERIFY(::chown(local.constData(), 65534, 65534) == 0);
    } else if (what == QLatin1String("0644")) {
        writeFile(path, QByteArray());
        QVERIFY(::chmod(local.constData(), 0644) == 0);
    } else if (what == QLatin1String("open folder")) {
        const QString open = dir.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        QVERIFY(::chmod(QFile::encodeName(open).constData(), 0777) == 0);
        path = open + QStringLiteral("/results.jsonl");
    }
    ResultsJournal journal;
    QString error;
    // Never a hang, whatever stands there (a FIFO nobody writes to included).
    const bool opened = journal.open(path, &error);
    QCOMPARE(opened, refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    if (opened) {
        struct stat st {
        };
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
    }
}

void TestResultsJournal::oneRunAtATime()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.jsonl"));
    ResultsJournal first;
    ResultsJournal second;
    QString error;
    QVERIFY(first.open(path, &error));
    QVERIFY(!second.open(path, &error));
    // The holder is named where the kernel tells it.
    QVERIFY2(error.startsWith(QStringLiteral("another run keeps its results there now")),
             qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("process %1").arg(::getpid())), qPrintable(error));
    first.close();
    QVERIFY2(second.open(path, &error), qPrintable(error));
}

void TestResultsJournal::nothingLeftBehindBeforeTheReader()
{
    QTemporaryDir dir;
    const QString made = dir.filePath(QStringLiteral("new.jsonl"));
    const QString earlier = dir.filePath(QStringLiteral("earlier.jsonl"));
    const CardBatch batch = cardsOf(";1=1?\n");
    const QByteArray before = runOf(batch, QStringLiteral("cards"), kKey, {BatchStep::Written});
    writeFile(earlier, before);
    QString error;
    for (const QString& path : {made, earlier}) {
        ResultsJournal journal;
        QVERIFY(journal.open(path, &error));
        ResumeState state;
        QVERIFY2(journal.read(batch.cards, identityOf(batch), batch.sha256, QStringLiteral("cards"),
                              &state, &error),
                 qPrintable(error));
        // The reader never answered: the run ends here.
    }
    QVERIFY(!QFile::exists(made));
    QCOMPARE(readAll(earlier), before);
}

void TestResultsJournal::resume_data()
{
    QTest::addColumn<QByteArray>("recorded");    // the batch file of the earlier run
    QTest::addColumn<QByteArray>("recordedKey"); // its key
    QTest::addColumn<QString>("recordedSource");
    QTest::addColumn<QList<BatchStep>>("steps"); // how far each of its cards got
    QTest::addColumn<QByteArray>("now");         // the batch file now
    QTest::addColumn<QString>("expected");       // per card "w"ritten, "v"erified, "d"oubt, "-"; or
                                                 // "changed: 2" or "error: ..."

    const QByteArray three(";1=1?\n;2=2?\n;3=3?\n");
    const QList<BatchStep> steps{BatchStep::Verified, BatchStep::Written, BatchStep::Armed};
    QTest::newRow("the same batch") << three << kKey << "cards" << steps << three << "v w d";
    QTest::newRow("comments added: the same cards")
        << three << kKey << "cards" << steps << "# job 7\n" + three + "\n# end\n"
        << "v w d";
    QTest::newRow("a written card changed")
        << three << kKey << "cards" << steps << QByteArray(";1=1?\n;2=9?\n;3=3?\n") << "changed: 2";
    QTest::newRow("a card not yet started changed")
        << three << kKey << "cards" << QList<BatchStep>{BatchStep::Written}
        << QByteArray(";1=1?\n;2=9?\n;3=3?\n") << "w - -";
    QTest::newRow("another batch's file")
        << three << kKey << "other" << steps << QByteArray(";7=7?\n")
        << "error: it holds no results of these cards";
    QTest::newRow("made with another key") << three << QByteArray(32, 'x') << "other" << steps
                                           << three << "error: it holds no results of these cards";
}

void TestResultsJournal::resume()
{
    QFETCH(QByteArray, recorded);
    QFETCH(QByteArray, recordedKey);
    QFETCH(QString, recordedSource);
    QFETCH(QList<BatchStep>, steps);
    QFETCH(QByteArray, now);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.jsonl"));
    writeFile(path, runOf(cardsOf(recorded, recordedKey), recordedSource, recordedKey, steps));
    const CardBatch batch = cardsOf(now);
    ResultsJournal journal;
    QString error;
    QVERIFY(journal.open(path, &error));
    ResumeState state;
    QString found;
    if (!journal.read(batch.cards, identityOf(batch), batch.sha256, QStringLiteral("cards"), &state,
                      &error)) {
        found = QStringLiteral("error: ") + error.left(expected.size() - 7);
    } else if (!state.changed.isEmpty()) {
        QStringList changed;
        for (const int index : std::as_const(state.changed))
            changed << QString::number(index);
        found = QStringLiteral("changed: ") + changed.join(QLatin1Char(' '));
    } else {
        QStringList cards;
        for (const BatchCard& card : batch.cards) {
            const ResumeState::Track track =
                state.track(card.index, card.tracks.first().method, false);
            cards << (track.verified                         ? QStringLiteral("v")
                      : track.written == WriteState::Yes     ? QStringLiteral("w")
                      : track.written == WriteState::InDoubt ? QStringLiteral("d")
                                                             : QStringLiteral("-"));
        }
        found = cards.join(QLatin1Char(' '));
    }
    QCOMPARE(found, expected);
}

void TestResultsJournal::tornLastLineIsCut()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.jsonl"));
    const CardBatch batch = cardsOf(";1=1?\n;2=2?\n");
    const QByteArray whole = runOf(batch, QStringLiteral("cards"), kKey, {BatchStep::Written});
    // A full disk left half a line; an older version then appended its header to it.
    const QByteArray older =
        "{\"index" + batchHeaderLine(QStringLiteral("cards"), identityOf(batch), 2,
                                     QDateTime::currentDateTimeUtc());
    writeFile(path, whole + older + "{\"index");
    ResultsJournal journal;
    QString error;
    QVERIFY(journal.open(path, &error));
    ResumeState state;
    QVERIFY2(journal.read(batch.cards, identityOf(batch), batch.sha256, QStringLiteral("cards"),
                          &state, &error),
             qPrintable(error));
    QCOMPARE(state.track(1, batch.cards.first().tracks.first().method, false).written,
             WriteState::Yes);
    qint64 cut = 0;
    const QByteArray header = batchHeaderLine(QStringLiteral("cards"), identityOf(batch), 2,
                                              QDateTime::currentDateTimeUtc());
    QVERIFY(journal.begin(header, &cut, &error));
    QCOMPARE(cut, qint64(7));
    QCOMPARE(readAll(path), whole + older + header);
}

void TestResultsJournal::nothingOfTheDataInTheFile()
{
    // One card, whose account number could be tried against an unkeyed hash of the file.
    const QByteArray text(";4111111111111111=2912101?\n");
    const CardBatch batch = cardsOf(text);
    BatchResult result;
    result.ok = true;
    result.step = BatchStep::Written;
    result.written = WriteState::Yes;
    const QByteArray lines = runOf(batch, QStringLiteral("cards"), kKey, {BatchStep::Armed}) +
                             batchResultLine(batch.cards.first(), result, BatchMode::Write, false);
    QVERIFY(!lines.contains(batch.sha256));
    QVERIFY(!lines.contains("4111111111111111"));
    QVERIFY(lines.contains("411111******1111"));
    // Without the key the identities say nothing: another key gives others.
    QVERIFY(identityOf(cardsOf(text, QByteArray(32, 'x')), QByteArray(32, 'x')) !=
            identityOf(batch));
}

void TestResultsJournal::writtenIdentities()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results.jsonl"));
    const CardBatch batch = cardsOf(";1=1?\n;2=2?\n;3=3?\n");
    writeFile(path, runOf(batch, QStringLiteral("cards"), kKey,
                          {BatchStep::Verified, BatchStep::Armed, BatchStep::Written}));
    QSet<QByteArray> ids;
    QString error;
    QVERIFY2(readWrittenIdentities(path, &ids, &error), qPrintable(error));
    QCOMPARE(ids, (QSet<QByteArray>{batch.cards.at(0).id, batch.cards.at(2).id}));
}

void TestResultsJournal::keyMadeOnce()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("config"));
    QString error;
    const std::optional<QByteArray> key = loadResultsKey(folder, &error);
    QVERIFY2(key, qPrintable(error));
    QCOMPARE(key->size(), kResultsKeyBytes);
    QCOMPARE(loadResultsKey(folder, &error), key);
    struct stat st {
    };
    QCOMPARE(::stat(QFile::encodeName(folder + "/results.key").constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
    // A key of the wrong size is not a key: nothing is written over it.
    QVERIFY(::truncate(QFile::encodeName(folder + "/results.key").constData(), 5) == 0);
    QVERIFY(!loadResultsKey(folder, &error));
    QVERIFY2(error.contains(QStringLiteral("is not a key of yours")), qPrintable(error));
}

void TestResultsJournal::report_data()
{
    QTest::addColumn<QByteArrayList>("files"); // lines after each file's own header
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("states"); // each card's, by index
    QTest::addColumn<QString>("tracks");     // per-track counts of the first track named

    const QByteArray verified = R"({"index": 1, "line": 1, "result": "verified", "step": )"
                                R"("verified", "written": true, "pan": "411111******1111"})";
    QTest::newRow("every fate a card can have")
        << QByteArrayList{verified + '\n' +
                          R"({"index": 2, "line": 2, "result": "written", "step": "written", )"
                          R"("written": true})"
                          "\n"
                          R"({"index": 3, "line": 3, "result": "failed", "step": "armed", )"
                          R"("written": false})"
                          "\n"
                          R"({"index": 4, "line": 5, "step": "armed"})"
                          "\n"
                          R"({"index": 6, "line": 7, "result": "failed", "step": "verified", )"
                          R"("written": true})"
                          "\n"}
        << "3 written (1 verified), 2 failed, 1 in doubt, 2 not attempted, of 7 cards"
        << QStringList{"verified",      "written", "failed",       "in doubt",
                       "not attempted", "failed",  "not attempted"}
        << QString();
    QTest::newRow("a batch in two files, the later word kept")
        << QByteArrayList{R"({"index": 1, "line": 1, "step": "armed"})"
                          "\n",
                          verified + '\n'}
        << "1 written (1 verified), 0 failed, 0 in doubt, 6 not attempted, of 7 cards"
        << QStringList{"verified",      "not attempted", "not attempted", "not attempted",
                       "not attempted", "not attempted", "not attempted"}
        << QString();
    QTest::newRow("a box checked after its writing")
        << QByteArrayList{verified + '\n' +
                          R"({"index": 1, "line": 1, "result": "differs", "step": "compared"})"
                          "\n"
                          R"({"index": 2, "line": 2, "result": "matched", "step": "compared"})"
                          "\n"
                          R"({"index": 3, "line": 3, "result": "failed", "step": "compared"})"
                          "\n"}
        << "1 matched, 1 differ, 1 written (1 verified), 1 failed, 0 in doubt, 4 not attempted, "
           "of 7 cards"
        << QStringList{"differs",       "matched",       "failed",       "not attempted",
                       "not attempted", "not attempted", "not attempted"}
        << QString();
    QTest::newRow("two tracks a card, the second cut off")
        << QByteArrayList{R"({"index": 1, "line": 1, "track": "iso1", "result": "verified", "step": )"
                          R"("verified", "written": true})"
                          "\n"
                          R"({"index": 1, "line": 1, "track": "iso2", "step": "armed"})"
                          "\n"}
        << "0 written (0 verified), 0 failed, 1 in doubt, 6 not attempted, of 7 cards"
        << QStringList{"in doubt",      "not attempted", "not attempted", "not attempted",
                       "not attempted", "not attempted", "not attempted"}
        << "iso1: 1 written (1 verified), 0 failed, 0 in doubt, 0 not attempted, of 7 cards";
}

// What a report makes of results files: each card's last word, the counts, one batch however
// many files record it.
void TestResultsJournal::report()
{
    QFETCH(QByteArrayList, files);
    QFETCH(QString, summary);
    QFETCH(QStringList, states);
    QFETCH(QString, tracks);
    QTemporaryDir dir;
    QStringList paths;
    for (const QByteArray& lines : std::as_const(files)) {
        paths << dir.filePath(QStringLiteral("r%1.jsonl").arg(paths.size()));
        writeFile(paths.last(), R"({"batch": "job", "id": "abc", "cards": 7, "time": "x"})"
                                "\n" +
                                    lines);
    }
    QList<ReportBatch> batches;
    QString error;
    QVERIFY2(readReport(paths, &batches, &error), qPrintable(error));
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().summary(), summary);
    QStringList found;
    for (const ReportCard& card : batches.first().cards)
        found << card.state;
    QCOMPARE(found, states);
    const QString text = reportText(batches);
    QVERIFY2(text.startsWith(QStringLiteral("job (abc): ") + summary + '\n'), qPrintable(text));
    if (!tracks.isEmpty())
        QVERIFY2(text.contains(QStringLiteral("\n  ") + tracks + '\n'), qPrintable(text));
    // Masked numbers only: the report is handed over.
    QVERIFY(!text.contains(QStringLiteral("4111111111111111")));
    // One CSV row a card, after the header.
    QCOMPARE(reportCsv(batches).count("\r\n"), qsizetype(8));
    const QByteArray json = reportJson(batches, 0);
    QVERIFY2(QJsonDocument::fromJson(json).isObject(), json.constData());
}

// A box check shares a job's results file: what it reads never makes a written card look
// unwritten to a resume, or to --not-in.
void TestResultsJournal::boxCheckNeverUndoesAWrite()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.jsonl"));
    const CardBatch batch = cardsOf(";1=1?\n;2=2?\n");
    QByteArray text =
        runOf(batch, QStringLiteral("cards"), kKey, {BatchStep::Verified, BatchStep::Verified});
    for (const BatchCard& card : batch.cards) {
        BatchResult result;
        result.step = BatchStep::Compared;
        result.ok = card.index == 2;
        result.code = ErrorCode::Mismatch;
        result.time = QDateTime::currentDateTimeUtc();
        text += batchResultLine(card, result, BatchMode::Compare, false);
    }
    writeFile(path, text);
    ResumeState state;
    readBack(path, batch, &state);
    if (QTest::currentTestFailed())
        return;
    for (const BatchCard& card : batch.cards) {
        const ResumeState::Track track = state.track(card.index, card.tracks.first().method, false);
        QCOMPARE(track.written, WriteState::Yes);
        QVERIFY(track.verified);
        QCOMPARE(state.cards.value(card.index).whole.matched, card.index == 2);
    }
    QSet<QByteArray> ids;
    QString error;
    QVERIFY2(readWrittenIdentities(path, &ids, &error), qPrintable(error));
    QCOMPARE(ids.size(), qsizetype(2));
}

// A card of several tracks verified as a whole is not asked for again, whatever its tracks'
// own lines got to say before the run moved on.
void TestResultsJournal::aCardsResultCoversItsTracks()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.jsonl"));
    CardBatch batch = parseCardBatch(R"({"iso1": "%B1^A^2912?", "iso2": ";1=2912?"})"
                                     "\n",
                                     *CardMethodId::fromIndex(1), false);
    QCOMPARE(batch.cards.size(), qsizetype(1));
    BatchCard& card = batch.cards.first();
    card.id = CardIdentity(kKey).of(card);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QByteArray text = batchHeaderLine(QStringLiteral("cards"), identityOf(batch), 1, now);
    text += batchProgressLine(card, &card.tracks.at(0), BatchStep::Verified, now);
    text += batchProgressLine(card, &card.tracks.at(1), BatchStep::Written, now);
    BatchResult result;
    result.ok = true;
    result.step = BatchStep::Verified;
    result.written = WriteState::Yes;
    result.time = now;
    text += batchResultLine(card, result, BatchMode::Verify, false);
    writeFile(path, text);
    ResumeState state;
    readBack(path, batch, &state);
    if (QTest::currentTestFailed())
        return;
    for (const BatchTrack& track : card.tracks) {
        const ResumeState::Track found = state.track(1, track.method, true);
        QCOMPARE(found.written, WriteState::Yes);
        QVERIFY2(found.verified, qPrintable(track.method.shortName()));
    }
}

QTEST_GUILESS_MAIN(TestResultsJournal)
#include "test_resultsjournal.moc"
