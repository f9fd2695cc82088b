#pragma once

#include <QString>

// The numbers come from the build (the project's VERSION in CMakeLists.txt), so the windows,
// the command lines and the package all show the same release.
#ifndef TARNAVEL_VERSION_MAJOR
#error "TARNAVEL_VERSION_MAJOR is set by the build"
#endif

// The program's version information: the one home of its title, maker and release.
struct VersionInfo {
    int versionMajor = TARNAVEL_VERSION_MAJOR;
    int versionMinor = TARNAVEL_VERSION_MINOR;
    int versionRevision = TARNAVEL_VERSION_PATCH;
    QString title = QStringLiteral("Quorvex Tarnavel");
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

// "Quorvex Tarnavel": the main window's caption base and the start of every message-box title.
inline QString appTitle()
{
    return appVersionInfo().title;
}

// "1.3" for the command lines' --version (and "1.3.5" once there is a revision).
inline QString versionNumber()
{
    const VersionInfo info = appVersionInfo();
    QString text = QStringLiteral("%1.%2").arg(info.versionMajor).arg(info.versionMinor);
    if (info.versionRevision > 0)
        text += QStringLiteral(".%1").arg(info.versionRevision);
    return text;
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
