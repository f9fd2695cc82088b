#include "support/recordingshell.h"

bool RecordingShell::openUrl(const QString& url)
{
    openedUrls.append(url);
    return openUrlResult;
}

bool RecordingShell::startProgram(const QString& path, const QStringList& args)
{
    started.append({path, args});
    return startProgramResult;
}

bool RecordingShell::fileExists(const QString& path) const
{
    checkedFiles.append(path);
    return existingFiles.contains(path);
}

QString RecordingShell::findProgram(const QStringList& names) const
{
    searches.append(names);
    for (const QString& name : names) {
        const auto found = programsOnPath.constFind(name);
        if (found != programsOnPath.constEnd())
            return found.value();
    }
    return {};
}
