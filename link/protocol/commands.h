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

// Outcomes of WaitForReply; the last two are the Yes and No message-box codes.
enum WaitOutcome : int {
    WAIT_REPLIED = 1,
    WAIT_TIMED_OUT = 2,
    WAIT_TRY_AGAIN = 6,
    WAIT_GIVE_UP = 7
};
