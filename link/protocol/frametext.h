#pragma once

#include <QByteArray>
#include <QString>

// What frames and status codes say to a person: traces, the emulator's log, error messages.

// "02 6B 03 68"
QString hexBytes(const QByteArray& bytes);
// Every byte outside 32..126 as \xHH, the backslash and the double quote escaped, so that
// nothing from the line reaches a terminal as a control sequence; in double quotes if asked.
enum class Quotes { Around, None };
QString printableBytes(const QByteArray& bytes, Quotes quotes = Quotes::Around);
// The first kShownBytes of bytes as printableBytes shows them (unquoted), and how many more
// there were: a line flooding the buffer must not flood a message.
inline constexpr qsizetype kShownBytes = 32;
QString printableBytesCut(const QByteArray& bytes);

// The reader's message for a status reply, as the error box shows it: "Write Data Error", or
// "Unknown error: " and the code for a code without a message (the good ones included).
QString statusMessage(const QByteArray& replyBuffer);
// What a status code means: its message, or "OK", "card written", "card read"; empty for a
// code the reader does not send.
QString statusMeaning(char code);
// "Write Data Error (reader status lA)": a status reply in a line of text, cut as
// printableBytesCut cuts it.
QString readerStatusText(const QByteArray& reply);

enum class FrameSender { Host, Reader };
// Track data (of a write command, of a read reply) shown, or only its length: the check
// character is hidden with it, as it would tell something of the data too.
enum class TrackData { Hidden, Shown };

struct FrameDescription {
    FrameSender sender = FrameSender::Host;
    QString bytes; // in hex, hidden track data as its length
    QString meaning;
    // "host   > 02 6B 03 68  version query", "reader < 02 6C 30 03 5F  status l0: OK"
    QString line() const;
};

// What a frame means, from the side that sent it. Bytes that are not one whole frame are
// "not a frame"; with track data hidden, their bytes are hidden too, as they may be the
// remains of one that carried it.
FrameDescription describeFrame(FrameSender sender, const QByteArray& frame, TrackData data);
