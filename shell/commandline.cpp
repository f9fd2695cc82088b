#include "shell/commandline.h"

#include "platform/version.h"

#include <QStringList>

#include <cstring>

QString commandLineText(int argc, char* argv[])
{
    QStringList parts;
    for (int i = 1; i < argc; ++i)
        parts << QString::fromLocal8Bit(argv[i]);
    return parts.join(QLatin1Char(' '));
}

bool isDemoSwitch(const QString& commandLine)
{
    QString text = commandLine.toLower();
    // Only blanks surround the switch; a tab or other text makes it something else.
    while (text.startsWith(QLatin1Char(' ')))
        text.remove(0, 1);
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text == QStringLiteral("-d");
}

EarlyRequest earlyRequest(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return EarlyRequest::Help;
        if (std::strcmp(argv[i], "--version") == 0)
            return EarlyRequest::Version;
    }
    return EarlyRequest::None;
}

QString programHelpText()
{
    return QStringLiteral(
        "Usage: quorvex-tarnavel [-d]\n"
        "       quorvex-tarnavel --help | --version\n"
        "\n"
        "Reads and writes the magnetic stripe of cards through a BANQUE-TEC BT904/BT905\n"
        "card reader/writer, or a compatible one, on a serial port.\n"
        "\n"
        "Options:\n"
        "  -d           demonstration mode: the link comes up without asking the reader\n"
        "               for its version (only when it is the whole command line)\n"
        "  --help       show this text and exit\n"
        "  --version    show the version and exit\n"
        "Any other argument is ignored.\n"
        "\n"
        "The reader is on COMn (Settings > Options, COM1 by default): the device that\n"
        "~/.config/quorvex-tarnavel/ports/comN links to, otherwise /dev/ttyS(n-1).\n"
        "Point COM1 at a USB serial adapter with:\n"
        "  tarnavel-cli ports link 1 /dev/serial/by-id/...\n"
        "and join the dialout group to use the port: sudo adduser $USER dialout\n"
        "\n"
        "Files ($XDG_CONFIG_HOME instead of ~/.config when it is set):\n"
        "  ~/.config/quorvex-tarnavel/user.reg   the settings\n"
        "  ~/.config/quorvex-tarnavel/ports/     the COMn links\n"
        "\n"
        "Exit status: 0 when the window has been closed, or after --help or --version.\n"
        "Errors while the window is open are shown in message boxes.\n"
        "See quorvex-tarnavel(1).\n");
}

QString programVersionText()
{
    const VersionInfo info = appVersionInfo();
    return QStringLiteral("quorvex-tarnavel (%1) %2\n%3\n")
        .arg(info.title, versionNumber(), info.legalCopyright);
}
