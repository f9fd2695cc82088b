#include "cards/batchrunner.h"

#include "cards/cardcompare.h"
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
                            ResultsJournal* results)
{
    m_results = results;
    m_tally = BatchTally{};
    m_tally.total = int(cards.size());
    m_tally.startedMs = m_clock.ms();
    for (const BatchCard& card : cards) {
        if (card.index < start)
            continue;
        m_tally.position = card.index;
        // A box check goes on at the first card not found to hold its line.
        bool done = !m_options.compare || resume.cards.value(card.index).whole.matched;
        bool anyStarted = false;
        for (const BatchTrack& track : card.tracks) {
            const ResumeState::Track prior =
                resume.track(card.index, track.method, card.severalTracks());
            if (!m_options.compare)
                done = done && prior.written == WriteState::Yes &&
                       (!m_options.verify || prior.verified);
            anyStarted = anyStarted || (!m_options.compare && prior.written != WriteState::No);
        }
        if (done) {
            ++m_tally.skipped;
            continue;
        }
        if (m_front.stopRequested()) {
            stopWith(BatchStop::Interrupted, QString());
            m_tally.stoppedAt = card.index;
            m_tally.stoppedCard = anyStarted ? WriteState::InDoubt : WriteState::No;
            break;
        }
        m_front.cardInHand(card, nullptr, m_tally.total);
        m_front.progress(m_tally);
        BatchResult result = m_options.compare ? compareCard(card) : handle(card, resume);
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

BatchMode BatchRunner::mode() const
{
    return m_options.compare  ? BatchMode::Compare
           : m_options.verify ? BatchMode::Verify
                              : BatchMode::Write;
}

QString BatchRunner::comparePrompt()
{
    return QStringLiteral("Swipe the card to compare it with its line");
}

BatchResult BatchRunner::compareCard(const BatchCard& card)
{
    BatchResult result;
    result.step = BatchStep::Compared;
    for (;;) {
        QList<CardMethodId> methods;
        for (const BatchTrack& track : card.tracks)
            methods << track.method;
        CardOutcome outcome = m_operations.readTracks(methods, comparePrompt());
        if (!outcome.ok()) {
            if (waitAllowed(outcome) && waitForReader())
                continue;
            fail(result, outcome, QStringLiteral("read"));
            return result;
        }
        const std::optional<CardDifference> difference = firstDifference(card, outcome.tracks);
        if (!difference) {
            result.ok = true;
            return result;
        }
        result.code = ErrorCode::Mismatch;
        result.error = differenceText(*difference, m_options.reveal);
        return result;
    }
}

BatchResult BatchRunner::handle(const BatchCard& card, const ResumeState& resume)
{
    const bool several = card.severalTracks();
    QList<ResumeState::Track> states;
    for (const BatchTrack& track : card.tracks)
        states << resume.track(card.index, track.method, several);
    // What an earlier run left is told as the track is taken up again.
    QList<bool> earlier(states.size(), true);
    BatchResult failed;
    bool broke = false;
    // One track is written and read back in one go. Several are all written first, each with a
    // swipe of its own, then read back one by one, so that the read-back also sees what a later
    // track's write did to an earlier one.
    for (qsizetype t = 0; t < card.tracks.size() && !broke; ++t) {
        const BatchTrack& track = card.tracks.at(t);
        if (states.at(t).written == WriteState::Yes &&
            (several || !m_options.verify || states.at(t).verified))
            continue;
        if (several)
            m_front.cardInHand(card, &track, m_tally.total);
        const BatchResult result =
            handleTrack(card, track, states.at(t), !several && m_options.verify, true);
        earlier[t] = false;
        states[t].written = result.written;
        states[t].verified = result.step == BatchStep::Verified;
        if (!result.ok) {
            failed = result;
            if (several)
                failed.error = track.method.shortName() + QStringLiteral(": ") + failed.error;
        } else if (several && !progressLine(card, track,
                                            // A track settled by reading it back is verified too.
                                            states.at(t).verified ? BatchStep::Verified
                                                                  : BatchStep::Written)) {
            failed = {result.step,
                      result.written,
                      false,
                      ErrorCode::ResultsUnwritable,
                      m_tally.stopMessage,
                      {}};
        }
        broke = !failed.error.isEmpty() || failed.code.has_value();
    }
    for (qsizetype t = 0; several && m_options.verify && !broke && t < card.tracks.size(); ++t) {
        const BatchTrack& track = card.tracks.at(t);
        if (states.at(t).verified)
            continue;
        m_front.cardInHand(card, &track, m_tally.total);
        const BatchResult result = handleTrack(card, track, states.at(t), true, earlier.at(t));
        states[t].verified = result.ok;
        if (!result.ok) {
            failed = result;
            failed.error = track.method.shortName() + QStringLiteral(": ") + failed.error;
            broke = true;
        } else if (!progressLine(card, track, BatchStep::Verified)) {
            failed = {result.step,
                      result.written,
                      false,
                      ErrorCode::ResultsUnwritable,
                      m_tally.stopMessage,
                      {}};
            broke = true;
        }
    }
    // The card as a whole: written when every track is, in doubt when some are (or may be).
    int written = 0;
    bool doubt = false;
    for (const ResumeState::Track& state : std::as_const(states)) {
        written += state.written == WriteState::Yes ? 1 : 0;
        doubt = doubt || state.written == WriteState::InDoubt;
    }
    BatchResult result = failed;
    result.written = written == states.size() ? WriteState::Yes
                     : written == 0 && !doubt ? WriteState::No
                                              : WriteState::InDoubt;
    if (!broke) {
        result.ok = true;
        result.step = m_options.verify ? BatchStep::Verified : BatchStep::Written;
    } else if (several && written > 0 && written < states.size()) {
        QStringList done;
        for (qsizetype t = 0; t < states.size(); ++t) {
            if (states.at(t).written == WriteState::Yes)
                done << card.tracks.at(t).method.shortName();
        }
        result.error += QStringLiteral(" (written: %1)").arg(done.join(QStringLiteral(", ")));
    }
    return result;
}

BatchResult BatchRunner::handleTrack(const BatchCard& card, const BatchTrack& track,
                                     const ResumeState::Track& prior, bool verifyNow,
                                     bool fromEarlierRun)
{
    BatchResult result;
    Phase phase = Phase::Write;
    // Its write is recorded already: only the read-back is owed.
    bool writtenNoted = prior.written == WriteState::Yes || card.severalTracks();
    if (prior.written == WriteState::Yes) {
        phase = Phase::Verify;
        result.step = BatchStep::Written;
        result.written = WriteState::Yes;
        if (fromEarlierRun)
            m_front.note(QStringLiteral("%1%2: written by an earlier run, not read back yet")
                             .arg(m_front.cardName(card),
                                  card.severalTracks() ? QStringLiteral(", ") + track.method.name()
                                                       : QString()));
    } else if (prior.written == WriteState::InDoubt) {
        phase = Phase::Settle;
        result.step = BatchStep::Armed;
        result.written = WriteState::InDoubt;
        m_front.note(QStringLiteral("%1%2: the last run ended while it was being written")
                         .arg(m_front.cardName(card),
                              card.severalTracks() ? QStringLiteral(", ") + track.method.name()
                                                   : QString()));
    }
    while (phase != Phase::Done) {
        switch (phase) {
        case Phase::Settle:
            phase = settlePhase(track, result);
            break;
        case Phase::Write:
            phase = writePhase(card, track, result, verifyNow);
            break;
        case Phase::Verify:
            phase = verifyPhase(card, track, result, writtenNoted);
            break;
        case Phase::Done:
            break;
        }
    }
    return result;
}

BatchRunner::Phase BatchRunner::settlePhase(const BatchTrack& track, BatchResult& result)
{
    CardOutcome outcome;
    const WriteState found = settle(track, outcome);
    if (found == WriteState::Yes) {
        result.step = BatchStep::Written;
        result.written = WriteState::Yes;
        // The read that settled it read it back the same.
        if (m_options.verify)
            result.step = BatchStep::Verified;
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

BatchRunner::Phase BatchRunner::writePhase(const BatchCard& card, const BatchTrack& track,
                                           BatchResult& result, bool verifyNow)
{
    bool intentLost = false;
    m_operations.beforeArm = [&] {
        intentLost = !progressLine(card, track, BatchStep::Armed);
        return !intentLost;
    };
    const CardOutcome outcome = m_operations.writeCard(track.method, track.bytes);
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
        if (!verifyNow) {
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

BatchRunner::Phase BatchRunner::verifyPhase(const BatchCard& card, const BatchTrack& track,
                                            BatchResult& result, bool& writtenNoted)
{
    // The card is written whatever the read back finds.
    if (!writtenNoted) {
        if (!progressLine(card, track, BatchStep::Written)) {
            result.code = ErrorCode::ResultsUnwritable;
            result.error = m_tally.stopMessage;
            return Phase::Done;
        }
        writtenNoted = true;
    }
    CardOutcome outcome = m_operations.readCard(track.method, CardOperations::verifyPrompt());
    if (outcome.ok()) {
        if (outcome.data == track.bytes) {
            result.step = BatchStep::Verified;
            result.ok = true;
            return Phase::Done;
        }
        qsizetype at = 0;
        while (at < outcome.data.size() && at < track.bytes.size() &&
               outcome.data.at(at) == track.bytes.at(at))
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

WriteState BatchRunner::settle(const BatchTrack& track, CardOutcome& outcome)
{
    outcome = m_operations.readCard(track.method, settlePrompt());
    if (outcome.ok())
        return outcome.data == track.bytes ? WriteState::Yes : WriteState::No;
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

bool BatchRunner::progressLine(const BatchCard& card, const BatchTrack& track, BatchStep step)
{
    if (!m_results)
        return true;
    QString error;
    if (m_results->append(batchProgressLine(card, &track, step, QDateTime::currentDateTimeUtc()),
                          &error))
        return true;
    stopWith(
        BatchStop::ResultsFailed,
        QStringLiteral("the results could not be written to %1: %2").arg(m_results->path(), error));
    return false;
}

bool BatchRunner::record(const BatchCard& card, const BatchResult& result)
{
    const QByteArray line = batchResultLine(card, result, mode(), m_options.reveal);
    QString error;
    if (m_results) {
        if (!m_results->append(line, &error)) {
            stopWith(BatchStop::ResultsFailed,
                     QStringLiteral("the results could not be written to %1: %2")
                         .arg(m_results->path(), error));
            return false;
        }
        m_tally.lastRecorded = card.index;
    }
    if (!m_front.emitResult(line, &error)) {
        stopWith(
            BatchStop::ResultsFailed,
            QStringLiteral("the results could not be written to standard output: %1").arg(error));
        return false;
    }
    if (!m_results)
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
