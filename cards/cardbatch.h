#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One card of a batch file.
struct BatchCard {
    int index = 0; // 1-based among the cards of the file
    int line = 0;  // 1-based line of the file
    int method = 0;
    QString data; // as written, not yet checked or padded
};

// A batch file: one card a line, either plain track data for defaultMethod or a JSON object
// {"method": 1 or "iso2", "data": "..."}. Blank lines and lines starting with "#" are skipped
// (data that starts with "#" goes in a JSON line). A malformed object or an unknown method fails
// the whole file, before any card is written: false with *error naming the line.
bool parseCardBatch(const QByteArray& text, int defaultMethod, QList<BatchCard>* cards,
                    QString* error);
