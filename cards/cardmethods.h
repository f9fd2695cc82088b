#pragma once

#include "link/protocol/cardmethod.h"

#include <QList>
#include <QString>

class IMessageBox;

// Card-method options a reader of this type cannot serve. Only ever used to disable options.
QList<CardMethodId> unsupportedMethods(int readerType);

// "ISO on Track 1 takes the characters from space to _": what the data check lets through.
QString acceptedCharactersText(CardMethodId method);

// The rules shown in the help box, lines joined by "\r\n".
QString helpText(CardMethodId method);

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

// The check of CheckTrackData without its boxes.
TrackDataCheck inspectTrackData(CardMethodId method, const QString& data);

// The check of data a command line writes: inspectTrackData, and beyond what the window's data
// box prevents, data longer than the track holds (TooLong, position: the first character
// beyond it) and empty data (Empty: it erases the track) unless allowEmpty.
TrackDataCheck inspectCardData(CardMethodId method, const QString& data, bool allowEmpty);

// The texts of the two boxes the check can show.
QString invalidCharacterText(const QString& character);
QString formatWarningText(CardMethodId method);

// Checks (and for the ISO methods pads) the data about to be written with the method that
// command belongs to. False means stop: the operator has been told why or has declined.
// Data that cannot travel as one byte a character is refused for every method. check, when
// given, receives what the check found (a declined warning leaves the verdict Unchecked).
bool CheckTrackData(const QString& command, QString& data, IMessageBox& messages,
                    TrackDataCheck* check = nullptr);
