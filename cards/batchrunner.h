#pragma once

#include "cards/batchjournal.h"
#include "cards/cardbatch.h"
#include "cards/cardoutcome.h"

#include <QList>
#include <QString>
#include <optional>

class CardOperations;
class CommandLineRhythm;
class IClock;
class IEventPump;
class LinkDriver;
class ReaderLink;
class ResultsJournal;

struct BatchOptions {
    bool verify = false;
    // Check a box of cards against their list: each card read (a swipe for all its tracks) and
    // compared; nothing is written.
    bool compare = false;
    bool keepGoing = false;
    bool allowDuplicates = false; // cards that cannot be told apart may be written
    int maxFailures = 0;          // 0: no limit
    int waitReaderSeconds = 300;
    bool reveal = false;
};

// Why a batch ended before its last card.
enum class BatchStop { None, Failure, Interrupted, ReaderLost, ResultsFailed, MaxFailures };

struct BatchTally {
    int total = 0;
    int done = 0; // written (and verified) in this run
    int failed = 0;
    int skipped = 0; // already written (and verified), by the results resumed from
    QList<int> failedIndexes;
    QList<int> inDoubt; // cards whose write is in doubt at the end
    BatchStop stop = BatchStop::None;
    int stoppedAt = 0;                       // the card in hand when the batch stopped
    WriteState stoppedCard = WriteState::No; // what became of it
    std::optional<ErrorCode> firstCode;      // code of the first failure
    QString stopMessage;                     // what stopped it, when that is not a card's failure
    // The last card whose result reached the results file (standard output without one).
    int lastRecorded = 0;
    int position = 0; // cards handled so far, skipped ones included
    qint64 startedMs = 0;
};

// What a batch needs of its front end.
class BatchFrontEnd
{
public:
    virtual ~BatchFrontEnd() = default;
    // The card about to be handled (track: the track in hand, for a card with several); its
    // prompts follow.
    virtual void cardInHand(const BatchCard& card, const BatchTrack* track, int total) = 0;
    // A line for the operator (a reader being waited for, a card to be checked).
    virtual void note(const QString& text) = 0;
    // A card's result line for standard output; false with *error when it could not go out.
    virtual bool emitResult(const QByteArray& line, QString* error) = 0;
    // A card that failed, for a line on the terminal.
    virtual void cardFailed(const BatchCard& card, const BatchResult& result) = 0;
    virtual void progress(const BatchTally& tally) = 0;
    // A signal asked the program to stop.
    virtual bool stopRequested() = 0;
    // How the operator knows a card: "card 3 (line 5)", or a copy's number.
    virtual QString cardName(const BatchCard& card) const
    {
        return QStringLiteral("card %1 (line %2)").arg(card.index).arg(card.line);
    }
};

// Writes a batch of cards exactly once: a track counts as written the moment the reader
// confirms the write, the intent to arm is on disk before the arm goes out, a track whose write
// is in doubt is read back (one swipe) before anything else is done with it, and a track is
// skipped only when it is known to be written (and, with verify, read back the same). A card of
// several tracks takes a swipe a track, in the order of its tracks; it is written when all of
// them are. It runs on a link in the command line's rhythm.
class BatchRunner
{
public:
    BatchRunner(CardOperations& operations, ReaderLink& link, LinkDriver& driver, IClock& clock,
                IEventPump& pump, BatchFrontEnd& frontEnd, const BatchOptions& options);

    // results: the file every step and result goes to, synced (nullptr: none).
    // resume: what an earlier run recorded. start: the first card's index.
    BatchTally run(const QList<BatchCard>& cards, int start, const ResumeState& resume,
                   ResultsJournal* results);

    static QString settlePrompt();
    static QString comparePrompt();

private:
    // The steps of one track: each fills in the result and says which comes next.
    enum class Phase { Settle, Write, Verify, Done };

    BatchResult handle(const BatchCard& card, const ResumeState& resume);
    // Reads the card (one swipe) and compares it with the card expected.
    BatchResult compareCard(const BatchCard& card);
    BatchMode mode() const;
    // Writes a track (after settling one in doubt), and verifies it when verifyNow; prior says
    // how far it got, in an earlier run when fromEarlierRun.
    BatchResult handleTrack(const BatchCard& card, const BatchTrack& track,
                            const ResumeState::Track& prior, bool verifyNow, bool fromEarlierRun);
    // A track whose write is in doubt is read back first.
    Phase settlePhase(const BatchTrack& track, BatchResult& result);
    Phase writePhase(const BatchCard& card, const BatchTrack& track, BatchResult& result,
                     bool verifyNow);
    // writtenNoted: the track's "written" step is in the results already.
    Phase verifyPhase(const BatchCard& card, const BatchTrack& track, BatchResult& result,
                      bool& writtenNoted);
    // Reads the track back once: whether it holds the data.
    WriteState settle(const BatchTrack& track, CardOutcome& outcome);
    bool waitForReader();
    // After a signal: the reset's reply (or a "card written" before it) tells what happened.
    WriteState afterInterrupt(const CardOutcome& outcome);
    bool record(const BatchCard& card, const BatchResult& result);
    bool progressLine(const BatchCard& card, const BatchTrack& track, BatchStep step);
    void fail(BatchResult& result, const CardOutcome& outcome, const QString& what);
    void stopWith(BatchStop stop, const QString& message);
    bool waitAllowed(const CardOutcome& outcome);

    CardOperations& m_operations;
    ReaderLink& m_link;
    CommandLineRhythm& m_rhythm;
    LinkDriver& m_driver;
    IClock& m_clock;
    IEventPump& m_pump;
    BatchFrontEnd& m_front;
    BatchOptions m_options;
    ResultsJournal* m_results = nullptr;
    BatchTally m_tally;
};
