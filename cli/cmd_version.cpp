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
    const int type = link.ReaderType;
    const QList<int> lacking = unsupportedMethods(type);
    if (ctx.args.has(Opt::Json)) {
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
        ctx.console.out(json.text() + '\n');
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
