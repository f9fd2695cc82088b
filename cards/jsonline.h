#pragma once

#include <QByteArray>
#include <QString>

// One JSON object on one line, keys in the order added ({"method": 1, "data": "..."}), so that
// the output reads the same way every time.
class JsonLine
{
public:
    JsonLine& add(const char* key, const QString& value);
    JsonLine& add(const char* key, int value);
    JsonLine& add(const char* key, bool value);
    JsonLine& addNull(const char* key);
    // A text, or null when it is null (absent, as opposed to empty).
    JsonLine& addText(const char* key, const QString& value);
    // value is JSON already (a nested object or array).
    JsonLine& addRaw(const char* key, const QByteArray& value);
    QByteArray text() const { return '{' + m_fields + '}'; }

    static QByteArray quote(const QString& text);
    // Qt's JSON writer's quoting, which quote() matches byte for byte (a test holds it to it).
    static QByteArray quoteAsQt(const QString& text);

private:
    JsonLine& field(const char* key, const QByteArray& value);
    QByteArray m_fields;
};
