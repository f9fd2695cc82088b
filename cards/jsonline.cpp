#include "cards/jsonline.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray JsonLine::quote(const QString& text)
{
    // Qt's own escaping: control characters as \u00XX, the rest as UTF-8.
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
