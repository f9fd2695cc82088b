#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What tarnavel-cli doctor found: one entry per check, in the order a person would look, each
// with its verdict and, when it failed, the cause and the commands that mend it. Pure data:
// the checks fill it in, the functions below render it.
struct DoctorCheck {
    enum class Verdict {
        Ok,
        Fail,    // wrong, and the cure is given
        Warn,    // not wrong now, but likely to get in the way
        Unknown, // could not be found out here (no /proc, no udev...), and it says why
        Skipped, // pointless after an earlier failure
    };

    QString id;    // "port", "device", "access", "holders", "modemmanager", "brltty",
                   // "settings", "reader"
    QString title; // "Port", "Device"...
    Verdict verdict = Verdict::Ok;
    QString summary;     // one line
    QStringList details; // facts behind it, and what could not be found out
    QStringList cure;    // the steps that mend it, commands as they are typed
    QString code;        // the error code of a failure: its kind, and so the exit status
};

struct DoctorReport {
    QString port;   // "COM1", or the device path given
    QString device; // the device node it stands for
    QList<DoctorCheck> checks;
    bool answered = false; // the reader answered with the line settings in use
    // ... and those are the stored port and settings, which the window uses too.
    bool windowReady = false;
    int readerType = -1;
    QString lineSettings; // the line settings in use
    QString answeredAt;   // the line settings a search found the reader at, when not those

    DoctorCheck& add(const QString& id, const QString& title);
    // The first failed check, or nullptr.
    const DoctorCheck* firstFailure() const;
    const DoctorCheck* check(const QString& id) const;
};

QString verdictName(DoctorCheck::Verdict verdict);

// The report as lines for a terminal: a mark, the check's title and summary, its details and
// cure indented below. unicode: ✓ ✗ ! ? -, else + x ! ? - for a terminal that cannot show them.
QString doctorText(const DoctorReport& report, bool unicode);
// The same as one JSON object.
QJsonObject doctorJson(const DoctorReport& report);
