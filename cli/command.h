#pragma once

#include "cli/cliargs.h"
#include "cli/console.h"
#include "platform/interrupts.h"

#include <QList>
#include <QString>

// What a command runs with: the parsed command line, the terminal and the signals, and how it
// failed, for the JSON outcome.
struct CliContext {
    CliArgs args;
    Interrupts interrupts;
    Console console{&interrupts};
    // The arguments as given, for advice that repeats the command line.
    QStringList arguments;

    struct Failure {
        int status = 0;
        QString code;
        QString message;
    } failure;
    // The command printed its outcome's JSON object itself.
    bool jsonPrinted = false;

    // Tells the failure on standard error (unless told already) and keeps it for --json;
    // returns the exit status its code stands for.
    int fail(const QString& code, const QString& message, bool told = false);
    // A usage error, with the pointer to --help.
    int usage(const QString& message);
    // The exit status of a failure code: 1 usage, 2 port, 3 no reply, 4 reader, 5 data,
    // 6 mismatch, 7 results, 128+n signal n.
    int statusOf(const QString& code) const;
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
extern const CliCommand kResetCommand;
extern const CliCommand kLedCommand;
extern const CliCommand kDecodeCommand;
extern const CliCommand kPortsCommand;
extern const CliCommand kDoctorCommand;
extern const CliCommand kHelpCommand;
extern const CliCommand kCompletionCommand;
