// The poll tick's frame assembly: line noise arrives in pieces of any size, then the reader's
// good reply. The reply buffer never outgrows its bound, and the good reply is recognised at
// once or after exactly one resend request, whatever came before it.

#include "config/appsettings.h"
#include "fuzzcheck.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "support/fakeport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/scriptedmessagebox.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FakePort port;
    ManualClock clock;
    ManualPump pump(clock);
    ScriptedMessageBox messages;
    AppSettings settings;
    ReaderLink link(port, clock, messages, pump, settings);

    // The input is pieces: a length byte, then up to that many bytes of noise. A reply taken
    // from them is the body of the last whole frame received, and never holds a start character.
    QByteArray received;
    size_t at = 0;
    while (at < size) {
        const size_t length = qMin<size_t>(data[at] % 128, size - at - 1);
        const QByteArray piece(reinterpret_cast<const char*>(data + at + 1), qsizetype(length));
        at += 1 + length;
        received += piece;
        port.feed(piece);
        link.awaitSwipe();
        link.tmrCheckComms_Timer();
        FUZZ_CHECK(link.ReplyBuffer().size() <= ReaderLink::kMaxReplyBuffer);
        if (!link.WaitingForReply()) {
            FUZZ_CHECK(received.endsWith(buildFrame(link.ReplyBuffer())));
            FUZZ_CHECK(!link.ReplyBuffer().contains(cmd::STX));
        }
    }

    const QByteArray ok = QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK;
    const qsizetype written = port.written.size();
    link.awaitSwipe();
    port.feed(buildFrame(ok));
    link.tmrCheckComms_Timer();
    if (link.WaitingForReply()) {
        FUZZ_CHECK(port.written.size() == written + 1);
        FUZZ_CHECK(port.written.last() == buildFrame(QByteArray(1, cmd::CMD_RESEND)));
        port.feed(buildFrame(ok));
        link.tmrCheckComms_Timer();
    }
    FUZZ_CHECK(!link.WaitingForReply());
    FUZZ_CHECK(link.ReplyBuffer() == ok);
    FUZZ_CHECK(messages.shown.isEmpty());
    return 0;
}
