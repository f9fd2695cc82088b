#include "platform/paths.h"

#include <QDir>

QString configDirectory()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/quorvex-tarnavel");
}

QString portsDirectory()
{
    return configDirectory() + QStringLiteral("/ports");
}

QString userStorePath()
{
    return configDirectory() + QStringLiteral("/user.reg");
}
