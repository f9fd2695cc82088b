#pragma once

#include <QString>

struct CliCommand;

// tarnavel-cli's help and version, made from the command and option tables.
QString programHelp();
// Without a command: the synopsis and the commands, and where the rest is.
QString shortHelp();
QString commandHelp(const CliCommand& command);
QString versionText();
