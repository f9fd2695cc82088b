// led: switch the reader's lamps.

#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/lampcommand.h"
#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/serialport.h"

namespace {

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
            return link.portLost() ? ctx.fail(ErrorCode::ReaderLost, session.lossText())
                                   : ctx.fail(ErrorCode::PortError, error.description());
        }
        if (session.interrupted())
            return ctx.fail(ErrorCode::Interrupted, QStringLiteral("interrupted"));
        if (link.portLost())
            return ctx.fail(ErrorCode::ReaderLost, session.lossText());
        const QByteArray reply = link.ReplyBuffer();
        if (outcome != WAIT_REPLIED)
            return ctx.fail(ErrorCode::NoReply,
                            QStringLiteral("led %1: no reply to the lamp command within %2 s")
                                .arg(lampName(lamp))
                                .arg(session.settings().Timeout));
        if (reply != QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK)
            return ctx.fail(
                reply.startsWith(cmd::REPLY_STATUS) ? ErrorCode::ReaderError
                                                    : ErrorCode::UnexpectedReply,
                QStringLiteral("led %1: %2")
                    .arg(lampName(lamp), reply.startsWith(cmd::REPLY_STATUS)
                                             ? readerStatusText(reply)
                                             : QStringLiteral("unexpected reply from the reader")));
    }
    QStringList names;
    QByteArray list;
    for (const int lamp : std::as_const(lamps)) {
        names << lampName(lamp);
        list += (list.isEmpty() ? "" : ", ") + JsonLine::quote(lampName(lamp));
    }
    ctx.console.message(QStringLiteral("the reader on %1 took the lamp commands %2")
                            .arg(session.portLabel(), names.join(QStringLiteral(", "))));
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("command", QStringLiteral("led"))
            .add("result", QStringLiteral("done"))
            .addRaw("lamps", '[' + list + ']')
            .add("port", session.portName())
            .add("device", link.port().devicePath());
        ctx.console.out(json.text() + '\n');
    }
    return exitcode::Ok;
}

} // namespace

const CliCommand kLedCommand = {
    "led",
    "off|green|red|yellow...",
    "switch the lamps, in the order given",
    {},
    1,
    -1,
    "led takes one or more of off, green, red, yellow",
    "Sends the lamp commands in the order given: green, red and yellow light their\n"
    "lamp, off puts every lamp out. Example: tarnavel-cli led off green\n"
    "With --json: {\"command\": \"led\", \"result\": \"done\", \"lamps\": [\"off\", \"green\"],\n"
    "\"port\": \"COM1\", \"device\": \"/dev/ttyUSB0\"}\n",
    {QStringLiteral("off"), QStringLiteral("green"), QStringLiteral("red"),
     QStringLiteral("yellow")},
    led,
};
