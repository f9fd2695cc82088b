// version, reset and led: the commands that open the reader without a card method.

#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/exitcodes.h"
#include "cli/readersession.h"
#include "link/lampcommand.h"
#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"
#include "link/readerlink.h"
#include "platform/apperror.h"

namespace {

int version(CliContext& ctx)
{
    ReaderSession session(ctx);
    if (const int status = session.start())
        return status;
    ReaderLink& link = session.link();
    const int type = link.ReaderType();
    const QList<CardMethodId> lacking = unsupportedMethods(type);
    if (ctx.args.has(Opt::Json)) {
        QByteArray methods;
        for (const CardMethodId method : CardMethodId::all()) {
            if (lacking.contains(method))
                continue;
            JsonLine line;
            line.add("method", method.index())
                .add("short_name", method.shortName())
                .add("method_name", method.name());
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
    for (const CardMethodId method : CardMethodId::all()) {
        if (!lacking.contains(method))
            text += QStringLiteral("  %1  %2  %3\n")
                        .arg(method.index())
                        .arg(method.shortName(), -6)
                        .arg(method.name());
    }
    Console::out(text.toLocal8Bit());
    return exitcode::Ok;
}

int reset(CliContext& ctx)
{
    ReaderSession session(ctx);
    if (const int status = session.start())
        return status;
    const int boxes = session.messages().shownCount();
    return session.finish(session.operations().cmdReset_Click(), QStringLiteral("reset"), boxes);
}

int led(CliContext& ctx)
{
    QList<int> lamps;
    for (const QString& name : std::as_const(ctx.args.operands)) {
        const int index = lampIndex(name);
        if (index < 0)
            return ctx.usage(
                QStringLiteral("unknown lamp \"%1\": use off, green, red or yellow").arg(name));
        lamps << index;
    }
    ReaderSession session(ctx);
    if (const int status = session.start())
        return status;
    ReaderLink& link = session.link();
    for (const int lamp : std::as_const(lamps)) {
        int outcome = WAIT_GIVE_UP;
        try {
            outcome = sendLampCommand(link, lamp, [&session] { return !session.interrupted(); });
        } catch (const AppError& error) {
            return link.portLost() ? ctx.fail(QStringLiteral("reader_lost"), session.lossText())
                                   : ctx.fail(QStringLiteral("port_error"), error.description());
        }
        if (session.interrupted())
            return ctx.fail(QStringLiteral("interrupted"), QStringLiteral("interrupted"));
        if (link.portLost())
            return ctx.fail(QStringLiteral("reader_lost"), session.lossText());
        const QByteArray reply = link.ReplyBuffer();
        if (outcome != WAIT_REPLIED)
            return ctx.fail(QStringLiteral("no_reply"),
                            QStringLiteral("led %1: no reply to the lamp command within %2 s")
                                .arg(lampName(lamp))
                                .arg(session.settings().Timeout));
        if (reply != QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK)
            return ctx.fail(
                reply.startsWith(cmd::REPLY_STATUS) ? QStringLiteral("reader_error")
                                                    : QStringLiteral("unexpected_reply"),
                QStringLiteral("led %1: %2")
                    .arg(lampName(lamp), reply.startsWith(cmd::REPLY_STATUS)
                                             ? readerStatusText(reply)
                                             : QStringLiteral("unexpected reply from the reader")));
    }
    return exitcode::Ok;
}

} // namespace

const CliCommand kVersionCommand = {
    "version",
    "",
    "the reader type and the card methods it offers",
    {},
    0,
    0,
    nullptr,
    "Asks the reader for its type and lists the card methods it offers. With --json:\n"
    "{\"reader_type\": 8, \"port\": \"COM1\", \"device\": \"/dev/ttyUSB0\", \"methods\": "
    "[...]}\n",
    {},
    version,
};

const CliCommand kResetCommand = {
    "reset",
    "",
    "make the reader abandon what it is doing",
    {},
    0,
    0,
    nullptr,
    "Checks that the reader answers, then sends the reset command: the\n"
    "reader abandons an armed swipe and drops data loaded for one.\n",
    {},
    reset,
};

const CliCommand kLedCommand = {
    "led",
    "off|green|red|yellow...",
    "switch the lamps, in the order given",
    {},
    1,
    -1,
    "led takes one or more of off, green, red, yellow",
    "Sends the lamp commands in the order given: green, red and yellow light their\n"
    "lamp, off puts every lamp out. Example: tarnavel-cli led off green\n",
    {QStringLiteral("off"), QStringLiteral("green"), QStringLiteral("red"),
     QStringLiteral("yellow")},
    led,
};
