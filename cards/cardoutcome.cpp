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
    case CardOutcome::PortError: {
        // The port's texts are sentences; here they are part of one.
        QString text = outcome.message;
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return text;
    }
    case CardOutcome::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

std::optional<ErrorCode> outcomeCode(const CardOutcome& outcome)
{
    switch (outcome.result) {
    case CardOutcome::Done:
        return std::nullopt;
    case CardOutcome::NotStarted:
        return ErrorCode::NotStarted;
    case CardOutcome::Rejected:
        return ErrorCode::Rejected;
    case CardOutcome::Declined:
        return ErrorCode::Declined;
    case CardOutcome::TimedOut:
        if (outcome.garbled > 0)
            return ErrorCode::GarbledReplies;
        return outcome.step == CardOutcome::Swipe ? ErrorCode::NoSwipe : ErrorCode::NoReply;
    case CardOutcome::ReaderError:
        return ErrorCode::ReaderError;
    case CardOutcome::Mismatch:
        return ErrorCode::Mismatch;
    case CardOutcome::PortLost:
        return ErrorCode::ReaderLost;
    case CardOutcome::PortError:
        return ErrorCode::PortError;
    case CardOutcome::Interrupted:
        return ErrorCode::Interrupted;
    }
    return std::nullopt;
}
