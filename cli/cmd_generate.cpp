// generate: a batch file from track templates, numbered or a card a CSV row.

#include "cards/cardjob.h"
#include "cli/command.h"
#include "cli/jobargs.h"

namespace {

QString problemText(const QString& source, const JobProblem& problem)
{
    return QStringLiteral("%1card %2 (%3): %4; nothing was written")
        .arg(source.isEmpty() ? QString() : source + QStringLiteral(": "))
        .arg(problem.card)
        .arg(problem.row > 0 ? QStringLiteral("row %1").arg(problem.row)
                             : QStringLiteral("number %1").arg(problem.number))
        .arg(problem.text);
}

int generate(CliContext& ctx)
{
    const QString csv = ctx.args.operands.value(0);
    CliJob job;
    if (const int status = jobFromArgs(ctx, csv, &job))
        return status;
    const bool allowEmpty = ctx.args.has(Opt::AllowEmpty);
    // Every card checked before a line goes out; then the same cards again, a line each, so
    // that memory stays flat however many there are.
    JobProblem problem;
    if (!renderJob(
            job.job, allowEmpty, [](const JobCard&) { return true; }, &problem))
        return ctx.fail(ErrorCode::Rejected, problemText(csv, problem));
    QByteArray lines;
    QString error;
    bool written = true;
    int cards = 0;
    renderCheckedJob(job.job, [&](const JobCard& card) {
        lines += batchLine(card);
        ++cards;
        if (lines.size() < 64 * 1024)
            return true;
        written = ctx.console.out(lines, &error);
        lines.clear();
        return written;
    });
    if (written && !lines.isEmpty())
        written = ctx.console.out(lines, &error);
    if (!written)
        return ctx.fail(ErrorCode::ResultsUnwritable,
                        QStringLiteral("the batch file could not be written to standard output: "
                                       "%1")
                            .arg(error));
    ctx.console.message(QStringLiteral("generated %1 card%2")
                            .arg(cards)
                            .arg(cards == 1 ? QString() : QStringLiteral("s")));
    return exitcode::Ok;
}

} // namespace

const CliCommand kGenerateCommand = {
    "generate",
    "--template METHOD=TEXT... [--from N] [--step N] (--count N | CSVFILE)",
    "make a batch file from track templates: numbered cards, or a card a CSV row",
    {Opt::Template, Opt::From, Opt::Step, Opt::Count, Opt::AllowEmpty},
    0,
    1,
    "generate takes at most one CSV file",
    "Writes a batch file on standard output, one card a line, from a template for each\n"
    "track (--template iso2=';603571{seq:10}{luhn}=2912?'): fixed text with {seq} or\n"
    "{seq:WIDTH} (the card's number, zero-padded to WIDTH), {luhn} (the Luhn check\n"
    "digit of the digits just before it) and {COLUMN} (a column of CSVFILE, by the\n"
    "name in its header row); {{ and }} write a brace. Numbered cards run from --from\n"
    "(default 1) by --step (default 1) for --count cards; with CSVFILE (RFC 4180: a\n"
    "header row, quoted fields that may hold commas and line breaks, a byte-order\n"
    "mark) each row is a card and {seq} counts the rows. Several templates make cards\n"
    "of several tracks, written a swipe a track. Every card is checked as a write\n"
    "checks it before the first line goes out: the first card that would break (a\n"
    "number too wide, data longer than the track, a character the method refuses) is\n"
    "named and nothing is written (exit 5); a CSV row at fault is named by its row\n"
    "(exit 1). The file written is an ordinary batch file: batch --check and batch\n"
    "take it as it is.\n",
    {},
    generate,
    {Opt::Json, Opt::Help},
};
