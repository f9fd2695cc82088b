#pragma once

#include <QString>

struct AppSettings;
class ReaderLink;

// Start-up initialisation: default settings, the settings key path, demonstration mode off.
// Returns the key path "Software\Quorvex\Quorvex Tarnavel\".
QString InitGlobals(AppSettings& settings, ReaderLink& link);

// The per-user key of the settings, relative to the current user's root.
QString settingsKeyPath();

// True when the command line after the program name is "-d" in any case, blanks around it.
bool isDemoSwitch(const QString& commandLine);
