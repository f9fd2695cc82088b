// The number reading of stored values. A plain decimal reads as its whole part rounded by its
// fraction, halves to the even neighbour; any text reads the same with a blank put anywhere or
// a letter after it, and with a minus before it reads as the negated number.

#include "config/valnumber.h"
#include "fuzzcheck.h"

#include <QRegularExpression>
#include <cstdint>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<qint32> value = roundedVal(text);
    const std::optional<qint16> narrow = roundedValInt16(text);
    FUZZ_CHECK(narrow ? value == *narrow : !value || *value < -32768 || *value > 32767);

    static const QRegularExpression plain(QStringLiteral("^([+-]?)(\\d{0,15})(?:\\.(\\d*))?$"));
    const QRegularExpressionMatch match = plain.match(text);
    if (match.hasMatch() && text.contains(QRegularExpression(QStringLiteral("\\d")))) {
        const QString fraction = match.captured(3) + QLatin1Char('0');
        qint64 whole = match.captured(2).toLongLong();
        const bool half = fraction.at(0) == QLatin1Char('5');
        if (fraction.at(0) > QLatin1Char('5') ||
            (half && (whole % 2 == 1 || fraction.mid(1).contains(QRegularExpression("[1-9]")))))
            ++whole;
        whole = match.captured(1) == QLatin1String("-") ? -whole : whole;
        const bool fits = whole >= std::numeric_limits<qint32>::min() &&
                          whole <= std::numeric_limits<qint32>::max();
        FUZZ_CHECK(fits ? value == whole : !value);
    }

    const qsizetype blankAt = size == 0 ? 0 : qsizetype(data[0] % (size + 1));
    FUZZ_CHECK(roundedVal(QString(text).insert(blankAt, QLatin1Char(size % 2 ? '\t' : ' '))) ==
               value);
    FUZZ_CHECK(roundedVal(text + QLatin1Char('x')) == value);
    const QString start = text.trimmed();
    if (!start.startsWith(QLatin1Char('+')) && !start.startsWith(QLatin1Char('-'))) {
        const std::optional<qint32> negated = roundedVal(QLatin1Char('-') + text);
        FUZZ_CHECK(value ? negated == -*value
                         : !negated || *negated == std::numeric_limits<qint32>::min());
    }
    return 0;
}
