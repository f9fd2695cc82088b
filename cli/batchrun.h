#pragma once

#include "cards/batchrunner.h"
#include "cards/cardbatch.h"
#include "cards/errorcode.h"
#include "cli/cliargs.h"

#include <QList>
#include <QString>
#include <optional>

struct CliContext;
class ReaderSession;

// The batch options the command line gives (--verify, --compare, --keep-going ...).
int batchOptions(CliContext& ctx, BatchOptions* options);
// Every fault of the file, before the reader is touched: a few named by line (all of them in
// the JSON object); code: the failure's, else rejected for data faults, invalid_batch for others.
int refuseBatch(CliContext& ctx, const QString& file, const QList<BatchProblem>& problems,
                std::optional<ErrorCode> code = std::nullopt);
// Runs cards exactly once: identities, duplicates (unless allowed), --check, the results
// journal (--results, --resume), the reader (brought up unless it is already), the run, its
// summary and, with --json, its report. Returns the exit status.
int runCards(CliContext& ctx, ReaderSession& session, CardBatch& cards, const QString& source,
             const BatchOptions& options, int start, bool fromStandardInput);
