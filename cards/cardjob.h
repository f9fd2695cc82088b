#pragma once

#include "cards/cardbatch.h"
#include "cards/cardtemplate.h"
#include "cards/csvtable.h"
#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// A job described rather than listed: a template per track, numbered cards (a first number, a
// step and a count) or one card per row of a CSV table, or both (the number counts the rows).
struct CardJob {
    QList<QPair<CardMethodId, CardTemplate>> tracks; // in the order the card's tracks take
    qint64 first = 1;
    qint64 step = 1;
    int count = 0; // numbered cards; with a table, its rows decide
    const CsvTable* table = nullptr;
};

// One card of a job, rendered: its number, the CSV row it came from (0 for none) and each
// track's data, checked as a write checks it.
struct JobCard {
    qint64 number = 0;
    int row = 0;
    QList<QPair<CardMethodId, QString>> tracks;
};

struct JobProblem {
    int card = 0; // 1-based position in the job
    qint64 number = 0;
    int row = 0;
    QString text;
};

// What the job's templates need that it lacks (a column the table does not have, no table for a
// column, no count and no table, no track); empty when it can be rendered.
QString jobProblem(const CardJob& job);

// Renders every card in order and hands it to take; stops at the first card that would break
// (a number wider than its field, a track longer than it holds, a character its method does not
// accept, empty data), naming it in *problem. False when a card broke or take returned false.
bool renderJob(const CardJob& job, bool allowEmpty, const std::function<bool(const JobCard&)>& take,
               JobProblem* problem);
// The same cards again, rendered without the checks a first renderJob has made already.
void renderCheckedJob(const CardJob& job, const std::function<bool(const JobCard&)>& take);

// The card as a line of a batch file: {"method": "iso2", "data": "..."} for one track, and
// {"iso1": "...", "iso2": "..."} for several.
QByteArray batchLine(const JobCard& card);

// The job as the cards of a batch, checked and padded as a batch file's are: a card's line is
// its CSV row (its number in the job without a table). False with *problem naming the first
// card that would break.
bool jobBatch(const CardJob& job, bool allowEmpty, CardBatch* batch, JobProblem* problem);

// Parses "METHOD=TEMPLATE" (iso2=;603571{seq:10}{luhn}=2912?) into the job's tracks, in the order
// of the card's tracks. False with *error set.
bool addJobTemplate(CardJob* job, const QString& given, QString* error);
