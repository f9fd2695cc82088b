#include "cli/cliargs.h"

#include "cli/command.h"

namespace {

const CliOption* findLong(const QString& name)
{
    for (const CliOption& known : cliOptions()) {
        if (name == QLatin1String(known.longName))
            return &known;
    }
    return nullptr;
}

const CliOption* findShort(QChar name)
{
    for (const CliOption& known : cliOptions()) {
        if (known.shortName != 0 && name == QLatin1Char(known.shortName))
            return &known;
    }
    return nullptr;
}

// Ports, settings and time-outs are never meant to be empty: "-p ''" is a slip, not a choice.
bool mayBeEmpty(Opt id)
{
    return id != Opt::Port && id != Opt::Settings && id != Opt::Timeout && id != Opt::Method &&
           id != Opt::Results && id != Opt::Resume && id != Opt::NotIn && id != Opt::From &&
           id != Opt::Step && id != Opt::Count && id != Opt::Copies && id != Opt::Root;
}

} // namespace

const QList<CliOption>& cliOptions()
{
    static const QList<CliOption> options = {
        {Opt::Port, "port", 'p', "PORT",
         "COMn (the link comN in the ports folder, else /dev/ttyS(n-1))\n"
         "or a device path such as /dev/ttyUSB0",
         true},
        {Opt::Settings, "settings", 's', "TEXT",
         "line settings \"speed,parity,data bits,stop bits\" such as\n"
         "9600,e,7,1 (parity e, o or n)",
         true},
        {Opt::Timeout, "timeout", 't', "SECS",
         "time-out for each reply and for the swipe, 1 to 32767", true},
        {Opt::Json, "json", 0, nullptr,
         "machine-readable output: one JSON object for every outcome,\n"
         "failures included",
         true},
        {Opt::Trace, "trace", 0, nullptr,
         "show every frame on standard error (track data as its\nlength)", true},
        {Opt::Reveal, "reveal", 0, nullptr,
         "show card data in traces, decoded fields and batch results", true},
        {Opt::Help, "help", 'h', nullptr, "show this help", true},
        {Opt::Version, "version", 'V', nullptr, "show the program's version", true},
        {Opt::Method, "method", 'm', "METHOD",
         "card method: 0 to 4, or iso1 (ISO on Track 1), iso2 (ISO\n"
         "on Track 2), iso3 (ISO on Track 3), ibm (IBM 4700 on\n"
         "Track 2), iso1t3 (Track 1 ISO on Track 3); default: the\n"
         "stored one",
         false},
        {Opt::Decode, "decode", 0, nullptr, "decode the track as well", false},
        {Opt::Yes, "yes", 'y', nullptr, "write ibm and iso1t3 data unchecked", false},
        {Opt::AllowEmpty, "allow-empty", 0, nullptr,
         "write empty data (it erases the track: all \"0\")", false},
        {Opt::Verify, "verify", 0, nullptr, "read each card back and compare", false},
        {Opt::KeepGoing, "keep-going", 'k', nullptr,
         "go on after a failed card, and wait for a reader that\nwas disconnected", false},
        {Opt::Start, "start", 0, "N", "begin with card N (1 is the first)", false},
        {Opt::Results, "results", 0, "FILE",
         "append each card's progress and result to FILE, each\n"
         "line synced before the next card is armed",
         false},
        {Opt::Resume, "resume", 0, "FILE",
         "skip the cards FILE (an earlier --results) records as\n"
         "written; a card whose write was in flight is checked\n"
         "with one swipe first",
         false},
        {Opt::MaxFailures, "max-failures", 0, "N", "end the batch after N failed cards", false},
        {Opt::WaitReader, "wait-reader", 0, "SECS",
         "with --keep-going, how long to wait for a reader that\n"
         "was disconnected (default 300)",
         false},
        {Opt::Check, "check", 0, nullptr, "only check the file; no reader is needed", false},
        {Opt::Force, "force", 0, nullptr,
         "with ports link, take the number from a running\ntarnavel-sim", false},
        {Opt::AllowDuplicates, "allow-duplicates", 0, nullptr,
         "write cards that cannot be told apart, or that a --not-in\nfile records as written",
         false},
        {Opt::Template, "template", 0, "METHOD=TEXT",
         "track data for METHOD, one card after another: fixed\n"
         "text with {seq} or {seq:WIDTH} (the card's number),\n"
         "{luhn} (the check digit of the digits before it) and\n"
         "{COLUMN} (a CSV column); may be given again",
         false},
        {Opt::From, "from", 0, "N", "the first card's number (default 1)", false},
        {Opt::Step, "step", 0, "N", "what the number goes up by (default 1)", false},
        {Opt::Count, "count", 0, "N", "how many cards (without a CSV file)", false},
        {Opt::Csv, "csv", 0, nullptr,
         "CSV: batch's FILE is RFC 4180 CSV with a header row, a\ncard a row, mapped into "
         "tracks by --template; report\nwrites CSV",
         false},
        {Opt::Compare, "compare", 0, nullptr,
         "read each card and compare it with its line (a box of\ncards checked against its "
         "list); write nothing",
         false},
        {Opt::Copies, "copies", 'n', "N", "how many copies (default 1)", false},
        {Opt::NotIn, "not-in", 0, "FILE",
         "refuse cards that FILE (an earlier job's results)\nrecords as written; may be given "
         "again",
         false},
        {Opt::Install, "install", 0, nullptr,
         "with ports udev, as root: write the rule, have udev apply\n"
         "it, and link COMn to the stable name",
         false},
        {Opt::Root, "root", 0, "DIR",
         "read /sys, /dev, /proc, /run and /etc under DIR instead of\n"
         "/ (another system's files); no reader is talked to",
         false},
    };
    return options;
}

const CliOption& cliOption(Opt id)
{
    for (const CliOption& known : cliOptions()) {
        if (known.id == id)
            return known;
    }
    return cliOptions().constFirst();
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

namespace {

// A parse in progress: what has been taken so far; each step sets *error on a usage error.
struct Parse {
    const QStringList& arguments;
    QString* error;
    CliArgs args;
    QList<const CliOption*> given;

    bool take(const CliOption& known, const QString& value, const QString& shown)
    {
        if (known.valueName && value.isEmpty() && !mayBeEmpty(known.id)) {
            *error = QStringLiteral("option %1 needs a value that is not empty").arg(shown);
            return false;
        }
        args.given.insert(known.id, value);
        args.all[known.id].append(value);
        given << &known;
        return true;
    }

    // "--name", "--name=value" or "--name value" at *i, which ends at the last word taken.
    bool longOption(qsizetype* i)
    {
        const QString& arg = arguments.at(*i);
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const CliOption* known = findLong(name);
        if (!known) {
            *error = QStringLiteral("unknown option --%1").arg(name);
            return false;
        }
        QString value;
        if (known->valueName) {
            if (equals >= 0) {
                value = arg.mid(equals + 1);
            } else if (*i + 1 < arguments.size()) {
                value = arguments.at(++*i);
            } else {
                *error = QStringLiteral("option --%1 needs a value").arg(name);
                return false;
            }
        } else if (equals >= 0) {
            *error = QStringLiteral("option --%1 takes no value").arg(name);
            return false;
        }
        return take(*known, value, QStringLiteral("--") + name);
    }

    // Short options: several flags may share one dash; a value may follow at once.
    bool shortOptions(qsizetype* i)
    {
        const QString& arg = arguments.at(*i);
        for (qsizetype at = 1; at < arg.size(); ++at) {
            const CliOption* known = findShort(arg.at(at));
            if (!known) {
                *error = QStringLiteral("unknown option -%1").arg(arg.at(at));
                return false;
            }
            QString value;
            if (known->valueName) {
                if (at + 1 < arg.size()) {
                    value = arg.mid(at + 1);
                } else if (*i + 1 < arguments.size()) {
                    value = arguments.at(++*i);
                } else {
                    *error = QStringLiteral("option -%1 needs a value").arg(arg.at(at));
                    return false;
                }
                return take(*known, value, QStringLiteral("-") + arg.at(at));
            }
            if (!take(*known, value, QStringLiteral("-") + arg.at(at)))
                return false;
        }
        return true;
    }

    // The command is known and takes every option given (all of them with --help).
    bool checkCommand()
    {
        if (args.command.isEmpty())
            return true;
        const CliCommand* command = findCliCommand(args.command);
        if (!command) {
            *error = QStringLiteral("unknown command \"%1\"").arg(args.command);
            return false;
        }
        if (args.has(Opt::Help))
            return true;
        for (const CliOption* known : std::as_const(given)) {
            if (!known->global && !command->options.contains(known->id)) {
                *error = QStringLiteral("the %1 command takes no --%2")
                             .arg(args.command, QLatin1String(known->longName));
                return false;
            }
        }
        return true;
    }
};

} // namespace

bool parseCliArgs(const QStringList& arguments, CliArgs* parsed, QString* error)
{
    Parse parse{arguments, error, {}, {}};
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            if (parse.args.command.isEmpty())
                parse.args.command = arg;
            else
                parse.args.operands << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const bool taken =
            arg.startsWith(QLatin1String("--")) ? parse.longOption(&i) : parse.shortOptions(&i);
        if (!taken)
            return false;
    }
    if (!parse.checkCommand())
        return false;
    *parsed = parse.args;
    return true;
}
