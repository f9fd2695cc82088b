#pragma once

#include <QByteArray>
#include <QString>

// The reader's lamps by the digit the lamp command carries: 0 all off, 1 green, 2 red, 3 yellow.
inline constexpr int LAMP_COUNT = 4;

// "off", "green", "red", "yellow"; empty outside 0..3.
QString lampName(int index);
// The index of a lamp name in any case, or -1.
int lampIndex(const QString& name);
// CMD_LED followed by the digit.
QByteArray lampCommand(int index);
