#include "cli/completion.h"

#include "cli/command.h"
#include "link/protocol/cardmethod.h"

#include <QStringList>

namespace {

// What a command's operands are, for the shells to offer.
enum class Operands {
    Words,    // the command's operandWords (lamp names, shells)
    Files,    // a file, or - for standard input
    Data,     // track data: - alone, never a file name
    Commands, // help: a command's name
    Ports,    // ports: link N DEVICE, unlink N
};

Operands operandsOf(const CliCommand& command)
{
    if (&command == &kHelpCommand)
        return Operands::Commands;
    if (&command == &kPortsCommand)
        return Operands::Ports;
    const QString usage = QLatin1String(command.usage);
    if (usage.endsWith(QLatin1String("FILE|-")) || usage.endsWith(QLatin1String("CSVFILE)")) ||
        usage.endsWith(QLatin1String("RESULTS...")))
        return Operands::Files;
    if (usage.contains(QLatin1String("DATA")))
        return Operands::Data;
    return Operands::Words;
}

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

// Before the command every option is taken (the command checks them); after it, its own.
QList<Opt> optionsBefore()
{
    QList<Opt> all;
    for (const CliOption& known : cliOptions())
        all << known.id;
    return all;
}

QList<Opt> optionsOf(const CliCommand& command)
{
    return command.options + command.globals;
}

QStringList commandNames()
{
    QStringList names;
    for (const CliCommand* command : cliCommands())
        names << QLatin1String(command->name);
    return names;
}

QStringList methodWords()
{
    QStringList words;
    for (const CardMethodId method : CardMethodId::all())
        words << method.shortName();
    for (const CardMethodId method : CardMethodId::all())
        words << QString::number(method.index());
    return words;
}

QList<Opt> valueOptions()
{
    QList<Opt> taking;
    for (const CliOption& known : cliOptions()) {
        if (known.valueName)
            taking << known.id;
    }
    return taking;
}

// The first line of a text, without what would end a quoted word of the shells.
// A help text as one line for a shell's description: its lines joined, no quote that would end
// the shell's word.
QString oneLineHelp(const char* text)
{
    QString line = QString::fromLatin1(text).simplified();
    return line.remove(QLatin1Char('\''))
        .replace(QLatin1Char('['), QLatin1Char('('))
        .replace(QLatin1Char(']'), QLatin1Char(')'));
}

// A word list for bash, one word a line: $'a\nb'.
QString bashList(const QStringList& words)
{
    return QStringLiteral("$'") + words.join(QStringLiteral("\\n")) + QLatin1Char('\'');
}

QString bashScript()
{
    QString optionCases = QStringLiteral("                '') _tarnavel_cli_add %1 ;;\n")
                              .arg(bashList(optionWords(optionsBefore())));
    QString operandCases;
    for (const CliCommand* command : cliCommands()) {
        const QString name = QLatin1String(command->name);
        optionCases += QStringLiteral("                %1) _tarnavel_cli_add %2 ;;\n")
                           .arg(name, bashList(optionWords(optionsOf(*command))));
        QString action;
        switch (operandsOf(*command)) {
        case Operands::Files:
            action = QStringLiteral("_tarnavel_cli_add -; _tarnavel_cli_files");
            break;
        case Operands::Data:
            action = QStringLiteral("_tarnavel_cli_add -");
            break;
        case Operands::Commands:
            action = QStringLiteral("_tarnavel_cli_add %1").arg(bashList(commandNames()));
            break;
        case Operands::Ports:
            action = QStringLiteral("_tarnavel_cli_ports_operands");
            break;
        case Operands::Words:
            if (command->operandWords.isEmpty())
                continue;
            action = QStringLiteral("_tarnavel_cli_add %1").arg(bashList(command->operandWords));
            break;
        }
        // A command with one operand is offered nothing once it has it.
        const QString guard =
            command->maxOperands == 1 ? QStringLiteral("((${#operands[@]} == 0)) && ") : QString();
        operandCases += QStringLiteral("        %1) %2{ %3; } ;;\n").arg(name, guard, action);
    }
    QStringList quiet;
    for (const Opt id : valueOptions()) {
        if (id != Opt::Method && id != Opt::Port && id != Opt::Results && id != Opt::Resume &&
            id != Opt::NotIn)
            quiet << optionWords({id});
    }
    return QStringLiteral(
               "# bash completion for tarnavel-cli, made by tarnavel-cli completion bash\n"
               "# Word lists are one word a line, so that a file name with blanks stays whole.\n"
               "_tarnavel_cli_add() {\n"
               "    local IFS=$'\\n' word\n"
               "    for word in $(compgen -W \"$1\" -- \"$cur\"); do COMPREPLY+=(\"$word\"); "
               "done\n"
               "}\n"
               "_tarnavel_cli_files() {\n"
               "    local IFS=$'\\n' word\n"
               "    compopt -o filenames 2>/dev/null\n"
               "    for word in $(compgen -f -- \"$cur\"); do COMPREPLY+=(\"$word\"); done\n"
               "}\n"
               "_tarnavel_cli_links() {\n"
               "    local folder=$HOME/.config f\n"
               "    [[ $XDG_CONFIG_HOME == /* ]] && folder=$XDG_CONFIG_HOME\n"
               "    for f in \"$folder\"/quorvex-tarnavel/ports/com*; do\n"
               "        [[ -L $f && ${f##*/com} =~ ^[0-9]+$ ]] && printf '%s\\n' "
               "\"${f##*/com}\"\n"
               "    done\n"
               "}\n"
               "# 1 to 4 and every number linked in the ports folder, each once.\n"
               "_tarnavel_cli_numbers() {\n"
               "    printf '%s\\n' 1 2 3 4 $(_tarnavel_cli_links) | sort -nu\n"
               "}\n"
               "_tarnavel_cli_devices() {\n"
               "    local f\n"
               "    for f in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* "
               "/dev/pts/[0-9]*; do\n"
               "        [[ -e $f ]] && printf '%s\\n' \"$f\"\n"
               "    done\n"
               "}\n"
               "_tarnavel_cli_ports_operands() {\n"
               "    case ${#operands[@]}:${operands[0]} in\n"
               "        0:*) _tarnavel_cli_add $'link\\nunlink' ;;\n"
               "        1:link) _tarnavel_cli_add \"$(_tarnavel_cli_numbers)\" ;;\n"
               "        1:unlink) _tarnavel_cli_add \"$(_tarnavel_cli_links)\" ;;\n"
               "        2:link) _tarnavel_cli_add \"$(_tarnavel_cli_devices)\"\n"
               "            [[ $cur == */* ]] && _tarnavel_cli_files ;;\n"
               "    esac\n"
               "}\n"
               "# What is typed, as the program will see it: quotes and backslashes taken off.\n"
               "_tarnavel_cli_dequote() {\n"
               "    local word=$1 out= i c\n"
               "    case $word in\n"
               "        \\'*) word=${word#\\'}; printf '%s' \"${word%\\'}\"; return ;;\n"
               "        \\\"*) word=${word#\\\"}; word=${word%\\\"} ;;\n"
               "    esac\n"
               "    for ((i = 0; i < ${#word}; i++)); do\n"
               "        c=${word:i:1}\n"
               "        [[ $c == \\\\ ]] && { ((i++)); c=${word:i:1}; }\n"
               "        out+=$c\n"
               "    done\n"
               "    printf '%s' \"$out\"\n"
               "}\n"
               "_tarnavel_cli() {\n"
               "    local cur prev cmd= ended= i word\n"
               "    local -a operands=()\n"
               "    COMPREPLY=()\n"
               "    cur=$(_tarnavel_cli_dequote \"${COMP_WORDS[COMP_CWORD]}\")\n"
               "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        word=${COMP_WORDS[i]}\n"
               "        if [[ -z $ended ]]; then\n"
               "            case $word in\n"
               "                --) ended=1; continue ;;\n"
               "                %1) ((i++)); continue ;;\n"
               "                -?*) continue ;;\n"
               "            esac\n"
               "        fi\n"
               "        if [[ -z $cmd ]]; then cmd=$word; else operands+=(\"$word\"); fi\n"
               "    done\n"
               "    if [[ -z $ended ]]; then\n"
               "        case $prev in\n"
               "            -m|--method) _tarnavel_cli_add %2; return ;;\n"
               "            -p|--port) _tarnavel_cli_add \"$(printf 'COM%s\\n' "
               "$(_tarnavel_cli_numbers))\"\n"
               "                _tarnavel_cli_add \"$(_tarnavel_cli_devices)\"; return ;;\n"
               "            --results|--resume|--not-in) _tarnavel_cli_files; return ;;\n"
               "            %3) return ;;\n"
               "        esac\n"
               "        if [[ $cur == -* ]]; then\n"
               "            case $cmd in\n"
               "%4"
               "            esac\n"
               "            return\n"
               "        fi\n"
               "    fi\n"
               "    case $cmd in\n"
               "        '') _tarnavel_cli_add %5 ;;\n"
               "%6"
               "    esac\n"
               "}\n"
               "complete -F _tarnavel_cli tarnavel-cli\n")
        .arg(optionWords(valueOptions()).join(QLatin1Char('|')), bashList(methodWords()),
             quiet.join(QLatin1Char('|')), optionCases, bashList(commandNames()), operandCases);
}

// zsh: an _arguments entry for each option, its value completed as the option wants.
QString zshOptionEntry(const CliOption& known)
{
    QString value;
    switch (known.id) {
    case Opt::Method:
        value = QStringLiteral(":method:(%1)").arg(methodWords().join(QLatin1Char(' ')));
        break;
    case Opt::Port:
        value = QStringLiteral(":port:_tarnavel_cli_port");
        break;
    case Opt::Results:
    case Opt::Resume:
    case Opt::NotIn:
        value = QStringLiteral(":file:_files");
        break;
    default:
        if (known.valueName)
            value = QStringLiteral(":%1: ").arg(QString::fromLatin1(known.valueName).toLower());
        break;
    }
    const QString help = oneLineHelp(known.help);
    const QString longForm = QStringLiteral("--") + QLatin1String(known.longName);
    if (!known.shortName)
        return QStringLiteral("'%1[%2]%3'").arg(longForm, help, value);
    const QString shortForm = QStringLiteral("-") + QLatin1Char(known.shortName);
    return QStringLiteral("'(%1 %2)'{%1,%2}'[%3]%4'").arg(shortForm, longForm, help, value);
}

QString zshOptionEntries(const QList<Opt>& options)
{
    QStringList entries;
    for (const Opt id : options)
        entries << zshOptionEntry(cliOption(id));
    return entries.join(QLatin1Char(' '));
}

QString zshScript()
{
    QString commands;
    QString cases;
    for (const CliCommand* command : cliCommands()) {
        const QString name = QLatin1String(command->name);
        commands +=
            QStringLiteral("        '%1:%2'\n")
                .arg(
                    name,
                    oneLineHelp(command->summary).replace(QLatin1Char(':'), QStringLiteral("\\:")));
        QString operands;
        switch (operandsOf(*command)) {
        case Operands::Files:
            operands = command->maxOperands == 1
                           ? QStringLiteral("'1:file (- for standard input):_tarnavel_cli_file'")
                           : QStringLiteral("'*:file:_tarnavel_cli_file'");
            break;
        case Operands::Data:
            operands = QStringLiteral("'1:track data (- reads standard input):(-)'");
            break;
        case Operands::Commands:
            operands =
                QStringLiteral("'1:command:(%1)'").arg(commandNames().join(QLatin1Char(' ')));
            break;
        case Operands::Ports:
            operands =
                QStringLiteral("'1:action:(link unlink)' '2:port number:_tarnavel_cli_number' "
                               "'3:device:_tarnavel_cli_device'");
            break;
        case Operands::Words:
            if (!command->operandWords.isEmpty())
                operands =
                    QStringLiteral("'%1:argument:(%2)'")
                        .arg(command->maxOperands == 1 ? QStringLiteral("1") : QStringLiteral("*"),
                             command->operandWords.join(QLatin1Char(' ')));
            break;
        }
        cases += QStringLiteral("        %1) _arguments %2 %3 ;;\n")
                     .arg(name, zshOptionEntries(optionsOf(*command)), operands);
    }
    return QStringLiteral(
               "#compdef tarnavel-cli\n"
               "# zsh completion for tarnavel-cli, made by tarnavel-cli completion zsh\n"
               "_tarnavel_cli_links() {\n"
               "    local folder=$HOME/.config f\n"
               "    [[ $XDG_CONFIG_HOME == /* ]] && folder=$XDG_CONFIG_HOME\n"
               "    for f in $folder/quorvex-tarnavel/ports/com<->(N@); do print -r -- "
               "${f##*/com}; done\n"
               "}\n"
               "# 1 to 4 and every number linked in the ports folder, each once.\n"
               "_tarnavel_cli_numbers() {\n"
               "    local -aU numbers\n"
               "    numbers=(1 2 3 4 $(_tarnavel_cli_links))\n"
               "    print -rl -- ${(n)numbers}\n"
               "}\n"
               "_tarnavel_cli_devices() {\n"
               "    print -rl -- /dev/serial/by-id/*(N) /dev/ttyUSB*(N) /dev/ttyACM*(N) "
               "/dev/ttyS*(N) /dev/pts/<->(N)\n"
               "}\n"
               "_tarnavel_cli_port() {\n"
               "    local -a ports devices\n"
               "    local n\n"
               "    for n in $(_tarnavel_cli_numbers); do ports+=(COM$n); done\n"
               "    devices=($(_tarnavel_cli_devices))\n"
               "    _alternative 'ports:COM port:compadd -a ports' 'devices:device:compadd -a "
               "devices'\n"
               "}\n"
               "_tarnavel_cli_file() {\n"
               "    _alternative 'stdin:standard input:(-)' 'files:file:_files'\n"
               "}\n"
               "_tarnavel_cli_number() {\n"
               "    local -a numbers\n"
               "    if [[ $words[2] == unlink ]]; then numbers=($(_tarnavel_cli_links))\n"
               "    else numbers=($(_tarnavel_cli_numbers)); fi\n"
               "    _wanted numbers expl 'port number' compadd -a numbers\n"
               "}\n"
               "_tarnavel_cli_device() {\n"
               "    [[ $words[2] == link ]] || return 1\n"
               "    local -a devices\n"
               "    devices=($(_tarnavel_cli_devices))\n"
               "    _wanted devices expl device compadd -a devices\n"
               "}\n"
               "_tarnavel_cli() {\n"
               "    local curcontext=$curcontext state line\n"
               "    local -a commands\n"
               "    commands=(\n"
               "%1"
               "    )\n"
               "    _arguments -C %2 '1:command:->command' '*::argument:->argument'\n"
               "    case $state in\n"
               "    command) _describe command commands ;;\n"
               "    argument)\n"
               "        curcontext=${curcontext%:*:*}:tarnavel-cli-$words[1]:\n"
               "        case $words[1] in\n"
               "%3"
               "        esac ;;\n"
               "    esac\n"
               "}\n"
               "_tarnavel_cli \"$@\"\n")
        .arg(commands, zshOptionEntries(optionsBefore()), cases);
}

QString fishScript()
{
    QStringList valueWords;
    for (const Opt id : valueOptions())
        valueWords << optionWords({id});
    QString text =
        QStringLiteral(
            "# fish completion for tarnavel-cli, made by tarnavel-cli completion fish\n"
            "complete -c tarnavel-cli -f\n"
            "# The command and its operands typed so far: options and their values left out.\n"
            "function __tarnavel_cli_words\n"
            "    set -l words (commandline -opc)\n"
            "    set -e words[1]\n"
            "    set -l skip 0\n"
            "    set -l ended 0\n"
            "    for word in $words\n"
            "        if test $skip = 1\n"
            "            set skip 0\n"
            "            continue\n"
            "        end\n"
            "        if test $ended = 0\n"
            "            if test \"$word\" = --\n"
            "                set ended 1\n"
            "                continue\n"
            "            end\n"
            "            if contains -- $word %1\n"
            "                set skip 1\n"
            "                continue\n"
            "            end\n"
            "            if string match -q -- '-?*' $word\n"
            "                continue\n"
            "            end\n"
            "        end\n"
            "        printf '%s\\n' $word\n"
            "    end\n"
            "end\n"
            "# True when the command is one of those given (none given: no command yet) and, with\n"
            "# -n N, it has N operands so far.\n"
            "function __tarnavel_cli_at\n"
            "    argparse 'n=' -- $argv\n"
            "    set -l words (__tarnavel_cli_words)\n"
            "    if test (count $argv) -eq 0\n"
            "        test (count $words) -eq 0\n"
            "        return\n"
            "    end\n"
            "    test (count $words) -gt 0; and contains -- $words[1] $argv; or return 1\n"
            "    set -q _flag_n; or return 0\n"
            "    test (math (count $words) - 1) -eq $_flag_n\n"
            "end\n"
            "function __tarnavel_cli_operand\n"
            "    set -l words (__tarnavel_cli_words)\n"
            "    printf '%s\\n' $words[$argv[1]]\n"
            "end\n"
            "function __tarnavel_cli_links\n"
            "    set -l folder $HOME/.config\n"
            "    string match -q -- '/*' \"$XDG_CONFIG_HOME\"; and set folder $XDG_CONFIG_HOME\n"
            "    for f in $folder/quorvex-tarnavel/ports/com*\n"
            "        test -L $f; and string match -r -- '(?<=/com)[0-9]+$' $f\n"
            "    end\n"
            "end\n"
            "# 1 to 4 and every number linked in the ports folder, each once.\n"
            "function __tarnavel_cli_numbers\n"
            "    printf '%s\\n' 1 2 3 4 (__tarnavel_cli_links) | sort -nu\n"
            "end\n"
            "function __tarnavel_cli_devices\n"
            "    for f in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*\n"
            "        test -e $f; and printf '%s\\n' $f\n"
            "    end\n"
            "    string match -r -- '^/dev/pts/[0-9]+$' /dev/pts/*\n"
            "end\n")
            .arg(valueWords.join(QLatin1Char(' ')));
    const QString none = QStringLiteral("__tarnavel_cli_at");
    for (const CliCommand* command : cliCommands()) {
        const QString name = QLatin1String(command->name);
        text += QStringLiteral("complete -c tarnavel-cli -n %1 -a %2 -d '%3'\n")
                    .arg(none, name, oneLineHelp(command->summary));
        const QString at = QStringLiteral("'__tarnavel_cli_at %1").arg(name);
        const QString first =
            command->maxOperands == 1 ? at + QStringLiteral(" -n 0'") : at + QLatin1Char('\'');
        switch (operandsOf(*command)) {
        case Operands::Files:
            text += QStringLiteral("complete -c tarnavel-cli -n %1 -F -a -\n").arg(first);
            break;
        case Operands::Data:
            text += QStringLiteral("complete -c tarnavel-cli -n %1 -a - -d 'read standard "
                                   "input'\n")
                        .arg(first);
            break;
        case Operands::Commands:
            text += QStringLiteral("complete -c tarnavel-cli -n %1 -a '%2'\n")
                        .arg(first, commandNames().join(QLatin1Char(' ')));
            break;
        case Operands::Ports:
            text += QStringLiteral(
                        "complete -c tarnavel-cli -n %1 -n 0' -a 'link unlink'\n"
                        "complete -c tarnavel-cli -n %1 -n 1; and test (__tarnavel_cli_operand 2) "
                        "= link' -a '(__tarnavel_cli_numbers)'\n"
                        "complete -c tarnavel-cli -n %1 -n 1; and test (__tarnavel_cli_operand 2) "
                        "= unlink' -a '(__tarnavel_cli_links)'\n"
                        "complete -c tarnavel-cli -n %1 -n 2; and test (__tarnavel_cli_operand 2) "
                        "= link' -a '(__tarnavel_cli_devices)'\n")
                        .arg(at);
            break;
        case Operands::Words:
            if (!command->operandWords.isEmpty())
                text += QStringLiteral("complete -c tarnavel-cli -n %1 -a '%2'\n")
                            .arg(first, command->operandWords.join(QLatin1Char(' ')));
            break;
        }
    }
    for (const CliOption& known : cliOptions()) {
        // Before the command every option; after it, those of the commands that take it.
        QStringList takers;
        for (const CliCommand* command : cliCommands()) {
            if (optionsOf(*command).contains(known.id))
                takers << QLatin1String(command->name);
        }
        QString line = QStringLiteral("complete -c tarnavel-cli -n '__tarnavel_cli_at");
        if (!takers.isEmpty())
            line += QStringLiteral("; or __tarnavel_cli_at ") + takers.join(QLatin1Char(' '));
        line += QStringLiteral("' -l %1").arg(QLatin1String(known.longName));
        if (known.shortName)
            line += QStringLiteral(" -s %1").arg(QLatin1Char(known.shortName));
        if (known.id == Opt::Method)
            line += QStringLiteral(" -x -a '%1'").arg(methodWords().join(QLatin1Char(' ')));
        else if (known.id == Opt::Port)
            line += QStringLiteral(" -x -a '(printf \"COM%s\\n\" (__tarnavel_cli_numbers)) "
                                   "(__tarnavel_cli_devices)'");
        else if (known.id == Opt::Results || known.id == Opt::Resume || known.id == Opt::NotIn)
            line += QStringLiteral(" -r -F");
        else if (known.valueName)
            line += QStringLiteral(" -x");
        text += line + QStringLiteral(" -d '%1'\n").arg(oneLineHelp(known.help));
    }
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
