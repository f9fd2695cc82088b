#pragma once

#include "link/protocol/commands.h"

#include <QList>
#include <QString>

class IMessageBox;

// How a card method is offered and what its data may hold; its commands, name and track are in
// link's METHOD_COMMANDS, at the same index.
struct CardMethodInfo {
    const char* caption; // option caption, "&" marks the access key
    int lengthLimit;     // of the data box; 0: no limit
    // Data shorter than this is padded with "0"; 0: neither padded nor checked.
    int padTo;
    int lowestCode; // accepted character codes, inclusive
    int highestCode;
    const char* accepted; // the accepted characters in words
    // The ISO/IEC 7813 format the method's track may hold: 1 (track 1 format B), 2 (track 2),
    // 0 for none (track 3's own format, IBM 4700).
    int trackFormat;
    // The most characters the track holds: for the two unchecked formats the capacity of the
    // ISO format of the same density on that track.
    int capacity;
};

inline constexpr CardMethodInfo CARD_METHODS[CARD_METHOD_COUNT] = {
    {"ISO on Track &1", 76, 76, 32, 95, "the characters from space to _", 1, 76},
    {"ISO on Track &2", 37, 37, 48, 63, "0-9 : ; < = > ?", 2, 37},
    {"ISO on Track &3", 104, 104, 48, 63, "0-9 : ; < = > ?", 0, 104},
    {"IBM &4700 on Track 2", 0, 0, 0, 0, "only characters of one byte", 0, 37},
    {"Track 1 &ISO on Track 3", 0, 0, 0, 0, "only characters of one byte", 1, 76},
};

// Card-method options a reader of this type cannot serve. Only ever used to disable options.
QList<int> unsupportedMethods(int readerType);

// Empty or 0 for an index outside 0..4.
QString methodCaption(int index);
int methodLengthLimit(int index);
// "ISO on Track 1 takes the characters from space to _": what the data check lets through.
QString acceptedCharactersText(int index);

// The rules shown in the help box, lines joined by "\r\n"; empty for an unknown index.
QString helpText(int index);

// What the data check finds, before anybody is told: the ISO methods pad and test every
// character; the other two only refuse what cannot travel as one byte and need the warning.
struct TrackDataCheck {
    // TooLong and Empty come only from inspectCardData.
    enum Verdict { Passed, Invalid, Unchecked, TooLong, Empty };
    Verdict verdict = Passed;
    QString data;      // padded for the ISO methods
    int position = 0;  // Invalid: 1-based position of the first offending character
    QString character; // Invalid: that character as typed (two code units beyond the BMP)
};

// The check of CheckTrackData without its boxes, for a method index 0..4 (any other index
// passes the data unchanged).
TrackDataCheck inspectTrackData(int method, const QString& data);

// The most characters a card method's track holds (0 for an index outside 0..4).
int methodCapacity(int index);

// The check of data a command line writes: inspectTrackData, and beyond what the window's data
// box prevents, data longer than the track holds (TooLong, position: the first character
// beyond it) and empty data (Empty: it erases the track) unless allowEmpty.
TrackDataCheck inspectCardData(int method, const QString& data, bool allowEmpty);

// The texts of the two boxes the check can show.
QString invalidCharacterText(const QString& character);
QString formatWarningText(int method);

// Checks (and for the ISO methods pads) the data about to be written with the method that
// command belongs to. False means stop: the operator has been told why or has declined.
// Data that cannot travel as one byte a character is refused for every method. check, when
// given, receives what the check found (a declined warning leaves the verdict Unchecked).
bool CheckTrackData(const QString& command, QString& data, IMessageBox& messages,
                    TrackDataCheck* check = nullptr);
