#include "config/valnumber.h"

#include <algorithm>
#include <limits>

namespace {

// Anything with more integer digits than this is out of every range the callers ask for.
constexpr int kMaxIntegerDigits = 12;
// Exponents are saturated here; far beyond any digit count a text can hold in practice.
constexpr qint64 kExponentLimit = 1'000'000'000;

bool isSkipped(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Walks the text the way Val does, skipping blanks between every character it looks at.
class Reader
{
public:
    explicit Reader(const QString& text) : m_text(text) {}

    QChar peek()
    {
        while (m_pos < m_text.size() && isSkipped(m_text.at(m_pos)))
            ++m_pos;
        return m_pos < m_text.size() ? m_text.at(m_pos) : QChar();
    }
    void take() { ++m_pos; }
    qsizetype position() const { return m_pos; }
    void rewind(qsizetype position) { m_pos = position; }

private:
    const QString& m_text;
    qsizetype m_pos = 0;
};

// The rounded magnitude, or std::nullopt when it has more than kMaxIntegerDigits digits.
std::optional<qint64> roundedMagnitude(const QByteArray& significant, qint64 exponent)
{
    // The value is significant x 10^exponent, significant without leading zeros.
    if (significant.isEmpty())
        return 0;
    const qint64 integerDigits = qint64(significant.size()) + exponent;
    if (integerDigits > kMaxIntegerDigits)
        return std::nullopt;

    qint64 whole = 0;
    const qint64 fromSignificant = std::clamp<qint64>(integerDigits, 0, significant.size());
    for (qint64 i = 0; i < fromSignificant; ++i)
        whole = whole * 10 + (significant.at(i) - '0');
    for (qint64 i = significant.size(); i < integerDigits; ++i)
        whole *= 10;

    // Compare the fraction with one half: its first digit decides unless that digit is 5.
    if (integerDigits < 0)
        return whole; // the fraction is below 0.1
    if (integerDigits >= significant.size())
        return whole;
    const char first = significant.at(integerDigits);
    bool roundUp = first > '5';
    if (first == '5') {
        const bool moreThanHalf = std::any_of(significant.begin() + integerDigits + 1,
                                              significant.end(), [](char d) { return d != '0'; });
        roundUp = moreThanHalf || (whole % 2 == 1);
    }
    return roundUp ? whole + 1 : whole;
}

} // namespace

std::optional<qint32> roundedVal(const QString& text)
{
    Reader in(text);
    bool negative = false;
    if (in.peek() == QLatin1Char('+') || in.peek() == QLatin1Char('-')) {
        negative = in.peek() == QLatin1Char('-');
        in.take();
    }

    QByteArray significant;
    qint64 exponent = 0;
    bool anyDigit = false;
    auto addDigit = [&](QChar c) {
        anyDigit = true;
        if (!significant.isEmpty() || c != QLatin1Char('0'))
            significant.append(char(c.unicode()));
    };
    while (isDigit(in.peek())) {
        addDigit(in.peek());
        in.take();
    }
    if (in.peek() == QLatin1Char('.')) {
        in.take();
        // Every fraction digit moves the point, a dropped leading zero too.
        while (isDigit(in.peek())) {
            addDigit(in.peek());
            --exponent;
            in.take();
        }
    }
    if (!anyDigit)
        return 0;

    if (in.peek() == QLatin1Char('e') || in.peek() == QLatin1Char('E')) {
        const qsizetype mark = in.position();
        in.take();
        bool negativeExponent = false;
        if (in.peek() == QLatin1Char('+') || in.peek() == QLatin1Char('-')) {
            negativeExponent = in.peek() == QLatin1Char('-');
            in.take();
        }
        if (isDigit(in.peek())) {
            qint64 value = 0;
            while (isDigit(in.peek())) {
                value = std::min(kExponentLimit, value * 10 + (in.peek().unicode() - '0'));
                in.take();
            }
            exponent += negativeExponent ? -value : value;
        } else {
            in.rewind(mark); // "1e" or "1e+" is just 1
        }
    }

    const std::optional<qint64> magnitude = roundedMagnitude(significant, exponent);
    if (!magnitude)
        return std::nullopt;
    const qint64 value = negative ? -*magnitude : *magnitude;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

std::optional<qint16> roundedValInt16(const QString& text)
{
    const std::optional<qint32> value = roundedVal(text);
    if (!value || *value < -32768 || *value > 32767)
        return std::nullopt;
    return qint16(*value);
}
