#include "cards/jobreport.h"

#include "cards/batchjournal.h"
#include "cards/jsonline.h"

#include <QJsonObject>

namespace {

// The state one line gives a card or a track.
QString stateOf(const QJsonObject& object)
{
    const QString result = object.value(QLatin1String("result")).toString();
    if (result.isEmpty()) {
        const QString step = object.value(QLatin1String("step")).toString();
        return step == QLatin1String("verified")  ? QStringLiteral("verified")
               : step == QLatin1String("written") ? QStringLiteral("written")
               : step == QLatin1String("armed")   ? QStringLiteral("in doubt")
                                                  : QStringLiteral("failed");
    }
    if (result != QLatin1String("failed"))
        return result;
    // A box check that could not read a card, or a write known to have failed.
    const QJsonValue written = object.value(QLatin1String("written"));
    return written.isBool() ||
                   object.value(QLatin1String("step")).toString() == QLatin1String("compared")
               ? QStringLiteral("failed")
               : QStringLiteral("in doubt");
}

void count(ReportCounts& counts, const QString& state, bool written, bool verified)
{
    counts.written += written ? 1 : 0;
    counts.verified += verified ? 1 : 0;
    counts.failed += state == QLatin1String("failed") ? 1 : 0;
    counts.inDoubt += state == QLatin1String("in doubt") ? 1 : 0;
    counts.notAttempted += state == QLatin1String("not attempted") ? 1 : 0;
    counts.matched += state == QLatin1String("matched") ? 1 : 0;
    counts.differs += state == QLatin1String("differs") ? 1 : 0;
}

QString countsText(const ReportCounts& counts, int total)
{
    QStringList parts;
    if (counts.matched + counts.differs > 0)
        parts << QStringLiteral("%1 matched, %2 differ").arg(counts.matched).arg(counts.differs);
    if (counts.written > 0 || counts.matched + counts.differs == 0)
        parts
            << QStringLiteral("%1 written (%2 verified)").arg(counts.written).arg(counts.verified);
    parts << QStringLiteral("%1 failed, %2 in doubt, %3 not attempted, of %4 cards")
                 .arg(counts.failed)
                 .arg(counts.inDoubt)
                 .arg(counts.notAttempted)
                 .arg(total);
    return parts.join(QStringLiteral(", "));
}

QByteArray countsJson(const ReportCounts& counts)
{
    JsonLine json;
    json.add("written", counts.written)
        .add("verified", counts.verified)
        .add("failed", counts.failed)
        .add("in_doubt", counts.inDoubt)
        .add("not_attempted", counts.notAttempted);
    if (counts.matched + counts.differs > 0)
        json.add("matched", counts.matched).add("differs", counts.differs);
    return json.text();
}

QByteArray csvField(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

} // namespace

ReportCounts ReportBatch::counts() const
{
    ReportCounts counts;
    for (const ReportCard& card : cards)
        count(counts, card.state, card.written, card.verified);
    return counts;
}

ReportCounts ReportBatch::trackCounts(const QString& method) const
{
    ReportCounts counts;
    for (const ReportCard& card : cards) {
        if (card.tracks.isEmpty())
            continue;
        const QString state = card.tracks.value(method, QStringLiteral("not attempted"));
        count(counts, state,
              state == QLatin1String("verified") || state == QLatin1String("written"),
              state == QLatin1String("verified"));
    }
    return counts;
}

QString ReportBatch::summary() const
{
    return countsText(counts(), total);
}

bool readReport(const QStringList& paths, QList<ReportBatch>* batches, QString* error)
{
    QMap<QString, ReportBatch> found;
    QStringList order;
    for (const QString& path : paths) {
        ReportBatch* batch = nullptr;
        QString why;
        const bool read = readResultsLines(path, &why, [&](const QJsonObject& object) {
            if (object.contains(QLatin1String("batch"))) {
                QString id = object.value(QLatin1String("id")).toString();
                if (id.isEmpty())
                    id = object.value(QLatin1String("sha256")).toString();
                if (!found.contains(id))
                    order << id;
                batch = &found[id];
                batch->source = object.value(QLatin1String("batch")).toString();
                batch->id = id;
                batch->total = object.value(QLatin1String("cards")).toInt();
                return;
            }
            const int index = object.value(QLatin1String("index")).toInt();
            if (!batch || index <= 0 || index > batch->total)
                return;
            ReportCard& card = batch->cards[index];
            card.index = index;
            card.line = object.value(QLatin1String("line")).toInt();
            card.time = object.value(QLatin1String("time")).toString();
            const QString state = stateOf(object);
            const QString track = object.value(QLatin1String("track")).toString();
            if (!track.isEmpty()) {
                if (!batch->tracks.contains(track))
                    batch->tracks << track;
                card.tracks[track] = state;
                if (card.state.isEmpty() || card.state == QLatin1String("not attempted"))
                    card.state = QStringLiteral("in doubt");
                return;
            }
            card.state = state;
            // A box check says nothing of what was written before.
            if (object.value(QLatin1String("step")).toString() != QLatin1String("compared")) {
                card.written = object.value(QLatin1String("written"))
                                   .toBool(state == QLatin1String("written") ||
                                           state == QLatin1String("verified"));
                card.verified = state == QLatin1String("verified");
            }
            card.pan = object.value(QLatin1String("pan")).toString(card.pan);
            card.error = object.value(QLatin1String("error")).toString();
        });
        if (!read) {
            *error = QStringLiteral("%1: %2").arg(path, why);
            return false;
        }
    }
    batches->clear();
    for (const QString& id : std::as_const(order)) {
        ReportBatch batch = found.value(id);
        for (int index = 1; index <= batch.total; ++index) {
            if (!batch.cards.contains(index)) {
                ReportCard& card = batch.cards[index];
                card.index = index;
                card.state = QStringLiteral("not attempted");
            }
        }
        *batches << batch;
    }
    return true;
}

QString reportText(const QList<ReportBatch>& batches)
{
    QString text;
    for (const ReportBatch& batch : batches) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text +=
            QStringLiteral("%1 (%2): %3\n").arg(batch.source, batch.id.left(12), batch.summary());
        for (const QString& track : batch.tracks)
            text += QStringLiteral("  %1: %2\n")
                        .arg(track, countsText(batch.trackCounts(track), batch.total));
        text += QStringLiteral("  card   line  state          account number       time\n");
        for (const ReportCard& card : batch.cards) {
            QString row =
                QStringLiteral("  %1 %2  %3 %4 %5")
                    .arg(card.index, 5)
                    .arg(card.line > 0 ? QString::number(card.line) : QStringLiteral("-"), 5)
                    .arg(card.state, -14)
                    .arg(card.pan.isEmpty() ? QStringLiteral("-") : card.pan, -20)
                    .arg(card.time);
            if (!card.error.isEmpty())
                row += QStringLiteral("  ") + card.error;
            while (row.endsWith(QLatin1Char(' ')))
                row.chop(1);
            text += row + QLatin1Char('\n');
        }
    }
    return text;
}

QByteArray reportCsv(const QList<ReportBatch>& batches)
{
    QByteArray csv("batch,card,line,state,written,pan,time,error\r\n");
    for (const ReportBatch& batch : batches) {
        for (const ReportCard& card : batch.cards)
            csv += csvField(batch.source) + ',' + QByteArray::number(card.index) + ',' +
                   QByteArray::number(card.line) + ',' + csvField(card.state) + ',' +
                   (card.written ? "yes" : "no") + ',' + csvField(card.pan) + ',' +
                   csvField(card.time) + ',' + csvField(card.error) + "\r\n";
    }
    return csv;
}

QByteArray reportJson(const QList<ReportBatch>& batches, int status)
{
    QByteArray list;
    for (const ReportBatch& batch : batches) {
        QByteArray cards;
        for (const ReportCard& card : batch.cards) {
            JsonLine line;
            line.add("index", card.index).add("line", card.line).add("state", card.state);
            line.add("written", card.written);
            if (!card.pan.isEmpty())
                line.add("pan", card.pan);
            if (!card.error.isEmpty())
                line.add("error", card.error);
            cards += (cards.isEmpty() ? "" : ", ") + line.text();
        }
        JsonLine tracks;
        for (const QString& track : batch.tracks)
            tracks.addRaw(track.toLatin1().constData(), countsJson(batch.trackCounts(track)));
        JsonLine json;
        json.add("batch", batch.source)
            .add("id", batch.id)
            .add("cards", batch.total)
            .addRaw("counts", countsJson(batch.counts()))
            .addRaw("tracks", tracks.text())
            .addRaw("list", '[' + cards + ']');
        list += (list.isEmpty() ? "" : ", ") + json.text();
    }
    JsonLine json;
    json.add("result", status == 0 ? QStringLiteral("settled") : QStringLiteral("in doubt"))
        .add("exit", status)
        .addRaw("batches", '[' + list + ']');
    return json.text() + '\n';
}
