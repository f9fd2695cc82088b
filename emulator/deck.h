#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>

// One magnetic card of the emulator's deck: a name for the operator and three tracks.
struct ReaderCard {
    QString name;
    std::array<QByteArray, 3> tracks;
};

inline constexpr int kMaxTrackLength = 512;
// Far beyond any deck typed by hand; a file this large is not a deck.
inline constexpr qint64 kMaxDeckFileBytes = 1024 * 1024;

// "Test card" (all three tracks), "Track 2 only", "Blank card".
QList<ReaderCard> defaultDeck();
// The deck file: see deckFormatHelp(). False with *error set (line number included).
bool parseDeck(const QByteArray& text, QList<ReaderCard>* deck, QString* error);
// Reads and parses a deck file: a regular file of at most kMaxDeckFileBytes. False with
// *error set, naming the file.
bool loadDeckFile(const QString& path, QList<ReaderCard>* deck, QString* error);
QString deckFormatHelp();
