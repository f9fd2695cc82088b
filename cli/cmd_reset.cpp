// reset: make the reader abandon what it is doing.

#include "cli/command.h"
#include "cli/readersession.h"

namespace {

int reset(CliContext& ctx)
{
    ReaderSession session(ctx);
    if (const int status = session.start())
        return status;
    const int boxes = session.messages().shownCount();
    return session.finish(session.operations().cmdReset_Click(), QStringLiteral("reset"), boxes);
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
    "Checks that the reader answers, then sends the reset command: the\n"
    "reader abandons an armed swipe and drops data loaded for one.\n",
    {},
    reset,
};
