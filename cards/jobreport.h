#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What results files say of the jobs they record, for a report to hand over: each batch's cards
// counted and listed, by what became of them.
struct ReportCard {
    int index = 0;
    int line = 0;
    // "verified", "written", "failed", "in doubt", "matched", "differs", "not attempted".
    QString state;
    bool written = false;  // every track written (a card whose read-back failed included)
    bool verified = false; // read back after its write (a box check since leaves it so)
    QString pan;           // masked, when the card has an account number
    QString time;
    QString error;
    QMap<QString, QString> tracks; // a card of several tracks: each track's state, by method
};

struct ReportCounts {
    int written = 0; // verified ones included
    int verified = 0;
    int failed = 0; // written ones whose read-back failed included
    int inDoubt = 0;
    int notAttempted = 0;
    int matched = 0;
    int differs = 0;
};

struct ReportBatch {
    QString source;
    QString id;
    int total = 0;
    QMap<int, ReportCard> cards; // every card of the batch, by index
    QStringList tracks;          // methods of cards with several tracks, in order met

    ReportCounts counts() const;
    // The counts for one track of the cards that have several.
    ReportCounts trackCounts(const QString& method) const;
    // "498 written (496 verified), 1 failed, 1 in doubt, 0 not attempted, of 500 cards"
    QString summary() const;
};

// Reads results files into their batches (a batch recorded in several files is one). False with
// *error set when a file cannot be read as results.
bool readReport(const QStringList& paths, QList<ReportBatch>* batches, QString* error);

// The report as a text table, as CSV (a row a card) and as one JSON object.
QString reportText(const QList<ReportBatch>& batches);
QByteArray reportCsv(const QList<ReportBatch>& batches);
QByteArray reportJson(const QList<ReportBatch>& batches, int status);
