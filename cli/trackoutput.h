#pragma once

#include <QByteArray>
#include <QString>

struct DecodedTrack;

// A decoded track as read --decode and decode show it: lines for people (for a decodable track
// only), or a JSON object. The account number is masked and the discretionary data left out
// unless revealed.
QByteArray decodedText(const DecodedTrack& track, bool reveal);
QByteArray decodedJson(const DecodedTrack& track, bool reveal);
// "not decodable: " and why, a message for standard error.
QString undecodableText(const DecodedTrack& track);
