#include "cli/completion.h"

#include "cli/command.h"
#include "link/protocol/cardmethod.h"

#include <QStringList>

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
