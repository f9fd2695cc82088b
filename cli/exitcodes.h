#pragma once

// tarnavel-cli's exit statuses and the stable error codes behind them; --help, the manual
// page and the README list them.
namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Usage = 1;
inline constexpr int Port = 2;          // could not be opened, or lost
inline constexpr int NoReply = 3;       // no reply or no swipe within the time-out
inline constexpr int Reader = 4;        // the reader reported an error status
inline constexpr int Rejected = 5;      // data check, declined warning, not decodable
inline constexpr int Mismatch = 6;      // verify found other data on the card
inline constexpr int Results = 7;       // the results could not be written
inline constexpr int Interrupted = 130; // with SIGINT; 129 SIGHUP, 143 SIGTERM
} // namespace exitcode

struct ErrorCode {
    const char* code;
    int status;
};

// Every code a failure may carry, "code" in --json objects and batch results.
inline constexpr ErrorCode kErrorCodes[] = {
    {"usage", exitcode::Usage},
    {"not_started", exitcode::Usage},
    {"unsupported_method", exitcode::Usage},
    {"invalid_batch", exitcode::Usage},
    {"input_unreadable", exitcode::Usage},
    {"input_too_large", exitcode::Usage},
    {"ports_refused", exitcode::Usage},
    {"udev_failed", exitcode::Usage},
    {"settings_unreadable", exitcode::Usage},
    {"port_unavailable", exitcode::Port},
    {"port_error", exitcode::Port},
    {"reader_lost", exitcode::Port},
    {"permission_denied", exitcode::Port},
    {"port_busy", exitcode::Port},
    {"no_reply", exitcode::NoReply},
    {"no_swipe", exitcode::NoReply},
    {"garbled_replies", exitcode::NoReply},
    {"line_settings", exitcode::NoReply},
    {"reader_error", exitcode::Reader},
    {"unexpected_reply", exitcode::Reader},
    {"rejected", exitcode::Rejected},
    {"declined", exitcode::Rejected},
    {"too_long", exitcode::Rejected},
    {"empty_data", exitcode::Rejected},
    {"not_decodable", exitcode::Rejected},
    {"mismatch", exitcode::Mismatch},
    {"results_unwritable", exitcode::Results},
    {"interrupted", exitcode::Interrupted},
};
