#pragma once

#include <QStringList>

// Runs tarnavel-cli with the arguments after the program name; returns the exit status.
// Needs a QCoreApplication.
int runCli(const QStringList& arguments);
