#include "shell/commandline.h"

#include <QStringList>

QString commandLineText(int argc, char* argv[])
{
    QStringList parts;
    for (int i = 1; i < argc; ++i)
        parts << QString::fromLocal8Bit(argv[i]);
    return parts.join(QLatin1Char(' '));
}
