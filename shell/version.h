#pragma once

#include <QString>

// The program's version information, kept here alone so every window shows the same.
struct VersionInfo {
    int versionMajor = 1;
    int versionMinor = 3;
    int versionRevision = 0;
    QString productName = QStringLiteral("Tarnavel");
    QString companyName = QStringLiteral("Quorvex");
    QString legalCopyright = QStringLiteral("Copyright (C) Quorvex. All rights reserved.");
    QString fileDescription = QStringLiteral(
        "Tarnavel reads and writes the magnetic stripe of cards through a BANQUE-TEC BT904/905 "
        "card reader/writer or a compatible one. It offers ISO on Track 1, ISO on Track 2, ISO "
        "on Track 3, IBM 4700 on Track 2 and Track 1 ISO on Track 3.");
    QString comments;
};

inline VersionInfo appVersionInfo()
{
    return VersionInfo{};
}

// "Version 1.03", or "Version 1.03.0005" once there is a revision.
inline QString formatVersion(int versionMajor, int versionMinor, int versionRevision)
{
    QString text = QStringLiteral("Version %1.%2")
                       .arg(versionMajor)
                       .arg(versionMinor, 2, 10, QLatin1Char('0'));
    if (versionRevision > 0)
        text += QStringLiteral(".%1").arg(versionRevision, 4, 10, QLatin1Char('0'));
    return text;
}

inline QString formatVersion(const VersionInfo& info)
{
    return formatVersion(info.versionMajor, info.versionMinor, info.versionRevision);
}
