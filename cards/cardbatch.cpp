#include "cards/cardbatch.h"

#include "cards/cardmethods.h"
#include "platform/boundedinput.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QStringDecoder>

namespace {

// The keys of a JSON object's top level in the order written, repeats included: a parsed
// object keeps only the last of two equal keys, and which one a writer meant is unknown.
QStringList topLevelKeys(const QByteArray& text)
{
    QStringList keys;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    char lastOutside = 0;
    qsizetype keyStart = -1;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
                if (keyStart >= 0) {
                    const QByteArray token = '[' + text.mid(keyStart, at - keyStart + 1) + ']';
                    keys << QJsonDocument::fromJson(token).array().at(0).toString();
                    keyStart = -1;
                }
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            if (depth == 1 && (lastOutside == '{' || lastOutside == ','))
                keyStart = at;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        default:
            break;
        }
        if (c != ' ' && c != '\t')
            lastOutside = c;
    }
    return keys;
}

// A JSON card line; false with *why set when it is not one.
bool parseObject(const QByteArray& line, BatchCard& card, QString* why)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *why = QStringLiteral("not a JSON object (%1)").arg(parseError.errorString());
        return false;
    }
    QSet<QString> seen;
    for (const QString& key : topLevelKeys(line)) {
        if (key != QLatin1String("method") && key != QLatin1String("data")) {
            *why =
                QStringLiteral("unknown key \"%1\" (a card has \"method\" and \"data\")").arg(key);
            return false;
        }
        if (seen.contains(key)) {
            *why = QStringLiteral("the key \"%1\" is given twice").arg(key);
            return false;
        }
        seen.insert(key);
    }
    const QJsonObject object = document.object();
    const QJsonValue method = object.value(QLatin1String("method"));
    std::optional<CardMethodId> given = card.method;
    if (method.isDouble()) {
        const double number = method.toDouble();
        given = number == double(int(number)) ? CardMethodId::fromIndex(int(number)) : std::nullopt;
    } else if (method.isString()) {
        given = CardMethodId::fromText(method.toString());
    } else if (!method.isUndefined()) {
        given = std::nullopt;
    }
    if (!given) {
        *why = QStringLiteral("\"method\" is 0 to %1 or %2")
                   .arg(CARD_METHOD_COUNT - 1)
                   .arg(CardMethodId::shortNames());
        return false;
    }
    card.method = *given;
    const QJsonValue data = object.value(QLatin1String("data"));
    if (!data.isString()) {
        *why = QStringLiteral("\"data\" must be a string");
        return false;
    }
    card.data = data.toString();
    return true;
}

// What the write check says of a card's data; empty when it passes.
QString dataProblem(BatchCard& card, bool allowEmpty)
{
    const TrackDataCheck check = inspectCardData(card.method, card.data, allowEmpty);
    switch (check.verdict) {
    case TrackDataCheck::Invalid:
        return QStringLiteral("invalid character \"%1\" at position %2 of the data: %3")
            .arg(check.character)
            .arg(check.position)
            .arg(acceptedCharactersText(card.method));
    case TrackDataCheck::TooLong:
        return QStringLiteral("%1 characters: %2 holds at most %3")
            .arg(card.data.size())
            .arg(card.method.name())
            .arg(card.method.capacity());
    case TrackDataCheck::Empty:
        return QStringLiteral("no data: writing it would erase the track (--allow-empty "
                              "writes it)");
    case TrackDataCheck::Unchecked:
        card.unchecked = true;
        break;
    case TrackDataCheck::Passed:
        break;
    }
    // Every character passed as one byte.
    card.bytes = check.data.toLatin1();
    return QString();
}

class BatchParser
{
public:
    BatchParser(CardMethodId defaultMethod, bool allowEmpty)
        : m_defaultMethod(defaultMethod), m_allowEmpty(allowEmpty)
    {
    }

    void take(QByteArray line, int number)
    {
        m_hash.addData(line);
        m_hash.addData("\n");
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\0')) {
            problem(number, QStringLiteral("holds a NUL byte"), false);
            return;
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(line);
        if (utf8.hasError()) {
            problem(number, QStringLiteral("is not valid UTF-8 text"), false);
            return;
        }
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            return;
        BatchCard card(m_defaultMethod);
        card.index = int(m_batch.cards.size()) + 1;
        card.line = number;
        if (trimmed.startsWith(QLatin1Char('{'))) {
            QString why;
            if (!parseObject(trimmed.toUtf8(), card, &why)) {
                problem(number, why, false);
                return;
            }
        } else {
            card.data = text;
        }
        const QString why = dataProblem(card, m_allowEmpty);
        if (!why.isEmpty())
            problem(number, why, true);
        m_batch.cards.append(card);
    }

    CardBatch finish()
    {
        m_batch.sha256 = m_hash.result().toHex();
        return m_batch;
    }

    int cardCount() const { return int(m_batch.cards.size()); }
    int problemCount() const { return int(m_batch.problems.size()); }

private:
    void problem(int line, const QString& text, bool data)
    {
        m_batch.problems.append(BatchProblem{line, text, data});
    }

    CardMethodId m_defaultMethod;
    bool m_allowEmpty;
    CardBatch m_batch;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

} // namespace

bool readCardBatch(int fd, CardMethodId defaultMethod, bool allowEmpty, CardBatch* batch,
                   QString* error)
{
    BatchParser parser(defaultMethod, allowEmpty);
    BoundedLineReader reader(fd, kBatchMaxLine, kBatchMaxBytes);
    QByteArray line;
    for (;;) {
        switch (reader.next(&line)) {
        case BoundedLineReader::Line:
            parser.take(line, reader.lineNumber());
            // Random bytes or some other file: no need to read it all to say so.
            if (parser.problemCount() > kBatchMaxProblems) {
                *error = QStringLiteral("more than %1 faulty lines by line %2; is this a batch "
                                        "file?")
                             .arg(kBatchMaxProblems)
                             .arg(reader.lineNumber());
                return false;
            }
            if (parser.cardCount() > kBatchMaxCards) {
                *error = QStringLiteral("more than %1 cards (line %2); split the batch")
                             .arg(kBatchMaxCards)
                             .arg(reader.lineNumber());
                return false;
            }
            continue;
        case BoundedLineReader::End:
            *batch = parser.finish();
            return true;
        case BoundedLineReader::LineTooLong:
            *error = QStringLiteral("line %1 is longer than %2; a card's line is far shorter (is "
                                    "this a batch file?)")
                         .arg(reader.lineNumber())
                         .arg(sizeText(kBatchMaxLine));
            return false;
        case BoundedLineReader::TooMuch:
            *error = QStringLiteral("more than %1 of input; split the batch")
                         .arg(sizeText(kBatchMaxBytes));
            return false;
        case BoundedLineReader::Failed:
            *error = reader.errorString();
            return false;
        }
    }
}

CardBatch parseCardBatch(const QByteArray& text, CardMethodId defaultMethod, bool allowEmpty)
{
    BatchParser parser(defaultMethod, allowEmpty);
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // A final newline ends the last line; it does not start another.
        if (i + 1 == lines.size() && lines.at(i).isEmpty())
            break;
        parser.take(lines.at(i), int(i) + 1);
    }
    return parser.finish();
}
