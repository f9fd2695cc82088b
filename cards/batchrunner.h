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
class ResultsFile;

struct BatchOptions {
    bool verify = false;
    bool keepGoing = false;
    int maxFailures = 0; // 0: no limit
    int waitReaderSeconds = 300;
    bool reveal = false;
};

// Why a batch ended before its last card.
enum class BatchStop { None, Failure, Interrupted, ReaderLost, ResultsFailed, MaxFailures };

struct BatchTally {
    int total = 0;
    int done = 0; // written (and verified) in this run
    int failed = 0;
    int skipped = 0; // already written, by the results resumed from
    QList<int> failedIndexes;
    QList<int> inDoubt; // cards whose write is in doubt at the end
    BatchStop stop = BatchStop::None;
    int stoppedAt = 0;                       // the card in hand when the batch stopped
    WriteState stoppedCard = WriteState::No; // what became of it
    std::optional<ErrorCode> firstCode;      // code of the first failure
    QString stopMessage;                     // what stopped it, when that is not a card's failure
    int lastRecorded = 0;                    // the last card whose result was recorded
    int position = 0;                        // cards handled so far, skipped ones included
    qint64 startedMs = 0;
};

// What a batch needs of its front end.
class BatchFrontEnd
{
public:
    virtual ~BatchFrontEnd() = default;
    // The card about to be handled; its prompts follow.
    virtual void cardInHand(const BatchCard& card, int total) = 0;
    // A line for the operator (a reader being waited for, a card to be checked).
    virtual void note(const QString& text) = 0;
    // A card's result line for standard output; false with *error when it could not go out.
    virtual bool emitResult(const QByteArray& line, QString* error) = 0;
    // A card that failed, for a line on the terminal.
    virtual void cardFailed(const BatchCard& card, const BatchResult& result) = 0;
    virtual void progress(const BatchTally& tally) = 0;
    // A signal asked the program to stop.
    virtual bool stopRequested() = 0;
};

// Writes a batch of cards exactly once: a card counts as written the moment the reader
// confirms the write, the intent to arm is on disk before the arm goes out, a card whose write
// is in doubt is read back (one swipe) before anything else is done with it, and a card is
// skipped only when it is known to be written. It runs on a link in the command line's rhythm.
class BatchRunner
{
public:
    BatchRunner(CardOperations& operations, ReaderLink& link, LinkDriver& driver, IClock& clock,
                IEventPump& pump, BatchFrontEnd& frontEnd, const BatchOptions& options);

    // results: the file every step and result goes to, synced (nullptr: none).
    // resume: what an earlier run recorded. start: the first card's index.
    BatchTally run(const QList<BatchCard>& cards, int start, const ResumeState& resume,
                   ResultsFile* results);

    static QString settlePrompt();

private:
    // The steps of one card: each fills in the result and says which comes next.
    enum class Phase { Settle, Write, Verify, Done };

    BatchResult handle(const BatchCard& card, WriteState prior);
    // A card whose write is in doubt is read back first.
    Phase settlePhase(const BatchCard& card, BatchResult& result);
    Phase writePhase(const BatchCard& card, BatchResult& result);
    // writtenNoted: the card's "written" step is in the results already.
    Phase verifyPhase(const BatchCard& card, BatchResult& result, bool& writtenNoted);
    // Reads the card back once: whether it holds the data.
    WriteState settle(const BatchCard& card, CardOutcome& outcome);
    bool waitForReader();
    // After a signal: the reset's reply (or a "card written" before it) tells what happened.
    WriteState afterInterrupt(const CardOutcome& outcome);
    bool record(const BatchCard& card, const BatchResult& result);
    bool progressLine(const BatchCard& card, BatchStep step);
    // what: the exchange that failed ("write", "verify read", "check read").
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
    ResultsFile* m_results = nullptr;
    BatchTally m_tally;
};
