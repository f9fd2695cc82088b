#include "cards/cardbatch.h"

#include "cards/cardmethods.h"
#include "cards/trackdecode.h"
#include "platform/boundedinput.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

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

// The method a JSON "method" value names: an index or a short name.
std::optional<CardMethodId> methodOfValue(const QJsonValue& value)
{
    if (value.isDouble()) {
        // Range first: a huge number has no int to compare with.
        const double number = value.toDouble();
        return number >= 0 && number < CARD_METHOD_COUNT && number == double(int(number))
                   ? CardMethodId::fromIndex(int(number))
                   : std::nullopt;
    }
    return value.isString() ? CardMethodId::fromText(value.toString()) : std::nullopt;
}

// {"method": ..., "data": ...}: one track.
bool parseOneTrack(const QJsonObject& object, BatchCard& card, QString* why)
{
    const QJsonValue method = object.value(QLatin1String("method"));
    const std::optional<CardMethodId> given =
        method.isUndefined() ? card.tracks.first().method : methodOfValue(method);
    if (!given) {
        *why = QStringLiteral("\"method\" is 0 to %1 or %2")
                   .arg(CARD_METHOD_COUNT - 1)
                   .arg(CardMethodId::shortNames());
        return false;
    }
    const QJsonValue data = object.value(QLatin1String("data"));
    if (!data.isString()) {
        *why = QStringLiteral("\"data\" must be a string");
        return false;
    }
    card.tracks = {BatchTrack(*given)};
    card.tracks.first().data = data.toString();
    return true;
}

// {"iso1": ..., "iso2": ...}: a track for each method named, in the order of the tracks.
bool parseTracks(const QJsonObject& object, const QStringList& keys, BatchCard& card, QString* why)
{
    QList<BatchTrack> tracks;
    for (const QString& key : keys) {
        const std::optional<CardMethodId> method = CardMethodId::fromText(key);
        if (!method || key != method->shortName()) {
            *why = QStringLiteral("unknown key \"%1\" (a card has \"method\" and \"data\", or "
                                  "a track for each of %2)")
                       .arg(key, CardMethodId::shortNames());
            return false;
        }
        if (!object.value(key).isString()) {
            *why = QStringLiteral("\"%1\" must be a string").arg(key);
            return false;
        }
        for (const BatchTrack& other : std::as_const(tracks)) {
            if (other.method.track() == method->track()) {
                *why = QStringLiteral("\"%1\" and \"%2\" are both on track %3: a card has one "
                                      "of each track")
                           .arg(other.method.shortName(), key)
                           .arg(method->track() + 1);
                return false;
            }
        }
        BatchTrack track(*method);
        track.data = object.value(key).toString();
        tracks.append(track);
    }
    std::sort(tracks.begin(), tracks.end(), [](const BatchTrack& a, const BatchTrack& b) {
        return a.method.track() < b.method.track();
    });
    card.tracks = tracks;
    return true;
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
    const QStringList keys = topLevelKeys(line);
    if (keys.isEmpty()) {
        *why = QStringLiteral("no track (a card has \"method\" and \"data\", or a track for "
                              "each of %1)")
                   .arg(CardMethodId::shortNames());
        return false;
    }
    QSet<QString> seen;
    for (const QString& key : keys) {
        if (seen.contains(key)) {
            *why = QStringLiteral("the key \"%1\" is given twice").arg(key);
            return false;
        }
        seen.insert(key);
    }
    const QJsonObject object = document.object();
    const bool oneTrack =
        seen.contains(QStringLiteral("data")) || seen.contains(QStringLiteral("method"));
    if (!oneTrack)
        return parseTracks(object, keys, card, why);
    for (const QString& key : keys) {
        if (key != QLatin1String("method") && key != QLatin1String("data")) {
            *why =
                QStringLiteral("unknown key \"%1\" (a card has \"method\" and \"data\")").arg(key);
            return false;
        }
    }
    return parseOneTrack(object, card, why);
}

// What the write check says of a track's data; empty when it passes.
QString dataProblem(BatchTrack& track, bool allowEmpty)
{
    const TrackDataCheck check = inspectCardData(track.method, track.data, allowEmpty);
    switch (check.verdict) {
    case TrackDataCheck::Invalid:
        return QStringLiteral("invalid character \"%1\" at position %2 of the data: %3")
            .arg(check.character)
            .arg(check.position)
            .arg(acceptedCharactersText(track.method));
    case TrackDataCheck::TooLong:
        return QStringLiteral("%1 characters: %2 holds at most %3")
            .arg(track.data.size())
            .arg(track.method.name())
            .arg(track.method.capacity());
    case TrackDataCheck::Empty:
        return QStringLiteral("no data: writing it would erase the track (--allow-empty "
                              "writes it)");
    case TrackDataCheck::Unchecked:
        track.unchecked = true;
        break;
    case TrackDataCheck::Passed:
        break;
    }
    // Every character passed as one byte.
    track.bytes = check.data.toLatin1();
    return QString();
}

// The faults of a card's tracks, each named by its method when the card has several.
QString cardProblem(BatchCard& card, bool allowEmpty)
{
    QStringList problems;
    for (BatchTrack& track : card.tracks) {
        const QString why = dataProblem(track, allowEmpty);
        if (!why.isEmpty())
            problems << (card.severalTracks() ? track.method.shortName() + QStringLiteral(": ")
                                              : QString()) +
                            why;
    }
    return problems.join(QStringLiteral("; "));
}

} // namespace

const BatchTrack* BatchCard::track(CardMethodId method) const
{
    for (const BatchTrack& each : tracks) {
        if (each.method == method)
            return &each;
    }
    return nullptr;
}

namespace {

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
        BatchCard card;
        card.index = int(m_batch.cards.size()) + 1;
        card.line = number;
        card.tracks = {BatchTrack(m_defaultMethod)};
        if (trimmed.startsWith(QLatin1Char('{'))) {
            QString why;
            if (!parseObject(trimmed.toUtf8(), card, &why)) {
                problem(number, why, false);
                return;
            }
        } else {
            card.tracks.first().data = text;
        }
        const QString why = cardProblem(card, m_allowEmpty);
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

QList<BatchProblem> duplicateCards(const QList<BatchCard>& cards)
{
    QList<BatchProblem> problems;
    QHash<QByteArray, const BatchCard*> sameData;
    QHash<QString, const BatchCard*> sameNumber;
    for (const BatchCard& card : cards) {
        QByteArray data;
        QStringList numbers;
        for (const BatchTrack& track : card.tracks) {
            data += QByteArray::number(track.method.index()) + ':' + track.bytes + '\n';
            const QString number = accountNumberOf(track.method, track.bytes);
            if (!number.isEmpty() && !numbers.contains(number))
                numbers << number;
        }
        const BatchCard* earlier = sameData.value(data);
        QString what = QStringLiteral("the same data");
        for (const QString& number : std::as_const(numbers)) {
            if (!earlier && (earlier = sameNumber.value(number)))
                what = QStringLiteral("the same account number");
            sameNumber.insert(number, sameNumber.value(number, &card));
        }
        if (earlier)
            problems.append({card.line,
                             QStringLiteral("%1 as card %2 (line %3)")
                                 .arg(what)
                                 .arg(earlier->index)
                                 .arg(earlier->line),
                             true});
        sameData.insert(data, sameData.value(data, &card));
    }
    return problems;
}
