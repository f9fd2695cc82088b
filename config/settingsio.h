#pragma once

#include "platform/settingsstore.h"

#include <QString>

struct AppSettings;

// The per-user key of the settings, relative to the current user's root:
// "Software\Quorvex\Quorvex Tarnavel\".
QString settingsKeyPath();

// Overwrites each field whose value the store holds under keyPath (current user's root) with
// that value's leading number; a missing, empty, unsupported or out-of-range value leaves the
// field as it is. Returns the store's readFailure(): why what it read may not be the user's
// settings (cause None when it is, and where there is no store yet). The window's design reads
// on regardless; a front end that must not fall back to the defaults stops on it.
store::Failure LoadSettings(AppSettings& settings, ISettingsStore& store, const QString& keyPath);

// Writes all seven fields as REG_DWORD values, creating the key when needed, in one batch of
// the store (all seven or none). It reports nothing itself: it returns why the store did not
// keep them (cause None when it did), and the record keeps its values for the rest of the run.
store::Failure SaveSettings(const AppSettings& settings, ISettingsStore& store,
                            const QString& keyPath);

// "the settings file F cannot be used: the cause", for a failure LoadSettings returned.
QString loadFailureText(const store::Failure& failure);

// What the operator is told when a save failed: the file, the cause, and what becomes of the
// new values.
QString saveFailureText(const store::Failure& failure);
