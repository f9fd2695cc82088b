#include "link/doctor.h"

#include "config/appsettings.h"
#include "link/protocol/frametext.h"
#include "link/readerprobe.h"
#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/serialport.h"
#include "platform/systemtree.h"

#include <QRegularExpression>

#include <cerrno>

namespace {

using Outcome = ReaderProbe::Attempt::Outcome;
using Verdict = DoctorCheck::Verdict;

// The stored speed is a 16-bit number: faster settings can only be given with -s.
constexpr int kMaxStoredSpeed = 32767;

QString openFailureCode(int number)
{
    switch (number) {
    case EBUSY:
        return QStringLiteral("port_busy");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission_denied");
    default:
        return QStringLiteral("port_unavailable");
    }
}

void reportFound(DoctorCheck& check, const SystemFindings& found, const ReaderProbe::Attempt& hit)
{
    check.verdict = Verdict::Fail;
    check.code = QStringLiteral("line_settings");
    check.summary = QStringLiteral("no answer at %1; the reader (type %2) answers at %3")
                        .arg(found.lineSettings)
                        .arg(hit.readerType)
                        .arg(hit.settings);
    check.cure << QStringLiteral("for one command: tarnavel-cli -s %1 ...").arg(hit.settings);
    const int speed = hit.settings.section(QLatin1Char(','), 0, 0).toInt();
    if (speed <= kMaxStoredSpeed)
        check.cure << QStringLiteral("to keep it, in the window: Settings > Options, %1")
                          .arg(optionsWording(hit.settings));
    else
        check.cure << QStringLiteral("the stored settings hold speeds up to %1 only: set the "
                                     "reader to a slower speed to use it from the window")
                          .arg(kMaxStoredSpeed);
}

void checkReader(DoctorReport& report, const SystemFindings& found, const DoctorRun& run)
{
    DoctorCheck& check = report.add(QStringLiteral("reader"), QStringLiteral("Reader"));
    if (!found.holdBack.isEmpty()) {
        check.verdict = Verdict::Skipped;
        const DoctorCheck* failed = report.firstFailure();
        check.summary =
            QStringLiteral("not tried: see %1 above").arg(failed ? failed->title : found.holdBack);
        return;
    }
    if (!run.port) {
        check.verdict = Verdict::Skipped;
        check.summary = QStringLiteral("not tried: the files looked at are not this machine's");
        return;
    }
    ReaderProbe probe(*run.port, run.clock, run.pump);
    probe.carryOn = run.carryOn;
    QList<ReaderProbe::Attempt> attempts;
    try {
        if (found.commPort > 0)
            run.port->setCommPort(found.commPort);
        attempts = probe.search(found.lineSettings, !found.pseudoTerminal);
    } catch (const AppError& error) {
        check.verdict = Verdict::Fail;
        check.code = run.port->deviceLost() ? QStringLiteral("reader_lost")
                                            : openFailureCode(error.number());
        check.summary = fsutil::printable(error.description());
        return;
    }
    if (probe.interrupted()) {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("interrupted");
        check.summary = QStringLiteral("interrupted");
        return;
    }
    const ReaderProbe::Attempt& first = attempts.constFirst();
    switch (first.outcome) {
    case Outcome::Answered:
        report.answered = true;
        report.windowReady = found.commPort == found.settings.CommPort &&
                             found.lineSettings == lineSettingsText(found.settings);
        report.readerType = first.readerType;
        check.summary = QStringLiteral("it answers at %1: reader type %2")
                            .arg(found.lineSettings)
                            .arg(first.readerType);
        return;
    case Outcome::Refused: {
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("usage");
        // The serial control's "Invalid property value:" is the window's number 380.
        QString reason = first.error;
        reason.remove(QRegularExpression(QStringLiteral("^Invalid property value: ")));
        check.summary = fsutil::printable(reason);
        check.cure << QStringLiteral("correct -s, or the line settings in Settings > Options");
        return;
    }
    case Outcome::ReaderError:
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("reader_error");
        check.summary = QStringLiteral("the reader answered the reset with: %1")
                            .arg(readerStatusText(first.reply));
        check.cure << QStringLiteral("switch the reader off and on again");
        return;
    case Outcome::Unexpected:
        check.verdict = Verdict::Fail;
        check.code = QStringLiteral("unexpected_reply");
        check.summary = QStringLiteral("something answers at %1, but not as a BT904/BT905-class "
                                       "reader would: %2")
                            .arg(found.lineSettings, printableBytes(first.reply.left(32)));
        check.cure << QStringLiteral("check that the reader, not another device, is on this "
                                     "port");
        return;
    case Outcome::Garbled:
    case Outcome::Silent:
        break;
    }
    for (const ReaderProbe::Attempt& other : attempts) {
        if (other.outcome == Outcome::Answered) {
            report.answeredAt = other.settings;
            report.readerType = other.readerType;
            reportFound(check, found, other);
            return;
        }
    }
    check.verdict = Verdict::Fail;
    const bool garbled = first.outcome == Outcome::Garbled;
    check.code = garbled ? QStringLiteral("garbled_replies") : QStringLiteral("no_reply");
    check.summary =
        QStringLiteral("%1 at %2 within %3 s")
            .arg(garbled ? QStringLiteral("only corrupted replies") : QStringLiteral("no answer"),
                 found.lineSettings)
            .arg(ReaderProbe::kFirstAttemptMs / 1000);
    QStringList tried;
    for (qsizetype i = 1; i < attempts.size(); ++i)
        tried << attempts.at(i).settings;
    if (!tried.isEmpty())
        check.details << QStringLiteral("nor at any other common line settings: %1")
                             .arg(tried.join(QStringLiteral(", ")));
    else if (found.pseudoTerminal)
        check.details << QStringLiteral("a pseudo-terminal has no line settings to try others");
    check.cure << (found.pseudoTerminal
                       ? QStringLiteral("look at the emulator's console: is a fault switched on?")
                       : QStringLiteral("check that the reader is switched on, and its cable"));
}

} // namespace

DoctorReport runDoctor(const DoctorRun& run)
{
    const SystemFindings found = checkSystem(run.tree, run.target);
    DoctorReport report = found.report;
    checkReader(report, found, run);
    return report;
}
