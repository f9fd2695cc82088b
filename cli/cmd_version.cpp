// version: the reader type and the card methods it offers.

#include "cards/cardmethods.h"
#include "cards/jsonline.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/readerlink.h"
#include "platform/serialport.h"

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
        ctx.console.out(json.text() + '\n');
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
    ctx.console.out(text.toLocal8Bit());
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
