#include "cli/trackoutput.h"

#include "cards/errorcode.h"
#include "cards/jsonline.h"
#include "cards/trackdecode.h"

QByteArray decodedJson(const DecodedTrack& track, bool reveal)
{
    JsonLine json;
    if (!track.decodable)
        return json.add("decodable", false)
            .add("reason", track.reason)
            .add("code", errorCodeName(ErrorCode::NotDecodable))
            .text();
    json.add("track", track.format)
        .add("pan", reveal ? track.pan : maskPan(track.pan))
        .add("luhn_ok", track.luhnOk);
    if (track.format == 1)
        json.add("name", track.name);
    json.add("expiry", track.expiry).add("service_code", track.serviceCode);
    JsonLine service;
    service.add("interchange", serviceInterchange(track.serviceCode.at(0)))
        .add("authorization", serviceAuthorization(track.serviceCode.at(1)))
        .add("services", serviceRange(track.serviceCode.at(2)));
    json.addRaw("service", service.text())
        .add("discretionary_length", int(track.discretionary.size()));
    if (reveal)
        json.add("discretionary", track.discretionary);
    return json.add("decodable", true).text();
}

QByteArray decodedText(const DecodedTrack& track, bool reveal)
{
    if (!track.decodable)
        return QByteArray();
    const QString indent(16, QLatin1Char(' '));
    QString text =
        QStringLiteral("track:          %1 (ISO/IEC 7813)\n").arg(track.format) +
        QStringLiteral("account number: %1\n").arg(reveal ? track.pan : maskPan(track.pan)) +
        QStringLiteral("Luhn check:     %1\n")
            .arg(track.luhnOk ? QStringLiteral("passed") : QStringLiteral("FAILED"));
    if (track.format == 1)
        text += QStringLiteral("name:           %1\n").arg(track.name);
    const QString& code = track.serviceCode;
    text += QStringLiteral("expiry:         %1\n").arg(track.expiry) +
            QStringLiteral("service code:   %1\n").arg(code) + indent +
            QStringLiteral("%1 %2\n").arg(code.at(0)).arg(serviceInterchange(code.at(0))) + indent +
            QStringLiteral("%1 %2\n").arg(code.at(1)).arg(serviceAuthorization(code.at(1))) +
            indent + QStringLiteral("%1 %2\n").arg(code.at(2)).arg(serviceRange(code.at(2)));
    if (reveal)
        text += QStringLiteral("discretionary:  %1\n").arg(track.discretionary);
    else
        text += QStringLiteral("discretionary:  %1 characters (--reveal shows them)\n")
                    .arg(track.discretionary.size());
    return text.toUtf8();
}

QString undecodableText(const DecodedTrack& track)
{
    return QStringLiteral("not decodable: ") + track.reason;
}
