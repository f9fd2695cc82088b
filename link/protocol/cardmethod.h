#pragma once

#include "link/protocol/commands.h"

#include <QList>
#include <QString>

#include <optional>

// Everything one card method is, in one row: the reader's commands and the track they reach, the
// window's caption and data-box limit, and what the data may hold. The index is shared with the
// method options, the default-method list and DefType.
struct CardMethodRow {
    const char* name;      // "ISO on Track 1"
    const char* shortName; // for typing: "iso1"
    const char* caption;   // option caption, "&" marks the access key
    char writeCommand;
    char readCommand;
    int track;       // 0..2: the card track the method reads and writes
    int lengthLimit; // of the data box; 0: no limit
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

inline constexpr int CARD_METHOD_COUNT = 5;

inline constexpr CardMethodRow CARD_METHOD_TABLE[CARD_METHOD_COUNT] = {
    {"ISO on Track 1", "iso1", "ISO on Track &1", cmd::CMD_WRITE_ISO_T1, cmd::CMD_READ_ISO_T1, 0,
     76, 76, 32, 95, "the characters from space to _", 1, 76},
    {"ISO on Track 2", "iso2", "ISO on Track &2", cmd::CMD_WRITE_ISO_T2, cmd::CMD_READ_ISO_T2, 1,
     37, 37, 48, 63, "0-9 : ; < = > ?", 2, 37},
    {"ISO on Track 3", "iso3", "ISO on Track &3", cmd::CMD_WRITE_ISO_T3, cmd::CMD_READ_ISO_T3, 2,
     104, 104, 48, 63, "0-9 : ; < = > ?", 0, 104},
    {"IBM 4700 on Track 2", "ibm", "IBM &4700 on Track 2", cmd::CMD_WRITE_IBM_T2,
     cmd::CMD_READ_IBM_T2, 1, 0, 0, 0, 0, "only characters of one byte", 0, 37},
    {"Track 1 ISO on Track 3", "iso1t3", "Track 1 &ISO on Track 3", cmd::CMD_WRITE_T1ISO_T3,
     cmd::CMD_READ_T1ISO_T3, 2, 0, 0, 0, 0, "only characters of one byte", 1, 76},
};

// In every pair the read command's code is the write command's plus 4.
static_assert([] {
    for (const CardMethodRow& row : CARD_METHOD_TABLE) {
        if (row.readCommand != row.writeCommand + 4)
            return false;
    }
    return true;
}());

// A card method that exists. It is made only from what names one (an index, a short name, a
// command character), where that enters the program, so whatever holds one needs no check.
class CardMethodId
{
public:
    enum class Direction { Write, Read };

    // 0 to 4; nothing for any other index.
    static std::optional<CardMethodId> fromIndex(int index);
    // The index ("0" to "4") or the short name in any case, blanks around it ignored.
    static std::optional<CardMethodId> fromText(const QString& text);
    // The method a write or read command belongs to, and which of the two it is.
    static std::optional<CardMethodId> fromCommand(char command, Direction* direction = nullptr);
    // Every method, in index order.
    static QList<CardMethodId> all();
    // "iso1, iso2, iso3, ibm, iso1t3": for messages.
    static QString shortNames();

    int index() const { return m_index; }
    const CardMethodRow& row() const { return CARD_METHOD_TABLE[m_index]; }
    QString name() const { return QString::fromLatin1(row().name); }
    QString shortName() const { return QString::fromLatin1(row().shortName); }
    char writeCommand() const { return row().writeCommand; }
    char readCommand() const { return row().readCommand; }
    int track() const { return row().track; }
    int capacity() const { return row().capacity; }
    // A format the data check cannot check (ibm, iso1t3): a warning instead.
    bool unchecked() const { return row().padTo == 0; }

    friend bool operator==(CardMethodId a, CardMethodId b) { return a.m_index == b.m_index; }

private:
    explicit CardMethodId(int index) : m_index(index) {}
    int m_index;
};
