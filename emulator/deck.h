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

// "Test card" (all three tracks), "Track 2 only", "Blank card".
QList<ReaderCard> defaultDeck();
// The deck file: see deckFormatHelp(). False with *error set (line number included).
bool parseDeck(const QByteArray& text, QList<ReaderCard>* deck, QString* error);
QString deckFormatHelp();
