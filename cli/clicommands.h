#pragma once

#include <QStringList>

struct CliEnvironment;

// Runs tarnavel-cli with the arguments after the program name on the environment given;
// returns the exit status. Needs a QCoreApplication.
int runCli(const CliEnvironment& environment, const QStringList& arguments);
