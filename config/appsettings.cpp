#include "config/appsettings.h"

QString lineSettingsText(const AppSettings& settings)
{
    static const char* const kParityLetters[] = {"e", "o", "n"};
    const QString parity = settings.Parity >= 0 && settings.Parity <= 2
                               ? QString::fromLatin1(kParityLetters[settings.Parity])
                               : QString();
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.BaudRate)
        .arg(parity)
        .arg(settings.DataBits)
        .arg(settings.StopBits);
}
