// write: check and pad the data, load it into the reader, wait for the swipe.

#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "platform/interrupts.h"

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
        return ctx.fail(ctx.interrupts.interrupted() ? ErrorCode::Interrupted : ErrorCode::Declined,
                        uncheckedRefusal(method));
    if (const int status = session.bringUp())
        return status;
    if (const int status = session.checkMethod(method))
        return status;
    const int boxes = session.messages().shownCount();
    const QByteArray bytes = check.data.toLatin1();
    CardOutcome outcome = verify ? session.operations().verifyCard(method, bytes)
                                 : session.operations().writeCard(method, bytes);
    const int status = session.finish(outcome, args.command, boxes);
    if (status == exitcode::Ok)
        ctx.console.message(verify
                                ? QStringLiteral("the card was written and read back the "
                                                 "same (%1)")
                                      .arg(method.name())
                                : QStringLiteral("the card was written (%1)").arg(method.name()));
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
                .add("code", errorCodeName(*outcomeCode(outcome)))
                .add("error", describeOutcome(outcome, session.settings().Timeout));
        }
        ctx.console.out(json.text() + '\n');
        ctx.jsonPrinted = true;
    }
    return status;
}

namespace {

int write(CliContext& ctx)
{
    return writeCard(ctx, false);
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
    "argument is visible to every user in the process list. A line on standard error\n"
    "says the card was written; a failure says whether it was. With --json:\n"
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
