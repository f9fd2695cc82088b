#pragma once

#include <QString>

struct CliCommand;

// tarnavel-cli's help, version and shell completions, all made from the command and option
// tables.
QString programHelp();
QString commandHelp(const CliCommand& command);
QString versionText();
// The completion script for "bash", "zsh" or "fish"; empty for another shell.
QString completionScript(const QString& shell);
