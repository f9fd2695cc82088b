// report: what results files say of their jobs, to hand over.

#include "cards/jobreport.h"
#include "cli/command.h"

namespace {

int report(CliContext& ctx)
{
    QList<ReportBatch> batches;
    QString error;
    if (!readReport(ctx.args.operands, &batches, &error))
        return ctx.fail(ErrorCode::InputUnreadable, QStringLiteral("report: %1").arg(error));
    int inDoubt = 0;
    for (const ReportBatch& batch : std::as_const(batches))
        inDoubt += batch.counts().inDoubt;
    const int status = inDoubt > 0 ? ctx.statusOf(ErrorCode::CardsInDoubt) : exitcode::Ok;
    QString written;
    const bool out =
        ctx.args.has(Opt::Json)  ? ctx.console.out(reportJson(batches, status), &written)
        : ctx.args.has(Opt::Csv) ? ctx.console.out(reportCsv(batches), &written)
                                 : ctx.console.out(reportText(batches).toUtf8(), &written);
    if (!out)
        return ctx.fail(ErrorCode::ResultsUnwritable,
                        QStringLiteral("report: standard output: %1").arg(written));
    ctx.jsonPrinted = true;
    if (inDoubt > 0)
        return ctx.fail(ErrorCode::CardsInDoubt,
                        QStringLiteral("report: %1 card%2 in doubt: read %3 back before the "
                                       "report is signed (batch --resume checks them with a "
                                       "swipe each)")
                            .arg(inDoubt)
                            .arg(inDoubt == 1 ? QString() : QStringLiteral("s"))
                            .arg(inDoubt == 1 ? QStringLiteral("it") : QStringLiteral("them")));
    return exitcode::Ok;
}

} // namespace

const CliCommand kReportCommand = {
    "report",
    "[--csv] RESULTS...",
    "count and list the cards of jobs from their results files",
    {Opt::Csv},
    1,
    -1,
    "report takes one results file or more (from batch --results)",
    "Reads results files and tells, for each job they record, how many cards were\n"
    "written (and of those verified), failed, are in doubt or were not attempted (for a\n"
    "box checked with batch --compare: matched and differ), per track where the cards\n"
    "have several, then one line per card with its state and its account number\n"
    "masked: as a text table, as CSV (--csv, a row a card) or as one JSON object\n"
    "(--json). A card written whose read-back failed counts as written and as failed.\n"
    "Exit 7 while any card is in doubt: read it back (batch --resume does, one swipe a\n"
    "card) before the report is signed.\n",
    {},
    report,
    {Opt::Json, Opt::Help},
};
