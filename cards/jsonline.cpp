#include "cards/jsonline.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray JsonLine::quote(const QString& text)
{
    // As Qt's JSON writer quotes: the quote, the backslash, control characters and lone
    // surrogates escaped, the rest as UTF-8; written here, as a batch of a hundred thousand cards
    // quotes a few hundred thousand texts.
    static const char hex[] = "0123456789abcdef";
    const auto escaped = [](QByteArray& out, char16_t unit) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(unit >> shift) & 0xF];
    };
    QByteArray quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text.at(at).unicode();
        switch (unit) {
        case '"':
            quoted += "\\\"";
            continue;
        case '\\':
            quoted += "\\\\";
            continue;
        case '\b':
            quoted += "\\b";
            continue;
        case '\f':
            quoted += "\\f";
            continue;
        case '\n':
            quoted += "\\n";
            continue;
        case '\r':
            quoted += "\\r";
            continue;
        case '\t':
            quoted += "\\t";
            continue;
        default:
            break;
        }
        if (unit < 0x20) {
            escaped(quoted, unit);
        } else if (unit < 0x80) {
            quoted += char(unit);
        } else if (QChar::isHighSurrogate(unit) && at + 1 < text.size() &&
                   text.at(at + 1).isLowSurrogate()) {
            quoted += text.mid(at, 2).toUtf8();
            ++at;
        } else if (QChar::isSurrogate(unit)) {
            escaped(quoted, unit);
        } else {
            quoted += QString(QChar(unit)).toUtf8();
        }
    }
    quoted += '"';
    return quoted;
}

QByteArray JsonLine::quoteAsQt(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

JsonLine& JsonLine::field(const char* key, const QByteArray& value)
{
    if (!m_fields.isEmpty())
        m_fields += ", ";
    m_fields += quote(QString::fromLatin1(key)) + ": " + value;
    return *this;
}

JsonLine& JsonLine::add(const char* key, const QString& value)
{
    return field(key, quote(value));
}

JsonLine& JsonLine::add(const char* key, int value)
{
    return field(key, QByteArray::number(value));
}

JsonLine& JsonLine::add(const char* key, bool value)
{
    return field(key, value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
}

JsonLine& JsonLine::addNull(const char* key)
{
    return field(key, QByteArrayLiteral("null"));
}

JsonLine& JsonLine::addText(const char* key, const QString& value)
{
    return value.isNull() ? addNull(key) : add(key, value);
}

JsonLine& JsonLine::addRaw(const char* key, const QByteArray& value)
{
    return field(key, value);
}
