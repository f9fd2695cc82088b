#pragma once

#include <QByteArray>

struct DecodedTrack;

// A decoded track as read --decode and decode show it: lines for people, or a JSON object.
// The account number is masked and the discretionary data left out unless revealed.
QByteArray decodedText(const DecodedTrack& track, bool reveal);
QByteArray decodedJson(const DecodedTrack& track, bool reveal);
