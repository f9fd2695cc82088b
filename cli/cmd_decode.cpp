// decode: ISO/IEC 7813 track data without a reader.

#include "cards/trackdecode.h"
#include "cli/command.h"
#include "cli/trackoutput.h"
#include "platform/boundedinput.h"

namespace {

// Decoding reads as it goes: lines have a bound, the whole input only its patience.
constexpr qint64 kDecodeMaxLine = 4096;
constexpr qint64 kDecodeMaxBytes = 16 * 1024 * 1024;

int decodeOne(CliContext& ctx, const QByteArray& data, bool first)
{
    const DecodedTrack track = decodeTrack(data);
    const bool reveal = ctx.args.has(Opt::Reveal);
    if (ctx.args.has(Opt::Json))
        ctx.console.out(decodedJson(track, reveal) + '\n');
    else
        ctx.console.out((first ? QByteArray() : QByteArrayLiteral("\n")) +
                        decodedText(track, reveal));
    return track.decodable ? exitcode::Ok : exitcode::Rejected;
}

int decode(CliContext& ctx)
{
    const QStringList& operands = ctx.args.operands;
    if (!operands.isEmpty() && operands.constFirst() != QLatin1String("-")) {
        // As the bytes were given: anything beyond ASCII is outside every track's set.
        const int status = decodeOne(ctx, operands.constFirst().toLocal8Bit(), true);
        if (status != exitcode::Ok) {
            ctx.failure = {status, ErrorCode::NotDecodable, QStringLiteral("not decodable")};
            ctx.jsonPrinted = true;
        }
        return status;
    }
    BoundedLineReader reader(ctx.console.input(), kDecodeMaxLine, kDecodeMaxBytes);
    int status = exitcode::Ok;
    bool first = true;
    QByteArray line;
    for (;;) {
        const BoundedLineReader::Result result = reader.next(&line);
        if (result == BoundedLineReader::End)
            break;
        if (result != BoundedLineReader::Line)
            return ctx.fail(
                result == BoundedLineReader::Failed ? ErrorCode::InputUnreadable
                                                    : ErrorCode::InputTooLarge,
                result == BoundedLineReader::Failed
                    ? QStringLiteral("cannot read standard input: %1").arg(reader.errorString())
                : result == BoundedLineReader::TooMuch
                    ? QStringLiteral("standard input: more than %1").arg(sizeText(kDecodeMaxBytes))
                    : QStringLiteral("standard input: line %1 is longer than %2; no "
                                     "track is that long")
                          .arg(reader.lineNumber())
                          .arg(sizeText(kDecodeMaxLine)));
        if (line.contains('\0'))
            return ctx.fail(ErrorCode::InputUnreadable,
                            QStringLiteral("standard input: line %1 holds a NUL byte; it is not "
                                           "track data")
                                .arg(reader.lineNumber()));
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (decodeOne(ctx, line, first) != exitcode::Ok)
            status = exitcode::Rejected;
        first = false;
    }
    if (status != exitcode::Ok) {
        ctx.failure = {status, ErrorCode::NotDecodable, QStringLiteral("not decodable")};
        ctx.jsonPrinted = true;
    }
    return status;
}

} // namespace

const CliCommand kDecodeCommand = {
    "decode",
    "[DATA|-]",
    "decode ISO/IEC 7813 track 1 or 2 data (no reader)",
    {},
    0,
    1,
    "decode takes one track, or - for standard input",
    "Decodes ISO/IEC 7813 track data without a reader: track 1 format B (%B...?) and\n"
    "track 2 (;...=...?), with their sentinels or without both (B...^...^... and\n"
    "...=..., as many readers return them); \"0\" padding after an end sentinel is\n"
    "allowed. Shows the account number masked (first 6 and last 4 digits) with its\n"
    "Luhn check, the name (track 1), the expiry as YYYY-MM, the service code with the\n"
    "meaning of each digit and the length of the discretionary data. --reveal shows\n"
    "the whole account number and the discretionary data. Other data is reported as\n"
    "not decodable (exit 5), never guessed. Without DATA (or with -) each line of\n"
    "standard input is decoded (lines up to 4 KiB, 16 MiB in all). With --json:\n"
    "{\"track\": 2, \"pan\": \"411111******1111\",\n"
    "\"luhn_ok\": true, \"expiry\": \"2025-12\", \"service_code\": \"101\", ...}.\n",
    {},
    decode,
};
