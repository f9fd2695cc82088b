#pragma once

#include <QString>

// The completion script for "bash", "zsh" or "fish", made from the command and option tables;
// empty for another shell.
QString completionScript(const QString& shell);
