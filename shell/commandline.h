#pragma once

#include <QString>

// The command-line text after the program's name, as one string: the arguments joined by
// single blanks (Qt's own arguments are expected to be removed already).
QString commandLineText(int argc, char* argv[]);

// What the command line asks for before any window exists: --help or --version anywhere
// among the arguments (the first of them wins); None starts the program as usual.
enum class EarlyRequest { None, Help, Version };
EarlyRequest earlyRequest(int argc, char* argv[]);

// True when the command line after the program name is "-d" in any case, blanks around it.
bool isDemoSwitch(const QString& commandLine);

QString programHelpText();
QString programVersionText();
