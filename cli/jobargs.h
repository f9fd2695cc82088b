#pragma once

#include "cards/cardbatch.h"
#include "cards/cardjob.h"
#include "cards/csvtable.h"

struct CliContext;

// A job as the command line describes it: --template for each track, --from, --step and --count
// for numbered cards, or a CSV file (csvPath; "-" for standard input) with a card a row. Every
// fault (a template, a CSV row, the first card that would break) is told and exits before
// anything is written.
struct CliJob {
    CardJob job;
    CsvTable table;
};

// Reads the options and the CSV file into *job. Returns an exit status, 0 to go on.
int jobFromArgs(CliContext& ctx, const QString& csvPath, CliJob* job);
// The job's cards as a batch, checked; the first that would break is named.
int jobCards(CliContext& ctx, const CliJob& job, const QString& source, CardBatch* cards);
