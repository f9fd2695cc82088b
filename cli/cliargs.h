#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// Every option tarnavel-cli knows. Which commands take which is the command table's business.
enum class Opt {
    Port,
    Settings,
    Timeout,
    Trace,
    Json,
    Reveal,
    Help,
    Version,
    Method,
    Decode,
    Yes,
    AllowEmpty,
    Verify,
    KeepGoing,
    Start,
    Results,
    Resume,
    MaxFailures,
    WaitReader,
    Check,
    Force,
    AllowDuplicates,
    NotIn,
    Template,
    From,
    Step,
    Count,
    Csv,
    Compare,
    Copies,
    Install,
    Root,
};

struct CliOption {
    Opt id;
    const char* longName;
    char shortName;        // 0: none
    const char* valueName; // nullptr: a flag
    const char* help;      // lines after the first are indented under it
    bool global;           // taken by every command
};

// The option table, in the order help lists them.
const QList<CliOption>& cliOptions();
const CliOption& cliOption(Opt id);
// The options every command takes, in the table's order; --version only with withVersion.
QList<Opt> globalOptions(bool withVersion);

// The command line of tarnavel-cli: options may stand before or after the command; "--" ends
// them (for data that starts with "-").
struct CliArgs {
    QString command; // empty when none was given
    QStringList operands;
    QHash<Opt, QString> given;   // flags map to an empty text; the last value given
    QHash<Opt, QStringList> all; // every value given, for options that may be given again

    bool has(Opt option) const { return given.contains(option); }
    QString value(Opt option) const { return given.value(option); }
    QStringList values(Opt option) const { return all.value(option); }
};

// False with *error set on a usage error: an unknown command or option, a missing or empty
// value, an option the command does not take, a wrong number of operands.
bool parseCliArgs(const QStringList& arguments, CliArgs* parsed, QString* error);
