#include "link/globals.h"

#include "config/appsettings.h"
#include "config/version.h"
#include "link/readerlink.h"

QString settingsKeyPath()
{
    return QStringLiteral("Software\\") + appVersionInfo().companyName + QStringLiteral("\\") +
           appTitle() + QStringLiteral("\\");
}

QString InitGlobals(AppSettings& settings, ReaderLink& link)
{
    settings = AppSettings{};
    link.DemoMode = false;
    return settingsKeyPath();
}

bool isDemoSwitch(const QString& commandLine)
{
    QString text = commandLine.toLower();
    // Only blanks surround the switch; a tab or other text makes it something else.
    while (text.startsWith(QLatin1Char(' ')))
        text.remove(0, 1);
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text == QStringLiteral("-d");
}
