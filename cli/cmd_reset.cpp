// reset: make the reader abandon what it is doing.

#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/readerlink.h"
#include "platform/serialport.h"

namespace {

int reset(CliContext& ctx)
{
    ReaderSession session(ctx);
    if (const int status = session.start())
        return status;
    const int boxes = session.messages().shownCount();
    CardOutcome outcome = session.operations().cmdReset_Click();
    if (const int status = session.finish(outcome, QStringLiteral("reset"), boxes))
        return status;
    // The window sends the reset and goes on; here the reader's answer is what is reported.
    if (const int status = session.settleReset())
        return status;
    ctx.console.message(QStringLiteral("the reader on %1 was reset").arg(session.portLabel()));
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("command", QStringLiteral("reset"))
            .add("result", QStringLiteral("reset"))
            .add("port", session.portName())
            .add("device", session.link().port().devicePath());
        ctx.console.out(json.text() + '\n');
    }
    return exitcode::Ok;
}

} // namespace

const CliCommand kResetCommand = {
    "reset",
    "",
    "make the reader abandon what it is doing",
    {},
    0,
    0,
    nullptr,
    "Checks that the reader answers, then sends the reset command and waits for its\n"
    "answer: the reader abandons an armed swipe and drops data loaded for one. With\n"
    "--json: {\"command\": \"reset\", \"result\": \"reset\", \"port\": \"COM1\", \"device\":\n"
    "\"/dev/ttyUSB0\"}\n",
    {},
    reset,
};
