#pragma once

#include "cards/cardbatch.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Where a card read back differs from the card expected (a golden card, or a box of cards
// checked against their list).
struct CardDifference {
    CardMethodId method;
    int position = 0; // 1-based: the first character that differs
    QByteArray expected;
    QByteArray found;
};

// The first track (in the card's order) whose data read back is not the data expected; nothing
// when every track matches. read holds the tracks' data in the card's order.
std::optional<CardDifference> firstDifference(const BatchCard& expected,
                                              const QList<QByteArray>& read);

// "iso2 differs from position 16 (the card: 411111******1112, expected: 411111******1111)": the
// account numbers masked where both tracks have one, else only the lengths; the data itself
// only when revealed.
QString differenceText(const CardDifference& difference, bool reveal);
