#pragma once

#include <QStringList>

struct CliEnvironment;

// Runs tarnavel-cli with the arguments after the program name on the environment given;
// returns the exit status. Needs a QCoreApplication.
int runCli(const CliEnvironment& environment, const QStringList& arguments);

// From now on until a command takes signals as events, SIGINT, SIGTERM and SIGHUP end the
// program at once with its message and 128 + the signal's number. main() calls it first.
void endOnSignals();
