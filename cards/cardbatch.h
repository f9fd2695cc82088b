#pragma once

#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One track of a card: the data for one card method.
struct BatchTrack {
    explicit BatchTrack(CardMethodId method) : method(method) {}
    CardMethodId method;
    QString data;           // as written in the file
    QByteArray bytes;       // checked and padded: what goes to the reader
    bool unchecked = false; // a format that cannot be checked (ibm, iso1t3)
};

// One card of a batch file: one track, or several, each written with a swipe of its own in
// the order of the card's tracks (track 1, 2, 3): nothing says a reader keeps the data of
// several loads for one swipe.
struct BatchCard {
    int index = 0; // 1-based among the cards of the file
    int line = 0;  // 1-based line of the file
    QList<BatchTrack> tracks;
    // The card's identity in results files: a keyed hash of its tracks (set by the journal's
    // CardIdentity before the cards are written).
    QByteArray id;

    bool severalTracks() const { return tracks.size() > 1; }
    // The track written with method, or nullptr.
    const BatchTrack* track(CardMethodId method) const;
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

// Limits of a batch file: a card a line, so no line needs more than a few hundred bytes, and the
// most cards, each of three full tracks as generate writes them, fit in the whole.
inline constexpr qint64 kBatchMaxLine = 4096;
inline constexpr qint64 kBatchMaxBytes = 48 * 1024 * 1024;
inline constexpr int kBatchMaxCards = 100000;
inline constexpr int kBatchMaxProblems = 100;

// Reads a batch from fd within the limits: one card a line, either plain track data for
// defaultMethod, a JSON object {"method": 1 or "iso2", "data": "..."}, or a JSON object of
// several tracks keyed by their methods' short names {"iso1": "...", "iso2": "..."} (one method
// a track); no other key and no repeated one. Blank lines and lines starting with "#" are
// skipped (data that starts with "#" goes in a JSON line). Every card is checked as a write checks
// it (allowEmpty: empty data passes). Problems are collected for every line; false with *error only
// when the input could not be read whole (a limit passed, a read error), naming where.
bool readCardBatch(int fd, CardMethodId defaultMethod, bool allowEmpty, CardBatch* batch,
                   QString* error);

// The same from text in memory (no limits beyond the line's).
CardBatch parseCardBatch(const QByteArray& text, CardMethodId defaultMethod, bool allowEmpty);

// Cards that cannot be told apart: the same data on every track, or the same account number on
// a track that has one (a point of sale reads the number). Each problem names the later card's
// line and the earlier card.
QList<BatchProblem> duplicateCards(const QList<BatchCard>& cards);
