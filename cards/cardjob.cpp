#include "cards/cardjob.h"

#include "cards/cardmethods.h"
#include "cards/jsonline.h"

QString jobProblem(const CardJob& job)
{
    if (job.tracks.isEmpty())
        return QStringLiteral("no track: give a template for at least one card method");
    for (qsizetype i = 0; i < job.tracks.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            if (job.tracks.at(j).first.track() == job.tracks.at(i).first.track())
                return QStringLiteral("%1 and %2 are both on track %3: a card has one of each "
                                      "track")
                    .arg(job.tracks.at(j).first.shortName(), job.tracks.at(i).first.shortName())
                    .arg(job.tracks.at(i).first.track() + 1);
        }
        for (const QString& column : job.tracks.at(i).second.columns()) {
            if (!job.table)
                return QStringLiteral("the %1 template names the column {%2}, but no CSV file "
                                      "is given")
                    .arg(job.tracks.at(i).first.shortName(), column);
            if (job.table->column(column) < 0)
                return QStringLiteral("the %1 template names the column {%2}, which the CSV "
                                      "file's header row does not have (it has: %3)")
                    .arg(job.tracks.at(i).first.shortName(), column,
                         job.table->header.join(QStringLiteral(", ")));
        }
    }
    if (!job.table && job.count <= 0)
        return QStringLiteral("how many cards: give a count, or a CSV file with a row a card");
    if (job.step < 1 || job.first < 0)
        return QStringLiteral("the numbers start at 0 or more and go up by 1 or more");
    return QString();
}

bool renderJob(const CardJob& job, bool allowEmpty, const std::function<bool(const JobCard&)>& take,
               JobProblem* problem)
{
    const int count = job.table ? int(job.table->rows.size()) : job.count;
    // The columns each template names, as indexes into a row.
    QList<QList<int>> columns;
    for (const auto& [method, cardTemplate] : job.tracks) {
        QList<int> indexes;
        for (const QString& column : cardTemplate.columns())
            indexes << job.table->column(column);
        columns << indexes;
    }
    for (int position = 1; position <= count; ++position) {
        JobCard card;
        card.number = job.first + qint64(position - 1) * job.step;
        card.row = job.table ? job.table->rows.at(position - 1).number : 0;
        const auto broke = [&](const CardMethodId method, const QString& text) {
            *problem = {position, card.number, card.row,
                        QStringLiteral("%1: %2").arg(method.shortName(), text)};
            return false;
        };
        for (qsizetype t = 0; t < job.tracks.size(); ++t) {
            const auto& [method, cardTemplate] = job.tracks.at(t);
            QStringList values;
            for (const int column : columns.at(t))
                values << job.table->rows.at(position - 1).fields.at(column);
            QString error;
            const std::optional<QString> data = cardTemplate.render(card.number, values, &error);
            if (!data)
                return broke(method, error);
            const TrackDataCheck check = inspectCardData(method, *data, allowEmpty);
            switch (check.verdict) {
            case TrackDataCheck::Invalid:
                return broke(method, QStringLiteral("invalid character \"%1\" at position %2: %3")
                                         .arg(check.character)
                                         .arg(check.position)
                                         .arg(acceptedCharactersText(method)));
            case TrackDataCheck::TooLong:
                return broke(method, QStringLiteral("%1 characters: %2 holds at most %3")
                                         .arg(data->size())
                                         .arg(method.name())
                                         .arg(method.capacity()));
            case TrackDataCheck::Empty:
                return broke(method, QStringLiteral("no data: it would erase the track"));
            case TrackDataCheck::Passed:
            case TrackDataCheck::Unchecked:
                break;
            }
            card.tracks.append({method, *data});
        }
        if (!take(card)) {
            *problem = {};
            return false;
        }
    }
    return true;
}

QByteArray batchLine(const JobCard& card)
{
    JsonLine json;
    if (card.tracks.size() == 1) {
        json.add("method", card.tracks.first().first.shortName())
            .add("data", card.tracks.first().second);
    } else {
        for (const auto& [method, data] : card.tracks)
            json.add(method.row().shortName, data);
    }
    return json.text() + '\n';
}
