// decode: ISO/IEC 7813 track data without a reader.

#include "cards/jsonline.h"
#include "cards/trackdecode.h"
#include "cli/command.h"
#include "cli/trackoutput.h"
#include "platform/boundedinput.h"

namespace {

// Decoding reads as it goes: lines have a bound, the whole input only its patience.
constexpr qint64 kDecodeMaxLine = 4096;
constexpr qint64 kDecodeMaxBytes = 16 * 1024 * 1024;

// One track's outcome: its fields on standard output, or why not on standard error (with
// --json also an object with the exit status and the error). where names a line of input.
int decodeOne(CliContext& ctx, const QByteArray& data, bool* first, const QString& where)
{
    const DecodedTrack track = decodeTrack(data);
    const bool reveal = ctx.args.has(Opt::Reveal);
    if (!track.decodable) {
        const QString error = where + undecodableText(track);
        ctx.console.message(error);
        // The outcome is the first failure's; JSON answers every line by itself.
        ctx.fail(ErrorCode::NotDecodable, error, true);
        if (ctx.args.has(Opt::Json)) {
            JsonLine json;
            json.add("decodable", false)
                .add("reason", track.reason)
                .add("exit", exitcode::Rejected)
                .add("code", errorCodeName(ErrorCode::NotDecodable))
                .add("error", error);
            ctx.console.out(json.text() + '\n');
            ctx.jsonPrinted = true;
        }
        return exitcode::Rejected;
    }
    if (ctx.args.has(Opt::Json))
        ctx.console.out(decodedJson(track, reveal) + '\n');
    else
        ctx.console.out((*first ? QByteArray() : QByteArrayLiteral("\n")) +
                        decodedText(track, reveal));
    *first = false;
    return exitcode::Ok;
}

int decode(CliContext& ctx)
{
    const QStringList& operands = ctx.args.operands;
    bool first = true;
    if (!operands.isEmpty() && operands.constFirst() != QLatin1String("-")) {
        // As the bytes were given: anything beyond ASCII is outside every track's set.
        return decodeOne(ctx, operands.constFirst().toLocal8Bit(), &first, QString());
    }
    BoundedLineReader reader(ctx.console.input(), kDecodeMaxLine, kDecodeMaxBytes);
    int status = exitcode::Ok;
    // Input that cannot be read ends the run: that is the outcome the last object tells,
    // whatever the lines before it were.
    const auto inputFailed = [&ctx](ErrorCode code, const QString& text) {
        ctx.failure = {};
        ctx.jsonPrinted = false;
        return ctx.fail(code, text);
    };
    QByteArray line;
    for (;;) {
        const BoundedLineReader::Result result = reader.next(&line);
        if (result == BoundedLineReader::End)
            break;
        if (result != BoundedLineReader::Line)
            return inputFailed(
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
            return inputFailed(ErrorCode::InputUnreadable,
                               QStringLiteral("standard input: line %1 holds a NUL byte; it is "
                                              "not track data")
                                   .arg(reader.lineNumber()));
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (decodeOne(ctx, line, &first,
                      QStringLiteral("standard input, line %1: ").arg(reader.lineNumber())) !=
            exitcode::Ok)
            status = exitcode::Rejected;
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
    "not decodable on standard error (exit 5), never guessed. Without DATA (or with -)\n"
    "each line of standard input is decoded (lines up to 4 KiB, 16 MiB in all). With\n"
    "--json: {\"track\": 2, \"pan\": \"411111******1111\", \"luhn_ok\": true, \"expiry\":\n"
    "\"2025-12\", \"service_code\": \"101\", ...}; for data that does not decode\n"
    "{\"decodable\": false, \"reason\": ..., \"exit\": 5, \"code\": \"not_decodable\",\n"
    "\"error\": ...}.\n",
    {},
    decode,
    {Opt::Json, Opt::Reveal, Opt::Help},
};
