#include "cli/clishared.h"

#include "cards/cardmethods.h"
#include "cli/command.h"
#include "platform/boundedinput.h"

#include <QStringDecoder>

int takeTrackData(CliContext& ctx, const QString& operand, QString* data)
{
    if (operand != QLatin1String("-")) {
        *data = operand;
        return exitcode::Ok;
    }
    // A track is one line: more than that is not track data, whatever the input is.
    BoundedLineReader reader(ctx.console.input(), kTrackMaxLine, kTrackMaxLine + 2);
    QByteArray line;
    const BoundedLineReader::Result result = reader.next(&line);
    QByteArray more;
    if (result == BoundedLineReader::Line && reader.next(&more) == BoundedLineReader::Line &&
        !(more.isEmpty() || more == "\r"))
        return ctx.fail(ErrorCode::InputTooLarge,
                        QStringLiteral("standard input holds more than one line; give one "
                                       "track's data"));
    switch (result) {
    case BoundedLineReader::Line:
    case BoundedLineReader::End:
        break;
    case BoundedLineReader::LineTooLong:
        return ctx.fail(ErrorCode::InputTooLarge,
                        QStringLiteral("standard input holds more than %1 on one line: no track "
                                       "is that long")
                            .arg(sizeText(kTrackMaxLine)));
    case BoundedLineReader::TooMuch:
        // Read a chunk at a time, the input passed its bound before its first line ended.
        return ctx.fail(ErrorCode::InputTooLarge,
                        QStringLiteral("standard input holds more than %1: give one track's "
                                       "data, one line")
                            .arg(sizeText(kTrackMaxLine)));
    case BoundedLineReader::Failed:
        return ctx.fail(ErrorCode::InputUnreadable,
                        QStringLiteral("cannot read standard input: %1").arg(reader.errorString()));
    }
    if (line.endsWith('\r'))
        line.chop(1);
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::Stateless);
    *data = decoder.decode(line);
    if (line.contains('\0') || decoder.hasError())
        return ctx.fail(ErrorCode::InputUnreadable,
                        QStringLiteral("standard input is not text (a NUL byte or an invalid "
                                       "character encoding)"));
    ctx.console.setInteractive(false);
    return exitcode::Ok;
}

int refuseData(CliContext& ctx, const TrackDataCheck& check, CardMethodId method,
               const QString& data, const QString& where)
{
    switch (check.verdict) {
    case TrackDataCheck::Invalid:
        return ctx.fail(ErrorCode::Rejected,
                        where + QStringLiteral("invalid character \"%1\" at position %2 of the "
                                               "data: %3")
                                    .arg(check.character)
                                    .arg(check.position)
                                    .arg(acceptedCharactersText(method)));
    case TrackDataCheck::TooLong:
        return ctx.fail(ErrorCode::TooLong,
                        where + QStringLiteral("%1 characters: %2 holds at most %3")
                                    .arg(data.size())
                                    .arg(method.name())
                                    .arg(method.capacity()));
    case TrackDataCheck::Empty:
        return ctx.fail(ErrorCode::EmptyData,
                        where + QStringLiteral("no data: writing it would erase the track "
                                               "(--allow-empty writes it)"));
    default:
        return exitcode::Ok;
    }
}

QString uncheckedRefusal(CardMethodId method)
{
    return QStringLiteral("%1 data cannot be checked; --yes writes it unchecked")
        .arg(method.name());
}

QString oneLine(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

int wholeNumberOption(CliContext& ctx, Opt option, qint64 lowest, qint64 highest, qint64* value)
{
    if (!ctx.args.has(option))
        return exitcode::Ok;
    bool ok = false;
    const qint64 given = ctx.args.value(option).toLongLong(&ok);
    if (!ok || given < lowest || given > highest)
        return ctx.usage(QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                             .arg(QLatin1String(cliOption(option).longName))
                             .arg(lowest)
                             .arg(highest)
                             .arg(ctx.args.value(option)));
    *value = given;
    return exitcode::Ok;
}

int numberOption(CliContext& ctx, Opt option, int lowest, int highest, int fallback, int* value)
{
    qint64 number = fallback;
    const int status = wholeNumberOption(ctx, option, lowest, highest, &number);
    *value = int(number);
    return status;
}
