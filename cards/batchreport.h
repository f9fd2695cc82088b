#pragma once

#include "cards/batchrunner.h"
#include "cards/errorcode.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct BatchCard;

// How a batch run was started, for the advice on going on where it stopped.
struct BatchInvocation {
    QStringList arguments; // the command line as given, without the program's name
    int start = 1;         // the first card's index
    bool verify = false;
    bool compare = false; // a box of cards checked against their list
    QString resultsPath;  // the results file kept; empty for none
    bool fromStandardInput = false;
    QString command = QStringLiteral("batch"); // batch, or copy: its copies are the cards
};

// What a batch run comes to, in one line: the counts, the failed cards and those in doubt,
// where it stopped and what became of that card, and the command that goes on.
QString batchSummary(const BatchTally& tally, const QList<BatchCard>& cards,
                     const BatchInvocation& run);

// The command that goes on where a run stopped: the same arguments without --start, --resume
// and the options in drop, with `instead` after the command's name, each word as a shell reads
// it back.
QString resumeCommand(const QStringList& arguments, const QStringList& instead,
                      const QStringList& drop = {},
                      const QString& command = QStringLiteral("batch"));

// The code a run ends with: what stopped it, else its first failed card's; none when every
// card was done.
std::optional<ErrorCode> batchErrorCode(const BatchTally& tally);

// The one JSON object that ends a run's output with --json: the counts, and for a run that did
// not finish, the error (the summary) and the command that goes on ("read_back_first": the
// card to read back before it).
QByteArray batchReportJson(const QString& source, int status, std::optional<ErrorCode> code,
                           const BatchTally& tally, const QList<BatchCard>& cards,
                           const BatchInvocation& run);

// "card 3 of 10: 2 written, 0 failed, 4.0 cards/min, about 1:45 left", at nowMs on the clock
// the run started by.
QString batchProgressText(const BatchTally& tally, qint64 nowMs);
