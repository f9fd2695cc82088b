#include "cli/clicommands.h"

#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "cards/trackdecode.h"
#include "cli/cliargs.h"
#include "cli/console.h"
#include "cli/exitcodes.h"
#include "cli/jsonline.h"
#include "cli/readersession.h"
#include "config/ports.h"
#include "link/commands.h"
#include "link/lampcommand.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/interrupts.h"
#include "platform/serialdevices.h"

#include <QFile>

#include <cstdio>

namespace {

struct Context {
    CliArgs args;
    Interrupts interrupts;
    Console console{&interrupts};
};

int usageError(const QString& text)
{
    Console::message(text +
                     QStringLiteral(" (tarnavel-cli --help lists the commands and options)"));
    return exitcode::Usage;
}

bool readStandardInput(QByteArray* bytes)
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        Console::message(QStringLiteral("cannot read standard input: %1").arg(in.errorString()));
        return false;
    }
    *bytes = in.readAll();
    return true;
}

QByteArray withoutNewline(QByteArray bytes)
{
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return bytes;
}

// -m, else the stored default method (else ISO on Track 2, as a fresh installation has it).
int pickMethod(const CliArgs& args, const AppSettings& settings, int* method)
{
    if (args.method.isEmpty()) {
        *method = isCardMethod(settings.DefType) ? settings.DefType : 1;
        return exitcode::Ok;
    }
    *method = methodFromText(args.method);
    if (*method < 0)
        return usageError(QStringLiteral("unknown card method \"%1\": use 0 to 4 or iso1, iso2, "
                                         "iso3, ibm, iso1t3")
                              .arg(args.method));
    return exitcode::Ok;
}

QString acceptedCharacters(int method)
{
    switch (method) {
    case 0:
        return QStringLiteral("%1 takes the characters from space to _").arg(methodName(method));
    case 1:
    case 2:
        return QStringLiteral("%1 takes 0-9 : ; < = > ?").arg(methodName(method));
    default:
        return QStringLiteral("%1 takes only characters of one byte").arg(methodName(method));
    }
}

QString rejection(const TrackDataCheck& check, int method)
{
    return QStringLiteral("invalid character \"%1\" at position %2 of the data: %3")
        .arg(check.character)
        .arg(check.position)
        .arg(acceptedCharacters(method));
}

QString uncheckedRefusal(int method)
{
    return QStringLiteral("%1 data cannot be checked; --yes writes it unchecked")
        .arg(methodName(method));
}

QString oneLine(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

int noOperands(const Context& ctx)
{
    if (ctx.args.operands.isEmpty())
        return exitcode::Ok;
    return usageError(QStringLiteral("%1 takes no argument \"%2\"")
                          .arg(ctx.args.command, ctx.args.operands.constFirst()));
}

// Opens the port and asks the reader for its type: what every reader command starts with.
int bringUp(Context& ctx, ReaderSession& session)
{
    ctx.interrupts.install();
    if (const int status = session.open())
        return status;
    return session.connect();
}

// For commands that need no card method: settings, port, reader type.
int configureAndBringUp(Context& ctx, ReaderSession& session)
{
    if (const int status = session.configure())
        return status;
    return bringUp(ctx, session);
}

// ---- decoding ----

QByteArray decodedJson(const DecodedTrack& track, bool reveal)
{
    JsonLine json;
    if (!track.decodable)
        return json.add("decodable", false).add("reason", track.reason).text();
    json.add("track", track.format)
        .add("pan", reveal ? track.pan : maskPan(track.pan))
        .add("luhn_ok", track.luhnOk);
    if (track.format == 1)
        json.add("name", track.name);
    json.add("expiry", track.expiry).add("service_code", track.serviceCode);
    JsonLine service;
    service.add("interchange", serviceInterchange(track.serviceCode.at(0)))
        .add("authorization", serviceAuthorization(track.serviceCode.at(1)))
        .add("services", serviceRange(track.serviceCode.at(2)));
    json.addRaw("service", service.text())
        .add("discretionary_length", int(track.discretionary.size()));
    if (reveal)
        json.add("discretionary", track.discretionary);
    return json.add("decodable", true).text();
}

QByteArray decodedText(const DecodedTrack& track, bool reveal)
{
    if (!track.decodable)
        return (QStringLiteral("not decodable: ") + track.reason + QLatin1Char('\n')).toUtf8();
    const QString indent(16, QLatin1Char(' '));
    QString text =
        QStringLiteral("track:          %1 (ISO/IEC 7813)\n").arg(track.format) +
        QStringLiteral("account number: %1\n").arg(reveal ? track.pan : maskPan(track.pan)) +
        QStringLiteral("Luhn check:     %1\n")
            .arg(track.luhnOk ? QStringLiteral("passed") : QStringLiteral("FAILED"));
    if (track.format == 1)
        text += QStringLiteral("name:           %1\n").arg(track.name);
    const QString& code = track.serviceCode;
    text += QStringLiteral("expiry:         %1\n").arg(track.expiry) +
            QStringLiteral("service code:   %1\n").arg(code) + indent +
            QStringLiteral("%1 %2\n").arg(code.at(0)).arg(serviceInterchange(code.at(0))) + indent +
            QStringLiteral("%1 %2\n").arg(code.at(1)).arg(serviceAuthorization(code.at(1))) +
            indent + QStringLiteral("%1 %2\n").arg(code.at(2)).arg(serviceRange(code.at(2)));
    if (reveal)
        text += QStringLiteral("discretionary:  %1\n").arg(track.discretionary);
    else
        text += QStringLiteral("discretionary:  %1 characters (--reveal shows them)\n")
                    .arg(track.discretionary.size());
    return text.toUtf8();
}

int decode(Context& ctx)
{
    const CliArgs& args = ctx.args;
    if (args.operands.size() > 1)
        return usageError(QStringLiteral("decode takes one track, or - for standard input"));
    QList<QByteArray> tracks;
    if (args.operands.isEmpty() || args.operands.constFirst() == QLatin1String("-")) {
        QByteArray input;
        if (!readStandardInput(&input))
            return exitcode::Usage;
        for (QByteArray line : input.split('\n')) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (!line.isEmpty())
                tracks << line;
        }
    } else {
        // As the bytes were given: anything beyond ASCII is outside every track's set.
        tracks << args.operands.constFirst().toLocal8Bit();
    }
    int status = exitcode::Ok;
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const DecodedTrack track = decodeTrack(tracks.at(i));
        if (!track.decodable)
            status = exitcode::Rejected;
        if (args.json)
            Console::out(decodedJson(track, args.reveal) + '\n');
        else
            Console::out((i > 0 ? QByteArrayLiteral("\n") : QByteArray()) +
                         decodedText(track, args.reveal));
    }
    return status;
}

// ---- ports ----

int parsePortNumber(const QString& text, int* number)
{
    *number = portNumberFromText(text);
    if (*number == 0)
        return usageError(QStringLiteral("\"%1\" is not a port number (1 to %2, or COM1...)")
                              .arg(text)
                              .arg(kMaxPortNumber));
    return exitcode::Ok;
}

QString linkState(const PortLink& link)
{
    if (link.stale)
        return QStringLiteral("stale: %1; COM%2 will not open it")
            .arg(link.problem)
            .arg(link.number);
    if (!link.problem.isEmpty())
        return QStringLiteral("refused: %1").arg(link.problem);
    if (!link.symlink)
        return QStringLiteral("not a link; COM%1 opens it as it is").arg(link.number);
    if (link.emulator)
        return QStringLiteral("tarnavel-sim, process %1").arg(link.emulatorPid);
    if (link.forced)
        return QStringLiteral("a pseudo-terminal linked by hand with --force");
    if (!link.present)
        return QStringLiteral("missing: nothing there now");
    return QString();
}

int listPorts(const Context& ctx)
{
    const QList<SerialDevice> devices = listSerialDevices();
    QString error;
    const QList<PortLink> links = listPortLinks(&error);
    if (!error.isEmpty()) {
        Console::message(QStringLiteral("cannot list the COM links: ") + error);
        return exitcode::Port;
    }
    if (ctx.args.json) {
        QByteArray deviceList;
        for (const SerialDevice& device : devices) {
            JsonLine line;
            line.add("path", device.path)
                .add("target", device.target)
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
                .add("target", link.target)
                .add("resolved", link.resolved)
                .add("present", link.present)
                .add("emulator", link.emulator)
                .add("stale", link.stale)
                .add("problem", link.problem);
            linkList += (linkList.isEmpty() ? "" : ", ") + line.text();
        }
        JsonLine all;
        all.add("ports_folder", portsDirectory())
            .addRaw("devices", '[' + deviceList + ']')
            .addRaw("links", '[' + linkList + ']');
        Console::out(all.text() + '\n');
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
    text += QStringLiteral("COM links in %1:\n").arg(fsutil::printable(portsDirectory()));
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
    Console::out(text.toLocal8Bit());
    return exitcode::Ok;
}

int ports(const Context& ctx)
{
    const QStringList& words = ctx.args.operands;
    if (words.isEmpty())
        return listPorts(ctx);
    const QString& action = words.constFirst();
    QString error;
    int number = 0;
    if (action == QLatin1String("link") && words.size() == 3) {
        if (const int status = parsePortNumber(words.at(1), &number))
            return status;
        if (!linkPort(number, words.at(2), &error, portsDirectory(), ctx.args.force)) {
            Console::message(error);
            return exitcode::Usage;
        }
        Console::message(QStringLiteral("COM%1 now stands for %2")
                             .arg(number)
                             .arg(fsutil::printable(words.at(2))));
        return exitcode::Ok;
    }
    if (action == QLatin1String("unlink") && words.size() == 2) {
        if (const int status = parsePortNumber(words.at(1), &number))
            return status;
        if (!unlinkPort(number, &error)) {
            Console::message(error);
            return exitcode::Usage;
        }
        Console::message(QStringLiteral("COM%1 link removed").arg(number));
        return exitcode::Ok;
    }
    return usageError(QStringLiteral("ports takes nothing, \"link N DEVICE\" or \"unlink N\""));
}

// ---- reader commands ----

int version(Context& ctx)
{
    if (const int status = noOperands(ctx))
        return status;
    ReaderSession session(ctx.args, ctx.console, ctx.interrupts);
    if (const int status = configureAndBringUp(ctx, session))
        return status;
    const int type = session.link().ReaderType;
    const QList<int> lacking = unsupportedMethods(type);
    ReaderLink& link = session.link();
    if (ctx.args.json) {
        QByteArray methods;
        for (int method = 0; method < CARD_METHOD_COUNT; ++method) {
            if (lacking.contains(method))
                continue;
            JsonLine line;
            line.add("method", method)
                .add("short_name", methodShortName(method))
                .add("method_name", methodName(method));
            methods += (methods.isEmpty() ? "" : ", ") + line.text();
        }
        JsonLine json;
        json.add("reader_type", type)
            .add("port", session.portName())
            .add("device", link.port().devicePath())
            .addRaw("methods", '[' + methods + ']');
        Console::out(json.text() + '\n');
        return exitcode::Ok;
    }
    QString text =
        QStringLiteral("Reader type %1 on %2\nCard methods:\n").arg(type).arg(session.portLabel());
    for (int method = 0; method < CARD_METHOD_COUNT; ++method) {
        if (!lacking.contains(method))
            text += QStringLiteral("  %1  %2  %3\n")
                        .arg(method)
                        .arg(methodShortName(method), -6)
                        .arg(methodName(method));
    }
    Console::out(text.toLocal8Bit());
    return exitcode::Ok;
}

int read(Context& ctx)
{
    if (const int status = noOperands(ctx))
        return status;
    ReaderSession session(ctx.args, ctx.console, ctx.interrupts);
    if (const int status = session.configure())
        return status;
    int method = 0;
    if (const int status = pickMethod(ctx.args, session.settings(), &method))
        return status;
    if (const int status = bringUp(ctx, session))
        return status;
    if (const int status = session.checkMethod(method))
        return status;
    const int boxes = session.messages().shownCount();
    const CardOutcome outcome = session.operations().readCard(method);
    const int status = session.finish(outcome, QStringLiteral("read"), boxes);
    if (status != exitcode::Ok)
        return status;
    if (ctx.args.json) {
        JsonLine json;
        json.add("method", method)
            .add("method_name", methodName(method))
            .add("data", QString::fromLatin1(outcome.data));
        if (ctx.args.decode)
            json.addRaw("decoded",
                        decodedJson(decodeMethodTrack(method, outcome.data), ctx.args.reveal));
        Console::out(json.text() + '\n');
    } else {
        Console::out(outcome.data + '\n');
        if (ctx.args.decode)
            Console::out(decodedText(decodeMethodTrack(method, outcome.data), ctx.args.reveal));
    }
    return exitcode::Ok;
}

int writeCard(Context& ctx, bool verify)
{
    const CliArgs& args = ctx.args;
    ReaderSession session(args, ctx.console, ctx.interrupts);
    if (const int status = session.configure())
        return status;
    int method = 0;
    if (const int status = pickMethod(args, session.settings(), &method))
        return status;
    if (args.operands.size() != 1)
        return usageError(QStringLiteral("%1 takes the track data, or - to read it from standard "
                                         "input")
                              .arg(args.command));
    QString data = args.operands.constFirst();
    if (data == QLatin1String("-")) {
        QByteArray input;
        if (!readStandardInput(&input))
            return exitcode::Usage;
        data = QString::fromLocal8Bit(withoutNewline(input));
        ctx.console.setInteractive(false);
    }
    const TrackDataCheck check = inspectTrackData(method, data);
    if (check.verdict == TrackDataCheck::Invalid) {
        Console::message(rejection(check, method));
        return exitcode::Rejected;
    }
    if (check.verdict == TrackDataCheck::Unchecked && !args.yes &&
        !ctx.console.askYesNo(oneLine(formatWarningText(method)))) {
        Console::message(uncheckedRefusal(method));
        return exitcode::Rejected;
    }
    if (const int status = bringUp(ctx, session))
        return status;
    if (const int status = session.checkMethod(method))
        return status;
    const int boxes = session.messages().shownCount();
    const QByteArray bytes = check.data.toLatin1();
    const CardOutcome outcome = verify ? session.operations().verifyCard(method, bytes)
                                       : session.operations().writeCard(method, bytes);
    const int status = session.finish(outcome, args.command, boxes);
    if (args.json) {
        JsonLine json;
        json.add("method", method).add("method_name", methodName(method));
        if (outcome.ok())
            json.add("result", verify ? QStringLiteral("verified") : QStringLiteral("written"));
        else
            json.add("result", QStringLiteral("failed"))
                .add("error", describeOutcome(outcome, session.settings().Timeout));
        Console::out(json.text() + '\n');
    }
    return status;
}

int reset(Context& ctx)
{
    if (const int status = noOperands(ctx))
        return status;
    ReaderSession session(ctx.args, ctx.console, ctx.interrupts);
    if (const int status = configureAndBringUp(ctx, session))
        return status;
    const int boxes = session.messages().shownCount();
    return session.finish(session.operations().cmdReset_Click(), QStringLiteral("reset"), boxes);
}

int led(Context& ctx)
{
    QList<int> lamps;
    for (const QString& name : std::as_const(ctx.args.operands)) {
        const int index = lampIndex(name);
        if (index < 0)
            return usageError(
                QStringLiteral("unknown lamp \"%1\": use off, green, red or yellow").arg(name));
        lamps << index;
    }
    if (lamps.isEmpty())
        return usageError(QStringLiteral("led takes one or more of off, green, red, yellow"));
    ReaderSession session(ctx.args, ctx.console, ctx.interrupts);
    if (const int status = configureAndBringUp(ctx, session))
        return status;
    ReaderLink& link = session.link();
    for (const int lamp : std::as_const(lamps)) {
        int outcome = WAIT_GIVE_UP;
        try {
            outcome = sendLampCommand(link, lamp, [&session] { return !session.interrupted(); });
        } catch (const AppError& error) {
            Console::message(link.portLost() ? link.lossDescription() : error.description());
            return exitcode::Port;
        }
        if (session.interrupted()) {
            Console::message(QStringLiteral("interrupted"));
            return exitcode::Interrupted;
        }
        if (link.portLost()) {
            Console::message(link.lossDescription());
            return exitcode::Port;
        }
        const QByteArray reply = link.ReplyBuffer;
        if (outcome != WAIT_REPLIED) {
            Console::message(QStringLiteral("led %1: no reply to the lamp command within %2 s")
                                 .arg(lampName(lamp))
                                 .arg(session.settings().Timeout));
            return exitcode::NoReply;
        }
        if (reply != QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK) {
            Console::message(
                QStringLiteral("led %1: %2")
                    .arg(lampName(lamp),
                         reply.startsWith(cmd::REPLY_STATUS)
                             ? QStringLiteral("%1 (reader status %2)")
                                   .arg(statusMessage(reply), QString::fromLatin1(reply))
                             : QStringLiteral("unexpected reply from the reader")));
            return exitcode::Reader;
        }
    }
    return exitcode::Ok;
}

// ---- batch ----

struct BatchTally {
    int done = 0;
    int failed = 0;
    int firstFailure = exitcode::Ok;
    int stoppedAt = 0; // the card the batch stopped at, 0 when it ran to the end
    bool interrupted = false;
};

void batchLine(const Context& ctx, int index, const CardOutcome& outcome, const QString& error,
               const QString& data)
{
    JsonLine json;
    json.add("index", index);
    if (outcome.ok()) {
        json.add("result",
                 ctx.args.verify ? QStringLiteral("verified") : QStringLiteral("written"));
    } else {
        json.add("result", QStringLiteral("failed")).add("error", error);
    }
    if (ctx.args.reveal)
        json.add("data", data);
    Console::out(json.text() + '\n');
}

int batch(Context& ctx)
{
    const CliArgs& args = ctx.args;
    ReaderSession session(args, ctx.console, ctx.interrupts);
    if (const int status = session.configure())
        return status;
    int method = 0;
    if (const int status = pickMethod(args, session.settings(), &method))
        return status;
    if (args.operands.size() != 1)
        return usageError(QStringLiteral("batch takes one file of cards, or - for standard input"));
    const QString file = args.operands.constFirst();
    QByteArray text;
    if (file == QLatin1String("-")) {
        if (!readStandardInput(&text))
            return exitcode::Usage;
        ctx.console.setInteractive(false);
    } else {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly)) {
            Console::message(QStringLiteral("cannot read %1: %2").arg(file, in.errorString()));
            return exitcode::Usage;
        }
        text = in.readAll();
    }
    QList<BatchCard> cards;
    QString error;
    if (!parseCardBatch(text, method, &cards, &error)) {
        Console::message(QStringLiteral("%1: %2; no card was written").arg(file, error));
        return exitcode::Usage;
    }
    const int total = int(cards.size());
    int start = 1;
    if (!args.start.isEmpty()) {
        bool ok = false;
        start = args.start.toInt(&ok);
        if (!ok || start < 1 || start > total)
            return usageError(QStringLiteral("--start takes a card number from 1 to %1, not \"%2\"")
                                  .arg(total)
                                  .arg(args.start));
    }
    // The unchecked formats are confirmed once for the whole batch.
    bool confirmed[CARD_METHOD_COUNT] = {};
    for (int index = start; index <= total && !args.yes; ++index) {
        const int cardMethod = cards.at(index - 1).method;
        if (CARD_METHODS[cardMethod].padTo != 0 || confirmed[cardMethod])
            continue;
        if (!ctx.console.interactive())
            break;
        confirmed[cardMethod] = ctx.console.askYesNo(oneLine(formatWarningText(cardMethod)));
        if (!confirmed[cardMethod]) {
            Console::message(uncheckedRefusal(cardMethod) +
                             QStringLiteral("; no card was written"));
            return ctx.interrupts.interrupted() ? exitcode::Interrupted : exitcode::Rejected;
        }
    }
    if (total == 0) {
        Console::message(QStringLiteral("batch: no cards in %1").arg(file));
        return exitcode::Ok;
    }
    if (const int status = bringUp(ctx, session))
        return status;

    BatchTally tally;
    for (int index = start; index <= total; ++index) {
        if (ctx.interrupts.check()) {
            tally.interrupted = true;
            tally.stoppedAt = index;
            break;
        }
        const BatchCard& card = cards.at(index - 1);
        const QString what = QStringLiteral("card %1").arg(index);
        session.status().setContext(QStringLiteral("Card %1 of %2").arg(index).arg(total));
        const TrackDataCheck check = inspectTrackData(card.method, card.data);
        CardOutcome outcome;
        int status = exitcode::Ok;
        QString failure;
        bool refused = true; // before the reader was asked
        if (check.verdict == TrackDataCheck::Invalid) {
            outcome.result = CardOutcome::Rejected;
            failure = rejection(check, card.method);
            status = exitcode::Rejected;
        } else if (check.verdict == TrackDataCheck::Unchecked && !args.yes &&
                   !confirmed[card.method]) {
            outcome.result = CardOutcome::Declined;
            failure = uncheckedRefusal(card.method);
            status = exitcode::Rejected;
        } else if (unsupportedMethods(session.link().ReaderType).contains(card.method)) {
            outcome.result = CardOutcome::NotStarted;
            failure = QStringLiteral("%1 is not offered by this reader (type %2)")
                          .arg(methodName(card.method))
                          .arg(session.link().ReaderType);
            status = exitcode::Usage;
        } else {
            refused = false;
            const QByteArray bytes = check.data.toLatin1();
            const int boxes = session.messages().shownCount();
            outcome = args.verify ? session.operations().verifyCard(card.method, bytes)
                                  : session.operations().writeCard(card.method, bytes);
            status = session.finish(outcome, what, boxes);
            if (!outcome.ok())
                failure = describeOutcome(outcome, session.settings().Timeout);
        }
        if (refused)
            Console::message(what + QStringLiteral(": ") + failure);
        batchLine(ctx, index, outcome, failure, check.data);
        if (status == exitcode::Ok) {
            ++tally.done;
            continue;
        }
        ++tally.failed;
        if (tally.firstFailure == exitcode::Ok)
            tally.firstFailure = status;
        if (status == exitcode::Interrupted) {
            tally.interrupted = true;
            tally.stoppedAt = index;
            break;
        }
        // Without a port no later card can be written either.
        if (!args.keepGoing || status == exitcode::Port) {
            tally.stoppedAt = index;
            break;
        }
    }
    session.status().setContext(QString());

    const int attempted = tally.done + tally.failed;
    QString summary = QStringLiteral("batch: %1 %2, %3 failed, %4 not attempted, of %5 cards")
                          .arg(tally.done)
                          .arg(args.verify ? QStringLiteral("verified") : QStringLiteral("written"))
                          .arg(tally.failed)
                          .arg(total - attempted)
                          .arg(total);
    if (tally.interrupted)
        summary += QStringLiteral("; interrupted at card %1 (resume with --start %1)")
                       .arg(tally.stoppedAt);
    else if (tally.stoppedAt > 0)
        summary += QStringLiteral("; stopped at card %1 (line %2): mend it and resume with "
                                  "--start %1, or go past it with --start %3")
                       .arg(tally.stoppedAt)
                       .arg(cards.at(tally.stoppedAt - 1).line)
                       .arg(tally.stoppedAt + 1);
    Console::message(summary);
    return tally.interrupted ? exitcode::Interrupted : tally.firstFailure;
}

} // namespace

int runCli(const QStringList& arguments)
{
    Context ctx;
    QString error;
    if (!parseCliArgs(arguments, &ctx.args, &error))
        return usageError(error);
    const CliArgs& args = ctx.args;
    if (args.command == QLatin1String("help")) {
        const QString topic = args.operands.value(0);
        const QString text = topic.isEmpty() ? programHelp() : commandHelp(topic);
        if (text.isEmpty())
            return usageError(QStringLiteral("no help on \"%1\"").arg(topic));
        Console::out(text.toLocal8Bit());
        return exitcode::Ok;
    }
    if (args.help) {
        Console::out(
            (args.command.isEmpty() ? programHelp() : commandHelp(args.command)).toLocal8Bit());
        return exitcode::Ok;
    }
    if (args.version) {
        Console::out(versionText().toLocal8Bit());
        return exitcode::Ok;
    }
    if (args.command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    ctx.console.setInteractive(Console::stdinIsTerminal());

    const QString& command = args.command;
    if (command == QLatin1String("decode"))
        return decode(ctx);
    if (command == QLatin1String("ports"))
        return ports(ctx);
    if (command == QLatin1String("version"))
        return version(ctx);
    if (command == QLatin1String("read"))
        return read(ctx);
    if (command == QLatin1String("write"))
        return writeCard(ctx, false);
    if (command == QLatin1String("verify"))
        return writeCard(ctx, true);
    if (command == QLatin1String("batch"))
        return batch(ctx);
    if (command == QLatin1String("reset"))
        return reset(ctx);
    return led(ctx);
}
