#include "cli/clicommands.h"

#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/exitcodes.h"
#include "cli/help.h"

const QList<const CliCommand*>& cliCommands()
{
    static const QList<const CliCommand*> commands = {
        &kVersionCommand, &kReadCommand,   &kWriteCommand, &kVerifyCommand,
        &kBatchCommand,   &kResetCommand,  &kLedCommand,   &kDecodeCommand,
        &kPortsCommand,   &kDoctorCommand, &kHelpCommand,  &kCompletionCommand,
    };
    return commands;
}

const CliCommand* findCliCommand(const QString& name)
{
    for (const CliCommand* command : cliCommands()) {
        if (name == QLatin1String(command->name))
            return command;
    }
    return nullptr;
}

int CliContext::statusOf(const QString& code) const
{
    if (code == QLatin1String("interrupted"))
        return interrupts.signalNumber() > 0 ? interrupts.exitStatus() : exitcode::Interrupted;
    for (const ErrorCode& known : kErrorCodes) {
        if (code == QLatin1String(known.code))
            return known.status;
    }
    return exitcode::Usage;
}

int CliContext::fail(const QString& code, const QString& message, bool told)
{
    if (!told)
        Console::message(message);
    // The first failure is the outcome; later ones only add to what was said.
    if (failure.status == 0)
        failure = Failure{statusOf(code), code, message};
    return statusOf(code);
}

int CliContext::usage(const QString& message)
{
    return fail(QStringLiteral("usage"),
                message + QStringLiteral(" (tarnavel-cli --help lists the commands and options)"));
}

namespace {

int dispatch(CliContext& ctx)
{
    const CliArgs& args = ctx.args;
    if (args.has(Opt::Help) && args.command != QLatin1String("help")) {
        const CliCommand* command = findCliCommand(args.command);
        Console::out((command ? commandHelp(*command) : programHelp()).toLocal8Bit());
        return exitcode::Ok;
    }
    if (args.has(Opt::Version)) {
        Console::out(versionText().toLocal8Bit());
        return exitcode::Ok;
    }
    const CliCommand* command = findCliCommand(args.command);
    if (!command)
        return ctx.usage(QStringLiteral("no command given"));
    const qsizetype count = args.operands.size();
    if (count < command->minOperands ||
        (command->maxOperands >= 0 && count > command->maxOperands)) {
        if (command->operandError)
            return ctx.usage(QString::fromLatin1(command->operandError));
        return ctx.usage(QStringLiteral("%1 takes no argument \"%2\"")
                             .arg(args.command, args.operands.constFirst()));
    }
    ctx.console.setInteractive(Console::stdinIsTerminal());
    return command->run(ctx);
}

} // namespace

int runCli(const QStringList& arguments)
{
    CliContext ctx;
    ctx.arguments = arguments;
    QString error;
    int status;
    if (!parseCliArgs(arguments, &ctx.args, &error)) {
        // --json may stand anywhere: a usage error is still answered in JSON when it was asked.
        ctx.args.given.insert(Opt::Json, QString());
        if (!arguments.contains(QLatin1String("--json")))
            ctx.args.given.remove(Opt::Json);
        status = ctx.usage(error);
    } else {
        status = dispatch(ctx);
    }
    if (status != exitcode::Ok && ctx.args.has(Opt::Json) && !ctx.jsonPrinted) {
        JsonLine json;
        if (!ctx.args.command.isEmpty())
            json.add("command", ctx.args.command);
        json.add("result", QStringLiteral("failed"))
            .add("exit", status)
            .add("code", ctx.failure.code.isEmpty() ? QStringLiteral("usage") : ctx.failure.code)
            .add("error", ctx.failure.message);
        Console::out(json.text() + '\n');
    }
    return status;
}
