#include "cards/cardoutcome.h"

#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"

QString describeOutcome(const CardOutcome& outcome, int timeoutSeconds)
{
    const QString within = QStringLiteral(" within %1 s").arg(qMax(0, timeoutSeconds));
    switch (outcome.result) {
    case CardOutcome::Done:
        return QStringLiteral("done");
    case CardOutcome::NotStarted:
        return QStringLiteral("not started");
    case CardOutcome::Rejected:
        return QStringLiteral("invalid character \"%1\" at position %2")
            .arg(outcome.character)
            .arg(outcome.position);
    case CardOutcome::Declined:
        return QStringLiteral("the format warning was declined");
    case CardOutcome::TimedOut:
        if (outcome.garbled > 0)
            return QStringLiteral("only corrupted replies from the reader%1 (%2 asked for again); "
                                  "check the line settings and the cable")
                .arg(within)
                .arg(outcome.garbled);
        switch (outcome.step) {
        case CardOutcome::Load:
            return QStringLiteral("no reply to the write command") + within;
        case CardOutcome::Arm:
            return QStringLiteral("no reply to the arm command") + within;
        case CardOutcome::Swipe:
            return QStringLiteral("no card swiped") + within;
        case CardOutcome::Fetch:
        case CardOutcome::ReadBack:
            return QStringLiteral("no reply to the read command") + within;
        default:
            return QStringLiteral("no reply from the reader") + within;
        }
    case CardOutcome::ReaderError:
        return outcome.reply.startsWith(cmd::REPLY_STATUS) ? readerStatusText(outcome.reply)
                                                           : outcome.message;
    case CardOutcome::Mismatch:
        return QStringLiteral("the card read back differs from the data written at position %1")
            .arg(outcome.position);
    case CardOutcome::PortLost:
    case CardOutcome::PortError:
        return outcome.message;
    case CardOutcome::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

QString outcomeCode(const CardOutcome& outcome)
{
    switch (outcome.result) {
    case CardOutcome::Done:
        return QString();
    case CardOutcome::NotStarted:
        return QStringLiteral("not_started");
    case CardOutcome::Rejected:
        return QStringLiteral("rejected");
    case CardOutcome::Declined:
        return QStringLiteral("declined");
    case CardOutcome::TimedOut:
        if (outcome.garbled > 0)
            return QStringLiteral("garbled_replies");
        return outcome.step == CardOutcome::Swipe ? QStringLiteral("no_swipe")
                                                  : QStringLiteral("no_reply");
    case CardOutcome::ReaderError:
        return QStringLiteral("reader_error");
    case CardOutcome::Mismatch:
        return QStringLiteral("mismatch");
    case CardOutcome::PortLost:
        return QStringLiteral("reader_lost");
    case CardOutcome::PortError:
        return QStringLiteral("port_error");
    case CardOutcome::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}
