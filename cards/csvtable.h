#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A table read from CSV as RFC 4180 writes it, the way spreadsheets and property-management or
// access-control systems export it: a header row naming the columns, then one record a row;
// fields separated by commas; a field in double quotes may hold commas, line breaks and doubled
// double quotes; records end with CRLF or LF; a UTF-8 byte-order mark at the start is skipped.
struct CsvTable {
    struct Row {
        int number = 0; // the row as a spreadsheet numbers it: the header is row 1
        int line = 0;   // the line of the file it starts on
        QStringList fields;
    };
    QStringList header;
    QList<Row> rows;

    // The column's index, or -1.
    int column(const QString& name) const { return int(header.indexOf(name)); }
};

// A fault of the file, by row.
struct CsvProblem {
    int row = 0;
    int line = 0;
    QString text;
};

// The most a CSV file may hold, and one field.
inline constexpr qint64 kCsvMaxBytes = 64 * 1024 * 1024;
inline constexpr qsizetype kCsvMaxField = 4096;

// Reads the whole table; every faulty row is named (a field count other than the header's, a
// quote out of place, a quoted field never closed, bytes that are not UTF-8, a header without
// names or with a name twice). Blank lines are skipped.
CsvTable parseCsv(const QByteArray& text, QList<CsvProblem>* problems);
