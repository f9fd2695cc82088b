#pragma once

#include "emulator/readermodel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The emulator's state and traffic in words, for its log and its console.

// "host   > 02 6B 03 68  version query", "reader < ...", "       * a note"
QString logEntryLine(const FrameLogEntry& entry);

// "all off", "green, yellow on"
QString lampsText(const ReaderLamps& lamps);
// "no faults", "corrupt 2, swipe-error write"
QString faultsText(const ReaderModel& model);
// The deck, a card to a line and a track to a line; * marks the card in the slot.
QString cardsText(const QList<ReaderCard>& deck, int current);

// "read", "nodata", "write"; "off" for none.
QString swipeErrorName(ReaderModel::SwipeError error);
// The names above in any case, and "none" for off; nullopt for anything else.
std::optional<ReaderModel::SwipeError> parseSwipeError(const QString& name);
// "3" or "l3" -> "l3"; any longer text is taken as the whole body.
QByteArray parseForcedReply(const QString& text);
