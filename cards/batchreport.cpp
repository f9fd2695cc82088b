#include "cards/batchreport.h"

#include "cards/cardbatch.h"
#include "cards/jsonline.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// A command line word as a shell reads it back.
QString shellWord(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=,@%+-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// What a card done in this run is.
QString doneWord(const BatchInvocation& run)
{
    return run.compare  ? QStringLiteral("matched")
           : run.verify ? QStringLiteral("verified")
                        : QStringLiteral("written");
}

QString cardList(const QList<int>& indexes)
{
    QStringList numbers;
    for (const int index : indexes)
        numbers << QString::number(index);
    return numbers.join(QStringLiteral(", "));
}

QByteArray jsonList(const QList<int>& indexes)
{
    QByteArray list;
    for (const int index : indexes)
        list += (list.isEmpty() ? "" : ", ") + QByteArray::number(index);
    return '[' + list + ']';
}

// The command that goes on after the card the run stopped at: with the results file, or from
// the right card; empty when there is nothing left, or when a card in doubt must be read back
// first (doubt: that card).
QString goOnCommand(const BatchTally& tally, const BatchCard& stopped, int total,
                    const BatchInvocation& run, bool* doubt)
{
    *doubt = false;
    if (!run.resultsPath.isEmpty())
        return resumeCommand(run.arguments, {QStringLiteral("--resume"), run.resultsPath},
                             {QStringLiteral("--results")}, run.command);
    *doubt = tally.stoppedCard == WriteState::InDoubt;
    const int next = stopped.index + (tally.stoppedCard == WriteState::Yes ? 1 : 0);
    if (next > total)
        return QString();
    // Copies are all alike: going on is making the ones still missing.
    if (run.command == QLatin1String("copy"))
        return resumeCommand(run.arguments,
                             {QStringLiteral("-n"), QString::number(total - next + 1)},
                             {QStringLiteral("-n"), QStringLiteral("--copies")}, run.command);
    return resumeCommand(run.arguments, {QStringLiteral("--start"), QString::number(next)}, {},
                         run.command);
}

// How to go on after the card the run stopped at: resume from the results file, or start at
// the right card, having read back a card whose write is in doubt.
QString resumeAdvice(const BatchTally& tally, const BatchCard& stopped, int total,
                     const BatchInvocation& run)
{
    bool doubt = false;
    const QString command = goOnCommand(tally, stopped, total, run, &doubt);
    if (doubt && run.command == QLatin1String("copy"))
        return QStringLiteral("compare copy %1 with the master (tarnavel-cli compare), then go "
                              "on with: %2, one copy fewer if it matches")
            .arg(stopped.index)
            .arg(command);
    if (doubt)
        return QStringLiteral("read card %1 back (tarnavel-cli read) and compare it with line "
                              "%2, then resume with: %3, or with --start %4 if it holds that "
                              "data")
            .arg(stopped.index)
            .arg(stopped.line)
            .arg(command)
            .arg(stopped.index + 1);
    return command.isEmpty() ? QString() : QStringLiteral("resume with: ") + command;
}

// Where the run stopped, why, what became of the card in hand, and how to go on.
QString stoppedText(const BatchTally& tally, const BatchCard& stopped, int total,
                    const BatchInvocation& run)
{
    const bool copy = run.command == QLatin1String("copy");
    const QString card = QStringLiteral("%1 %2")
                             .arg(copy ? QStringLiteral("copy") : QStringLiteral("card"))
                             .arg(stopped.index);
    QString text = tally.stop == BatchStop::Interrupted ? QStringLiteral("; interrupted at ") + card
                   : copy                               ? QStringLiteral("; stopped at ") + card
                          : QStringLiteral("; stopped at %1 (line %2)").arg(card).arg(stopped.line);
    if (!tally.stopMessage.isEmpty())
        text += QStringLiteral(": ") + tally.stopMessage;
    if (tally.stop == BatchStop::ResultsFailed)
        text += tally.lastRecorded > 0
                    ? QStringLiteral("; the last card recorded is card %1").arg(tally.lastRecorded)
                    : QStringLiteral("; no card was recorded");
    const QString written = tally.stoppedCard == WriteState::Yes ? QStringLiteral("was written")
                            : tally.stoppedCard == WriteState::No
                                ? QStringLiteral("was not written")
                                : QStringLiteral("may have been written");
    // A box being checked is only read.
    if (!run.compare)
        text += QStringLiteral("; %1 %2").arg(card, written);
    const QString advice = resumeAdvice(tally, stopped, total, run);
    if (!advice.isEmpty())
        text += QStringLiteral("; ") + advice;
    if (run.fromStandardInput)
        text += QStringLiteral(" (with the same cards on standard input)");
    return text;
}

} // namespace

QString resumeCommand(const QStringList& arguments, const QStringList& instead,
                      const QStringList& drop, const QString& command)
{
    const QStringList dropped =
        QStringList{QStringLiteral("--start"), QStringLiteral("--resume")} + drop;
    QStringList words;
    bool inserted = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        if (dropped.contains(word)) {
            ++i;
            continue;
        }
        // --option=value, and a short option with its value attached (-n5).
        if (std::any_of(dropped.begin(), dropped.end(), [&word](const QString& option) {
                return word.startsWith(option + QLatin1Char('=')) ||
                       (option.size() == 2 && word.size() > 2 && word.startsWith(option));
            }))
            continue;
        words << shellWord(word);
        if (!inserted && word == command) {
            for (const QString& option : instead)
                words << shellWord(option);
            inserted = true;
        }
    }
    return QStringLiteral("tarnavel-cli ") + words.join(QLatin1Char(' '));
}

QString batchSummary(const BatchTally& tally, const QList<BatchCard>& cards,
                     const BatchInvocation& run)
{
    const int total = int(cards.size());
    const int attempted = tally.done + tally.failed + tally.skipped;
    QString summary = QStringLiteral("%1: %2 %3, %4 failed, %5 not attempted, of %6 %7")
                          .arg(run.command)
                          .arg(tally.done)
                          .arg(doneWord(run))
                          .arg(tally.failed)
                          .arg(total - attempted - (run.start - 1))
                          .arg(total)
                          .arg(run.command == QLatin1String("copy") ? QStringLiteral("copies")
                                                                    : QStringLiteral("cards"));
    if (tally.skipped > 0)
        summary += QStringLiteral(", %1 already %2 before")
                       .arg(tally.skipped)
                       .arg(run.compare ? QStringLiteral("compared") : doneWord(run));
    if (!tally.failedIndexes.isEmpty())
        summary += QStringLiteral("; failed: ") + cardList(tally.failedIndexes);
    if (!tally.inDoubt.isEmpty())
        summary += QStringLiteral("; in doubt: ") + cardList(tally.inDoubt);
    if (tally.stoppedAt > 0)
        summary += stoppedText(tally, cards.at(tally.stoppedAt - 1), total, run);
    return summary;
}

std::optional<ErrorCode> batchErrorCode(const BatchTally& tally)
{
    switch (tally.stop) {
    case BatchStop::Interrupted:
        return ErrorCode::Interrupted;
    case BatchStop::ResultsFailed:
        return ErrorCode::ResultsUnwritable;
    case BatchStop::ReaderLost:
        return ErrorCode::ReaderLost;
    default:
        return tally.firstCode;
    }
}

QByteArray batchReportJson(const QString& source, int status, std::optional<ErrorCode> code,
                           const BatchTally& tally, const QList<BatchCard>& cards,
                           const BatchInvocation& run)
{
    JsonLine json;
    json.add("batch", source)
        .add("result", status == exitcode::Ok ? QStringLiteral("done") : QStringLiteral("failed"))
        .add("exit", status);
    if (status != exitcode::Ok && code)
        json.add("code", errorCodeName(*code))
            .add("error", batchSummary(tally, cards, run)
                              .remove(QRegularExpression(QStringLiteral("^[a-z]+: "))));
    json.add("cards", int(cards.size()))
        .add(run.compare  ? "matched"
             : run.verify ? "verified"
                          : "written",
             tally.done)
        .add("skipped", tally.skipped)
        .addRaw("failed", jsonList(tally.failedIndexes))
        .addRaw("in_doubt", jsonList(tally.inDoubt));
    if (tally.stoppedAt > 0) {
        bool doubt = false;
        const QString command =
            goOnCommand(tally, cards.at(tally.stoppedAt - 1), int(cards.size()), run, &doubt);
        if (!command.isEmpty())
            json.add("resume", command);
        if (doubt)
            json.add("read_back_first", tally.stoppedAt);
    }
    return json.text() + '\n';
}

QString batchProgressText(const BatchTally& tally, qint64 nowMs)
{
    const int handled = tally.done + tally.failed;
    const qint64 elapsed = nowMs - tally.startedMs;
    QString text = QStringLiteral("card %1 of %2: %3 written, %4 failed")
                       .arg(tally.position)
                       .arg(tally.total)
                       .arg(tally.done + tally.skipped)
                       .arg(tally.failed);
    if (handled > 0 && elapsed > 0) {
        const double perMinute = handled * 60000.0 / double(elapsed);
        const int left = tally.total - tally.position + 1;
        const qint64 secondsLeft = qint64(left * (elapsed / 1000.0) / handled);
        text += QStringLiteral(", %1 cards/min, about %2:%3 left")
                    .arg(perMinute, 0, 'f', 1)
                    .arg(secondsLeft / 60)
                    .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}
