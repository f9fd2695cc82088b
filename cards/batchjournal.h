#pragma once

#include "cards/errorcode.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

struct BatchCard;

// How far a card of a batch got: its data loaded into the reader, the reader armed for the
// swipe, the write confirmed by the reader, the card read back the same.
enum class BatchStep { None, Loaded, Armed, Written, Verified };
QString batchStepName(BatchStep step);

// Whether a card holds its data now: not written, written, or in doubt (armed, and the run
// ended before the reader said how the swipe went).
enum class WriteState { No, Yes, InDoubt };

struct BatchResult {
    BatchStep step = BatchStep::None;
    WriteState written = WriteState::No;
    bool ok = false; // everything asked for was done (written, and verified with --verify)
    std::optional<ErrorCode> code; // why it is not ok
    QString error;                 // one line saying what went wrong
    QDateTime time;                // UTC
};

// The lines of a results file and of a batch's standard output: one JSON object each.
// The first line of a run ties the results to the batch's cards.
QByteArray batchHeaderLine(const QString& source, const QByteArray& sha256, int cards,
                           const QDateTime& time);
// Progress of a card that has no result yet: written (synced) before the step is taken.
QByteArray batchProgressLine(const BatchCard& card, BatchStep step, const QDateTime& time);
// A card's result. The account number appears masked, when the data has one; the data only
// when revealed.
QByteArray batchResultLine(const BatchCard& card, const BatchResult& result, bool verify,
                           bool reveal);

// A results file the tool opens itself: appended to, every line written whole and synced to
// the disk before the call returns.
class ResultsFile
{
public:
    ResultsFile() = default;
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;
    ~ResultsFile();

    // Only a regular file of the user's own (made 0600 when new); never a link's target.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    bool append(const QByteArray& line, QString* error);

private:
    int m_fd = -1;
    QString m_path;
};

// What an earlier run's results file says of each card, by index: written (skip it), not
// written (write it), in doubt (check it with a swipe first). Cards it does not name were
// never started.
struct ResumeState {
    QHash<int, WriteState> cards;
    int recorded = 0; // cards named
};

// Reads a results file of a run of the same cards (the header's sha256 must match); records
// of another batch in the same file are ignored, and a file with none of ours is refused (an
// empty one names no card). A torn last line (a power cut mid-write) is
// ignored; any other malformed line makes the file unusable.
bool readResumeFile(const QString& path, const QByteArray& sha256, ResumeState* state,
                    QString* error);

// A results file is read whole line by line but never held: this bounds only how long it may be.
inline constexpr qint64 kResultsMaxBytes = 256 * 1024 * 1024;
