#include "cards/cardbatch.h"

#include "cards/cardmethods.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

bool parseObject(const QByteArray& line, BatchCard& card, QString* why)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *why = QStringLiteral("not a JSON object (%1)").arg(parseError.errorString());
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != QLatin1String("method") && it.key() != QLatin1String("data")) {
            *why = QStringLiteral("unknown key \"%1\" (a card has \"method\" and \"data\")")
                       .arg(it.key());
            return false;
        }
    }
    const QJsonValue method = object.value(QLatin1String("method"));
    if (method.isDouble()) {
        const double number = method.toDouble();
        card.method = number == double(int(number)) && isCardMethod(int(number)) ? int(number) : -1;
    } else if (method.isString()) {
        card.method = methodFromText(method.toString());
    } else if (!method.isUndefined()) {
        card.method = -1;
    }
    if (card.method < 0) {
        *why = QStringLiteral("\"method\" is 0 to %1 or %2")
                   .arg(CARD_METHOD_COUNT - 1)
                   .arg(methodShortNames());
        return false;
    }
    const QJsonValue data = object.value(QLatin1String("data"));
    if (!data.isString()) {
        *why = QStringLiteral("\"data\" must be a string");
        return false;
    }
    card.data = data.toString();
    return true;
}

} // namespace

bool parseCardBatch(const QByteArray& text, int defaultMethod, QList<BatchCard>* cards,
                    QString* error)
{
    QList<BatchCard> parsed;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        BatchCard card;
        card.index = int(parsed.size()) + 1;
        card.line = int(i) + 1;
        card.method = defaultMethod;
        if (trimmed.startsWith('{')) {
            QString why;
            if (!parseObject(trimmed, card, &why)) {
                *error = QStringLiteral("line %1: %2").arg(card.line).arg(why);
                return false;
            }
        } else {
            card.data = QString::fromLocal8Bit(line);
        }
        parsed.append(card);
    }
    *cards = parsed;
    return true;
}
