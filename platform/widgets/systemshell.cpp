#include "platform/widgets/systemshell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

bool SystemShell::openUrl(const QString& url)
{
    return QDesktopServices::openUrl(QUrl(url));
}

bool SystemShell::startProgram(const QString& path, const QStringList& args)
{
    return QProcess::startDetached(path, args);
}

bool SystemShell::fileExists(const QString& path) const
{
    return QFileInfo(path).isFile();
}

QString SystemShell::findProgram(const QStringList& names) const
{
    for (const QString& name : names) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return {};
}
