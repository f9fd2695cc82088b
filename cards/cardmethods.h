#pragma once

#include <QList>
#include <QString>

class IMessageBox;

// One card method: how it is offered, which reader commands it uses and what its data may hold.
struct CardMethodInfo {
    const char* caption; // option caption, "&" marks the access key
    const char* name;
    char writeCommand;
    char readCommand;
    int lengthLimit; // of the data box; 0: no limit
    // Data shorter than this is padded with "0"; 0: neither padded nor checked.
    int padTo;
    int lowestCode; // accepted character codes, inclusive
    int highestCode;
};

inline constexpr int CARD_METHOD_COUNT = 5;

// Index order is shared with the method options, the default-method list and DefType.
inline constexpr CardMethodInfo CARD_METHODS[CARD_METHOD_COUNT] = {
    {"ISO on Track &1", "ISO on Track 1", '1', '5', 76, 76, 32, 95},
    {"ISO on Track &2", "ISO on Track 2", 'A', 'E', 37, 37, 48, 63},
    {"ISO on Track &3", "ISO on Track 3", 'Q', 'U', 104, 104, 48, 63},
    {"IBM &4700 on Track 2", "IBM 4700 on Track 2", '@', 'D', 0, 0, 0, 0},
    {"Track 1 &ISO on Track 3", "Track 1 ISO on Track 3", '!', '%', 0, 0, 0, 0},
};

inline constexpr bool isCardMethod(int index)
{
    return index >= 0 && index < CARD_METHOD_COUNT;
}

// Card-method options a reader of this type cannot serve. Only ever used to disable options.
QList<int> unsupportedMethods(int readerType);

// Empty, 0 or the NUL character for an index outside 0..4.
QString methodCaption(int index);
QString methodName(int index);
int methodLengthLimit(int index);
char methodWriteCommand(int index);
char methodReadCommand(int index);

// Short names for typing: "iso1", "iso2", "iso3", "ibm", "iso1t3"; empty outside 0..4.
QString methodShortName(int index);
// A method given as its index ("0" to "4") or its short name in any case; -1 for anything else.
int methodFromText(const QString& text);

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

// The most characters a card method's track holds: the ISO tracks' lengths, and for the two
// unchecked formats the capacity of their track at their density (37 and 76).
int methodCapacity(int index);

// The check of data a command line writes: inspectTrackData, and beyond what the window's data
// box prevents, data longer than the track holds (TooLong, position: the first character
// beyond it) and empty data (Empty: it erases the track) unless allowEmpty.
TrackDataCheck inspectCardData(int method, const QString& data, bool allowEmpty);

// "ISO on Track 2 takes 0-9 : ; < = > ?": the characters a method's data may hold.
QString acceptedCharactersText(int method);

// The texts of the two boxes the check can show.
QString invalidCharacterText(const QString& character);
QString formatWarningText(int method);

// Checks (and for the ISO methods pads) the data about to be written with the method that
// command belongs to. False means stop: the operator has been told why or has declined.
// Data that cannot travel as one byte a character is refused for every method. check, when
// given, receives what the check found (a declined warning leaves the verdict Unchecked).
bool CheckTrackData(const QString& command, QString& data, IMessageBox& messages,
                    TrackDataCheck* check = nullptr);
