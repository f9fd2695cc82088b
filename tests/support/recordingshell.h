#pragma once

#include "platform/shell.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Records every request to the operating system and answers as a test sets it up.
class RecordingShell : public IShell
{
public:
    struct Start {
        QString path;
        QStringList args;
    };

    bool openUrl(const QString& url) override;
    bool startProgram(const QString& path, const QStringList& args = {}) override;
    bool fileExists(const QString& path) const override;
    QString findProgram(const QStringList& names) const override;

    // Answers.
    bool openUrlResult = true;
    bool startProgramResult = true;
    QSet<QString> existingFiles;
    QMap<QString, QString> programsOnPath; // name -> full path

    // Calls, in order.
    QStringList openedUrls;
    QList<Start> started;
    mutable QStringList checkedFiles;
    mutable QList<QStringList> searches;
};
