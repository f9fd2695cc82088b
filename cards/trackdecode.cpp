#include "cards/trackdecode.h"

#include "cards/cardmethods.h"

namespace {

// Longest track up to and including its end sentinel (the standard's maxima count the
// longitudinal check character as well).
constexpr int kTrack1Max = 78;
constexpr int kTrack2Max = 39;
constexpr int kPanMin = 12;
constexpr int kPanMax = 19;
constexpr int kNameMin = 2;
constexpr int kNameMax = 26;

bool allDigits(const QString& text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

DecodedTrack notDecodable(const QString& reason)
{
    DecodedTrack track;
    track.reason = reason;
    return track;
}

// Expiry (YYMM) and service code at the start of what follows the account number (track 2) or
// the name (track 1); the rest is discretionary data.
bool takeDates(const QString& rest, DecodedTrack& track, QString* reason)
{
    if (rest.size() < 7 || !allDigits(rest.left(7))) {
        *reason = QStringLiteral("no expiry date (YYMM) and service code (3 digits) after the "
                                 "field separator");
        return false;
    }
    const int month = rest.mid(2, 2).toInt();
    if (month < 1 || month > 12) {
        *reason = QStringLiteral("expiry date %1 has no month %2").arg(rest.left(4)).arg(month);
        return false;
    }
    track.expiry = QStringLiteral("20%1-%2").arg(rest.left(2), rest.mid(2, 2));
    track.serviceCode = rest.mid(4, 3);
    track.discretionary = rest.mid(7);
    return true;
}

bool takePan(const QString& pan, DecodedTrack& track, QString* reason)
{
    if (pan.size() < kPanMin || pan.size() > kPanMax || !allDigits(pan)) {
        *reason =
            QStringLiteral("the account number is not %1 to %2 digits").arg(kPanMin).arg(kPanMax);
        return false;
    }
    track.pan = pan;
    track.luhnOk = luhnValid(pan);
    return true;
}

DecodedTrack decodeTrack1(const QString& body)
{
    // body: from the format code to before the end sentinel.
    DecodedTrack track;
    QString reason;
    for (const QChar c : body) {
        if (c.unicode() < 0x20 || c.unicode() > 0x5F || c == QLatin1Char('%') ||
            c == QLatin1Char('?'))
            return notDecodable(QStringLiteral("a character outside the track 1 set"));
    }
    if (!body.startsWith(QLatin1Char('B')))
        return notDecodable(QStringLiteral("track 1 without format code B"));
    const qsizetype first = body.indexOf(QLatin1Char('^'));
    const qsizetype second = first < 0 ? -1 : body.indexOf(QLatin1Char('^'), first + 1);
    if (second < 0)
        return notDecodable(QStringLiteral("track 1 without its two field separators (^)"));
    if (!takePan(body.mid(1, first - 1), track, &reason))
        return notDecodable(reason);
    const QString name = body.mid(first + 1, second - first - 1);
    if (name.size() < kNameMin || name.size() > kNameMax)
        return notDecodable(
            QStringLiteral("the name is not %1 to %2 characters").arg(kNameMin).arg(kNameMax));
    QString trimmed = name;
    while (trimmed.endsWith(QLatin1Char(' ')))
        trimmed.chop(1);
    track.name = trimmed;
    if (!takeDates(body.mid(second + 1), track, &reason))
        return notDecodable(reason);
    track.format = 1;
    track.decodable = true;
    return track;
}

DecodedTrack decodeTrack2(const QString& body)
{
    DecodedTrack track;
    QString reason;
    const qsizetype separator = body.indexOf(QLatin1Char('='));
    if (separator < 0)
        return notDecodable(QStringLiteral("track 2 without its field separator (=)"));
    if (!takePan(body.left(separator), track, &reason))
        return notDecodable(reason);
    const QString rest = body.mid(separator + 1);
    if (!allDigits(rest))
        return notDecodable(QStringLiteral("track 2 data after the separator is not all digits"));
    if (!takeDates(rest, track, &reason))
        return notDecodable(reason);
    track.format = 2;
    track.decodable = true;
    return track;
}

// Many readers hand out what lies between the sentinels: the same layout without them. Its
// format shows in its first character (B for track 1, a digit for track 2) or comes from the
// card method.
DecodedTrack decodeBare(const QString& text, int expectFormat)
{
    int format = expectFormat;
    if (format == 0)
        format = text.startsWith(QLatin1Char('B')) ? 1 : text.at(0).isDigit() ? 2 : 0;
    if (format == 0)
        return notDecodable(QStringLiteral("neither a start sentinel (%1 for track 1, ; for "
                                           "track 2) nor track data without one")
                                .arg(QLatin1Char('%')));
    for (const char sentinel : {'%', ';', '?'}) {
        if (text.contains(QLatin1Char(sentinel)))
            return notDecodable(QStringLiteral("a sentinel inside the data"));
    }
    // The sentinels and the check character take three of the track's characters.
    if (text.size() > (format == 1 ? kTrack1Max : kTrack2Max) - 2)
        return notDecodable(QStringLiteral("longer than a track %1 may be").arg(format));
    return format == 1 ? decodeTrack1(text) : decodeTrack2(text);
}

} // namespace

bool luhnValid(const QString& digits)
{
    if (digits.isEmpty() || !allDigits(digits))
        return false;
    int sum = 0;
    bool twice = false;
    for (qsizetype at = digits.size() - 1; at >= 0; --at) {
        int digit = digits.at(at).unicode() - '0';
        if (twice) {
            digit *= 2;
            if (digit > 9)
                digit -= 9;
        }
        sum += digit;
        twice = !twice;
    }
    return sum % 10 == 0;
}

QString maskPan(const QString& pan)
{
    if (pan.size() <= 10)
        return pan;
    return pan.left(6) + QString(pan.size() - 10, QLatin1Char('*')) + pan.right(4);
}

DecodedTrack decodeTrack(const QByteArray& data, int expectFormat)
{
    const QString text = QString::fromLatin1(data);
    if (text.isEmpty())
        return notDecodable(QStringLiteral("no data"));
    const QChar start = text.at(0);
    const int format = start == QLatin1Char('%') ? 1 : start == QLatin1Char(';') ? 2 : 0;
    if (format == 0)
        return decodeBare(text, expectFormat);
    if (expectFormat != 0 && format != expectFormat)
        return notDecodable(QStringLiteral("track %1 data where track %2 data belongs")
                                .arg(format)
                                .arg(expectFormat));
    const qsizetype end = text.indexOf(QLatin1Char('?'));
    if (end < 0)
        return notDecodable(QStringLiteral("no end sentinel (?)"));
    for (qsizetype at = end + 1; at < text.size(); ++at) {
        if (text.at(at) != QLatin1Char('0'))
            return notDecodable(QStringLiteral("data after the end sentinel"));
    }
    if (end + 1 > (format == 1 ? kTrack1Max : kTrack2Max))
        return notDecodable(QStringLiteral("longer than a track %1 may be").arg(format));
    const QString body = text.mid(1, end - 1);
    return format == 1 ? decodeTrack1(body) : decodeTrack2(body);
}

QString accountNumberOf(CardMethodId method, const QByteArray& data)
{
    const DecodedTrack decoded = decodeMethodTrack(method, data);
    if (decoded.decodable)
        return decoded.pan;
    const int format = method.row().trackFormat;
    const QByteArray lead = format == 1 ? QByteArray("%B") : format == 2 ? QByteArray(";") : "";
    if (lead.isEmpty() || !data.startsWith(lead))
        return {};
    qsizetype end = lead.size();
    while (end < data.size() && data.at(end) >= '0' && data.at(end) <= '9')
        ++end;
    const qsizetype digits = end - lead.size();
    const char after = end < data.size() ? data.at(end) : '\0';
    if (digits < kPanMin || digits > kPanMax || (after != '=' && after != '^' && after != '?'))
        return {};
    return QString::fromLatin1(data.mid(lead.size(), digits));
}

DecodedTrack decodeMethodTrack(CardMethodId method, const QByteArray& data)
{
    const int format = method.row().trackFormat;
    if (format == 0)
        return notDecodable(QStringLiteral("%1 has no ISO/IEC 7813 format").arg(method.name()));
    return decodeTrack(data, format);
}

QString serviceInterchange(QChar digit)
{
    switch (digit.unicode()) {
    case '1':
        return QStringLiteral("international interchange");
    case '2':
        return QStringLiteral("international interchange, chip where feasible");
    case '5':
        return QStringLiteral("national interchange only, except under bilateral agreement");
    case '6':
        return QStringLiteral("national interchange only, except under bilateral agreement, "
                              "chip where feasible");
    case '7':
        return QStringLiteral("no interchange, except under bilateral agreement");
    case '9':
        return QStringLiteral("test card");
    default:
        return QStringLiteral("reserved");
    }
}

QString serviceAuthorization(QChar digit)
{
    switch (digit.unicode()) {
    case '0':
        return QStringLiteral("normal authorization");
    case '2':
        return QStringLiteral("online authorization by the issuer");
    case '4':
        return QStringLiteral("online authorization by the issuer, except under bilateral "
                              "agreement");
    default:
        return QStringLiteral("reserved");
    }
}

QString serviceRange(QChar digit)
{
    switch (digit.unicode()) {
    case '0':
        return QStringLiteral("no restrictions, PIN required");
    case '1':
        return QStringLiteral("no restrictions");
    case '2':
        return QStringLiteral("goods and services only");
    case '3':
        return QStringLiteral("ATM only, PIN required");
    case '4':
        return QStringLiteral("cash only");
    case '5':
        return QStringLiteral("goods and services only, PIN required");
    case '6':
        return QStringLiteral("no restrictions, PIN where feasible");
    case '7':
        return QStringLiteral("goods and services only, PIN where feasible");
    default:
        return QStringLiteral("reserved");
    }
}
