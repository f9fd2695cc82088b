#include "cli/cliargs.h"

#include "config/version.h"

namespace {

struct OptionInfo {
    const char* longName;
    char shortName; // 0: none
    bool takesValue;
    // The commands that take it, blank-separated; nullptr: every command.
    const char* commands;
};

const OptionInfo kOptions[] = {
    {"port", 'p', true, nullptr},
    {"settings", 's', true, nullptr},
    {"timeout", 't', true, nullptr},
    {"trace", 0, false, nullptr},
    {"json", 0, false, nullptr},
    {"reveal", 0, false, nullptr},
    {"help", 'h', false, nullptr},
    {"version", 'V', false, nullptr},
    {"method", 'm', true, "read write verify batch"},
    {"decode", 0, false, "read"},
    {"yes", 'y', false, "write verify batch"},
    {"verify", 0, false, "batch"},
    {"keep-going", 'k', false, "batch"},
    {"start", 0, true, "batch"},
    {"force", 0, false, "ports"},
};

const char* const kCommands[] = {"version", "read", "write",  "verify", "batch",
                                 "reset",   "led",  "decode", "ports",  "help"};

const OptionInfo* findLong(const QString& name)
{
    for (const OptionInfo& known : kOptions) {
        if (name == QLatin1String(known.longName))
            return &known;
    }
    return nullptr;
}

const OptionInfo* findShort(QChar name)
{
    for (const OptionInfo& known : kOptions) {
        if (known.shortName != 0 && name == QLatin1Char(known.shortName))
            return &known;
    }
    return nullptr;
}

void store(const OptionInfo& known, const QString& value, CliArgs* args)
{
    const QLatin1String name(known.longName);
    if (name == QLatin1String("port"))
        args->port = value;
    else if (name == QLatin1String("settings"))
        args->settings = value;
    else if (name == QLatin1String("timeout"))
        args->timeout = value;
    else if (name == QLatin1String("method"))
        args->method = value;
    else if (name == QLatin1String("start"))
        args->start = value;
    else if (name == QLatin1String("trace"))
        args->trace = true;
    else if (name == QLatin1String("json"))
        args->json = true;
    else if (name == QLatin1String("reveal"))
        args->reveal = true;
    else if (name == QLatin1String("decode"))
        args->decode = true;
    else if (name == QLatin1String("yes"))
        args->yes = true;
    else if (name == QLatin1String("verify"))
        args->verify = true;
    else if (name == QLatin1String("keep-going"))
        args->keepGoing = true;
    else if (name == QLatin1String("force"))
        args->force = true;
    else if (name == QLatin1String("help"))
        args->help = true;
    else if (name == QLatin1String("version"))
        args->version = true;
}

QString exitStatusText()
{
    return QStringLiteral(
        "Exit status:\n"
        "  0    success\n"
        "  1    usage error: unknown command or option, bad value, a card method the\n"
        "       reader does not offer, a ports-folder change refused\n"
        "  2    the port could not be opened, or the reader was disconnected\n"
        "  3    no reply, or no swipe, within the time-out\n"
        "  4    the reader reported an error status (its text is shown)\n"
        "  5    data rejected by the check, format warning declined, or not decodable\n"
        "  6    verify: the card read back differs from the data written\n"
        "  130  interrupted (Ctrl+C)\n");
}

QString commonOptionsText()
{
    return QStringLiteral(
        "  -p, --port PORT      COMn (the link comN in the ports folder, else /dev/ttyS(n-1))\n"
        "                       or a device path such as /dev/ttyUSB0\n"
        "  -s, --settings TEXT  line settings \"speed,parity,data bits,stop bits\" such as\n"
        "                       9600,e,7,1 (parity e, o or n)\n"
        "  -t, --timeout SECS   time-out for each reply and for the swipe, 0 to 32767\n"
        "      --json           machine-readable output, one JSON object a line\n"
        "      --trace          show every frame on standard error (track data as its\n"
        "                       length)\n"
        "      --reveal         show card data in traces, decoded fields and batch results\n"
        "  -h, --help           show this help\n");
}

} // namespace

bool isCliCommand(const QString& name)
{
    for (const char* command : kCommands) {
        if (name == QLatin1String(command))
            return true;
    }
    return false;
}

bool parseCliArgs(const QStringList& arguments, CliArgs* parsed, QString* error)
{
    CliArgs args;
    QList<const OptionInfo*> given;
    bool optionsEnded = false;
    auto operand = [&](const QString& word) {
        if (args.command.isEmpty())
            args.command = word;
        else
            args.operands << word;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            operand(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg.startsWith(QLatin1String("--"))) {
            const qsizetype equals = arg.indexOf(QLatin1Char('='));
            const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
            const OptionInfo* known = findLong(name);
            if (!known) {
                *error = QStringLiteral("unknown option --%1").arg(name);
                return false;
            }
            QString value;
            if (known->takesValue) {
                if (equals >= 0) {
                    value = arg.mid(equals + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments.at(++i);
                } else {
                    *error = QStringLiteral("option --%1 needs a value").arg(name);
                    return false;
                }
            } else if (equals >= 0) {
                *error = QStringLiteral("option --%1 takes no value").arg(name);
                return false;
            }
            store(*known, value, &args);
            given << known;
            continue;
        }
        // Short options, several flags may share one dash; a value may follow at once.
        for (qsizetype at = 1; at < arg.size(); ++at) {
            const OptionInfo* known = findShort(arg.at(at));
            if (!known) {
                *error = QStringLiteral("unknown option -%1").arg(arg.at(at));
                return false;
            }
            QString value;
            if (known->takesValue) {
                if (at + 1 < arg.size()) {
                    value = arg.mid(at + 1);
                } else if (i + 1 < arguments.size()) {
                    value = arguments.at(++i);
                } else {
                    *error = QStringLiteral("option -%1 needs a value").arg(arg.at(at));
                    return false;
                }
                store(*known, value, &args);
                given << known;
                break;
            }
            store(*known, value, &args);
            given << known;
        }
    }
    if (!args.command.isEmpty() && !isCliCommand(args.command)) {
        *error = QStringLiteral("unknown command \"%1\"").arg(args.command);
        return false;
    }
    if (!args.help && !args.command.isEmpty()) {
        for (const OptionInfo* known : std::as_const(given)) {
            if (!known->commands)
                continue;
            const QStringList takers = QString::fromLatin1(known->commands).split(QLatin1Char(' '));
            if (!takers.contains(args.command)) {
                *error = QStringLiteral("the %1 command takes no --%2")
                             .arg(args.command, QLatin1String(known->longName));
                return false;
            }
        }
    }
    *parsed = args;
    return true;
}

QString versionText()
{
    return QStringLiteral("tarnavel-cli %1\n").arg(versionNumber());
}

QString programHelp()
{
    return QStringLiteral(
               "Usage: tarnavel-cli [OPTIONS] COMMAND [ARGS]\n"
               "\n"
               "Reads, writes and checks magnetic-stripe cards through a BANQUE-TEC\n"
               "BT904/BT905-class card reader/writer on a serial port, from a terminal or a\n"
               "script. Track data goes to standard output; messages and prompts go to\n"
               "standard error. Questions are asked only when standard input is a terminal;\n"
               "otherwise the safe answer is taken (no retry, no confirmation).\n"
               "\n"
               "Commands:\n"
               "  version                   the reader type and the card methods it offers\n"
               "  read [-m METHOD] [--decode]\n"
               "                            arm, wait for a swipe, print the track data\n"
               "  write [-m METHOD] [--yes] DATA|-\n"
               "                            check and pad the data, load it, wait for the swipe\n"
               "  verify [-m METHOD] [--yes] DATA|-\n"
               "                            write, then read the same card back and compare\n"
               "  batch [-m METHOD] [--verify] [--keep-going] [--start N] [--yes] FILE|-\n"
               "                            write (and verify) one card for each line of FILE\n"
               "  reset                     make the reader abandon what it is doing\n"
               "  led off|green|red|yellow...\n"
               "                            switch the lamps, in the order given\n"
               "  decode [DATA|-]           decode ISO/IEC 7813 track 1 or 2 data (no reader)\n"
               "  ports [link [--force] N DEVICE | unlink N]\n"
               "                            list serial devices and COMn links; make or remove\n"
               "                            a link\n"
               "  help [COMMAND]            this text, or a command's\n"
               "\n"
               "Options:\n") +
           commonOptionsText() +
           QStringLiteral(
               "  -V, --version        show the program's version\n"
               "  -m, --method METHOD  card method: 0 to 4, or iso1 (ISO on Track 1), iso2 (ISO\n"
               "                       on Track 2), iso3 (ISO on Track 3), ibm (IBM 4700 on\n"
               "                       Track 2), iso1t3 (Track 1 ISO on Track 3)\n"
               "\n"
               "The defaults are the settings the Quorvex Tarnavel window stores in\n"
               "~/.config/quorvex-tarnavel/user.reg (port, line settings, time-out, default\n"
               "card method); options override them for one run and are never saved.\n"
               "\n") +
           exitStatusText() +
           QStringLiteral("\n"
                          "\"tarnavel-cli COMMAND --help\" explains a command; the manual page\n"
                          "tarnavel-cli(1) has examples.\n");
}

QString commandHelp(const QString& command)
{
    QString usage;
    QString text;
    QString options;
    if (command == QLatin1String("version")) {
        usage = QStringLiteral("version");
        text = QStringLiteral(
            "Asks the reader for its type and lists the card methods it offers. With --json:\n"
            "{\"reader_type\": 8, \"port\": \"COM1\", \"device\": \"/dev/ttyUSB0\", \"methods\": "
            "[...]}\n");
    } else if (command == QLatin1String("read")) {
        usage = QStringLiteral("read [-m METHOD] [--decode]");
        text = QStringLiteral(
            "Arms the reader, waits for a card to be swiped and prints its track data exactly\n"
            "as the reader returned it (one byte a character), followed by a newline.\n"
            "--decode adds the ISO/IEC 7813 fields (see decode). With --json:\n"
            "{\"method\": 1, \"method_name\": \"ISO on Track 2\", \"data\": \"...\"}, with\n"
            "\"decoded\": {...} after --decode.\n");
        options = QStringLiteral("  -m, --method METHOD  card method (default: the stored one)\n"
                                 "      --decode         decode the track as well\n");
    } else if (command == QLatin1String("write") || command == QLatin1String("verify")) {
        const bool verify = command == QLatin1String("verify");
        usage = command + QStringLiteral(" [-m METHOD] [--yes] DATA|-");
        text = QStringLiteral(
            "Checks the data as the window does (ISO on Track 1: characters from space to _;\n"
            "ISO on Tracks 2 and 3: 0-9 : ; < = > ?) and pads it with \"0\" to the track\n"
            "length, loads it into the reader, arms it and waits for the card to be swiped.\n"
            "An invalid character exits 5, naming the character and its position. Methods\n"
            "ibm and iso1t3 cannot be checked: their warning is a question on a terminal and\n"
            "needs --yes otherwise. DATA - reads the data from standard input (one trailing\n"
            "newline removed). With --json: {\"method\": 1, \"method_name\": \"ISO on Track 2\",\n"
            "\"result\": \"written\"} (\"verified\", or \"failed\" with \"error\").\n");
        if (verify)
            text += QStringLiteral(
                "Then asks for the same card again, reads it with the method's read command\n"
                "and compares it with the data written: a difference exits 6, naming the first\n"
                "position that differs.\n");
        options = QStringLiteral("  -m, --method METHOD  card method (default: the stored one)\n"
                                 "  -y, --yes            write ibm and iso1t3 data unchecked\n");
    } else if (command == QLatin1String("batch")) {
        usage = QStringLiteral("batch [-m METHOD] [--verify] [--keep-going] [--start N] [--yes] "
                               "FILE|-");
        text = QStringLiteral(
            "Writes one card for each line of FILE (- reads standard input): plain track data\n"
            "for the method, or a JSON object such as {\"method\": \"iso1\", \"data\": \"...\"}.\n"
            "Blank lines and lines starting with # are skipped. For each card \"Card k of n:\n"
            "swipe ...\" goes to standard error and one JSON line to standard output:\n"
            "{\"index\": k, \"result\": \"written\"} (or \"verified\", or \"failed\" with "
            "\"error\");\n"
            "card data only with --reveal. The batch stops at the first failure (its exit\n"
            "status is the batch's) unless --keep-going; --start N resumes at card N.\n"
            "Ctrl+C resets the reader, finishes the line of the card in hand and exits 130.\n"
            "A summary goes to standard error at the end.\n");
        options = QStringLiteral(
            "  -m, --method METHOD  card method of plain lines (default: the stored one)\n"
            "      --verify         read each card back and compare\n"
            "  -k, --keep-going     go on after a failed card\n"
            "      --start N        begin with card N (1 is the first)\n"
            "  -y, --yes            write ibm and iso1t3 data unchecked\n");
    } else if (command == QLatin1String("reset")) {
        usage = QStringLiteral("reset");
        text = QStringLiteral("Checks that the reader answers, then sends the reset command: the\n"
                              "reader abandons an armed swipe and drops data loaded for one.\n");
    } else if (command == QLatin1String("led")) {
        usage = QStringLiteral("led off|green|red|yellow...");
        text = QStringLiteral(
            "Sends the lamp commands in the order given: green, red and yellow light their\n"
            "lamp, off puts every lamp out. Example: tarnavel-cli led off green\n");
    } else if (command == QLatin1String("decode")) {
        usage = QStringLiteral("decode [--reveal] [DATA|-]");
        text = QStringLiteral(
            "Decodes ISO/IEC 7813 track data without a reader: track 1 format B (%B...?) and\n"
            "track 2 (;...=...?), with their sentinels or without both (B...^...^... and\n"
            "...=..., as many readers return them); \"0\" padding after an end sentinel is\n"
            "allowed. Shows the account number masked (first 6 and last 4 digits) with its\n"
            "Luhn check, the name (track 1), the expiry as YYYY-MM, the service code with the\n"
            "meaning of each digit and the length of the discretionary data. --reveal shows\n"
            "the whole account number and the discretionary data. Other data is reported as\n"
            "not decodable (exit 5), never guessed. Without DATA (or with -) each line of\n"
            "standard input is decoded. With --json: {\"track\": 2, \"pan\": "
            "\"411111******1111\",\n"
            "\"luhn_ok\": true, \"expiry\": \"2025-12\", \"service_code\": \"101\", ...}.\n");
    } else if (command == QLatin1String("ports")) {
        usage = QStringLiteral("ports [link [--force] N DEVICE | unlink N]");
        text = QStringLiteral(
            "Lists the serial devices (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*,\n"
            "/dev/serial/by-id/*) and the COMn links of the ports folder\n"
            "(~/.config/quorvex-tarnavel/ports) with where each points.\n"
            "link N DEVICE makes COMN stand for DEVICE, a serial line (the link comN is\n"
            "replaced in one step; a file that is not a link is never replaced). unlink N\n"
            "removes the link comN. Prefer the stable /dev/serial/by-id name of a USB adapter.\n"
            "The folder must be yours and writable by you alone, as must the configuration\n"
            "folder above it; link makes both private (0700). A folder that cannot be read or\n"
            "trusted exits 2. A link to a pseudo-terminal opens only while the tarnavel-sim\n"
            "that made it runs; link refuses a pseudo-terminal, and a number a running\n"
            "tarnavel-sim holds, unless --force.\n");
        options = QStringLiteral("      --force          link a pseudo-terminal, or take the "
                                 "number from a\n"
                                 "                       running tarnavel-sim\n");
    } else if (command == QLatin1String("help")) {
        usage = QStringLiteral("help [COMMAND]");
        text = QStringLiteral("Shows the program's help, or a command's.\n");
    } else {
        return QString();
    }
    return QStringLiteral("Usage: tarnavel-cli [OPTIONS] ") + usage + QStringLiteral("\n\n") +
           text + QStringLiteral("\nOptions:\n") + options + commonOptionsText() +
           QStringLiteral("\n") + exitStatusText();
}
