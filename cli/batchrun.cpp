// What every run of cards shares (batch, copy): identities, duplicates, the results journal,
// the reader, the run, its summary and report.

#include "cli/batchrun.h"

#include "cards/batchjournal.h"
#include "cards/batchreport.h"
#include "cards/batchrunner.h"
#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/readerlink.h"
#include "platform/clock.h"
#include "platform/interrupts.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Two names of one file (existing or not).
bool sameFile(const QString& a, const QString& b)
{
    const QFileInfo first(a);
    const QFileInfo second(b);
    if (first.exists() && second.exists())
        return first == second;
    return QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath());
}

class CliBatchFront : public BatchFrontEnd
{
public:
    CliBatchFront(CliContext& ctx, ReaderSession& session) : m_ctx(ctx), m_session(session) {}

    void cardInHand(const BatchCard& card, const BatchTrack* track, int total) override
    {
        const bool copy = m_ctx.args.command == QLatin1String("copy");
        QString context = QStringLiteral("%1 %2 of %3")
                              .arg(copy ? QStringLiteral("Copy") : QStringLiteral("Card"))
                              .arg(card.index)
                              .arg(total);
        if (track)
            context += QStringLiteral(", %1 (track %2 of %3)")
                           .arg(track->method.name())
                           .arg(track - card.tracks.constData() + 1)
                           .arg(card.tracks.size());
        m_session.status().setContext(context);
    }
    void note(const QString& text) override { m_ctx.console.message(text); }
    void cardFailed(const BatchCard& card, const BatchResult& result) override
    {
        // Said once: the error may tell it already.
        const QString written = result.error.contains(QLatin1String("the card was written")) ||
                                        result.error.contains(QLatin1String("not known"))
                                    ? QString()
                                : result.written == WriteState::Yes
                                    ? QStringLiteral("; it was written")
                                : result.written == WriteState::InDoubt
                                    ? QStringLiteral("; whether it was written is not known")
                                    : QString();
        m_ctx.console.message(
            QStringLiteral("%1: %2%3").arg(cardName(card), result.error, written));
    }
    QString cardName(const BatchCard& card) const override
    {
        if (m_ctx.args.command == QLatin1String("copy"))
            return QStringLiteral("copy %1").arg(card.index);
        return BatchFrontEnd::cardName(card);
    }
    bool emitResult(const QByteArray& line, QString* error) override
    {
        return m_ctx.console.out(line, error);
    }
    void progress(const BatchTally& tally) override
    {
        m_ctx.console.setProgress(batchProgressText(tally, m_session.clock().ms()));
    }
    bool stopRequested() override { return m_ctx.interrupts.check(); }

private:
    CliContext& m_ctx;
    ReaderSession& m_session;
};

// Cards that cannot be told apart, within the file or from an earlier job's results (--not-in),
// before the reader is touched.
int refuseDuplicates(CliContext& ctx, const CardBatch& cards, const QString& source,
                     const QString& resultsPath)
{
    if (ctx.args.has(Opt::AllowDuplicates))
        return exitcode::Ok;
    QList<BatchProblem> problems = duplicateCards(cards.cards);
    for (const QString& path : ctx.args.values(Opt::NotIn)) {
        // The run's own results are what a resume goes by.
        if (!resultsPath.isEmpty() && sameFile(path, resultsPath))
            continue;
        QSet<QByteArray> written;
        QString error;
        if (!readWrittenIdentities(path, &written, &error))
            return ctx.fail(ErrorCode::InputUnreadable,
                            QStringLiteral("cannot read %1 (--not-in): %2").arg(path, error));
        for (const BatchCard& card : cards.cards) {
            if (written.contains(card.id))
                problems.append(
                    {card.line, QStringLiteral("%1 records this card as written").arg(path), true});
        }
    }
    if (problems.isEmpty())
        return exitcode::Ok;
    std::sort(problems.begin(), problems.end(),
              [](const BatchProblem& a, const BatchProblem& b) { return a.line < b.line; });
    return refuseBatch(ctx, source, problems, ErrorCode::DuplicateCards);
}

// --check: the file is fine, and nothing else is done.
int reportChecked(CliContext& ctx, const QString& source, int total)
{
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("batch", source).add("result", QStringLiteral("checked")).add("cards", total);
        ctx.console.out(json.text() + '\n');
        ctx.jsonPrinted = true;
    } else {
        ctx.console.message(
            QStringLiteral("%1: %2 cards, every one checked").arg(source).arg(total));
    }
    return exitcode::Ok;
}

// The results file of this run: --resume FILE goes on with what FILE records (and records this
// run there too), --results FILE keeps a new record. Read and locked before the reader is
// touched; nothing is written to it before the reader is held.
int openJournal(CliContext& ctx, const CardBatch& cards, const QString& source,
                const QByteArray& identity, ResumeState* resume, ResultsJournal* journal)
{
    const CliArgs& args = ctx.args;
    const bool resuming = args.has(Opt::Resume);
    const QString path = resuming ? args.value(Opt::Resume) : args.value(Opt::Results);
    if (path.isEmpty())
        return exitcode::Ok;
    if (resuming && args.has(Opt::Results) && !sameFile(args.value(Opt::Results), path))
        return ctx.fail(ErrorCode::ResultsRefused,
                        QStringLiteral("--resume %1 and --results %2 name two files: every run "
                                       "of a batch records in the one it resumes from, so give "
                                       "--resume %1 alone")
                            .arg(path, args.value(Opt::Results)));
    QString error;
    if (!journal->open(path, &error))
        return ctx.fail(ErrorCode::ResultsRefused,
                        QStringLiteral("cannot keep the results in %1: %2; no card was written")
                            .arg(path, error));
    if (!journal->read(cards.cards, identity, cards.sha256, source, resume, &error))
        return ctx.fail(resuming ? ErrorCode::ResumeRefused : ErrorCode::ResultsRefused,
                        QStringLiteral("cannot %1 %2: %3; no card was written")
                            .arg(resuming ? QStringLiteral("resume from")
                                          : QStringLiteral("keep the results in"),
                                 path, error));
    if (!resume->changed.isEmpty()) {
        QStringList named;
        for (const int index : std::as_const(resume->changed).mid(0, 5))
            named << (index <= cards.cards.size()
                          ? QStringLiteral("card %1 (line %2)")
                                .arg(index)
                                .arg(cards.cards.at(index - 1).line)
                          : QStringLiteral("card %1 (no longer in the file)").arg(index));
        if (resume->changed.size() > 5)
            named << QStringLiteral("%1 more").arg(resume->changed.size() - 5);
        return ctx.fail(
            ErrorCode::ResumeRefused,
            QStringLiteral("%1 has changed since %2 recorded its cards: %3 %4 other data now. To "
                           "go on as it was, put the file back; to write the changed batch, keep "
                           "its results in a new file and refuse what this one records as "
                           "written (--results NEW --not-in %2). No card was written")
                .arg(source, path, named.join(QStringLiteral(", ")),
                     resume->changed.size() == 1 ? QStringLiteral("holds")
                                                 : QStringLiteral("hold")));
    }
    int started = 0;
    for (const BatchCard& card : cards.cards) {
        for (const BatchTrack& track : card.tracks) {
            if (resume->track(card.index, track.method, card.severalTracks()).written !=
                WriteState::No) {
                ++started;
                break;
            }
        }
    }
    // A box check writes nothing, so it may add its findings to a job's own results.
    if (!resuming && started > 0 && !ctx.args.has(Opt::Compare))
        return ctx.fail(ErrorCode::ResultsRefused,
                        QStringLiteral("%1 already records %2 card%3 of this batch as started or "
                                       "written. To go on where it stopped: %4. To write every "
                                       "card again, keep the results in another file. No card "
                                       "was written")
                            .arg(path)
                            .arg(started)
                            .arg(started == 1 ? QString() : QStringLiteral("s"))
                            .arg(resumeCommand(ctx.arguments, {QStringLiteral("--resume"), path},
                                               {QStringLiteral("--results")}, ctx.args.command)));
    return exitcode::Ok;
}

// Every card from the first one on needs a method the connected reader offers.
int checkReaderMethods(CliContext& ctx, ReaderSession& session, const CardBatch& cards, int start,
                       const QString& source)
{
    QList<BatchProblem> lacking;
    const QList<CardMethodId> unsupported = unsupportedMethods(session.link().ReaderType());
    for (const BatchCard& card : cards.cards) {
        for (const BatchTrack& track : card.tracks) {
            if (card.index >= start && unsupported.contains(track.method)) {
                lacking.append({card.line,
                                QStringLiteral("%1 is not offered by this reader (type %2)")
                                    .arg(track.method.name())
                                    .arg(session.link().ReaderType()),
                                false});
                break;
            }
        }
    }
    if (lacking.isEmpty())
        return exitcode::Ok;
    return refuseBatch(ctx, source, lacking, ErrorCode::UnsupportedMethod);
}

// The summary on standard error, the exit status, and with --json the report.
int finishBatch(CliContext& ctx, const BatchTally& tally, const CardBatch& cards,
                const BatchInvocation& run, const QString& source)
{
    const QString summary = batchSummary(tally, cards.cards, run);
    ctx.console.message(summary);
    const std::optional<ErrorCode> code = batchErrorCode(tally);
    const int status = code ? ctx.statusOf(*code) : exitcode::Ok;
    if (status != exitcode::Ok)
        ctx.fail(*code, summary, true);
    if (ctx.args.has(Opt::Json)) {
        ctx.console.out(batchReportJson(source, status, code, tally, cards.cards, run));
        ctx.jsonPrinted = true;
    }
    return status;
}

// The key that identifies the cards in results files, and their identities.
int identifyCards(CliContext& ctx, CardBatch* cards, QByteArray* identity)
{
    QString error;
    const std::optional<QByteArray> key = ctx.env.resultsKey(&error);
    if (!key)
        return ctx.fail(
            ErrorCode::ResultsRefused,
            QStringLiteral("cannot identify the cards in results files: %1").arg(error));
    const CardIdentity identities(*key);
    for (BatchCard& card : cards->cards)
        card.id = identities.of(card);
    *identity = identities.ofBatch(cards->cards);
    return exitcode::Ok;
}

} // namespace

// Every fault of the file, before the reader is touched: a few named by line (all of them in
// the JSON object).
int refuseBatch(CliContext& ctx, const QString& file, const QList<BatchProblem>& problems,
                std::optional<ErrorCode> code)
{
    constexpr int kShown = 5;
    bool dataOnly = true;
    QByteArray listed;
    for (qsizetype i = 0; i < problems.size(); ++i) {
        dataOnly = dataOnly && problems.at(i).data;
        if (i < kShown)
            ctx.console.message(QStringLiteral("%1:%2: %3")
                                    .arg(file)
                                    .arg(problems.at(i).line)
                                    .arg(problems.at(i).text));
        JsonLine problem;
        problem.add("line", problems.at(i).line).add("error", problems.at(i).text);
        listed += (listed.isEmpty() ? "" : ", ") + problem.text();
    }
    QString summary = QStringLiteral("%1: %2 line%3 with faults")
                          .arg(file)
                          .arg(problems.size())
                          .arg(problems.size() == 1 ? QString() : QStringLiteral("s"));
    if (problems.size() > kShown)
        summary += QStringLiteral(" (%1 not shown)").arg(problems.size() - kShown);
    summary += QStringLiteral("; no card was written");
    const int status = ctx.fail(code       ? *code
                                : dataOnly ? ErrorCode::Rejected
                                           : ErrorCode::InvalidBatch,
                                summary);
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("batch", file)
            .add("result", QStringLiteral("failed"))
            .add("exit", status)
            .add("code", errorCodeName(ctx.failure.code))
            .add("error", summary)
            .addRaw("problems", '[' + listed + ']');
        ctx.console.out(json.text() + '\n');
        ctx.jsonPrinted = true;
    }
    return status;
}

int runCards(CliContext& ctx, ReaderSession& session, CardBatch& cards, const QString& source,
             const BatchOptions& options, int start, bool fromStandardInput)
{
    const CliArgs& args = ctx.args;
    const int total = int(cards.cards.size());
    QByteArray identity;
    // A check alone needs no identities, unless earlier results are to be looked in.
    if (!args.has(Opt::Check) || args.has(Opt::NotIn))
        if (const int status = identifyCards(ctx, &cards, &identity))
            return status;
    const QString resultsPath =
        args.has(Opt::Resume) ? args.value(Opt::Resume) : args.value(Opt::Results);
    if (!options.allowDuplicates)
        if (const int status = refuseDuplicates(ctx, cards, source, resultsPath))
            return status;
    if (args.has(Opt::Check))
        return reportChecked(ctx, source, total);
    ResumeState resume;
    ResultsJournal journal;
    if (const int status = openJournal(ctx, cards, source, identity, &resume, &journal))
        return status;
    const BatchInvocation run{ctx.arguments,
                              start,
                              options.verify,
                              options.compare,
                              journal.isOpen() ? journal.path() : QString(),
                              fromStandardInput,
                              args.command};
    if (total == 0) {
        ctx.console.message(QStringLiteral("%1: no cards in %2").arg(args.command, source));
        if (args.has(Opt::Json)) {
            ctx.console.out(batchReportJson(source, exitcode::Ok, std::nullopt, BatchTally{},
                                            cards.cards, run));
            ctx.jsonPrinted = true;
        }
        return exitcode::Ok;
    }
    if (!session.connected())
        if (const int status = session.bringUp())
            return status;
    if (const int status = checkReaderMethods(ctx, session, cards, start, source))
        return status;
    // The reader is held: only now does this run leave a mark in the results.
    qint64 cut = 0;
    QString error;
    if (journal.isOpen() &&
        !journal.begin(batchHeaderLine(source, identity, total, QDateTime::currentDateTimeUtc()),
                       &cut, &error))
        return ctx.fail(ErrorCode::ResultsUnwritable,
                        QStringLiteral("the results could not be written to %1: %2; no card "
                                       "was written")
                            .arg(journal.path(), error));
    if (cut > 0)
        ctx.console.message(QStringLiteral("%1: cut a torn last line of %2 bytes that an "
                                           "interrupted run left")
                                .arg(journal.path())
                                .arg(cut));

    CliBatchFront front(ctx, session);
    BatchRunner runner(session.operations(), session.link(), session.driver(), session.clock(),
                       session.pump(), front, options);
    const BatchTally tally =
        runner.run(cards.cards, start, resume, journal.isOpen() ? &journal : nullptr);
    session.status().setContext(QString());
    ctx.console.setProgress(QString());
    return finishBatch(ctx, tally, cards, run, source);
}

int batchOptions(CliContext& ctx, BatchOptions* options)
{
    const CliArgs& args = ctx.args;
    options->verify = args.has(Opt::Verify);
    options->compare = args.has(Opt::Compare);
    if (options->compare && options->verify)
        return ctx.usage(QStringLiteral("--compare writes nothing, so there is nothing to verify"));
    options->keepGoing = args.has(Opt::KeepGoing);
    options->reveal = args.has(Opt::Reveal);
    options->allowDuplicates = args.has(Opt::AllowDuplicates);
    if (const int status =
            numberOption(ctx, Opt::MaxFailures, 1, kBatchMaxCards, 0, &options->maxFailures))
        return status;
    return numberOption(ctx, Opt::WaitReader, 0, 86400, 300, &options->waitReaderSeconds);
}
