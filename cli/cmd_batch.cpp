// batch: one card for each line of a file, each written exactly once.

#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "cli/batchrun.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/jobargs.h"
#include "cli/readersession.h"
#include "platform/boundedinput.h"
#include "platform/interrupts.h"

namespace {

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
        for (const BatchTrack& track : card.tracks) {
            bool& done = confirmed[track.method.index()];
            if (!track.unchecked || card.index < start || ctx.args.has(Opt::Yes) || done)
                continue;
            done = ctx.console.askYesNo(oneLine(formatWarningText(track.method)));
            if (!done)
                return ctx.fail(
                    ctx.interrupts.interrupted() ? ErrorCode::Interrupted : ErrorCode::Declined,
                    QStringLiteral("%1:%2: ").arg(source).arg(card.line) +
                        uncheckedRefusal(track.method) + QStringLiteral("; no card was written"));
        }
    }
    return exitcode::Ok;
}

int batch(CliContext& ctx)
{
    const CliArgs& args = ctx.args;
    ReaderSession session(ctx);
    std::optional<CardMethodId> method;
    if (const int status = session.configure(&method))
        return status;
    BatchOptions options;
    if (const int status = batchOptions(ctx, &options))
        return status;
    const QString file = args.operands.constFirst();
    const QString source = file == QLatin1String("-") ? QStringLiteral("standard input") : file;
    CardBatch cards;
    if (args.has(Opt::Csv)) {
        CliJob job;
        if (const int status = jobFromArgs(ctx, file, &job))
            return status;
        if (const int status = jobCards(ctx, job, source, &cards))
            return status;
    } else if (args.has(Opt::Template)) {
        return ctx.usage(QStringLiteral("--template maps the columns of a CSV file: add --csv, "
                                        "or make a batch file with generate"));
    } else if (const int status = readBatch(ctx, *method, source, &cards)) {
        return status;
    }
    int start = 1;
    if (const int status =
            numberOption(ctx, Opt::Start, 1, qMax(1, int(cards.cards.size())), 1, &start))
        return status;
    // A box checked against its list writes nothing: no format to confirm.
    if (!options.compare)
        if (const int status = confirmUnchecked(ctx, cards, start, source))
            return status;
    return runCards(ctx, session, cards, source, options, start, file == QLatin1String("-"));
}

} // namespace

const CliCommand kBatchCommand = {
    "batch",
    "[-m METHOD] [--verify|--compare] [--keep-going] [--results FILE] [--resume FILE] FILE|-",
    "write (and verify), or check, one card for each line of FILE",
    {Opt::Method, Opt::Yes, Opt::AllowEmpty, Opt::Verify, Opt::KeepGoing, Opt::Start, Opt::Results,
     Opt::Resume, Opt::MaxFailures, Opt::WaitReader, Opt::Check, Opt::AllowDuplicates, Opt::NotIn,
     Opt::Csv, Opt::Template, Opt::From, Opt::Step, Opt::Compare},
    1,
    1,
    "batch takes one file of cards, or - for standard input",
    "Writes one card for each line of FILE (- reads standard input): plain track data\n"
    "for the method, a JSON object such as {\"method\": \"iso1\", \"data\": \"...\"}, or\n"
    "one of several tracks, {\"iso1\": \"...\", \"iso2\": \"...\"}, written a swipe a\n"
    "track. With --csv, FILE is CSV with a header row and --template maps its columns\n"
    "into tracks as generate does. Blank lines and lines starting with # are skipped.\n"
    "The whole file is read and every card checked before the reader is touched; any\n"
    "fault exits 1 or 5 naming the lines, and no card is written (--check does only\n"
    "this, without a reader). Two cards with the same data or account number, or a\n"
    "card a --not-in file records as written, stop the job (exit 5) unless\n"
    "--allow-duplicates. Limits: 48 MiB, 4 KiB a line, 100000 cards.\n"
    "--compare writes nothing: each card is read and compared with its line (a box of\n"
    "cards checked against their list; \"matched\" or \"differs\", exit 6).\n"
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
