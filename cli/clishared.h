#pragma once

#include "cli/cliargs.h"
#include "link/protocol/cardmethod.h"

#include <QString>

struct CliContext;
struct TrackDataCheck;

// Pieces several commands share.

// Track data given as an argument, or read from standard input for "-" (one trailing newline
// removed), within the limit of one track's line. Fails with a usage error.
int takeTrackData(CliContext& ctx, const QString& operand, QString* data);

// The failure of a write check: its code and one line saying what is wrong.
int refuseData(CliContext& ctx, const TrackDataCheck& check, CardMethodId method,
               const QString& data, const QString& where = QString());

QString uncheckedRefusal(CardMethodId method);

// write and verify: the data checked, written to one card and, for verify, read back.
int writeCard(CliContext& ctx, bool verify);

// An option's whole number from lowest to highest, left as it is when the option is not given;
// a usage error otherwise.
int wholeNumberOption(CliContext& ctx, Opt option, qint64 lowest, qint64 highest, qint64* value);
// The same for an int, fallback when the option is not given.
int numberOption(CliContext& ctx, Opt option, int lowest, int highest, int fallback, int* value);

// Message texts of the window break lines with CR LF.
QString oneLine(QString text);

// The longest line of track data read from standard input.
inline constexpr qint64 kTrackMaxLine = 4096;
