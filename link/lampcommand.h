#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class ReaderLink;

// The reader's lamps by the digit the lamp command carries: 0 all off, 1 green, 2 red, 3 yellow.
inline constexpr int LAMP_COUNT = 4;

// "off", "green", "red", "yellow"; empty outside 0..3.
QString lampName(int index);
// The index of a lamp name in any case, or -1.
int lampIndex(const QString& name);
// CMD_LED followed by the digit.
QByteArray lampCommand(int index);

// Sends the lamp command and waits for the reply with the try-again question; sends it again
// while the answer is "try again" and carryOn() still holds (asked after every wait: the caller
// may have gone meanwhile). Returns the last wait's outcome; the reply, if any, is left in the
// link's buffer unexamined. Port errors (AppError) reach the caller.
int sendLampCommand(ReaderLink& link, int index, const std::function<bool()>& carryOn);
