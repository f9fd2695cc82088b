// batch: one card for each line of a file, each written exactly once.

#include "cards/batchjournal.h"
#include "cards/batchreport.h"
#include "cards/batchrunner.h"
#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/readerlink.h"
#include "platform/boundedinput.h"
#include "platform/clock.h"
#include "platform/interrupts.h"

#include <QFileInfo>

namespace {

class CliBatchFront : public BatchFrontEnd
{
public:
    CliBatchFront(CliContext& ctx, ReaderSession& session) : m_ctx(ctx), m_session(session) {}

    void cardInHand(const BatchCard& card, int total) override
    {
        m_session.status().setContext(QStringLiteral("Card %1 of %2").arg(card.index).arg(total));
    }
    void note(const QString& text) override { m_ctx.console.message(text); }
    void cardFailed(const BatchCard& card, const BatchResult& result) override
    {
        const QString written = result.written == WriteState::Yes
                                    ? QStringLiteral("; it was written")
                                : result.written == WriteState::InDoubt
                                    ? QStringLiteral("; whether it was written is not known")
                                    : QString();
        m_ctx.console.message(QStringLiteral("card %1 (line %2): %3%4")
                                  .arg(card.index)
                                  .arg(card.line)
                                  .arg(result.error, written));
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

int numberOption(CliContext& ctx, Opt option, int lowest, int highest, int fallback, int* value)
{
    *value = fallback;
    if (!ctx.args.has(option))
        return exitcode::Ok;
    bool ok = false;
    *value = ctx.args.value(option).toInt(&ok);
    if (!ok || *value < lowest || *value > highest)
        return ctx.usage(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                             .arg(QLatin1String(cliOption(option).longName))
                             .arg(lowest)
                             .arg(highest)
                             .arg(ctx.args.value(option)));
    return exitcode::Ok;
}

// Every fault of the file, before the reader is touched: a few named by line.
int refuseBatch(CliContext& ctx, const QString& file, const QList<BatchProblem>& problems)
{
    constexpr int kShown = 5;
    bool dataOnly = true;
    for (qsizetype i = 0; i < problems.size(); ++i) {
        dataOnly = dataOnly && problems.at(i).data;
        if (i < kShown)
            ctx.console.message(QStringLiteral("%1:%2: %3")
                                    .arg(file)
                                    .arg(problems.at(i).line)
                                    .arg(problems.at(i).text));
    }
    QString summary = QStringLiteral("%1: %2 line%3 with faults")
                          .arg(file)
                          .arg(problems.size())
                          .arg(problems.size() == 1 ? QString() : QStringLiteral("s"));
    if (problems.size() > kShown)
        summary += QStringLiteral(" (%1 not shown)").arg(problems.size() - kShown);
    summary += QStringLiteral("; no card was written");
    return ctx.fail(dataOnly ? ErrorCode::Rejected : ErrorCode::InvalidBatch, summary);
}

// The whole file, read and every card checked before the reader is touched.
int readBatch(CliContext& ctx, CardMethodId method, const QString& source, CardBatch* cards)
{
    const QString file = ctx.args.operands.constFirst();
    const bool standardInput = file == QLatin1String("-");
    QString error;
    const int fd = standardInput ? ctx.console.input() : openInput(file, &error);
    if (fd < 0)
        return ctx.fail(ErrorCode::InputUnreadable,
                        QStringLiteral("cannot read %1: %2").arg(file, error));
    const bool read = readCardBatch(fd, method, ctx.args.has(Opt::AllowEmpty), cards, &error);
    if (standardInput)
        ctx.console.setInteractive(false);
    else
        closeInput(fd);
    if (!read)
        return ctx.fail(ErrorCode::InputTooLarge,
                        QStringLiteral("%1: %2; no card was written").arg(source, error));
    if (!cards->problems.isEmpty())
        return refuseBatch(ctx, source, cards->problems);
    return exitcode::Ok;
}

// The unchecked formats are confirmed once for the whole batch, before any card.
int confirmUnchecked(CliContext& ctx, const CardBatch& cards, int start, const QString& source)
{
    bool confirmed[CARD_METHOD_COUNT] = {};
    for (const BatchCard& card : cards.cards) {
        if (!card.unchecked || card.index < start || ctx.args.has(Opt::Yes) ||
            confirmed[card.method.index()])
            continue;
        confirmed[card.method.index()] =
            ctx.console.askYesNo(oneLine(formatWarningText(card.method)));
        if (!confirmed[card.method.index()])
            return ctx.fail(
                ctx.interrupts.interrupted() ? ErrorCode::Interrupted : ErrorCode::Declined,
                QStringLiteral("%1:%2: ").arg(source).arg(card.line) +
                    uncheckedRefusal(card.method) + QStringLiteral("; no card was written"));
    }
    return exitcode::Ok;
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

// What an earlier run recorded (--resume), and the results file of this one (--results) with
// its first line, before the reader is touched.
int openJournal(CliContext& ctx, const CardBatch& cards, const QString& source, ResumeState* resume,
                ResultsFile* results)
{
    const CliArgs& args = ctx.args;
    const QString resultsPath = args.value(Opt::Results);
    QString error;
    if (args.has(Opt::Resume)) {
        const QString path = args.value(Opt::Resume);
        const bool firstRun =
            !QFileInfo::exists(path) &&
            QFileInfo(path).absoluteFilePath() == QFileInfo(resultsPath).absoluteFilePath();
        if (!firstRun && !readResumeFile(path, cards.sha256, resume, &error))
            return ctx.fail(ErrorCode::ResumeRefused,
                            QStringLiteral("cannot resume from %1: %2").arg(path, error));
    }
    if (resultsPath.isEmpty())
        return exitcode::Ok;
    if (!results->open(resultsPath, &error))
        return ctx.fail(ErrorCode::ResultsUnwritable,
                        QStringLiteral("cannot write the results to %1: %2; no card was "
                                       "written")
                            .arg(resultsPath, error));
    if (!results->append(batchHeaderLine(source, cards.sha256, int(cards.cards.size()),
                                         QDateTime::currentDateTimeUtc()),
                         &error))
        return ctx.fail(ErrorCode::ResultsUnwritable,
                        QStringLiteral("the results could not be written to %1: %2; no card "
                                       "was written")
                            .arg(resultsPath, error));
    return exitcode::Ok;
}

// Every card from the first one on needs a method the connected reader offers.
int checkReaderMethods(CliContext& ctx, ReaderSession& session, const CardBatch& cards, int start,
                       const QString& source)
{
    QList<BatchProblem> lacking;
    for (const BatchCard& card : cards.cards) {
        if (card.index >= start &&
            unsupportedMethods(session.link().ReaderType()).contains(card.method))
            lacking.append({card.line,
                            QStringLiteral("%1 is not offered by this reader (type %2)")
                                .arg(card.method.name())
                                .arg(session.link().ReaderType()),
                            false});
    }
    if (lacking.isEmpty())
        return exitcode::Ok;
    refuseBatch(ctx, source, lacking);
    ctx.failure = {exitcode::Usage, ErrorCode::UnsupportedMethod, ctx.failure.message};
    return exitcode::Usage;
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
        ctx.console.out(
            batchReportJson(source, status, code, tally, int(cards.cards.size()), run.verify));
        ctx.jsonPrinted = true;
    }
    return status;
}

int batch(CliContext& ctx)
{
    const CliArgs& args = ctx.args;
    ReaderSession session(ctx);
    std::optional<CardMethodId> method;
    if (const int status = session.configure(&method))
        return status;
    BatchOptions options;
    options.verify = args.has(Opt::Verify);
    options.keepGoing = args.has(Opt::KeepGoing);
    options.reveal = args.has(Opt::Reveal);
    if (const int status =
            numberOption(ctx, Opt::MaxFailures, 1, kBatchMaxCards, 0, &options.maxFailures))
        return status;
    if (const int status =
            numberOption(ctx, Opt::WaitReader, 0, 86400, 300, &options.waitReaderSeconds))
        return status;

    const QString file = args.operands.constFirst();
    const QString source = file == QLatin1String("-") ? QStringLiteral("standard input") : file;
    CardBatch cards;
    if (const int status = readBatch(ctx, *method, source, &cards))
        return status;
    const int total = int(cards.cards.size());
    int start = 1;
    if (const int status = numberOption(ctx, Opt::Start, 1, qMax(1, total), 1, &start))
        return status;
    if (const int status = confirmUnchecked(ctx, cards, start, source))
        return status;
    if (args.has(Opt::Check))
        return reportChecked(ctx, source, total);
    if (total == 0) {
        ctx.console.message(QStringLiteral("batch: no cards in %1").arg(source));
        return exitcode::Ok;
    }
    ResumeState resume;
    ResultsFile results;
    if (const int status = openJournal(ctx, cards, source, &resume, &results))
        return status;
    if (const int status = session.bringUp())
        return status;
    if (const int status = checkReaderMethods(ctx, session, cards, start, source))
        return status;

    CliBatchFront front(ctx, session);
    BatchRunner runner(session.operations(), session.link(), session.driver(), session.clock(),
                       session.pump(), front, options);
    const BatchTally tally =
        runner.run(cards.cards, start, resume, results.isOpen() ? &results : nullptr);
    session.status().setContext(QString());
    ctx.console.setProgress(QString());
    const BatchInvocation run{ctx.arguments, start, options.verify,
                              results.isOpen() ? args.value(Opt::Results) : QString(),
                              file == QLatin1String("-")};
    return finishBatch(ctx, tally, cards, run, source);
}

} // namespace

const CliCommand kBatchCommand = {
    "batch",
    "[-m METHOD] [--verify] [--keep-going] [--results FILE] [--resume FILE] FILE|-",
    "write (and verify) one card for each line of FILE",
    {Opt::Method, Opt::Yes, Opt::AllowEmpty, Opt::Verify, Opt::KeepGoing, Opt::Start, Opt::Results,
     Opt::Resume, Opt::MaxFailures, Opt::WaitReader, Opt::Check},
    1,
    1,
    "batch takes one file of cards, or - for standard input",
    "Writes one card for each line of FILE (- reads standard input): plain track data\n"
    "for the method, or a JSON object such as {\"method\": \"iso1\", \"data\": \"...\"}.\n"
    "Blank lines and lines starting with # are skipped. The whole file is read and\n"
    "every card checked before the reader is touched; any fault exits 1 or 5 naming\n"
    "the lines, and no card is written (--check does only this, without a reader).\n"
    "Limits: 4 MiB, 4 KiB a line, 100000 cards.\n"
    "The reader is reset first. For each card \"Card k of n: swipe ...\" goes to\n"
    "standard error and one JSON line to standard output: {\"index\": k, \"line\": L,\n"
    "\"result\": \"written\", \"step\": \"written\", \"written\": true, \"time\": \"...\",\n"
    "\"pan\": \"411111******1111\"} (\"verified\"; or \"failed\" with \"code\" and\n"
    "\"error\"; \"written\" is null when it is not known); card data only with --reveal.\n"
    "A card counts as written once the reader confirms the write. --results FILE\n"
    "appends every step to FILE, synced before the card is armed; --resume FILE\n"
    "skips the cards it records as written and checks a card whose write was in\n"
    "flight with one swipe first (--results and --resume may name the same file).\n"
    "The batch stops at the first failure (its exit status is the batch's) unless\n"
    "--keep-going, which also waits for a disconnected reader (--wait-reader);\n"
    "--max-failures N ends it after N failed cards; --start N begins at card N.\n"
    "Ctrl+C (or SIGTERM, SIGHUP) resets the reader, finishes the card in hand and\n"
    "exits 130 (143, 129). A summary with the failed cards and the command that\n"
    "resumes goes to standard error; on a terminal a progress line is kept below.\n",
    {QStringLiteral("-")},
    batch,
};
