#include "cli/clicommands.h"

#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/help.h"
#include "platform/interrupts.h"

const QList<const CliCommand*>& cliCommands()
{
    static const QList<const CliCommand*> commands = {
        &kVersionCommand, &kReadCommand,     &kWriteCommand,   &kVerifyCommand,
        &kBatchCommand,   &kGenerateCommand, &kCompareCommand, &kCopyCommand,
        &kReportCommand,  &kResetCommand,    &kLedCommand,     &kDecodeCommand,
        &kPortsCommand,   &kDoctorCommand,   &kHelpCommand,    &kCompletionCommand,
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

int CliContext::statusOf(ErrorCode code) const
{
    if (code == ErrorCode::Interrupted && interrupts.signalNumber() > 0)
        return interrupts.exitStatus();
    return errorExitStatus(code);
}

int CliContext::fail(ErrorCode code, const QString& message, bool told)
{
    if (!told)
        console.message(message);
    // The first failure is the outcome; later ones only add to what was said.
    if (failure.status == 0)
        failure = Failure{statusOf(code), code, message};
    return statusOf(code);
}

int CliContext::usage(const QString& message)
{
    return fail(ErrorCode::Usage,
                message + QStringLiteral(" (tarnavel-cli --help lists the commands and options)"));
}

namespace {

const QString kInterrupted = QStringLiteral("interrupted");

// With --json a signal's ending is a failure's object like any other.
void setJsonEnding(const QString& command)
{
    Interrupts::setEndingText([command](int signal, bool output) {
        if (!output)
            return QByteArray("tarnavel-cli: ") + kInterrupted.toLatin1() + '\n';
        JsonLine json;
        if (!command.isEmpty())
            json.add("command", command);
        json.add("result", QStringLiteral("failed"))
            .add("exit", 128 + signal)
            .add("code", errorCodeName(ErrorCode::Interrupted))
            .add("error", kInterrupted);
        return json.text() + '\n';
    });
}

int dispatch(CliContext& ctx)
{
    const CliArgs& args = ctx.args;
    if (args.has(Opt::Help) && args.command != QLatin1String("help")) {
        const CliCommand* command = findCliCommand(args.command);
        ctx.console.out((command ? commandHelp(*command) : programHelp()).toLocal8Bit());
        return exitcode::Ok;
    }
    if (args.has(Opt::Version)) {
        ctx.console.out(versionText().toLocal8Bit());
        return exitcode::Ok;
    }
    const CliCommand* command = findCliCommand(args.command);
    if (!command && ctx.arguments.isEmpty()) {
        // What to type next, as a usage error: a script that lost its arguments must fail.
        ctx.console.err(shortHelp());
        return ctx.fail(ErrorCode::Usage, QStringLiteral("no command given"), true);
    }
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
    ctx.console.setInteractive(ctx.console.stdinIsTerminal());
    return command->run(ctx);
}

} // namespace

void endOnSignals()
{
    Interrupts::setEndingText([](int, bool output) {
        return output ? QByteArray()
                      : QByteArray("tarnavel-cli: ") + kInterrupted.toLatin1() + '\n';
    });
    Interrupts::endAtOnce();
}

int runCli(const CliEnvironment& environment, const QStringList& arguments)
{
    CliContext ctx(environment);
    ctx.arguments = arguments;
    QString error;
    int status;
    const bool parsed = parseCliArgs(arguments, &ctx.args, &error);
    if (parsed && ctx.args.has(Opt::Json))
        setJsonEnding(ctx.args.command);
    if (!parsed) {
        // --json may stand anywhere: a usage error is still answered in JSON when it was asked.
        ctx.args.given.insert(Opt::Json, QString());
        if (!arguments.contains(QLatin1String("--json")))
            ctx.args.given.remove(Opt::Json);
        status = ctx.usage(error);
    } else {
        status = dispatch(ctx);
    }
    // Data that did not reach standard output is lost: never a success.
    const QString lost = ctx.console.outputError();
    if (status == exitcode::Ok && !lost.isEmpty())
        status =
            ctx.fail(ErrorCode::OutputUnwritable,
                     QStringLiteral("%1standard output could not be written: %2")
                         .arg(ctx.args.command.isEmpty() ? QString()
                                                         : ctx.args.command + QStringLiteral(": "),
                              lost));
    if (status != exitcode::Ok && ctx.args.has(Opt::Json) && !ctx.jsonPrinted) {
        JsonLine json;
        if (!ctx.args.command.isEmpty())
            json.add("command", ctx.args.command);
        json.add("result", QStringLiteral("failed"))
            .add("exit", status)
            .add("code", errorCodeName(ctx.failure.code))
            .add("error", ctx.failure.message);
        ctx.console.out(json.text() + '\n');
    }
    return status;
}
