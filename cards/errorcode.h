#pragma once

#include <QString>

#include <optional>

// tarnavel-cli's exit statuses; --help, the manual page and the README list them.
namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Usage = 1;
inline constexpr int Port = 2;          // could not be opened, or lost
inline constexpr int NoReply = 3;       // no reply or no swipe within the time-out
inline constexpr int Reader = 4;        // the reader reported an error status
inline constexpr int Rejected = 5;      // data check, declined warning, not decodable
inline constexpr int Mismatch = 6;      // verify found other data on the card
inline constexpr int Results = 7;       // standard output or the results: not written, not usable
inline constexpr int Settings = 8;      // the stored settings cannot be read or used
inline constexpr int Interrupted = 130; // with SIGINT; 129 SIGHUP, 143 SIGTERM
} // namespace exitcode

// How an operation failed, for scripts: "code" in --json objects and in batch results.
enum class ErrorCode {
    Usage,
    NotStarted,
    UnsupportedMethod,
    InvalidBatch,
    InputUnreadable,
    InputTooLarge,
    PortsRefused,
    UdevFailed,
    SettingsUnusable,
    PortUnavailable,
    PortError,
    ReaderLost,
    PermissionDenied,
    PortBusy,
    NoReply,
    NoSwipe,
    GarbledReplies,
    LineSettings,
    ReaderError,
    UnexpectedReply,
    Rejected,
    Declined,
    TooLong,
    EmptyData,
    NotDecodable,
    Mismatch,
    OutputUnwritable,
    ResultsUnwritable,
    ResultsRefused,
    ResumeRefused,
    DuplicateCards,
    CardsInDoubt,
    Interrupted,
};

struct ErrorCodeInfo {
    ErrorCode code;
    const char* name; // stable: scripts test for it
    int exitStatus;   // Interrupted: 128 + the signal's number, when a signal ended the run
    const char* meaning;
};

// Every code, in the order of the enumeration; the manual page's list is checked against it.
inline constexpr ErrorCodeInfo kErrorCodes[] = {
    {ErrorCode::Usage, "usage", exitcode::Usage,
     "unknown command or option, a bad value or a wrong number of arguments"},
    {ErrorCode::NotStarted, "not_started", exitcode::Usage, "the operation could not start"},
    {ErrorCode::UnsupportedMethod, "unsupported_method", exitcode::Usage,
     "the reader does not offer the card method"},
    {ErrorCode::InvalidBatch, "invalid_batch", exitcode::Usage,
     "a line of the batch file is not a card"},
    {ErrorCode::InputUnreadable, "input_unreadable", exitcode::Usage,
     "the input cannot be read, or is not text"},
    {ErrorCode::InputTooLarge, "input_too_large", exitcode::Usage, "the input passes its limit"},
    {ErrorCode::PortsRefused, "ports_refused", exitcode::Usage,
     "a change of the ports folder was refused"},
    {ErrorCode::UdevFailed, "udev_failed", exitcode::Usage,
     "the udev rule could not be installed or applied"},
    {ErrorCode::SettingsUnusable, "settings_unusable", exitcode::Settings,
     "the stored settings cannot be read or used, so no port was touched"},
    {ErrorCode::PortUnavailable, "port_unavailable", exitcode::Port,
     "the port cannot be opened, or the ports folder cannot be read or trusted"},
    {ErrorCode::PortError, "port_error", exitcode::Port, "the port failed during an exchange"},
    {ErrorCode::ReaderLost, "reader_lost", exitcode::Port, "the reader was disconnected"},
    {ErrorCode::PermissionDenied, "permission_denied", exitcode::Port,
     "the user may not open the device"},
    {ErrorCode::PortBusy, "port_busy", exitcode::Port, "another program holds the port"},
    {ErrorCode::NoReply, "no_reply", exitcode::NoReply, "no reply within the time-out"},
    {ErrorCode::NoSwipe, "no_swipe", exitcode::NoReply, "no card swiped within the time-out"},
    {ErrorCode::GarbledReplies, "garbled_replies", exitcode::NoReply,
     "only corrupted frames came within the time-out: check the line settings and the cable"},
    {ErrorCode::LineSettings, "line_settings", exitcode::NoReply,
     "the reader answers only with other line settings than those given"},
    {ErrorCode::ReaderError, "reader_error", exitcode::Reader,
     "the reader reported an error status"},
    {ErrorCode::UnexpectedReply, "unexpected_reply", exitcode::Reader,
     "the reader gave another reply than the one awaited"},
    {ErrorCode::Rejected, "rejected", exitcode::Rejected, "the data check refused a character"},
    {ErrorCode::Declined, "declined", exitcode::Rejected, "the format warning was declined"},
    {ErrorCode::TooLong, "too_long", exitcode::Rejected, "more data than the track holds"},
    {ErrorCode::EmptyData, "empty_data", exitcode::Rejected,
     "empty data, which would erase the track"},
    {ErrorCode::NotDecodable, "not_decodable", exitcode::Rejected, "not ISO/IEC 7813 track data"},
    {ErrorCode::Mismatch, "mismatch", exitcode::Mismatch,
     "the card read back differs from the data written"},
    {ErrorCode::OutputUnwritable, "output_unwritable", exitcode::Results,
     "standard output could not be written"},
    {ErrorCode::ResultsUnwritable, "results_unwritable", exitcode::Results,
     "the results could not be written"},
    {ErrorCode::ResultsRefused, "results_refused", exitcode::Results,
     "the results file cannot be used: not the user's own regular file, in use by another run, "
     "or already holding cards of this batch"},
    {ErrorCode::ResumeRefused, "resume_refused", exitcode::Results,
     "the results file records other cards, or the batch file has changed since"},
    {ErrorCode::DuplicateCards, "duplicate_cards", exitcode::Rejected,
     "two cards of the job cannot be told apart, or a card is already written"},
    {ErrorCode::CardsInDoubt, "cards_in_doubt", exitcode::Results,
     "the results record a card whose write is in doubt: read it back"},
    {ErrorCode::Interrupted, "interrupted", exitcode::Interrupted,
     "ended by SIGHUP, SIGINT (Ctrl+C) or SIGTERM"},
};

// Looked up by index: a row out of place is a build error, not a wrong code at run time.
constexpr bool errorCodesInOrder()
{
    int index = 0;
    for (const ErrorCodeInfo& info : kErrorCodes) {
        if (int(info.code) != index++)
            return false;
    }
    return index == int(ErrorCode::Interrupted) + 1;
}
static_assert(errorCodesInOrder(), "kErrorCodes must list every ErrorCode in order");

constexpr const ErrorCodeInfo& errorCodeInfo(ErrorCode code)
{
    return kErrorCodes[int(code)];
}

// "port_unavailable" and the like.
inline QString errorCodeName(ErrorCode code)
{
    return QLatin1String(errorCodeInfo(code).name);
}
// The exit status the code stands for (exitcode::Interrupted for a signal).
// The code of a name from the table; nothing for a name it does not hold.
inline std::optional<ErrorCode> errorCodeNamed(const QString& name)
{
    for (const ErrorCodeInfo& info : kErrorCodes) {
        if (name == QLatin1String(info.name))
            return info.code;
    }
    return std::nullopt;
}

inline int errorExitStatus(ErrorCode code)
{
    return errorCodeInfo(code).exitStatus;
}
