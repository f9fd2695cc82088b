// completion: the shell completion scripts.

#include "cli/command.h"
#include "cli/completion.h"

namespace {

int completion(CliContext& ctx)
{
    const QString script = completionScript(ctx.args.operands.constFirst());
    if (script.isEmpty())
        return ctx.usage(QStringLiteral("completion takes bash, zsh or fish"));
    ctx.console.out(script.toUtf8());
    return exitcode::Ok;
}

} // namespace

const CliCommand kCompletionCommand = {
    "completion",
    "bash|zsh|fish",
    "the shell completion script, for the shell's folder",
    {},
    1,
    1,
    "completion takes bash, zsh or fish",
    "Prints the completion script for the shell. The package installs them; by hand:\n"
    "tarnavel-cli completion bash > ~/.local/share/bash-completion/completions/tarnavel-cli\n",
    {QStringLiteral("bash"), QStringLiteral("zsh"), QStringLiteral("fish")},
    completion,
    {Opt::Help},
};
