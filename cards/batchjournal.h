#pragma once

#include "cards/errorcode.h"
#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMessageAuthenticationCode>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class QJsonObject;

struct BatchCard;
struct BatchTrack;

// How far a card (or one track of a card with several) got: its data loaded into the reader,
// the reader armed for the swipe, the write confirmed by the reader, the track read back the
// same; or, checking a box of cards against their list, the card read and compared.
enum class BatchStep { None, Loaded, Armed, Written, Verified, Compared };
QString batchStepName(BatchStep step);

// Whether a card holds its data now: not written, written, or in doubt (armed, and the run
// ended before the reader said how the swipe went).
enum class WriteState { No, Yes, InDoubt };

struct BatchResult {
    BatchStep step = BatchStep::None;
    WriteState written = WriteState::No;
    bool ok = false; // everything asked for was done (written, and verified with --verify; or
                     // compared and matched)
    std::optional<ErrorCode> code; // why it is not ok
    QString error;                 // one line saying what went wrong
    QDateTime time;                // UTC
};

// Identities in results files that tell nothing of the cards' data: keyed hashes
// (HMAC-SHA256) under the user's private key (config/resultskey.h). The same card data has the
// same identity in every results file of the same user and key.
class CardIdentity
{
public:
    explicit CardIdentity(const QByteArray& key)
        : m_key(key), m_mac(QCryptographicHash::Sha256, key)
    {
    }
    // 32 hex digits for a card, from its tracks' methods and data.
    QByteArray of(const BatchCard& card) const;
    // 64 hex digits for a batch: its cards' identities in order, so that comments, blank lines
    // and the way a line is written do not change it.
    QByteArray ofBatch(const QList<BatchCard>& cards) const;

private:
    QByteArray keyed(const QByteArray& text) const;

    QByteArray m_key;
    // One keyed hash set up once: a job hashes every card.
    mutable QMessageAuthenticationCode m_mac;
};

// The lines of a results file and of a batch's standard output: one JSON object each.
// The first line of a run ties the results to the batch's cards.
QByteArray batchHeaderLine(const QString& source, const QByteArray& id, int cards,
                           const QDateTime& time);
// Progress of a card (track: of the track in hand, for a card with several) that has no result
// yet: written (synced) before the step is taken.
QByteArray batchProgressLine(const BatchCard& card, const BatchTrack* track, BatchStep step,
                             const QDateTime& time);
// A card's result. The account number appears masked, when the data has one; the data only
// when revealed.
enum class BatchMode { Write, Verify, Compare };
QByteArray batchResultLine(const BatchCard& card, const BatchResult& result, BatchMode mode,
                           bool reveal);

// What the results files say of the cards of a batch, by card index and, for a card of several
// tracks, by track. Cards it does not name were never started.
struct ResumeState {
    struct Track {
        WriteState written = WriteState::No;
        bool verified = false;
        bool matched = false; // read by a box check and found to hold its line
    };
    struct Card {
        Track whole;                  // from the lines about the whole card
        QHash<QString, Track> tracks; // from the lines about one of its tracks, by method
    };
    QHash<int, Card> cards;
    // The file holds a run of these very cards (or of an earlier state of this batch file).
    bool sameBatch = false;
    // Cards recorded as started under another card's data at the same place: the batch file
    // changed since (index -> the card's line now).
    QList<int> changed;

    // What the file says of a track of the card at index.
    Track track(int index, CardMethodId method, bool severalTracks) const;
    // Cards recorded as written (every track of them).
    int writtenCards(const QList<BatchCard>& cards) const;
};

// The results file of a batch, kept by one run at a time. Every line is written whole and
// synced to the disk before append() returns, so a card's intent is on disk before its arm
// goes out.
class ResultsJournal
{
public:
    ResultsJournal() = default;
    ResultsJournal(const ResultsJournal&) = delete;
    ResultsJournal& operator=(const ResultsJournal&) = delete;
    ~ResultsJournal();

    // Opens path for this run: the folders on the way are judged as the ports folder's are, and
    // the file must be the user's regular file with one name (never a link, a FIFO, a device or
    // a folder); a new one is made 0600, an existing one tightened to 0600. It is locked for as
    // long as this object lives: a second run is refused at once, naming the holder. Nothing is
    // written yet.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    // What the file records of these cards (ids set), in all the runs it holds. identity: the
    // batch's; sha256: the unkeyed hash files written before keyed identities used; source: the
    // batch's name, to know an earlier state of the same file. False with *error set when the
    // file cannot be read as results.
    bool read(const QList<BatchCard>& cards, const QByteArray& identity, const QByteArray& sha256,
              const QString& source, ResumeState* state, QString* error);

    // The run's first line, once the reader is held: a torn last line an interrupted run left
    // (a power cut, a full disk) is cut first; *cut says how many bytes, for a message.
    bool begin(const QByteArray& header, qint64* cut, QString* error);
    bool append(const QByteArray& line, QString* error);
    // Lets go; a file this run made and never wrote to is removed.
    void close();

private:
    int m_fd = -1;
    int m_folder = -1;
    QString m_path;
    QString m_name;
    bool m_made = false;
    bool m_written = false;
};

// Every line of a results file, as JSON objects, for a reader of its own (a report). The file is
// opened as a resume opens it: the user's own regular file, below folders judged. A torn last
// line is skipped. False with *error set when the file cannot be read as results.
bool readResultsLines(const QString& path, QString* error,
                      const std::function<void(const QJsonObject&)>& take);

// The identities of the cards a results file records as written, for a later job's check that
// it writes none of them again (--not-in). False with *error set when the file cannot be read.
bool readWrittenIdentities(const QString& path, QSet<QByteArray>* ids, QString* error);

// A results file is read line by line and never held whole: this bounds only how long it may be.
inline constexpr qint64 kResultsMaxBytes = 256 * 1024 * 1024;
