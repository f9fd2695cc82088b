#pragma once

#include <QString>

// The reader's one-character vocabulary. The names are ours; the characters are the device's.
namespace cmd {
inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';

inline constexpr char CMD_LED = '`';
inline constexpr char CMD_RESET = 'h';
inline constexpr char CMD_VERSION = 'k';
inline constexpr char REPLY_STATUS = 'l';
inline constexpr char CMD_ARM = 'n';
inline constexpr char CMD_RESEND = 'o';

inline constexpr char CMD_WRITE_ISO_T1 = '1';
inline constexpr char CMD_READ_ISO_T1 = '5';
inline constexpr char CMD_WRITE_ISO_T2 = 'A';
inline constexpr char CMD_READ_ISO_T2 = 'E';
inline constexpr char CMD_WRITE_ISO_T3 = 'Q';
inline constexpr char CMD_READ_ISO_T3 = 'U';
inline constexpr char CMD_WRITE_IBM_T2 = '@';
inline constexpr char CMD_READ_IBM_T2 = 'D';
inline constexpr char CMD_WRITE_T1ISO_T3 = '!';
inline constexpr char CMD_READ_T1ISO_T3 = '%';

inline constexpr char ST_OK = '0';
inline constexpr char ST_PARITY_ERROR = '1';
inline constexpr char ST_LRC_ERROR = '2';
inline constexpr char ST_BAD_COMMAND = '3';
inline constexpr char ST_BUFFER_FULL = '4';
inline constexpr char ST_WRITE_DONE = '@';
inline constexpr char ST_WRITE_ERROR = 'A';
inline constexpr char ST_READ_DONE = 'P';
inline constexpr char ST_READ_ERROR = 'Q';
inline constexpr char ST_READ_NO_DATA = 'R';
} // namespace cmd

// The card methods as the reader knows them. The index is shared with the method options, the
// default-method list and DefType; the data checks and the window's texts are the cards layer's.
struct MethodCommands {
    const char* name;
    const char* shortName; // for typing
    char writeCommand;
    char readCommand;
    int track; // 0..2: the card track the method reads and writes
};

inline constexpr int CARD_METHOD_COUNT = 5;

inline constexpr MethodCommands METHOD_COMMANDS[CARD_METHOD_COUNT] = {
    {"ISO on Track 1", "iso1", cmd::CMD_WRITE_ISO_T1, cmd::CMD_READ_ISO_T1, 0},
    {"ISO on Track 2", "iso2", cmd::CMD_WRITE_ISO_T2, cmd::CMD_READ_ISO_T2, 1},
    {"ISO on Track 3", "iso3", cmd::CMD_WRITE_ISO_T3, cmd::CMD_READ_ISO_T3, 2},
    {"IBM 4700 on Track 2", "ibm", cmd::CMD_WRITE_IBM_T2, cmd::CMD_READ_IBM_T2, 1},
    {"Track 1 ISO on Track 3", "iso1t3", cmd::CMD_WRITE_T1ISO_T3, cmd::CMD_READ_T1ISO_T3, 2},
};

inline constexpr bool isCardMethod(int index)
{
    return index >= 0 && index < CARD_METHOD_COUNT;
}

// Which card method a command character belongs to, and whether it writes or reads.
struct CommandMethod {
    enum Direction { None, Write, Read };
    int method = -1;
    Direction direction = None;
    constexpr bool found() const { return method >= 0; }
};

constexpr CommandMethod methodOfCommand(char command)
{
    for (int index = 0; index < CARD_METHOD_COUNT; ++index) {
        if (command == METHOD_COMMANDS[index].readCommand)
            return {index, CommandMethod::Read};
        if (command == METHOD_COMMANDS[index].writeCommand)
            return {index, CommandMethod::Write};
    }
    return {};
}

// Empty, the NUL character or -1 for an index outside 0..4.
QString methodName(int index);
// "iso1", "iso2", "iso3", "ibm", "iso1t3".
QString methodShortName(int index);
// "iso1, iso2, iso3, ibm, iso1t3": the short names in index order, for messages.
QString methodShortNames();
char methodWriteCommand(int index);
char methodReadCommand(int index);
int methodTrack(int index);
// A method given as its index ("0" to "4") or its short name in any case; -1 for anything else.
int methodFromText(const QString& text);

// Outcomes of WaitForReply; the last two are the Yes and No message-box codes.
enum WaitOutcome : int {
    WAIT_REPLIED = 1,
    WAIT_TIMED_OUT = 2,
    WAIT_TRY_AGAIN = 6,
    WAIT_GIVE_UP = 7
};
