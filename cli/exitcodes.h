#pragma once

// tarnavel-cli's exit statuses; --help, the manual page and the README list them.
namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Usage = 1;
inline constexpr int Port = 2;     // could not be opened, or lost
inline constexpr int NoReply = 3;  // no reply or no swipe within the time-out
inline constexpr int Reader = 4;   // the reader reported an error status
inline constexpr int Rejected = 5; // data check, declined warning, not decodable
inline constexpr int Mismatch = 6; // verify found other data on the card
inline constexpr int Interrupted = 130;
} // namespace exitcode
