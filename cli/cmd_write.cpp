// write, verify and batch: the commands that put data on cards.

#include "cards/batchjournal.h"
#include "cards/batchrunner.h"
#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/exitcodes.h"
#include "cli/readersession.h"
#include "link/readerlink.h"
#include "platform/boundedinput.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

int writeCard(CliContext& ctx, bool verify)
{
    const CliArgs& args = ctx.args;
    ReaderSession session(ctx);
    std::optional<CardMethodId> chosen;
    if (const int status = session.configure(&chosen))
        return status;
    const CardMethodId method = *chosen;
    QString data;
    if (const int status = takeTrackData(ctx, args.operands.constFirst(), &data))
        return status;
    const TrackDataCheck check = inspectCardData(method, data, args.has(Opt::AllowEmpty));
    if (const int status = refuseData(ctx, check, method, data))
        return status;
    if (check.verdict == TrackDataCheck::Unchecked && !args.has(Opt::Yes) &&
        !ctx.console.askYesNo(oneLine(formatWarningText(method))))
        return ctx.fail(ctx.interrupts.interrupted() ? QStringLiteral("interrupted")
                                                     : QStringLiteral("declined"),
                        uncheckedRefusal(method));
    if (const int status = session.bringUp())
        return status;
    if (const int status = session.checkMethod(method))
        return status;
    const int boxes = session.messages().shownCount();
    const QByteArray bytes = check.data.toLatin1();
    const CardOutcome outcome = verify ? session.operations().verifyCard(method, bytes)
                                       : session.operations().writeCard(method, bytes);
    const int status = session.finish(outcome, args.command, boxes);
    if (args.has(Opt::Json)) {
        JsonLine json;
        json.add("method", method.index()).add("method_name", method.name());
        if (outcome.ok()) {
            json.add("result", verify ? QStringLiteral("verified") : QStringLiteral("written"));
        } else {
            json.add("result", QStringLiteral("failed"));
            if (outcome.written)
                json.add("written", true);
            else if (outcome.writeUncertain)
                json.addNull("written");
            else
                json.add("written", false);
            json.add("exit", status)
                .add("code", outcomeCode(outcome))
                .add("error", describeOutcome(outcome, session.settings().Timeout));
        }
        Console::out(json.text() + '\n');
        ctx.jsonPrinted = true;
    }
    return status;
}

int write(CliContext& ctx)
{
    return writeCard(ctx, false);
}

int verify(CliContext& ctx)
{
    return writeCard(ctx, true);
}

// ---- batch ----

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

// The command that goes on where this one stopped: the same arguments without --start and
// --resume, and the option given instead.
QString resumeCommand(const CliContext& ctx, const QStringList& instead)
{
    QStringList words;
    bool inserted = false;
    const QStringList& given = ctx.arguments;
    for (qsizetype i = 0; i < given.size(); ++i) {
        const QString& word = given.at(i);
        if (word == QLatin1String("--start") || word == QLatin1String("--resume")) {
            ++i;
            continue;
        }
        if (word.startsWith(QLatin1String("--start=")) ||
            word.startsWith(QLatin1String("--resume=")))
            continue;
        words << shellWord(word);
        if (!inserted && word == QLatin1String("batch")) {
            for (const QString& option : instead)
                words << shellWord(option);
            inserted = true;
        }
    }
    return QStringLiteral("tarnavel-cli ") + words.join(QLatin1Char(' '));
}

QString cardList(const QList<int>& indexes)
{
    QStringList numbers;
    for (const int index : indexes)
        numbers << QString::number(index);
    return numbers.join(QStringLiteral(", "));
}

class CliBatchFront : public BatchFrontEnd
{
public:
    CliBatchFront(CliContext& ctx, ReaderSession& session, IClock& clock)
        : m_ctx(ctx), m_session(session), m_clock(clock)
    {
    }

    void cardInHand(const BatchCard& card, int total) override
    {
        m_session.status().setContext(QStringLiteral("Card %1 of %2").arg(card.index).arg(total));
    }
    void note(const QString& text) override { Console::message(text); }
    void cardFailed(const BatchCard& card, const BatchResult& result) override
    {
        const QString written = result.written == WriteState::Yes
                                    ? QStringLiteral("; it was written")
                                : result.written == WriteState::InDoubt
                                    ? QStringLiteral("; whether it was written is not known")
                                    : QString();
        Console::message(QStringLiteral("card %1 (line %2): %3%4")
                             .arg(card.index)
                             .arg(card.line)
                             .arg(result.error, written));
    }
    bool emitResult(const QByteArray& line, QString* error) override
    {
        return Console::out(line, error);
    }
    void progress(const BatchTally& tally) override
    {
        const int handled = tally.done + tally.failed;
        const qint64 elapsed = m_clock.ms() - tally.startedMs;
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
        Console::setProgress(text);
    }
    bool stopRequested() override { return m_ctx.interrupts.check(); }

private:
    CliContext& m_ctx;
    ReaderSession& m_session;
    IClock& m_clock;
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
            Console::message(QStringLiteral("%1:%2: %3")
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
    return ctx.fail(dataOnly ? QStringLiteral("rejected") : QStringLiteral("invalid_batch"),
                    summary);
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
    QString error;
    const int fd = openInput(file, &error);
    if (fd < 0)
        return ctx.fail(QStringLiteral("input_unreadable"),
                        QStringLiteral("cannot read %1: %2").arg(file, error));
    CardBatch cards;
    const bool read = readCardBatch(fd, *method, args.has(Opt::AllowEmpty), &cards, &error);
    closeInput(fd);
    if (file == QLatin1String("-"))
        ctx.console.setInteractive(false);
    if (!read)
        return ctx.fail(QStringLiteral("input_too_large"),
                        QStringLiteral("%1: %2; no card was written").arg(source, error));
    if (!cards.problems.isEmpty())
        return refuseBatch(ctx, source, cards.problems);
    const int total = int(cards.cards.size());
    int start = 1;
    if (const int status = numberOption(ctx, Opt::Start, 1, qMax(1, total), 1, &start))
        return status;

    // The unchecked formats are confirmed once for the whole batch, before any card.
    bool confirmed[CARD_METHOD_COUNT] = {};
    for (const BatchCard& card : std::as_const(cards.cards)) {
        bool& done = confirmed[card.method.index()];
        if (!card.unchecked || card.index < start || args.has(Opt::Yes) || done)
            continue;
        done = ctx.console.askYesNo(oneLine(formatWarningText(card.method)));
        if (!done)
            return ctx.fail(ctx.interrupts.interrupted() ? QStringLiteral("interrupted")
                                                         : QStringLiteral("declined"),
                            QStringLiteral("%1:%2: ").arg(source).arg(card.line) +
                                uncheckedRefusal(card.method) +
                                QStringLiteral("; no card was written"));
    }
    if (args.has(Opt::Check)) {
        if (args.has(Opt::Json)) {
            JsonLine json;
            json.add("batch", source).add("result", QStringLiteral("checked")).add("cards", total);
            Console::out(json.text() + '\n');
            ctx.jsonPrinted = true;
        } else {
            Console::message(
                QStringLiteral("%1: %2 cards, every one checked").arg(source).arg(total));
        }
        return exitcode::Ok;
    }
    if (total == 0) {
        Console::message(QStringLiteral("batch: no cards in %1").arg(source));
        return exitcode::Ok;
    }

    ResumeState resume;
    const QString resultsPath = args.value(Opt::Results);
    if (args.has(Opt::Resume)) {
        const QString path = args.value(Opt::Resume);
        const bool firstRun =
            !QFileInfo::exists(path) &&
            QFileInfo(path).absoluteFilePath() == QFileInfo(resultsPath).absoluteFilePath();
        if (!firstRun && !readResumeFile(path, cards.sha256, &resume, &error))
            return ctx.usage(QStringLiteral("cannot resume from %1: %2").arg(path, error));
    }
    ResultsFile results;
    if (!resultsPath.isEmpty()) {
        if (!results.open(resultsPath, &error))
            return ctx.usage(QStringLiteral("cannot write the results to %1: %2; no card was "
                                            "written")
                                 .arg(resultsPath, error));
        if (!results.append(
                batchHeaderLine(source, cards.sha256, total, QDateTime::currentDateTimeUtc()),
                &error))
            return ctx.fail(QStringLiteral("results_unwritable"),
                            QStringLiteral("the results could not be written to %1: %2; no card "
                                           "was written")
                                .arg(resultsPath, error));
    }

    if (const int status = session.bringUp())
        return status;
    QList<BatchProblem> lacking;
    for (const BatchCard& card : std::as_const(cards.cards)) {
        if (card.index >= start &&
            unsupportedMethods(session.link().ReaderType()).contains(card.method))
            lacking.append({card.line,
                            QStringLiteral("%1 is not offered by this reader (type %2)")
                                .arg(card.method.name())
                                .arg(session.link().ReaderType()),
                            false});
    }
    if (!lacking.isEmpty()) {
        refuseBatch(ctx, source, lacking);
        ctx.failure = {exitcode::Usage, QStringLiteral("unsupported_method"), ctx.failure.message};
        return exitcode::Usage;
    }

    CliBatchFront front(ctx, session, session.clock());
    BatchRunner runner(session.operations(), session.link(), session.driver(), session.clock(),
                       session.pump(), front, options);
    const BatchTally tally =
        runner.run(cards.cards, start, resume, results.isOpen() ? &results : nullptr);
    session.status().setContext(QString());
    Console::setProgress(QString());

    // The summary, and how to go on.
    const int attempted = tally.done + tally.failed + tally.skipped;
    QString summary =
        QStringLiteral("batch: %1 %2, %3 failed, %4 not attempted, of %5 cards")
            .arg(tally.done)
            .arg(options.verify ? QStringLiteral("verified") : QStringLiteral("written"))
            .arg(tally.failed)
            .arg(total - attempted - (start - 1))
            .arg(total);
    if (tally.skipped > 0)
        summary += QStringLiteral(", %1 already written before").arg(tally.skipped);
    if (!tally.failedIndexes.isEmpty())
        summary += QStringLiteral("; failed: ") + cardList(tally.failedIndexes);
    if (!tally.inDoubt.isEmpty())
        summary += QStringLiteral("; in doubt: ") + cardList(tally.inDoubt);
    const BatchCard* stopped = tally.stoppedAt > 0 ? &cards.cards.at(tally.stoppedAt - 1) : nullptr;
    if (stopped) {
        summary += tally.stop == BatchStop::Interrupted
                       ? QStringLiteral("; interrupted at card %1").arg(stopped->index)
                       : QStringLiteral("; stopped at card %1 (line %2)")
                             .arg(stopped->index)
                             .arg(stopped->line);
        if (!tally.stopMessage.isEmpty())
            summary += QStringLiteral(": ") + tally.stopMessage;
        if (tally.stop == BatchStop::ResultsFailed)
            summary +=
                tally.lastRecorded > 0
                    ? QStringLiteral("; the last card recorded is card %1").arg(tally.lastRecorded)
                    : QStringLiteral("; no card was recorded");
        const QString written = tally.stoppedCard == WriteState::Yes ? QStringLiteral("was written")
                                : tally.stoppedCard == WriteState::No
                                    ? QStringLiteral("was not written")
                                    : QStringLiteral("may have been written");
        summary += QStringLiteral("; card %1 %2").arg(stopped->index).arg(written);
        QString advice;
        if (results.isOpen()) {
            advice = QStringLiteral("resume with: ") +
                     resumeCommand(ctx, {QStringLiteral("--resume"), resultsPath});
        } else {
            const int next = stopped->index + (tally.stoppedCard == WriteState::Yes ? 1 : 0);
            advice =
                tally.stoppedCard == WriteState::InDoubt
                    ? QStringLiteral("read card %1 back (tarnavel-cli read) and compare it "
                                     "with line %2, then resume with: %3, or with --start %4 "
                                     "if it holds that data")
                          .arg(stopped->index)
                          .arg(stopped->line)
                          .arg(resumeCommand(
                              ctx, {QStringLiteral("--start"), QString::number(stopped->index)}))
                          .arg(stopped->index + 1)
                : next <= total
                    ? QStringLiteral("resume with: ") +
                          resumeCommand(ctx, {QStringLiteral("--start"), QString::number(next)})
                    : QString();
        }
        if (!advice.isEmpty())
            summary += QStringLiteral("; ") + advice;
        if (file == QLatin1String("-"))
            summary += QStringLiteral(" (with the same cards on standard input)");
    }
    Console::message(summary);

    QString code;
    switch (tally.stop) {
    case BatchStop::Interrupted:
        code = QStringLiteral("interrupted");
        break;
    case BatchStop::ResultsFailed:
        code = QStringLiteral("results_unwritable");
        break;
    case BatchStop::ReaderLost:
        code = QStringLiteral("reader_lost");
        break;
    default:
        code = tally.firstCode;
        break;
    }
    const int status = code.isEmpty() ? exitcode::Ok : ctx.statusOf(code);
    if (status != exitcode::Ok)
        ctx.fail(code, summary, true);
    if (args.has(Opt::Json)) {
        JsonLine json;
        json.add("batch", source)
            .add("result",
                 status == exitcode::Ok ? QStringLiteral("done") : QStringLiteral("failed"))
            .add("exit", status);
        if (status != exitcode::Ok)
            json.add("code", code);
        QByteArray failed;
        for (const int index : tally.failedIndexes)
            failed += (failed.isEmpty() ? "" : ", ") + QByteArray::number(index);
        QByteArray doubt;
        for (const int index : tally.inDoubt)
            doubt += (doubt.isEmpty() ? "" : ", ") + QByteArray::number(index);
        json.add("cards", total)
            .add(options.verify ? "verified" : "written", tally.done)
            .add("skipped", tally.skipped)
            .addRaw("failed", '[' + failed + ']')
            .addRaw("in_doubt", '[' + doubt + ']');
        Console::out(json.text() + '\n');
        ctx.jsonPrinted = true;
    }
    return status;
}

constexpr const char* kWriteHelp =
    "Checks the data as the window does (ISO on Track 1: characters from space to _;\n"
    "ISO on Tracks 2 and 3: 0-9 : ; < = > ?) and pads it with \"0\" to the track\n"
    "length, loads it into the reader, arms it and waits for the card to be swiped.\n"
    "An invalid character, data longer than the track holds (76, 37 or 104; 37 for\n"
    "ibm, 76 for iso1t3) or empty data without --allow-empty exits 5. Methods ibm and\n"
    "iso1t3 cannot be checked: their warning is a question on a terminal and needs\n"
    "--yes otherwise. DATA - reads the data from standard input (one line, one\n"
    "trailing newline removed): prefer it, or a file, for real cards, since an\n"
    "argument is visible to every user in the process list. With --json:\n"
    "{\"method\": 1, \"method_name\": \"ISO on Track 2\", \"result\": \"written\"}\n"
    "(\"verified\", or \"failed\" with \"written\", \"exit\", \"code\" and \"error\").\n";

} // namespace

const CliCommand kWriteCommand = {
    "write",
    "[-m METHOD] [--yes] DATA|-",
    "check and pad the data, load it, wait for the swipe",
    {Opt::Method, Opt::Yes, Opt::AllowEmpty},
    1,
    1,
    "write takes the track data, or - to read it from standard input",
    kWriteHelp,
    {QStringLiteral("-")},
    write,
};

const CliCommand kVerifyCommand = {
    "verify",
    "[-m METHOD] [--yes] DATA|-",
    "write, then read the same card back and compare",
    {Opt::Method, Opt::Yes, Opt::AllowEmpty},
    1,
    1,
    "verify takes the track data, or - to read it from standard input",
    "Writes as write does (see below), then asks for the same card again, reads it\n"
    "with the method's read command and compares it with the data written: a\n"
    "difference exits 6, naming the first position that differs.\n\n"
    "Checks the data as the window does (ISO on Track 1: characters from space to _;\n"
    "ISO on Tracks 2 and 3: 0-9 : ; < = > ?) and pads it with \"0\" to the track\n"
    "length. An invalid character, data longer than the track holds or empty data\n"
    "without --allow-empty exits 5; ibm and iso1t3 need --yes without a terminal.\n"
    "DATA - reads the data from standard input: prefer it, or a file, for real cards,\n"
    "since an argument is visible to every user in the process list.\n",
    {QStringLiteral("-")},
    verify,
};

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
