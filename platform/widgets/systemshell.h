#pragma once

#include "platform/shell.h"

class SystemShell : public IShell
{
public:
    bool openUrl(const QString& url) override;
    bool startProgram(const QString& path, const QStringList& args = {}) override;
    bool fileExists(const QString& path) const override;
    QString findProgram(const QStringList& names) const override;
};
