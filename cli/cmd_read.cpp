// read: one swipe, the track data on standard output.

#include "cards/jsonline.h"
#include "cards/trackdecode.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "cli/trackoutput.h"
#include "link/protocol/commands.h"

namespace {

int read(CliContext& ctx)
{
    ReaderSession session(ctx);
    std::optional<CardMethodId> chosen;
    if (const int status = session.configure(&chosen))
        return status;
    const CardMethodId method = *chosen;
    if (const int status = session.bringUp())
        return status;
    if (const int status = session.checkMethod(method))
        return status;
    const int boxes = session.messages().shownCount();
    CardOutcome outcome = session.operations().readCard(method);
    if (const int status = session.finish(outcome, QStringLiteral("read"), boxes))
        return status;
    const bool reveal = ctx.args.has(Opt::Reveal);
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("method", method.index())
            .add("method_name", method.name())
            .add("data", QString::fromLatin1(outcome.data));
        if (ctx.args.has(Opt::Decode))
            json.addRaw("decoded", decodedJson(decodeMethodTrack(method, outcome.data), reveal));
        ctx.console.out(json.text() + '\n');
    } else {
        ctx.console.out(outcome.data + '\n');
        if (ctx.args.has(Opt::Decode)) {
            const DecodedTrack track = decodeMethodTrack(method, outcome.data);
            // The card was read: what it holds is the data, a note beside it is no failure.
            if (track.decodable)
                ctx.console.out(decodedText(track, reveal));
            else
                ctx.console.message(undecodableText(track));
        }
    }
    return exitcode::Ok;
}

} // namespace

const CliCommand kReadCommand = {
    "read",
    "[-m METHOD] [--decode]",
    "arm, wait for a swipe, print the track data",
    {Opt::Method, Opt::Decode},
    0,
    0,
    nullptr,
    "Arms the reader, waits for a card to be swiped and prints its track data exactly\n"
    "as the reader returned it (one byte a character), followed by a newline.\n"
    "--decode adds the ISO/IEC 7813 fields (see decode). With --json:\n"
    "{\"method\": 1, \"method_name\": \"ISO on Track 2\", \"data\": \"...\"}, with\n"
    "\"decoded\": {...} after --decode.\n",
    {},
    read,
};
