#include "cards/cardtemplate.h"

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QChar luhnDigit(const QString& digits)
{
    // Doubling starts at the last digit given: the check digit itself will stand after it.
    int sum = 0;
    bool twice = true;
    for (qsizetype at = digits.size() - 1; at >= 0; --at) {
        int digit = digits.at(at).unicode() - '0';
        if (twice && (digit *= 2) > 9)
            digit -= 9;
        sum += digit;
        twice = !twice;
    }
    return QLatin1Char(char('0' + (10 - sum % 10) % 10));
}

std::optional<CardTemplate> CardTemplate::parse(const QString& text, QString* error)
{
    CardTemplate result;
    result.m_text = text;
    QString literal;
    const auto flush = [&] {
        if (!literal.isEmpty())
            result.m_parts.append({Part::Kind::Text, literal, 0, 0});
        literal.clear();
    };
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c == QLatin1Char('}')) {
            if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('}')) {
                literal += c;
                ++at;
                continue;
            }
            *error = QStringLiteral("a \"}\" at position %1 closes nothing (\"}}\" writes one)")
                         .arg(at + 1);
            return std::nullopt;
        }
        if (c != QLatin1Char('{')) {
            literal += c;
            continue;
        }
        if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('{')) {
            literal += c;
            ++at;
            continue;
        }
        const qsizetype close = text.indexOf(QLatin1Char('}'), at + 1);
        if (close < 0) {
            *error = QStringLiteral("the field opened at position %1 is never closed with \"}\"")
                         .arg(at + 1);
            return std::nullopt;
        }
        const QString field = text.mid(at + 1, close - at - 1);
        flush();
        Part part;
        if (field == QLatin1String("luhn")) {
            part.kind = Part::Kind::Luhn;
        } else if (field == QLatin1String("seq") || field.startsWith(QLatin1String("seq:"))) {
            part.kind = Part::Kind::Number;
            if (field.size() > 3) {
                bool ok = false;
                part.width = field.mid(4).toInt(&ok);
                if (!ok || part.width < 1 || part.width > 19) {
                    *error =
                        QStringLiteral("{%1}: the width is a whole number from 1 to 19").arg(field);
                    return std::nullopt;
                }
            }
        } else if (field.trimmed().isEmpty()) {
            *error = QStringLiteral("an empty field {} at position %1").arg(at + 1);
            return std::nullopt;
        } else {
            part.kind = Part::Kind::Column;
            part.text = field;
            if (!result.m_columns.contains(field))
                result.m_columns.append(field);
            part.column = int(result.m_columns.indexOf(field));
        }
        result.m_parts.append(part);
        at = close;
    }
    flush();
    return result;
}

QStringList CardTemplate::columns() const
{
    return m_columns;
}

bool CardTemplate::usesNumber() const
{
    return std::any_of(m_parts.begin(), m_parts.end(),
                       [](const Part& part) { return part.kind == Part::Kind::Number; });
}

std::optional<QString> CardTemplate::render(qint64 number, const QStringList& values,
                                            QString* error) const
{
    QString out;
    for (const Part& part : m_parts) {
        switch (part.kind) {
        case Part::Kind::Text:
            out += part.text;
            break;
        case Part::Kind::Column:
            out += values.value(part.column);
            break;
        case Part::Kind::Number: {
            const QString digits = QString::number(number);
            if (part.width > 0 && digits.size() > part.width) {
                *error = QStringLiteral("%1 has more than the %2 digits of {seq:%2}")
                             .arg(digits)
                             .arg(part.width);
                return std::nullopt;
            }
            out += digits.rightJustified(part.width, QLatin1Char('0'));
            break;
        }
        case Part::Kind::Luhn: {
            qsizetype start = out.size();
            while (start > 0 && isDigit(out.at(start - 1)))
                --start;
            if (start == out.size()) {
                *error = QStringLiteral("{luhn} has no digits just before it");
                return std::nullopt;
            }
            out += luhnDigit(out.mid(start));
            break;
        }
        }
    }
    return out;
}
