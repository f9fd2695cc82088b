// doctor: what stands between this machine and a reader that answers.

#include "cli/command.h"
#include "cli/tracingport.h"
#include "config/doctorreport.h"
#include "config/ports.h"
#include "link/doctor.h"
#include "platform/fsutil.h"
#include "platform/interrupts.h"
#include "platform/paths.h"
#include "platform/serialport.h"
#include "platform/systemtree.h"

#include <QJsonDocument>

#include <cstring>
#include <langinfo.h>
#include <memory>

namespace {

// ✓ and ✗ only where the terminal's character set has them.
bool unicodeOutput()
{
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset && std::strcmp(codeset, "UTF-8") == 0;
}

int doctor(CliContext& ctx)
{
    const CliArgs& args = ctx.args;
    DoctorTarget target;
    target.portsFolder = portsDirectory();
    target.storePath = userStorePath();
    const QString port = args.value(Opt::Port);
    if (port.contains(QLatin1Char('/'))) {
        target.deviceOverride = port;
    } else if (!port.isEmpty()) {
        target.commPort = parsePortNumber(port);
        if (target.commPort < 1)
            return ctx.usage(QStringLiteral("--port takes COM1 to COM%1 or a device path such "
                                            "as /dev/ttyUSB0, not \"%2\"")
                                 .arg(kMaxPortNumber)
                                 .arg(fsutil::printable(port)));
    }
    target.settingsOverride = args.value(Opt::Settings);
    const QString root = args.value(Opt::Root);
    const SystemTree tree = root.isEmpty() ? SystemTree::live() : SystemTree::prepared(root);

    // The port as every command gets it (with its stale-link check), traced with --trace.
    const std::unique_ptr<ISerialPort> serial = ctx.env.makePort(target.deviceOverride);
    std::unique_ptr<TracingPort> tracer;
    ISerialPort* live = serial.get();
    if (args.has(Opt::Trace)) {
        tracer = std::make_unique<TracingPort>(
            *serial, args.has(Opt::Reveal),
            [&ctx](const QString& line) { ctx.console.err(line + QLatin1Char('\n')); });
        live = tracer.get();
    }
    ctx.env.interrupts.install();
    const DoctorReport report =
        runDoctor({tree, target, root.isEmpty() ? live : nullptr, ctx.env.clock, ctx.env.pump,
                   [&ctx] { return !ctx.env.interrupts.check(); }});

    const DoctorCheck* failed = report.firstFailure();
    // The checks name their kinds by the codes' names; one not in the table is a usage fault.
    const int status = report.answered ? exitcode::Ok
                       : failed
                           ? ctx.statusOf(errorCodeNamed(failed->code).value_or(ErrorCode::Usage))
                           : exitcode::NoReply;
    if (args.has(Opt::Json)) {
        QJsonObject json = doctorJson(report);
        json.insert(QStringLiteral("exit"), status);
        ctx.console.out(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n');
        ctx.jsonPrinted = true;
    } else {
        ctx.console.out(doctorText(report, unicodeOutput()).toUtf8());
    }
    return status;
}

} // namespace

const CliCommand kDoctorCommand = {
    "doctor",
    "",
    "find out why the reader does not answer, and\nthe cure",
    {Opt::Root},
    0,
    0,
    nullptr,
    "Checks, in the order a person would look, what stands between this machine\n"
    "and a reader that answers: what COMn is (the ports link, the device, its\n"
    "driver and USB adapter), that the device node exists, access to it, who holds\n"
    "it (lock files in /run/lock, programs that have it open), ModemManager and\n"
    "brltty, the settings file, and last a reset and version query. When the\n"
    "reader is silent, the line settings such readers are commonly set to are\n"
    "tried one by one (a few seconds at most). Each check is one line with a mark,\n"
    "a tick (fine), a cross (wrong), ! (may get in the way), ? (not known here) or\n"
    "- (not checked), and under a cross the command that mends it. Nothing is\n"
    "changed; the reader is only sent a reset. -t is not used: each attempt has a\n"
    "short bound of its own. Exits 0 when the reader answered, otherwise with the\n"
    "status of the first check that failed.\n",
    {},
    doctor,
    {Opt::Port, Opt::Settings, Opt::Json, Opt::Trace, Opt::Reveal, Opt::Help},
};
