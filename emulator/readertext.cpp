#include "emulator/readertext.h"

#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"

#include <QStringList>

QString logEntryLine(const FrameLogEntry& entry)
{
    if (entry.direction == FrameLogEntry::Note)
        return QStringLiteral("       * ") + entry.meaning;
    const FrameSender sender =
        entry.direction == FrameLogEntry::FromHost ? FrameSender::Host : FrameSender::Reader;
    return FrameDescription{sender, hexBytes(entry.bytes), entry.meaning}.line();
}

QString lampsText(const ReaderLamps& lamps)
{
    QStringList on;
    if (lamps.green)
        on << QStringLiteral("green");
    if (lamps.red)
        on << QStringLiteral("red");
    if (lamps.yellow)
        on << QStringLiteral("yellow");
    return on.isEmpty() ? QStringLiteral("all off")
                        : on.join(QStringLiteral(", ")) + QStringLiteral(" on");
}

QString cardsText(const QList<ReaderCard>& deck, int current)
{
    QStringList lines;
    for (int i = 0; i < deck.size(); ++i) {
        const ReaderCard& card = deck.at(i);
        lines << QStringLiteral("%1 %2: %3")
                     .arg(i == current ? QStringLiteral("*") : QStringLiteral(" "))
                     .arg(i + 1)
                     .arg(card.name);
        for (int t = 0; t < 3; ++t)
            lines << QStringLiteral("      track %1: %2")
                         .arg(t + 1)
                         .arg(printableBytes(card.tracks[t]));
    }
    return lines.join(QLatin1Char('\n'));
}

QString faultsText(const ReaderModel& model)
{
    QStringList on;
    if (model.corruptCount() > 0)
        on << QStringLiteral("corrupt %1").arg(model.corruptCount());
    if (model.splitSize() > 0)
        on << QStringLiteral("split %1").arg(model.splitSize());
    if (!model.silentCommands().isEmpty())
        on << QStringLiteral("silent %1").arg(printableBytes(model.silentCommands()));
    if (model.forcedCount() > 0)
        on << QStringLiteral("force %1 x%2")
                  .arg(printableBytes(model.forcedReply()))
                  .arg(model.forcedCount());
    if (model.swipeError() != ReaderModel::SwipeError::None)
        on << QStringLiteral("swipe-error %1").arg(swipeErrorName(model.swipeError()));
    return on.isEmpty() ? QStringLiteral("no faults") : on.join(QStringLiteral(", "));
}

QString swipeErrorName(ReaderModel::SwipeError error)
{
    switch (error) {
    case ReaderModel::SwipeError::Read:
        return QStringLiteral("read");
    case ReaderModel::SwipeError::NoData:
        return QStringLiteral("nodata");
    case ReaderModel::SwipeError::Write:
        return QStringLiteral("write");
    case ReaderModel::SwipeError::None:
        break;
    }
    return QStringLiteral("off");
}

std::optional<ReaderModel::SwipeError> parseSwipeError(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("read"))
        return ReaderModel::SwipeError::Read;
    if (n == QLatin1String("nodata"))
        return ReaderModel::SwipeError::NoData;
    if (n == QLatin1String("write"))
        return ReaderModel::SwipeError::Write;
    if (n == QLatin1String("off") || n == QLatin1String("none"))
        return ReaderModel::SwipeError::None;
    return std::nullopt;
}

QByteArray parseForcedReply(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.size() == 1 && bytes.at(0) != cmd::REPLY_STATUS)
        return QByteArray(1, cmd::REPLY_STATUS) + bytes;
    return bytes;
}
