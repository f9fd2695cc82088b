#pragma once

#include "cards/errorcode.h"
#include "cli/cliargs.h"
#include "cli/clienvironment.h"
#include "cli/console.h"

#include <QList>
#include <QString>

// What a command runs with: the environment, the parsed command line, the terminal and the
// signals, and how it failed, for the JSON outcome.
struct CliContext {
    explicit CliContext(const CliEnvironment& environment)
        : env(environment), interrupts(environment.interrupts),
          console(environment.streams, environment.interrupts)
    {
    }

    const CliEnvironment& env;
    CliArgs args;
    Interrupts& interrupts;
    Console console;
    // The arguments as given, for advice that repeats the command line.
    QStringList arguments;

    struct Failure {
        int status = 0; // 0: none yet
        ErrorCode code = ErrorCode::Usage;
        QString message;
    } failure;
    // The command printed its outcome's JSON object itself.
    bool jsonPrinted = false;

    // Tells the failure on standard error (unless told already) and keeps it for --json;
    // returns the exit status its code stands for.
    int fail(ErrorCode code, const QString& message, bool told = false);
    // A usage error, with the pointer to --help.
    int usage(const QString& message);
    // The exit status of a failure code; for Interrupted, 128 + the signal that came.
    int statusOf(ErrorCode code) const;
};

// One entry of the command table: parsing, help, completion and dispatch all come from it.
struct CliCommand {
    const char* name;
    const char* usage;   // what follows the name in a synopsis
    const char* summary; // one line of the program's help
    QList<Opt> options;  // taken beyond the global ones
    // Operand counts; maxOperands -1: no limit. A count outside them is a usage error with
    // operandError, or "<name> takes no argument ..." when there is none.
    int minOperands;
    int maxOperands;
    const char* operandError;
    // The command's own paragraph of help, before its options.
    const char* help;
    // Words completion offers for operands (lamp names, shells...).
    QStringList operandWords;
    int (*run)(CliContext&);
    // The options every command takes that mean something to this one: its help and
    // completion offer only these. A command without a reader has no use for -p, -s, -t.
    QList<Opt> globals = globalOptions(false);
};

// The command table, in the order help lists the commands.
const QList<const CliCommand*>& cliCommands();
const CliCommand* findCliCommand(const QString& name);

// Each command file's entry.
extern const CliCommand kVersionCommand;
extern const CliCommand kReadCommand;
extern const CliCommand kWriteCommand;
extern const CliCommand kVerifyCommand;
extern const CliCommand kBatchCommand;
extern const CliCommand kGenerateCommand;
extern const CliCommand kCompareCommand;
extern const CliCommand kCopyCommand;
extern const CliCommand kReportCommand;
extern const CliCommand kResetCommand;
extern const CliCommand kLedCommand;
extern const CliCommand kDecodeCommand;
extern const CliCommand kPortsCommand;
extern const CliCommand kDoctorCommand;
extern const CliCommand kHelpCommand;
extern const CliCommand kCompletionCommand;
