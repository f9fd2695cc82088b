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

namespace {

// Renders the job's cards in order for take; check, when given, vets each track first and
// stops the job at the first it refuses (by returning false).
bool render(const CardJob& job, const std::function<bool(const JobCard&)>& take,
            JobProblem* problem,
            const std::function<bool(JobCard&, CardMethodId, const QString&)>& check)
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
    QStringList values;
    for (int position = 1; position <= count; ++position) {
        JobCard card;
        card.number = job.first + qint64(position - 1) * job.step;
        card.row = job.table ? job.table->rows.at(position - 1).number : 0;
        for (qsizetype t = 0; t < job.tracks.size(); ++t) {
            const auto& [method, cardTemplate] = job.tracks.at(t);
            values.clear();
            for (const int column : columns.at(t))
                values << job.table->rows.at(position - 1).fields.at(column);
            QString error;
            const std::optional<QString> data = cardTemplate.render(card.number, values, &error);
            if (!data) {
                *problem = {position, card.number, card.row,
                            QStringLiteral("%1: %2").arg(method.shortName(), error)};
                return false;
            }
            if (check && !check(card, method, *data)) {
                problem->card = position;
                return false;
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

} // namespace

bool renderJob(const CardJob& job, bool allowEmpty, const std::function<bool(const JobCard&)>& take,
               JobProblem* problem)
{
    return render(job, take, problem, [&](JobCard& card, CardMethodId method, const QString& data) {
        const auto broke = [&](const QString& text) {
            *problem = {0, card.number, card.row,
                        QStringLiteral("%1: %2").arg(method.shortName(), text)};
            return false;
        };
        const TrackDataCheck check = inspectCardData(method, data, allowEmpty);
        switch (check.verdict) {
        case TrackDataCheck::Invalid:
            return broke(QStringLiteral("invalid character \"%1\" at position %2: %3")
                             .arg(check.character)
                             .arg(check.position)
                             .arg(acceptedCharactersText(method)));
        case TrackDataCheck::TooLong:
            return broke(QStringLiteral("%1 characters: %2 holds at most %3")
                             .arg(data.size())
                             .arg(method.name())
                             .arg(method.capacity()));
        case TrackDataCheck::Empty:
            return broke(QStringLiteral("no data: it would erase the track"));
        case TrackDataCheck::Passed:
        case TrackDataCheck::Unchecked:
            break;
        }
        return true;
    });
}

void renderCheckedJob(const CardJob& job, const std::function<bool(const JobCard&)>& take)
{
    JobProblem ignored;
    render(job, take, &ignored, nullptr);
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

bool jobBatch(const CardJob& job, bool allowEmpty, CardBatch* batch, JobProblem* problem)
{
    CardBatch made;
    const bool rendered = renderJob(
        job, allowEmpty,
        [&](const JobCard& card) {
            BatchCard cardOfBatch;
            cardOfBatch.index = int(made.cards.size()) + 1;
            cardOfBatch.line = card.row > 0 ? card.row : cardOfBatch.index;
            for (const auto& [method, data] : card.tracks) {
                BatchTrack track(method);
                track.data = data;
                const TrackDataCheck check = inspectCardData(method, data, allowEmpty);
                track.bytes = check.data.toLatin1();
                track.unchecked = check.verdict == TrackDataCheck::Unchecked;
                cardOfBatch.tracks.append(track);
            }
            made.cards.append(cardOfBatch);
            return made.cards.size() <= kBatchMaxCards;
        },
        problem);
    if (!rendered && problem->text.isEmpty())
        problem->text = QStringLiteral("more than %1 cards; split the job").arg(kBatchMaxCards);
    if (!rendered)
        return false;
    *batch = made;
    return true;
}

bool addJobTemplate(CardJob* job, const QString& given, QString* error)
{
    const qsizetype equals = given.indexOf(QLatin1Char('='));
    const std::optional<CardMethodId> method =
        equals > 0 ? CardMethodId::fromText(given.left(equals)) : std::nullopt;
    if (!method) {
        *error = QStringLiteral("a template is METHOD=TEXT with METHOD one of %1, not \"%2\"")
                     .arg(CardMethodId::shortNames(), given);
        return false;
    }
    QString why;
    const std::optional<CardTemplate> parsed = CardTemplate::parse(given.mid(equals + 1), &why);
    if (!parsed) {
        *error = QStringLiteral("the %1 template: %2").arg(method->shortName(), why);
        return false;
    }
    job->tracks.append({*method, *parsed});
    std::stable_sort(job->tracks.begin(), job->tracks.end(), [](const auto& a, const auto& b) {
        return a.first.track() < b.first.track();
    });
    return true;
}
