#pragma once

#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QString>

// The fields of an ISO/IEC 7813 track: track 1 format B or track 2, with its start and end
// sentinels as the card carries them or without both, as many readers return it. Anything else
// is not decodable: no field is guessed.
struct DecodedTrack {
    bool decodable = false;
    QString reason; // why not, when not decodable

    int format = 0; // 1: track 1 format B, 2: track 2
    QString pan;    // primary account number, all digits
    bool luhnOk = false;
    QString name;          // track 1 only, as encoded ("DOE/JOHN"), trailing blanks removed
    QString expiry;        // "YYYY-MM"
    QString serviceCode;   // three digits
    QString discretionary; // everything between the service code and the end sentinel
};

// Decodes track data. expectFormat 1 or 2 accepts only that format (a read with a card method
// knows which one its track may hold); 0 takes the format from the start sentinel, or without
// sentinels from the first character (B: track 1, a digit: track 2). After the end sentinel
// only the "0" padding a write of this program adds may follow.
DecodedTrack decodeTrack(const QByteArray& data, int expectFormat = 0);

// decodeTrack with the format the method's track may hold; not decodable for a method whose
// track has no ISO/IEC 7813 format.
DecodedTrack decodeMethodTrack(CardMethodId method, const QByteArray& data);

// The account number with all but its first 6 and last 4 digits replaced by "*".
QString maskPan(const QString& pan);

// The account number a track carries, for showing it masked: the decoded one, else the 12 to 19
// digits between the start sentinel (and track 1's format code) and the first separator or end
// sentinel, as a job's own layout may have them (a gift card with no service code). Empty when
// the track carries none.
QString accountNumberOf(CardMethodId method, const QByteArray& data);
bool luhnValid(const QString& digits);

// The meaning of each service-code digit (interchange, authorisation, services and PIN);
// "reserved" for values the standard keeps for future use.
QString serviceInterchange(QChar digit);
QString serviceAuthorization(QChar digit);
QString serviceRange(QChar digit);
