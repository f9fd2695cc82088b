#include "config/doctorreport.h"

#include <QJsonArray>

namespace {

QString mark(DoctorCheck::Verdict verdict, bool unicode)
{
    switch (verdict) {
    case DoctorCheck::Verdict::Ok:
        return unicode ? QStringLiteral("\u2713") : QStringLiteral("+");
    case DoctorCheck::Verdict::Fail:
        return unicode ? QStringLiteral("\u2717") : QStringLiteral("x");
    case DoctorCheck::Verdict::Warn:
        return QStringLiteral("!");
    case DoctorCheck::Verdict::Unknown:
        return QStringLiteral("?");
    case DoctorCheck::Verdict::Skipped:
        break;
    }
    return QStringLiteral("-");
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

DoctorCheck& DoctorReport::add(const QString& id, const QString& title)
{
    DoctorCheck check;
    check.id = id;
    check.title = title;
    checks << check;
    return checks.last();
}

const DoctorCheck* DoctorReport::firstFailure() const
{
    for (const DoctorCheck& check : checks) {
        if (check.verdict == DoctorCheck::Verdict::Fail)
            return &check;
    }
    return nullptr;
}

const DoctorCheck* DoctorReport::check(const QString& id) const
{
    for (const DoctorCheck& check : checks) {
        if (check.id == id)
            return &check;
    }
    return nullptr;
}

QString verdictName(DoctorCheck::Verdict verdict)
{
    switch (verdict) {
    case DoctorCheck::Verdict::Ok:
        return QStringLiteral("ok");
    case DoctorCheck::Verdict::Fail:
        return QStringLiteral("fail");
    case DoctorCheck::Verdict::Warn:
        return QStringLiteral("warn");
    case DoctorCheck::Verdict::Unknown:
        return QStringLiteral("unknown");
    case DoctorCheck::Verdict::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

QString doctorText(const DoctorReport& report, bool unicode)
{
    QString text;
    for (const DoctorCheck& check : report.checks) {
        text += QStringLiteral("%1 %2: %3\n")
                    .arg(mark(check.verdict, unicode), check.title, check.summary);
        for (const QString& detail : check.details)
            text += QStringLiteral("    ") + detail + QLatin1Char('\n');
        for (qsizetype i = 0; i < check.cure.size(); ++i)
            text += (i == 0 ? QStringLiteral("    Fix: ") : QStringLiteral("         ")) +
                    check.cure.at(i) + QLatin1Char('\n');
    }
    if (report.answered) {
        text += report.windowReady ? QStringLiteral("The reader answers on %1: tarnavel-cli and "
                                                    "the window can use it.\n")
                                         .arg(report.port)
                                   : QStringLiteral("The reader answers on %1 with %2.\n")
                                         .arg(report.port, report.lineSettings);
    } else if (const DoctorCheck* failed = report.firstFailure()) {
        text += QStringLiteral("The reader does not answer on %1 yet: mend the first %2 above "
                               "(%3), then run tarnavel-cli doctor again.\n")
                    .arg(report.port, mark(DoctorCheck::Verdict::Fail, unicode), failed->title);
    }
    return text;
}

QJsonObject doctorJson(const DoctorReport& report)
{
    QJsonArray checks;
    for (const DoctorCheck& check : report.checks) {
        QJsonObject entry;
        entry.insert(QStringLiteral("check"), check.id);
        entry.insert(QStringLiteral("result"), verdictName(check.verdict));
        entry.insert(QStringLiteral("summary"), check.summary);
        entry.insert(QStringLiteral("details"), QJsonArray::fromStringList(check.details));
        entry.insert(QStringLiteral("cure"), QJsonArray::fromStringList(check.cure));
        entry.insert(QStringLiteral("code"), textOrNull(check.code));
        checks.append(entry);
    }
    QJsonObject json;
    json.insert(QStringLiteral("command"), QStringLiteral("doctor"));
    json.insert(QStringLiteral("port"), report.port);
    json.insert(QStringLiteral("device"), textOrNull(report.device));
    json.insert(QStringLiteral("checks"), checks);
    json.insert(QStringLiteral("answered"), report.answered);
    json.insert(QStringLiteral("reader_type"),
                report.readerType >= 0 ? QJsonValue(report.readerType) : QJsonValue());
    json.insert(QStringLiteral("line_settings"), textOrNull(report.lineSettings));
    json.insert(QStringLiteral("answered_at"), textOrNull(report.answeredAt));
    const DoctorCheck* failed = report.firstFailure();
    json.insert(QStringLiteral("result"),
                report.answered ? QStringLiteral("ok") : QStringLiteral("failed"));
    json.insert(QStringLiteral("code"),
                report.answered || !failed ? QJsonValue() : QJsonValue(failed->code));
    return json;
}
