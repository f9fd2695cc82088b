#pragma once

#include <QFont>
#include <QString>

// The design's font at its point size. Where the family is missing (MS Sans Serif, Tahoma and
// Courier New usually are on Linux), a metric-alike of similar width takes its place so that
// captions fit the design's geometry: Liberation Sans or Arial for the sans-serifs, Liberation
// Mono for Courier New, the system's fonts last.
QFont designFont(const QString& family, qreal points, bool bold = false);
