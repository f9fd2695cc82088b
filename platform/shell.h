#pragma once

#include <QString>
#include <QStringList>

// Operating-system services used by the About box.
class IShell
{
public:
    virtual ~IShell() = default;
    virtual bool openUrl(const QString& url) = 0;
    // Starts a program detached, with an argument list (never through a shell).
    virtual bool startProgram(const QString& path, const QStringList& args = {}) = 0;
    virtual bool fileExists(const QString& path) const = 0;
    // Full path of the first of the names found on PATH, or "".
    virtual QString findProgram(const QStringList& names) const = 0;
};
