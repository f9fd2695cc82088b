#include "cli/jobargs.h"

#include "cli/clishared.h"
#include "cli/command.h"
#include "platform/boundedinput.h"

#include <QCryptographicHash>

#include <unistd.h>

namespace {

// The whole CSV file, within its bound.
int readCsv(CliContext& ctx, const QString& path, QByteArray* text)
{
    QString error;
    const bool standardInput = path == QLatin1String("-");
    const int fd = standardInput ? ctx.console.input() : openInput(path, &error);
    if (fd < 0)
        return ctx.fail(ErrorCode::InputUnreadable,
                        QStringLiteral("cannot read %1: %2").arg(path, error));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0 && text->size() + n <= kCsvMaxBytes) {
            text->append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (!standardInput)
            closeInput(fd);
        if (n > 0)
            return ctx.fail(ErrorCode::InputTooLarge,
                            QStringLiteral("%1: more than %2 of CSV; split the job")
                                .arg(path, sizeText(kCsvMaxBytes)));
        if (n < 0)
            return ctx.fail(ErrorCode::InputUnreadable,
                            QStringLiteral("cannot read %1: %2").arg(path, qt_error_string(errno)));
        return exitcode::Ok;
    }
}

} // namespace

int jobFromArgs(CliContext& ctx, const QString& csvPath, CliJob* job)
{
    for (const QString& given : ctx.args.values(Opt::Template)) {
        QString error;
        if (!addJobTemplate(&job->job, given, &error))
            return ctx.usage(error);
    }
    qint64 count = 0;
    if (const int status =
            wholeNumberOption(ctx, Opt::From, 0, 999999999999999999LL, &job->job.first))
        return status;
    if (const int status = wholeNumberOption(ctx, Opt::Step, 1, 999999999999999LL, &job->job.step))
        return status;
    if (const int status = wholeNumberOption(ctx, Opt::Count, 1, kBatchMaxCards, &count))
        return status;
    job->job.count = int(count);
    if (!csvPath.isEmpty()) {
        if (ctx.args.has(Opt::Count))
            return ctx.usage(
                QStringLiteral("--count and a CSV file: the file's rows are the cards"));
        QByteArray text;
        if (const int status = readCsv(ctx, csvPath, &text))
            return status;
        QList<CsvProblem> problems;
        job->table = parseCsv(text, &problems);
        constexpr int kShown = 5;
        for (qsizetype i = 0; i < problems.size() && i < kShown; ++i)
            ctx.console.message(QStringLiteral("%1: row %2 (line %3): %4")
                                    .arg(csvPath)
                                    .arg(problems.at(i).row)
                                    .arg(problems.at(i).line)
                                    .arg(problems.at(i).text));
        if (!problems.isEmpty())
            return ctx.fail(
                ErrorCode::InvalidBatch,
                QStringLiteral("%1: %2 row%3 with faults%4; no card was written")
                    .arg(csvPath)
                    .arg(problems.size())
                    .arg(problems.size() == 1 ? QString() : QStringLiteral("s"))
                    .arg(problems.size() > kShown
                             ? QStringLiteral(" (%1 not shown)").arg(problems.size() - kShown)
                             : QString()));
        job->job.table = &job->table;
    }
    const QString problem = jobProblem(job->job);
    if (!problem.isEmpty())
        return ctx.usage(problem);
    return exitcode::Ok;
}

int jobCards(CliContext& ctx, const CliJob& job, const QString& source, CardBatch* cards)
{
    JobProblem problem;
    if (jobBatch(job.job, ctx.args.has(Opt::AllowEmpty), cards, &problem))
        return exitcode::Ok;
    return ctx.fail(ErrorCode::Rejected,
                    QStringLiteral("%1: card %2 (%3): %4; no card was written")
                        .arg(source)
                        .arg(problem.card)
                        .arg(problem.row > 0 ? QStringLiteral("row %1").arg(problem.row)
                                             : QStringLiteral("number %1").arg(problem.number))
                        .arg(problem.text));
}
