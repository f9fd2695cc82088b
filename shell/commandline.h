#pragma once

#include <QString>

// The command-line text after the program's name, as one string: the arguments joined by
// single blanks (Qt's own arguments are expected to be removed already).
QString commandLineText(int argc, char* argv[]);
