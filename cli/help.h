#pragma once

#include <QString>

struct CliCommand;

// tarnavel-cli's help and version, made from the command and option tables.
QString programHelp();
QString commandHelp(const CliCommand& command);
QString versionText();
