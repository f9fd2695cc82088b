#pragma once

#include <QString>
#include <QStringList>

// The command line of tarnavel-cli: options may stand before or after the command; "--" ends
// them (for data that starts with "-").
struct CliArgs {
    QString command; // empty when none was given
    QStringList operands;

    QString port;
    QString settings;
    QString timeout;
    QString method;
    QString start;
    bool trace = false;
    bool json = false;
    bool reveal = false;
    bool decode = false;
    bool yes = false;
    bool verify = false;
    bool keepGoing = false;
    bool force = false;
    bool help = false;
    bool version = false;
};

// False with *error set on a usage error (unknown command or option, a missing value, an
// option that the command does not take).
bool parseCliArgs(const QStringList& arguments, CliArgs* parsed, QString* error);

bool isCliCommand(const QString& name);
QString programHelp();
// The help of one command; empty for an unknown one.
QString commandHelp(const QString& command);
QString versionText();
