// ports: the serial devices and the COMn links of the ports folder.

#include "cards/jsonline.h"
#include "cli/command.h"
#include "config/ports.h"
#include "config/udevrule.h"
#include "platform/fsutil.h"
#include "platform/portholders.h"
#include "platform/serialdevices.h"
#include "platform/systemtree.h"

namespace {

int portNumber(CliContext& ctx, const QString& text, int* number)
{
    *number = parsePortNumber(text);
    if (*number < 1)
        return ctx.usage(QStringLiteral("\"%1\" is not a port number (1 to %2, or COM1...)")
                             .arg(fsutil::printable(text))
                             .arg(kMaxPortNumber));
    return exitcode::Ok;
}

QString linkState(const PortLink& link)
{
    if (link.stale)
        return QStringLiteral("stale: %1; COM%2 will not open it, tarnavel-cli ports unlink %2 "
                              "removes it")
            .arg(link.problem)
            .arg(link.number);
    if (!link.problem.isEmpty())
        return QStringLiteral("refused: %1").arg(link.problem);
    if (!link.symlink)
        return QStringLiteral("not a link; COM%1 opens it as it is").arg(link.number);
    if (link.emulator)
        return QStringLiteral("tarnavel-sim, process %1").arg(link.emulatorPid);
    if (link.byHand)
        return QStringLiteral("a pseudo-terminal linked with ports link");
    if (!link.present)
        return QStringLiteral("missing: nothing there now");
    return QString();
}

QString orNull(const QString& text)
{
    return text.isEmpty() ? QString() : text;
}

int listPorts(CliContext& ctx)
{
    const QList<SerialDevice> devices = listSerialDevices();
    QString error;
    PortsFolderTrust trust = PortsFolderTrust::Missing;
    const QList<PortLink> links = listPortLinks(&error, portsDirectory(), &trust);
    if (!error.isEmpty())
        return ctx.fail(ErrorCode::PortUnavailable,
                        trust == PortsFolderTrust::Refused
                            ? QStringLiteral("the ports folder is not trusted, so no COM port "
                                             "opens through it: ") +
                                  error
                            : QStringLiteral("cannot list the COM links: ") + error);
    if (ctx.args.has(Opt::Json)) {
        QByteArray deviceList;
        for (const SerialDevice& device : devices) {
            JsonLine line;
            line.add("path", device.path)
                .addText("target", orNull(device.target))
                .add("usb", device.usb)
                .add("stable_name", device.stableName);
            deviceList += (deviceList.isEmpty() ? "" : ", ") + line.text();
        }
        QByteArray linkList;
        for (const PortLink& link : links) {
            JsonLine line;
            line.add("port", QStringLiteral("COM%1").arg(link.number))
                .add("path", link.path)
                .add("symlink", link.symlink)
                .addText("target", link.symlink ? link.target : QString())
                .addText("resolved", orNull(link.resolved))
                .add("present", link.present)
                .add("emulator", link.emulator)
                .add("stale", link.stale)
                .addText("problem", orNull(link.problem));
            if (link.emulator)
                line.add("emulator_pid", int(link.emulatorPid));
            else
                line.addNull("emulator_pid");
            linkList += (linkList.isEmpty() ? "" : ", ") + line.text();
        }
        JsonLine all;
        all.addText("ports_folder", orNull(portsDirectory()))
            .add("ports_folder_trusted", trust == PortsFolderTrust::Trusted)
            .addRaw("devices", '[' + deviceList + ']')
            .addRaw("links", '[' + linkList + ']');
        ctx.console.out(all.text() + '\n');
        ctx.jsonPrinted = true;
        return exitcode::Ok;
    }
    QString text = QStringLiteral("Serial devices:\n");
    for (const SerialDevice& device : devices) {
        text += QStringLiteral("  ") + fsutil::printable(device.path);
        if (device.stableName)
            text += QStringLiteral(" -> ") + fsutil::printable(device.target);
        else if (device.usb)
            text += QStringLiteral("  (USB)");
        text += QLatin1Char('\n');
    }
    if (devices.isEmpty())
        text += QStringLiteral("  none\n");
    text += QStringLiteral("COM links in %1 (%2):\n")
                .arg(fsutil::printable(portsDirectory()),
                     trust == PortsFolderTrust::Trusted
                         ? QStringLiteral("trusted: it and the folders above it are yours or "
                                          "root's, and no other user can change them")
                         : QStringLiteral("no such folder"));
    for (const PortLink& link : links) {
        text += QStringLiteral("  COM%1").arg(link.number);
        if (link.symlink)
            text += QStringLiteral(" -> ") + fsutil::printable(link.target);
        const QString state = linkState(link);
        if (!state.isEmpty())
            text += QStringLiteral("  (%1)").arg(state);
        text += QLatin1Char('\n');
    }
    if (links.isEmpty())
        text += QStringLiteral("  none (COMn is then /dev/ttyS(n-1); tarnavel-cli ports link 1 "
                               "/dev/ttyUSB0 makes one)\n");
    ctx.console.out(text.toLocal8Bit());
    return exitcode::Ok;
}

// A change's outcome with --json: the port and, for a link, the device it now stands for.
int reportChange(CliContext& ctx, const QString& result, int number, const QString& device)
{
    if (!ctx.args.has(Opt::Json))
        return exitcode::Ok;
    JsonLine json;
    json.add("command", QStringLiteral("ports"))
        .add("result", result)
        .add("port", QStringLiteral("COM%1").arg(number));
    if (!device.isNull())
        json.add("device", device);
    ctx.console.out(json.text() + '\n');
    return exitcode::Ok;
}

// A udev rule for the adapter DEVICE is on: printed, or with --install put in place as root.
int udev(CliContext& ctx, const QString& numberText, const QString& device)
{
    int number = 0;
    if (const int status = portNumber(ctx, numberText, &number))
        return status;
    const QString root = ctx.args.value(Opt::Root);
    if (!root.isEmpty() && ctx.args.has(Opt::Install))
        return ctx.usage(QStringLiteral("--install works on this machine's udev, not with --root"));
    const SystemTree tree = root.isEmpty() ? SystemTree::live() : SystemTree::prepared(root);
    QString error;
    const std::optional<UdevRule> rule = udevRuleFor(tree, number, device, &error);
    if (!rule)
        return ctx.fail(ErrorCode::PortsRefused, error);
    const bool install = ctx.args.has(Opt::Install);
    if (install) {
        QStringList done;
        const bool installed = installUdevRule(tree, *rule, systemUdevActions(), &error, &done);
        for (const QString& step : std::as_const(done))
            ctx.console.message(step);
        if (!installed)
            return ctx.fail(ErrorCode::UdevFailed, error);
    }
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("command", QStringLiteral("ports"))
            .add("result", install ? QStringLiteral("installed") : QStringLiteral("rule"))
            .add("rule", rule->text())
            .add("file",
                 QString::fromLatin1(kUdevRulesFolder) + QLatin1Char('/') + rule->fileName())
            .add("link", QStringLiteral("/dev/") + rule->linkName())
            .add("installed", install);
        ctx.console.out(json.text() + '\n');
        ctx.jsonPrinted = true;
    } else if (!install) {
        ctx.console.out(rule->text().toUtf8());
        ctx.console.message(QStringLiteral("to install it: sudo tarnavel-cli ports udev %1 %2 "
                                           "--install")
                                .arg(number)
                                .arg(commandWord(device)));
    }
    return exitcode::Ok;
}

int ports(CliContext& ctx)
{
    const QStringList& words = ctx.args.operands;
    if (words.isEmpty())
        return listPorts(ctx);
    const QString& action = words.constFirst();
    QString error;
    int number = 0;
    if (action == QLatin1String("link") && words.size() == 3) {
        if (const int status = portNumber(ctx, words.at(1), &number))
            return status;
        if (!linkPort(number, words.at(2), &error, portsDirectory(), ctx.args.has(Opt::Force)))
            return ctx.fail(ErrorCode::PortsRefused, error);
        ctx.console.message(QStringLiteral("COM%1 now stands for %2")
                                .arg(number)
                                .arg(fsutil::printable(words.at(2))));
        return reportChange(ctx, QStringLiteral("linked"), number, words.at(2));
    }
    if (action == QLatin1String("unlink") && words.size() == 2) {
        if (const int status = portNumber(ctx, words.at(1), &number))
            return status;
        if (!unlinkPort(number, &error))
            return ctx.fail(ErrorCode::PortsRefused, error);
        ctx.console.message(QStringLiteral("COM%1 link removed").arg(number));
        return reportChange(ctx, QStringLiteral("unlinked"), number, QString());
    }
    if (action == QLatin1String("udev") && words.size() == 3)
        return udev(ctx, words.at(1), words.at(2));
    return ctx.usage(QString::fromLatin1(kPortsCommand.operandError));
}

} // namespace

const CliCommand kPortsCommand = {
    "ports",
    "[link [--force] N DEVICE | unlink N | udev [--install] N DEVICE]",
    "list serial devices and COMn links; make or remove\na link; a udev rule for the reader",
    {Opt::Force, Opt::Install, Opt::Root},
    0,
    3,
    "ports takes nothing, \"link N DEVICE\", \"unlink N\" or \"udev N DEVICE\"",
    "Lists the serial devices (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*,\n"
    "/dev/serial/by-id/*) and the COMn links of the ports folder\n"
    "(~/.config/quorvex-tarnavel/ports) with where each points.\n"
    "link N DEVICE makes COMN stand for DEVICE, a serial line (the link comN is\n"
    "replaced in one step; a file that is not a link is never replaced). unlink N\n"
    "removes the link comN. Prefer the stable /dev/serial/by-id name of a USB adapter.\n"
    "The folder must be yours and writable by you alone (group write by your own\n"
    "private group aside), as must the configuration folder above it and every folder\n"
    "from your home down to them; link makes the two private (0700). The listing says\n"
    "whether the folder is trusted; one that cannot be read or trusted exits 2, saying\n"
    "why and the command that mends it. A link tarnavel-sim made opens only while that\n"
    "emulator runs; link refuses a number a running tarnavel-sim holds, unless --force.\n"
    "With --json: {\"command\": \"ports\", \"result\": \"linked\", \"port\": \"COM1\",\n"
    "\"device\": \"/dev/ttyUSB0\"} (\"unlinked\", without the device).\n"
    "udev N DEVICE prints a udev rule for the USB adapter DEVICE is on, matched by its\n"
    "vendor, product and serial number: it names it /dev/tarnavel-comN, lets the user\n"
    "at the desk open it without the dialout group (uaccess) and keeps ModemManager\n"
    "off it. An adapter without a serial number of its own gets no rule, as one\n"
    "would match every adapter of its kind. With --install, as root, the rule is\n"
    "written to /etc/udev/rules.d/71-tarnavel-comN.rules, udev applies it, and COMN\n"
    "is linked to /dev/tarnavel-comN for the user who ran sudo.\n",
    {QStringLiteral("link"), QStringLiteral("unlink"), QStringLiteral("udev")},
    ports,
    {Opt::Json, Opt::Help},
};
