#include "link/protocol/frametext.h"

#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/protocol/lamps.h"

namespace {

struct StatusText {
    char code;
    const char* text;
    bool error; // the error box has a message for it
};

constexpr StatusText kStatusTexts[] = {
    {cmd::ST_OK, "OK", false},
    {cmd::ST_PARITY_ERROR, "Receive Parity Is Error", true},
    {cmd::ST_LRC_ERROR, "Receive LRC is Error", true},
    {cmd::ST_BAD_COMMAND, "Command Is Invalid", true},
    {cmd::ST_BUFFER_FULL, "Receive Buffer Is Full", true},
    {cmd::ST_WRITE_DONE, "card written", false},
    {cmd::ST_WRITE_ERROR, "Write Data Error", true},
    {cmd::ST_READ_DONE, "card read", false},
    {cmd::ST_READ_ERROR, "Read Data Error", true},
    {cmd::ST_READ_NO_DATA, "Read No Data", true},
};

const StatusText* statusText(char code)
{
    for (const StatusText& status : kStatusTexts) {
        if (status.code == code)
            return &status;
    }
    return nullptr;
}

// What a frame's body means; *dataFrom is where its track data starts (-1: none).
QString meaningOf(FrameSender sender, const QByteArray& body, qsizetype* dataFrom)
{
    *dataFrom = -1;
    if (body.isEmpty())
        return QStringLiteral("empty frame");
    const char first = body.at(0);
    const qsizetype parameters = body.size() - 1;
    CardMethodId::Direction direction = CardMethodId::Direction::Read;
    const std::optional<CardMethodId> method = CardMethodId::fromCommand(first, &direction);
    const bool write = method && direction == CardMethodId::Direction::Write;
    const bool read = method && direction == CardMethodId::Direction::Read;
    if (sender == FrameSender::Host) {
        if (write) {
            *dataFrom = 1;
            return QStringLiteral("write %1: %2 bytes of track data")
                .arg(method->name())
                .arg(parameters);
        }
        if (read && parameters == 0)
            return QStringLiteral("read %1").arg(method->name());
        if (first == cmd::CMD_LED && parameters == 1) {
            const QString lamp = lampName(body.at(1) - '0');
            if (!lamp.isEmpty())
                return QStringLiteral("lamps: ") + lamp;
        }
        if (parameters == 0) {
            switch (first) {
            case cmd::CMD_VERSION:
                return QStringLiteral("version query");
            case cmd::CMD_ARM:
                return QStringLiteral("arm for a swipe");
            case cmd::CMD_RESEND:
                return QStringLiteral("resend request");
            case cmd::CMD_RESET:
                return QStringLiteral("reset");
            default:
                break;
            }
        }
        return QStringLiteral("unknown command ") + printableBytes(body);
    }
    if (first == cmd::REPLY_STATUS) {
        const QString meaning = parameters == 1 ? statusMeaning(body.at(1)) : QString();
        if (meaning.isEmpty())
            return QStringLiteral("status reply ") + printableBytes(body);
        return QStringLiteral("status %1: %2").arg(QString::fromLatin1(body), meaning);
    }
    if (first == cmd::CMD_VERSION && parameters == 1 && body.at(1) >= '0' && body.at(1) <= '9')
        return QStringLiteral("version: reader type %1").arg(QLatin1Char(body.at(1)));
    if (read) {
        *dataFrom = 1;
        return QStringLiteral("track data, %1: %2 bytes").arg(method->name()).arg(parameters);
    }
    return QStringLiteral("reply ") + printableBytes(body);
}

} // namespace

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString printableBytes(const QByteArray& bytes, Quotes quotes)
{
    QString text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"')
            text += QLatin1Char('\\');
        if (u >= 32 && u < 127)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") +
                    QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    return quotes == Quotes::Around ? QLatin1Char('"') + text + QLatin1Char('"') : text;
}

QString printableBytesCut(const QByteArray& bytes)
{
    if (bytes.size() <= kShownBytes)
        return printableBytes(bytes, Quotes::None);
    return QStringLiteral("%1 and %2 more bytes")
        .arg(printableBytes(bytes.left(kShownBytes), Quotes::None))
        .arg(bytes.size() - kShownBytes);
}

QString statusMessage(const QByteArray& replyBuffer)
{
    const QByteArray code = replyBuffer.mid(1, 1);
    const StatusText* status = code.isEmpty() ? nullptr : statusText(code.at(0));
    if (status && status->error)
        return QString::fromLatin1(status->text);
    // Only blanks are trimmed, as the status code is shown as it came.
    QString shown = QString::fromLatin1(code);
    while (shown.startsWith(QLatin1Char(' ')))
        shown.remove(0, 1);
    while (shown.endsWith(QLatin1Char(' ')))
        shown.chop(1);
    return QStringLiteral("Unknown error: ") + shown;
}

QString statusMeaning(char code)
{
    const StatusText* status = statusText(code);
    return status ? QString::fromLatin1(status->text) : QString();
}

QString readerStatusText(const QByteArray& reply)
{
    // A code without a message comes as it is in statusMessage: not so on a terminal.
    return QStringLiteral("%1 (reader status %2)")
        .arg(printableBytes(statusMessage(reply).toLatin1(), Quotes::None),
             printableBytesCut(reply));
}

QString FrameDescription::line() const
{
    const QString arrow =
        sender == FrameSender::Host ? QStringLiteral("host   > ") : QStringLiteral("reader < ");
    return arrow + bytes + QStringLiteral("  ") + meaning;
}

FrameDescription describeFrame(FrameSender sender, const QByteArray& frame, TrackData data)
{
    FrameDescription description;
    description.sender = sender;
    const bool framed =
        frame.size() >= 3 && frame.at(0) == cmd::STX && frame.at(frame.size() - 2) == cmd::ETX;
    if (!framed) {
        description.bytes = data == TrackData::Hidden
                                ? QStringLiteral("[%1 bytes hidden]").arg(frame.size())
                                : hexBytes(frame);
        description.meaning = QStringLiteral("not a frame");
        return description;
    }
    const QByteArray body = frame.mid(1, frame.size() - 3);
    qsizetype dataFrom = -1;
    description.meaning = meaningOf(sender, body, &dataFrom);
    const bool hidden = dataFrom >= 0 && data == TrackData::Hidden;
    if (dataFrom >= 0 && !hidden)
        description.meaning += QLatin1Char(' ') + printableBytes(body.mid(dataFrom));
    const char expected = CalcLRC(body + cmd::ETX);
    if (expected != frame.back()) {
        description.meaning += hidden ? QStringLiteral(" (bad check character)")
                                      : QStringLiteral(" (bad check character, expected %1)")
                                            .arg(hexBytes(QByteArray(1, expected)));
    }
    description.bytes =
        hidden ? hexBytes(frame.left(1 + dataFrom)) +
                     QStringLiteral(" [%1 bytes hidden] 03 ??").arg(body.size() - dataFrom)
               : hexBytes(frame);
    return description;
}
