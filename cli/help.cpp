#include "cli/help.h"

#include "cli/command.h"
#include "cli/exitcodes.h"
#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "platform/version.h"

#include <QStringList>

namespace {

constexpr int kOptionColumn = 23;
constexpr int kCommandColumn = 28;

QString optionLabel(const CliOption& known)
{
    QString label = known.shortName ? QStringLiteral("  -%1, ").arg(QLatin1Char(known.shortName))
                                    : QStringLiteral("      ");
    label += QStringLiteral("--") + QLatin1String(known.longName);
    if (known.valueName)
        label += QLatin1Char(' ') + QLatin1String(known.valueName);
    return label;
}

// One entry of a two-column list: the label, then the text's lines under one another.
QString entry(const QString& label, const QString& text, int column)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString out = label;
    if (label.size() + 1 > column)
        out += QLatin1Char('\n') + QString(column, QLatin1Char(' '));
    else
        out += QString(column - label.size(), QLatin1Char(' '));
    out += lines.constFirst() + QLatin1Char('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        out += QString(column, QLatin1Char(' ')) + lines.at(i) + QLatin1Char('\n');
    return out;
}

QString optionLines(const QList<Opt>& options)
{
    QString text;
    for (const Opt id : options) {
        const CliOption& known = cliOption(id);
        text += entry(optionLabel(known), QString::fromLatin1(known.help), kOptionColumn);
    }
    return text;
}

QList<Opt> globalOptions(bool withVersion)
{
    QList<Opt> options;
    for (const CliOption& known : cliOptions()) {
        if (known.global && (withVersion || known.id != Opt::Version))
            options << known.id;
    }
    return options;
}

QString exitStatusText()
{
    return QStringLiteral(
        "Exit status:\n"
        "  0    success\n"
        "  1    usage error: unknown command or option, bad value, a card method the\n"
        "       reader does not offer, a batch file that does not check, input beyond\n"
        "       its limit, a ports-folder change refused\n"
        "  2    the port could not be opened, or the reader was disconnected; ports: the\n"
        "       ports folder cannot be read or trusted\n"
        "  3    no reply, or no swipe, within the time-out\n"
        "  4    the reader reported an error status (its text is shown)\n"
        "  5    data rejected by the check, format warning declined, or not decodable\n"
        "  6    verify: the card read back differs from the data written\n"
        "  7    batch: the results could not be written\n"
        "  129, 130, 143  ended by SIGHUP, SIGINT (Ctrl+C) or SIGTERM\n");
}

QString usageOf(const CliCommand& command)
{
    QString usage = QLatin1String(command.name);
    if (command.usage && *command.usage)
        usage += QLatin1Char(' ') + QLatin1String(command.usage);
    return usage;
}

} // namespace

QString versionText()
{
    return QStringLiteral("tarnavel-cli %1\n").arg(versionNumber());
}

QString programHelp()
{
    QString commands;
    for (const CliCommand* command : cliCommands())
        commands += entry(QStringLiteral("  ") + usageOf(*command),
                          QString::fromLatin1(command->summary), kCommandColumn);
    return QStringLiteral(
               "Usage: tarnavel-cli [OPTIONS] COMMAND [ARGS]\n"
               "\n"
               "Reads, writes and checks magnetic-stripe cards through a BANQUE-TEC\n"
               "BT904/BT905-class card reader/writer on a serial port, from a terminal or a\n"
               "script. Track data goes to standard output; messages and prompts go to\n"
               "standard error. Questions are asked only when standard input is a terminal;\n"
               "otherwise the safe answer is taken (no retry, no confirmation).\n"
               "\n"
               "Commands:\n") +
           commands + QStringLiteral("\nOptions:\n") + optionLines(globalOptions(true)) +
           optionLines({Opt::Method}) +
           QStringLiteral(
               "\n"
               "The defaults are the settings the Quorvex Tarnavel window stores in\n"
               "~/.config/quorvex-tarnavel/user.reg (port, line settings, time-out, default\n"
               "card method); options override them for one run and are never saved.\n"
               "\n") +
           exitStatusText() +
           QStringLiteral("\n"
                          "\"tarnavel-cli COMMAND --help\" explains a command; the manual page\n"
                          "tarnavel-cli(1) has examples and the error codes of --json.\n");
}

QString commandHelp(const CliCommand& command)
{
    return QStringLiteral("Usage: tarnavel-cli [OPTIONS] ") + usageOf(command) +
           QStringLiteral("\n\n") + QString::fromLatin1(command.help) +
           QStringLiteral("\nOptions:\n") + optionLines(command.options) +
           optionLines(globalOptions(false)) + QStringLiteral("\n") + exitStatusText();
}

namespace {

QStringList optionWords(const QList<Opt>& options)
{
    QStringList words;
    for (const Opt id : options) {
        const CliOption& known = cliOption(id);
        words << QStringLiteral("--") + QLatin1String(known.longName);
        if (known.shortName)
            words << QStringLiteral("-") + QLatin1Char(known.shortName);
    }
    return words;
}

QStringList methodWords()
{
    QStringList words;
    for (const CardMethodId method : CardMethodId::all())
        words << method.shortName();
    return words;
}

QStringList valueOptions()
{
    QList<Opt> taking;
    for (const CliOption& known : cliOptions()) {
        if (known.valueName)
            taking << known.id;
    }
    return optionWords(taking);
}

QString bashScript()
{
    QString perCommand;
    for (const CliCommand* command : cliCommands()) {
        perCommand +=
            QStringLiteral("        %1) opts=\"%2\"; words=\"%3\" ;;\n")
                .arg(QLatin1String(command->name),
                     optionWords(command->options + globalOptions(true)).join(QLatin1Char(' ')),
                     command->operandWords.join(QLatin1Char(' ')));
    }
    QStringList names;
    for (const CliCommand* command : cliCommands())
        names << QLatin1String(command->name);
    return QStringLiteral(
               "# bash completion for tarnavel-cli, made by tarnavel-cli completion bash\n"
               "_tarnavel_cli() {\n"
               "    local cur prev cmd opts words i\n"
               "    cur=${COMP_WORDS[COMP_CWORD]}\n"
               "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    case $prev in\n"
               "        -m|--method) COMPREPLY=($(compgen -W \"%1 0 1 2 3 4\" -- \"$cur\")); "
               "return ;;\n"
               "        -p|--port) COMPREPLY=($(compgen -W \"$(_tarnavel_cli_ports)\" -- \"$cur\") "
               "$(compgen -f -- \"$cur\")); return ;;\n"
               "        -t|--timeout|-s|--settings|--start|--max-failures|--wait-reader) return "
               ";;\n"
               "        --results|--resume) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
               "    esac\n"
               "    cmd=\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        case ${COMP_WORDS[i]} in\n"
               "            %2) i=$((i + 1)) ;;\n"
               "            -*) ;;\n"
               "            *) cmd=${COMP_WORDS[i]}; break ;;\n"
               "        esac\n"
               "    done\n"
               "    opts=\"%3\"; words=\"%4\"\n"
               "    case $cmd in\n"
               "%5"
               "    esac\n"
               "    if [[ $cur == -* ]]; then\n"
               "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
               "    elif [[ -n $cmd && ( $cmd == batch || $cmd == write || $cmd == verify || "
               "$cmd == decode ) ]]; then\n"
               "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\") $(compgen -f -- "
               "\"$cur\"))\n"
               "    else\n"
               "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
               "    fi\n"
               "}\n"
               "_tarnavel_cli_ports() {\n"
               "    local dir=${XDG_CONFIG_HOME:-$HOME/.config}/quorvex-tarnavel/ports f\n"
               "    for f in \"$dir\"/com*; do [[ -L $f ]] && echo \"COM${f##*/com}\"; done\n"
               "    echo COM1 COM2 COM3 COM4\n"
               "}\n"
               "complete -F _tarnavel_cli tarnavel-cli\n")
        .arg(methodWords().join(QLatin1Char(' ')), valueOptions().join(QLatin1Char('|')),
             optionWords(globalOptions(true)).join(QLatin1Char(' ')), names.join(QLatin1Char(' ')),
             perCommand);
}

QString zshScript()
{
    QString commands;
    QString cases;
    for (const CliCommand* command : cliCommands()) {
        QString summary = QString::fromLatin1(command->summary).section(QLatin1Char('\n'), 0, 0);
        summary.replace(QLatin1Char(':'), QStringLiteral("\\:"))
            .replace(QLatin1Char('\''), QString());
        commands += QStringLiteral("        '%1:%2'\n").arg(QLatin1String(command->name), summary);
        QStringList specs;
        for (const Opt id : command->options) {
            const CliOption& known = cliOption(id);
            QString value;
            if (id == Opt::Method)
                value = QStringLiteral(":method:(%1)").arg(methodWords().join(QLatin1Char(' ')));
            else if (known.valueName)
                value = QStringLiteral(":%1:_files")
                            .arg(QString::fromLatin1(known.valueName).toLower());
            specs << QStringLiteral("'--%1[%2]%3'")
                         .arg(QLatin1String(known.longName),
                              QString::fromLatin1(known.help)
                                  .section(QLatin1Char('\n'), 0, 0)
                                  .replace(QLatin1Char('\''), QString())
                                  .replace(QLatin1Char('['), QLatin1Char('('))
                                  .replace(QLatin1Char(']'), QLatin1Char(')')),
                              value);
        }
        QString operands = QStringLiteral("'*:argument:_files'");
        if (!command->operandWords.isEmpty())
            operands = QStringLiteral("'*:argument:(%1)'")
                           .arg(command->operandWords.join(QLatin1Char(' ')));
        cases += QStringLiteral("        %1) _arguments %2 %3 ;;\n")
                     .arg(QLatin1String(command->name), specs.join(QLatin1Char(' ')), operands);
    }
    return QStringLiteral(
               "#compdef tarnavel-cli\n"
               "# zsh completion for tarnavel-cli, made by tarnavel-cli completion zsh\n"
               "_tarnavel_cli() {\n"
               "    local -a commands\n"
               "    commands=(\n"
               "%1"
               "    )\n"
               "    _arguments -C \\\n"
               "        '(-p --port)'{-p,--port}'[COMn or a device path]:port:(COM1 COM2 COM3 "
               "COM4)' \\\n"
               "        '(-s --settings)'{-s,--settings}'[line settings]:settings:' \\\n"
               "        '(-t --timeout)'{-t,--timeout}'[time-out in seconds]:seconds:' \\\n"
               "        '--json[machine-readable output]' '--trace[show every frame]' \\\n"
               "        '--reveal[show card data]' '(-h --help)'{-h,--help}'[show help]' \\\n"
               "        '(-V --version)'{-V,--version}'[show the version]' \\\n"
               "        '1:command:->command' '*::argument:->argument'\n"
               "    case $state in\n"
               "    command) _describe command commands ;;\n"
               "    argument)\n"
               "        case $words[1] in\n"
               "%2"
               "        esac ;;\n"
               "    esac\n"
               "}\n"
               "_tarnavel_cli \"$@\"\n")
        .arg(commands, cases);
}

QString fishScript()
{
    QString text =
        QStringLiteral("# fish completion for tarnavel-cli, made by tarnavel-cli completion fish\n"
                       "complete -c tarnavel-cli -f\n");
    QStringList names;
    for (const CliCommand* command : cliCommands())
        names << QLatin1String(command->name);
    const QString noCommand =
        QStringLiteral("not __fish_seen_subcommand_from %1").arg(names.join(QLatin1Char(' ')));
    for (const CliCommand* command : cliCommands()) {
        QString summary = QString::fromLatin1(command->summary).section(QLatin1Char('\n'), 0, 0);
        summary.replace(QLatin1Char('\''), QString());
        text += QStringLiteral("complete -c tarnavel-cli -n '%1' -a %2 -d '%3'\n")
                    .arg(noCommand, QLatin1String(command->name), summary);
        if (!command->operandWords.isEmpty())
            text += QStringLiteral("complete -c tarnavel-cli -n '__fish_seen_subcommand_from %1' "
                                   "-a '%2'\n")
                        .arg(QLatin1String(command->name),
                             command->operandWords.join(QLatin1Char(' ')));
    }
    for (const CliOption& known : cliOptions()) {
        QString line = QStringLiteral("complete -c tarnavel-cli");
        if (!known.global) {
            QStringList takers;
            for (const CliCommand* command : cliCommands())
                if (command->options.contains(known.id))
                    takers << QLatin1String(command->name);
            line += QStringLiteral(" -n '__fish_seen_subcommand_from %1'")
                        .arg(takers.join(QLatin1Char(' ')));
        }
        line += QStringLiteral(" -l %1").arg(QLatin1String(known.longName));
        if (known.shortName)
            line += QStringLiteral(" -s %1").arg(QLatin1Char(known.shortName));
        if (known.id == Opt::Method)
            line += QStringLiteral(" -x -a '%1'").arg(methodWords().join(QLatin1Char(' ')));
        else if (known.id == Opt::Port)
            line += QStringLiteral(" -x -a 'COM1 COM2 COM3 COM4 (__fish_complete_path /dev/tty)'");
        else if (known.id == Opt::Results || known.id == Opt::Resume)
            line += QStringLiteral(" -r -F");
        else if (known.valueName)
            line += QStringLiteral(" -x");
        QString help = QString::fromLatin1(known.help).section(QLatin1Char('\n'), 0, 0);
        help.replace(QLatin1Char('\''), QString());
        text += line + QStringLiteral(" -d '%1'\n").arg(help);
    }
    text += QStringLiteral("complete -c tarnavel-cli -n '__fish_seen_subcommand_from batch write "
                           "verify decode' -F\n");
    return text;
}

} // namespace

QString completionScript(const QString& shell)
{
    if (shell == QLatin1String("bash"))
        return bashScript();
    if (shell == QLatin1String("zsh"))
        return zshScript();
    if (shell == QLatin1String("fish"))
        return fishScript();
    return QString();
}

namespace {

int help(CliContext& ctx)
{
    const QString topic = ctx.args.operands.value(0);
    if (topic.isEmpty()) {
        Console::out(programHelp().toLocal8Bit());
        return exitcode::Ok;
    }
    const CliCommand* command = findCliCommand(topic);
    if (!command)
        return ctx.usage(QStringLiteral("no help on \"%1\"").arg(topic));
    Console::out(commandHelp(*command).toLocal8Bit());
    return exitcode::Ok;
}

int completion(CliContext& ctx)
{
    const QString script = completionScript(ctx.args.operands.constFirst());
    if (script.isEmpty())
        return ctx.usage(QStringLiteral("completion takes bash, zsh or fish"));
    Console::out(script.toUtf8());
    return exitcode::Ok;
}

} // namespace

const CliCommand kHelpCommand = {
    "help", "[COMMAND]", "this text, or a command's", {},
    0,      1,           "help takes one command",    "Shows the program's help, or a command's.\n",
    {},     help,
};

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
};
