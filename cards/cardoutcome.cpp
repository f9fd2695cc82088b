#include "cards/cardoutcome.h"

#include "link/commands.h"
#include "link/frametext.h"

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
