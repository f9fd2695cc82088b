#include "cli/help.h"

#include "cli/command.h"
#include "platform/fsutil.h"
#include "platform/paths.h"
#include "platform/version.h"

#include <QDir>
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

QString exitStatusText()
{
    return QStringLiteral(
        "Exit status:\n"
        "  0    success\n"
        "  1    usage error: unknown command or option, bad value; or nothing was done\n"
        "       since a card method the reader does not offer, a batch file that does not\n"
        "       check, input beyond its limit or a ports-folder change was refused\n"
        "  2    the port could not be opened, or the reader was disconnected; ports: the\n"
        "       ports folder cannot be read or trusted\n"
        "  3    no reply, or no swipe, within the time-out\n"
        "  4    the reader reported an error status (its text is shown)\n"
        "  5    data rejected by the check, format warning declined, not decodable,\n"
        "       or cards of a job that cannot be told apart\n"
        "  6    verify, compare: the card read back differs from the data expected\n"
        "  7    standard output or batch's results could not be written, or the results\n"
        "       file cannot be used; report: a card is in doubt\n"
        "  8    the stored settings cannot be read or used; no port was touched\n"
        "  129, 130, 143  ended by SIGHUP, SIGINT (Ctrl+C) or SIGTERM\n");
}

// The configuration folder as it really is for this user, "~/..." under the home folder.
QString shownConfigFolder()
{
    const QString folder = configDirectory();
    const QString home = QDir::homePath();
    if (folder.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + folder.mid(home.size());
    return folder;
}

// Help texts name the usual folder; where XDG_CONFIG_HOME moves it, they name the real one.
QString withConfigFolder(QString text)
{
    const QString folder = shownConfigFolder();
    if (!folder.isEmpty())
        text.replace(QStringLiteral("~/.config/quorvex-tarnavel"), fsutil::printable(folder));
    return text;
}

QString usageOf(const CliCommand& command)
{
    QString usage = QLatin1String(command.name);
    if (command.usage && *command.usage)
        usage += QLatin1Char(' ') + QLatin1String(command.usage);
    return usage;
}

QString commandList()
{
    QString commands;
    for (const CliCommand* command : cliCommands())
        commands += entry(QStringLiteral("  ") + usageOf(*command),
                          QString::fromLatin1(command->summary), kCommandColumn);
    return commands;
}

} // namespace

QString versionText()
{
    return QStringLiteral("tarnavel-cli %1\n").arg(versionNumber());
}

QString programHelp()
{
    return withConfigFolder(
        QStringLiteral(
            "Usage: tarnavel-cli [OPTIONS] COMMAND [ARGS]\n"
            "\n"
            "Reads, writes and checks magnetic-stripe cards through a BANQUE-TEC\n"
            "BT904/BT905-class card reader/writer on a serial port, from a terminal or a\n"
            "script. Track data goes to standard output; messages and prompts go to\n"
            "standard error. Questions are asked only when standard input is a terminal;\n"
            "otherwise the safe answer is taken (no retry, no confirmation).\n"
            "\n"
            "Commands:\n") +
        commandList() + QStringLiteral("\nOptions:\n") + optionLines(globalOptions(true)) +
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
                       "tarnavel-cli(1) has examples and the error codes of --json.\n"));
}

QString shortHelp()
{
    return QStringLiteral("Usage: tarnavel-cli [OPTIONS] COMMAND [ARGS]\n\nCommands:\n") +
           commandList() +
           QStringLiteral("\n\"tarnavel-cli --help\" shows the options and the exit statuses,\n"
                          "\"tarnavel-cli COMMAND --help\" explains a command.\n");
}

QString commandHelp(const CliCommand& command)
{
    return QStringLiteral("Usage: tarnavel-cli [OPTIONS] ") + usageOf(command) +
           QStringLiteral("\n\n") + withConfigFolder(QString::fromLatin1(command.help)) +
           QStringLiteral("\nOptions:\n") + optionLines(command.options) +
           optionLines(command.globals) + QStringLiteral("\n") + exitStatusText();
}
