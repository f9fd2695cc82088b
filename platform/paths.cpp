#include "platform/paths.h"

#include <QDir>

namespace {

QString absoluteOrEmpty(const char* variable)
{
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : QString();
}

QString below(const QString& directory, const QString& name)
{
    return directory.isEmpty() ? QString() : QDir::cleanPath(directory + QLatin1Char('/') + name);
}

} // namespace

QString configDirectory()
{
    // Relative locations are ignored, as the XDG rules say; and with no home there is no
    // folder: never the root of the file system.
    QString base = absoluteOrEmpty("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = below(absoluteOrEmpty("HOME"), QStringLiteral(".config"));
    return below(base, QStringLiteral("quorvex-tarnavel"));
}

QString portsDirectory()
{
    return below(configDirectory(), QStringLiteral("ports"));
}

QString userStorePath()
{
    return below(configDirectory(), QStringLiteral("user.reg"));
}
