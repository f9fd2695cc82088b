// The number reading of stored values. A plain decimal must give what whole part, fraction and
// halves-to-even give; any text must read the same with a blank put anywhere or a letter put
// after it, and its negation must read as the negated number.

#include "config/valnumber.h"
#include "fuzzcheck.h"

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

std::optional<qint32> plainDecimal(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^([+-]?)(\\d{0,15})(?:\\.(\\d*))?$"));
    const QRegularExpressionMatch match = plain.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QString whole = match.captured(2);
    const QString fraction = match.captured(3);
    if (whole.isEmpty() && fraction.isEmpty())
        return 0;
    qint64 value = whole.isEmpty() ? 0 : whole.toLongLong();
    if (!fraction.isEmpty()) {
        const QChar first = fraction.at(0);
        const bool beyondHalf =
            fraction.mid(1).contains(QRegularExpression(QStringLiteral("[1-9]")));
        if (first > QLatin1Char('5') ||
            (first == QLatin1Char('5') && (beyondHalf || value % 2 == 1)))
            ++value;
    }
    if (match.captured(1) == QLatin1String("-"))
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<qint32> value = roundedVal(text);

    const std::optional<qint16> narrow = roundedValInt16(text);
    FUZZ_CHECK(narrow.has_value() == (value && *value >= -32768 && *value <= 32767));
    FUZZ_CHECK(!narrow || *narrow == *value);

    static const QRegularExpression plain(QStringLiteral("^[+-]?\\d{0,15}(\\.\\d*)?$"));
    if (plain.match(text).hasMatch() && text.contains(QRegularExpression(QStringLiteral("\\d"))))
        FUZZ_CHECK(value == plainDecimal(text));

    const qsizetype blankAt = size == 0 ? 0 : qsizetype(data[0] % (size + 1));
    FUZZ_CHECK(roundedVal(QString(text).insert(blankAt, QLatin1Char(size % 2 ? '\t' : ' '))) ==
               value);
    FUZZ_CHECK(roundedVal(text + QLatin1Char('x')) == value);

    const QString start = text.trimmed();
    if (!start.startsWith(QLatin1Char('+')) && !start.startsWith(QLatin1Char('-'))) {
        const std::optional<qint32> negated = roundedVal(QLatin1Char('-') + text);
        if (value)
            FUZZ_CHECK(negated == -*value);
        else
            FUZZ_CHECK(!negated || *negated == std::numeric_limits<qint32>::min());
    }
    return 0;
}
