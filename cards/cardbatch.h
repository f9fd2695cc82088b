#pragma once

#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One card of a batch file.
struct BatchCard {
    explicit BatchCard(CardMethodId method) : method(method) {}
    int index = 0; // 1-based among the cards of the file
    int line = 0;  // 1-based line of the file
    CardMethodId method;
    QString data;           // as written in the file
    QByteArray bytes;       // checked and padded: what goes to the reader
    bool unchecked = false; // a format that cannot be checked (ibm, iso1t3)
};

// A fault found in a batch file, by line. A data fault (a character, the length, empty data)
// is the card's; any other makes the file unreadable as a batch.
struct BatchProblem {
    int line = 0;
    QString text;
    bool data = false;
};

struct CardBatch {
    QList<BatchCard> cards;
    QList<BatchProblem> problems;
    QByteArray sha256; // of the whole input, to tie a results file to it
};

// Limits of a batch file: a card a line, so no line needs more than a few hundred bytes.
inline constexpr qint64 kBatchMaxLine = 4096;
inline constexpr qint64 kBatchMaxBytes = 4 * 1024 * 1024;
inline constexpr int kBatchMaxCards = 100000;
inline constexpr int kBatchMaxProblems = 100;

// Reads a batch from fd within the limits: one card a line, either plain track data for
// defaultMethod or a JSON object {"method": 1 or "iso2", "data": "..."} with no other and no
// repeated key. Blank lines and lines starting with "#" are skipped (data that starts with "#"
// goes in a JSON line). Every card is checked as a write checks it (allowEmpty: empty data
// passes). Problems are collected for every line; false with *error only when the input could
// not be read whole (a limit passed, a read error), naming where.
bool readCardBatch(int fd, CardMethodId defaultMethod, bool allowEmpty, CardBatch* batch,
                   QString* error);

// The same from text in memory (no limits beyond the line's).
CardBatch parseCardBatch(const QByteArray& text, CardMethodId defaultMethod, bool allowEmpty);
