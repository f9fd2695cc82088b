// help: the program's help, or a command's.

#include "cli/command.h"
#include "cli/help.h"

namespace {

int help(CliContext& ctx)
{
    const QString topic = ctx.args.operands.value(0);
    if (topic.isEmpty()) {
        ctx.console.out(programHelp().toLocal8Bit());
        return exitcode::Ok;
    }
    const CliCommand* command = findCliCommand(topic);
    if (!command)
        return ctx.usage(QStringLiteral("no help on \"%1\"").arg(topic));
    ctx.console.out(commandHelp(*command).toLocal8Bit());
    return exitcode::Ok;
}

} // namespace

const CliCommand kHelpCommand = {
    "help",
    "[COMMAND]",
    "this text, or a command's",
    {},
    0,
    1,
    "help takes one command",
    "Shows the program's help, or a command's.\n",
    {},
    help,
    {Opt::Help},
};
