#include "cards/batchrunner.h"

#include "cards/cardoperations.h"
#include "config/appsettings.h"
#include "link/commandlinerhythm.h"
#include "link/linkdriver.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"

namespace {

const QByteArray kWriteDone = QByteArrayLiteral("l") + cmd::ST_WRITE_DONE;

// A read that the card answered with an unreadable or empty track: not the data written.
bool cardHoldsNothing(const CardOutcome& outcome)
{
    return outcome.result == CardOutcome::ReaderError &&
           (outcome.reply == QByteArrayLiteral("l") + cmd::ST_READ_ERROR ||
            outcome.reply == QByteArrayLiteral("l") + cmd::ST_READ_NO_DATA);
}

} // namespace

BatchRunner::BatchRunner(CardOperations& operations, ReaderLink& link, LinkDriver& driver,
                         IClock& clock, IEventPump& pump, BatchFrontEnd& frontEnd,
                         const BatchOptions& options)
    : m_operations(operations), m_link(link), m_rhythm(*link.commandLine()), m_driver(driver),
      m_clock(clock), m_pump(pump), m_front(frontEnd), m_options(options)
{
}

QString BatchRunner::settlePrompt()
{
    return QStringLiteral("Swipe the card once to check whether it was written");
}

BatchTally BatchRunner::run(const QList<BatchCard>& cards, int start, const ResumeState& resume,
                            ResultsFile* results)
{
    m_results = results;
    m_tally = BatchTally{};
    m_tally.total = int(cards.size());
    m_tally.startedMs = m_clock.ms();
    for (const BatchCard& card : cards) {
        if (card.index < start)
            continue;
        m_tally.position = card.index;
        const WriteState prior = resume.cards.value(card.index, WriteState::No);
        if (prior == WriteState::Yes) {
            ++m_tally.skipped;
            continue;
        }
        if (m_front.stopRequested()) {
            stopWith(BatchStop::Interrupted, QString());
            m_tally.stoppedAt = card.index;
            m_tally.stoppedCard = prior;
            break;
        }
        m_front.cardInHand(card, m_tally.total);
        m_front.progress(m_tally);
        BatchResult result = handle(card, prior);
        result.time = QDateTime::currentDateTimeUtc();
        const bool recorded = record(card, result);
        if (result.ok) {
            ++m_tally.done;
        } else {
            m_front.cardFailed(card, result);
            ++m_tally.failed;
            m_tally.failedIndexes << card.index;
            if (!m_tally.firstCode)
                m_tally.firstCode = result.code;
        }
        if (result.written == WriteState::InDoubt)
            m_tally.inDoubt << card.index;
        m_front.progress(m_tally);
        if (!recorded || m_tally.stop != BatchStop::None || (!result.ok && !m_options.keepGoing)) {
            if (m_tally.stop == BatchStop::None)
                m_tally.stop = BatchStop::Failure;
            m_tally.stoppedAt = card.index;
            m_tally.stoppedCard = result.written;
            break;
        }
        if (!result.ok && m_options.maxFailures > 0 && m_tally.failed >= m_options.maxFailures) {
            stopWith(BatchStop::MaxFailures, QStringLiteral("%1 cards failed (--max-failures %2)")
                                                 .arg(m_tally.failed)
                                                 .arg(m_options.maxFailures));
            m_tally.stoppedAt = card.index;
            m_tally.stoppedCard = result.written;
            break;
        }
    }
    m_results = nullptr;
    return m_tally;
}

BatchResult BatchRunner::handle(const BatchCard& card, WriteState prior)
{
    BatchResult result;
    Phase phase = Phase::Write;
    if (prior == WriteState::InDoubt) {
        phase = Phase::Settle;
        result.step = BatchStep::Armed;
        result.written = WriteState::InDoubt;
        m_front.note(QStringLiteral("card %1 (line %2): the last run ended while it was being "
                                    "written")
                         .arg(card.index)
                         .arg(card.line));
    }
    bool writtenNoted = false;
    while (phase != Phase::Done) {
        switch (phase) {
        case Phase::Settle:
            phase = settlePhase(card, result);
            break;
        case Phase::Write:
            phase = writePhase(card, result);
            break;
        case Phase::Verify:
            phase = verifyPhase(card, result, writtenNoted);
            break;
        case Phase::Done:
            break;
        }
    }
    return result;
}

BatchRunner::Phase BatchRunner::settlePhase(const BatchCard& card, BatchResult& result)
{
    CardOutcome outcome;
    const WriteState found = settle(card, outcome);
    if (found == WriteState::Yes) {
        result.step = m_options.verify ? BatchStep::Verified : BatchStep::Written;
        result.written = WriteState::Yes;
        result.ok = true;
        return Phase::Done;
    }
    if (found == WriteState::No) {
        result.step = BatchStep::None;
        result.written = WriteState::No;
        return Phase::Write;
    }
    if (waitAllowed(outcome) && waitForReader())
        return Phase::Settle;
    fail(result, outcome, QStringLiteral("check read"));
    result.error += QStringLiteral(" (its write is in doubt)");
    return Phase::Done;
}

BatchRunner::Phase BatchRunner::writePhase(const BatchCard& card, BatchResult& result)
{
    bool intentLost = false;
    m_operations.beforeArm = [&] {
        intentLost = !progressLine(card, BatchStep::Armed);
        return !intentLost;
    };
    const CardOutcome outcome = m_operations.writeCard(card.method, card.bytes);
    m_operations.beforeArm = nullptr;
    result.written = outcome.written          ? WriteState::Yes
                     : outcome.writeUncertain ? WriteState::InDoubt
                                              : WriteState::No;
    if (outcome.result == CardOutcome::Interrupted && result.written == WriteState::InDoubt)
        result.written = afterInterrupt(outcome);
    if (result.written == WriteState::Yes)
        result.step = BatchStep::Written;
    else if (outcome.armed)
        result.step = BatchStep::Armed;
    else if (intentLost || outcome.step == CardOutcome::Arm)
        result.step = BatchStep::Loaded;
    else
        result.step = BatchStep::None;
    if (intentLost) {
        result.code = ErrorCode::ResultsUnwritable;
        result.error = m_tally.stopMessage;
        return Phase::Done;
    }
    if (result.written == WriteState::Yes) {
        if (!m_options.verify) {
            result.ok = true;
            return Phase::Done;
        }
        if (m_tally.stop == BatchStop::Interrupted) {
            result.code = ErrorCode::Interrupted;
            result.error = QStringLiteral("interrupted before the verify read (the card was "
                                          "written)");
            return Phase::Done;
        }
        return Phase::Verify;
    }
    if (waitAllowed(outcome) && waitForReader())
        return result.written == WriteState::InDoubt ? Phase::Settle : Phase::Write;
    fail(result, outcome, QStringLiteral("write"));
    return Phase::Done;
}

BatchRunner::Phase BatchRunner::verifyPhase(const BatchCard& card, BatchResult& result,
                                            bool& writtenNoted)
{
    // The card is written whatever the read back finds.
    if (!writtenNoted) {
        if (!progressLine(card, BatchStep::Written)) {
            result.code = ErrorCode::ResultsUnwritable;
            result.error = m_tally.stopMessage;
            return Phase::Done;
        }
        writtenNoted = true;
    }
    CardOutcome outcome = m_operations.readCard(card.method, CardOperations::verifyPrompt());
    if (outcome.ok()) {
        if (outcome.data == card.bytes) {
            result.step = BatchStep::Verified;
            result.ok = true;
            return Phase::Done;
        }
        qsizetype at = 0;
        while (at < outcome.data.size() && at < card.bytes.size() &&
               outcome.data.at(at) == card.bytes.at(at))
            ++at;
        outcome.result = CardOutcome::Mismatch;
        outcome.position = int(at) + 1;
        fail(result, outcome, QStringLiteral("verify read"));
        return Phase::Done;
    }
    if (waitAllowed(outcome) && waitForReader())
        return Phase::Verify;
    fail(result, outcome, QStringLiteral("verify read"));
    result.error += QStringLiteral(" (the card was written)");
    return Phase::Done;
}

WriteState BatchRunner::settle(const BatchCard& card, CardOutcome& outcome)
{
    outcome = m_operations.readCard(card.method, settlePrompt());
    if (outcome.ok())
        return outcome.data == card.bytes ? WriteState::Yes : WriteState::No;
    if (cardHoldsNothing(outcome))
        return WriteState::No;
    if (outcome.result == CardOutcome::Interrupted)
        stopWith(BatchStop::Interrupted, QString());
    return WriteState::InDoubt;
}

WriteState BatchRunner::afterInterrupt(const CardOutcome& outcome)
{
    stopWith(BatchStop::Interrupted, QString());
    if (m_link.portLost() || !outcome.resetSent)
        return WriteState::InDoubt;
    // One more bounded wait: the reset's reply says the reader gave the swipe up, a "card
    // written" before it says it did not. A second signal ends this wait too.
    m_link.resumeWaits();
    const bool answered = m_rhythm.settlePendingReset();
    // Only after the arm's acknowledgement can a status be this card's; before it, one says
    // nothing either way.
    if (m_rhythm.lateSwipeStatus() == kWriteDone)
        return outcome.acknowledged ? WriteState::Yes : WriteState::InDoubt;
    // A garbled frame since the arm may have been the reader's "card written".
    return answered && outcome.garbled == 0 && m_link.garbledFrames() == 0 ? WriteState::No
                                                                           : WriteState::InDoubt;
}

bool BatchRunner::waitAllowed(const CardOutcome& outcome)
{
    if (outcome.result == CardOutcome::Interrupted)
        stopWith(BatchStop::Interrupted, QString());
    return outcome.result == CardOutcome::PortLost && m_options.keepGoing &&
           !m_front.stopRequested();
}

bool BatchRunner::waitForReader()
{
    const int seconds = qMax(0, m_options.waitReaderSeconds);
    m_front.note(QStringLiteral("%1 Trying again every second for up to %2 s (Ctrl+C stops).")
                     .arg(m_link.lossDescription())
                     .arg(seconds));
    const qint64 deadline = m_clock.ms() + qint64(seconds) * 1000;
    for (;;) {
        if (m_front.stopRequested()) {
            stopWith(BatchStop::Interrupted, QString());
            return false;
        }
        try {
            m_driver.open();
            if (m_rhythm.startClean()) {
                m_front.note(QStringLiteral("the reader is back"));
                return true;
            }
            m_driver.close();
        } catch (const AppError&) {
            // Not there yet.
        }
        const qint64 now = m_clock.ms();
        if (now >= deadline)
            break;
        const qint64 next = qMin(now + 1000, deadline);
        while (m_clock.ms() < next && !m_front.stopRequested())
            m_pump.waitForEvents(next);
    }
    stopWith(BatchStop::ReaderLost,
             QStringLiteral("the reader did not come back within %1 s").arg(seconds));
    return false;
}

bool BatchRunner::progressLine(const BatchCard& card, BatchStep step)
{
    if (!m_results)
        return true;
    QString error;
    if (m_results->append(batchProgressLine(card, step, QDateTime::currentDateTimeUtc()), &error))
        return true;
    stopWith(
        BatchStop::ResultsFailed,
        QStringLiteral("the results could not be written to %1: %2").arg(m_results->path(), error));
    return false;
}

bool BatchRunner::record(const BatchCard& card, const BatchResult& result)
{
    const QByteArray line = batchResultLine(card, result, m_options.verify, m_options.reveal);
    QString error;
    if (m_results && !m_results->append(line, &error)) {
        stopWith(BatchStop::ResultsFailed,
                 QStringLiteral("the results could not be written to %1: %2")
                     .arg(m_results->path(), error));
        return false;
    }
    if (!m_front.emitResult(line, &error)) {
        stopWith(
            BatchStop::ResultsFailed,
            QStringLiteral("the results could not be written to standard output: %1").arg(error));
        return false;
    }
    m_tally.lastRecorded = card.index;
    return true;
}

void BatchRunner::fail(BatchResult& result, const CardOutcome& outcome, const QString& what)
{
    result.ok = false;
    result.code = outcomeCode(outcome);
    result.error =
        what + QStringLiteral(": ") + describeOutcome(outcome, m_link.settings().Timeout);
    if (outcome.result == CardOutcome::Interrupted)
        stopWith(BatchStop::Interrupted, QString());
}

void BatchRunner::stopWith(BatchStop stop, const QString& message)
{
    // The first reason to stop is the one told.
    if (m_tally.stop != BatchStop::None && m_tally.stop != BatchStop::Failure)
        return;
    m_tally.stop = stop;
    m_tally.stopMessage = message;
}
