#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// The leading number of a text read the way Visual Basic's Val reads it: blanks, tabs and line
// feeds are skipped wherever they stand, then an optional sign, digits, an optional decimal
// point with digits and an optional exponent (e or E, optional sign, digits). A text that does
// not begin with a number reads as 0. The number is rounded to the nearest integer, exact halves
// to the even neighbour; the work is done in decimal, so no binary fraction shifts a half.
// std::nullopt when the rounded number lies outside qint32.
std::optional<qint32> roundedVal(const QString& text);

// The same for a 16-bit field: std::nullopt outside -32768..32767.
std::optional<qint16> roundedValInt16(const QString& text);
