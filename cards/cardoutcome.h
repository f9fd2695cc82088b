#pragma once

#include "cards/errorcode.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// How a card operation ended. The window has already told the operator through its boxes and
// ignores this; a front end without boxes (the command line) reports it and turns it into an
// exit status.
struct CardOutcome {
    enum Result {
        Done,        // read, written (and, for a verify, read back the same)
        NotStarted,  // no such card method, or the program is closing
        Rejected,    // the data check refused a character; nothing was sent
        Declined,    // the format warning was answered No; nothing was sent
        TimedOut,    // no reply, or no swipe, within the time-out
        ReaderError, // the reader answered with an error status or an unexpected reply
        Mismatch,    // verify: the card read back holds other data
        PortLost,    // the device vanished
        PortError,   // the port refused (not open, a write failed)
        Interrupted, // another operation took the link, or the waits were ended
    };
    // The exchange the operation was in when it ended.
    enum Step { NoStep, Check, Load, Arm, Swipe, Fetch, ReadBack, Reset };

    Result result = Done;
    Step step = NoStep;
    // Read and verify: the track data exactly as the reader returned it.
    QByteArray data;
    // A read of several tracks: each track's data, in the order asked (data is the first's).
    QList<QByteArray> tracks;
    // The reply that ended it (a status reply such as "lA"), when there was one.
    QByteArray reply;
    // The reader's status text, or the port's error text.
    QString message;
    // Rejected: the first offending character and its 1-based position.
    // Mismatch: the first position (1-based) where the card differs from the data written.
    int position = 0;
    QString character;
    // A read whose fetch ran to its end: the data box takes `data` (empty when the reply was
    // not the track data).
    bool fetched = false;
    bool resetSent = false;
    // Write and verify: the arm command went out, so a swipe may have written the card.
    bool armed = false;
    // The reader acknowledged the arm: from then on a swipe's status is this card's.
    bool acknowledged = false;
    // The reader confirmed the write ("card written"), whatever happened after.
    bool written = false;
    // Armed, and neither the write's status nor the reset's reply said whether it happened.
    bool writeUncertain = false;
    // Frames that failed their check during the exchange that ended it.
    int garbled = 0;

    bool ok() const { return result == Done; }
};

// "no swipe", "Write Data Error" and the like: one line naming what went wrong, for messages,
// with no full stop after it.
QString describeOutcome(const CardOutcome& outcome, int timeoutSeconds);

// How an operation failed, for scripts (no_swipe, reader_error...); none when it was done.
std::optional<ErrorCode> outcomeCode(const CardOutcome& outcome);
