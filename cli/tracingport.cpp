#include "cli/tracingport.h"

#include "cards/cardmethods.h"
#include "link/lampcommand.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/readerlink.h"

namespace {

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

int methodOf(char command, bool write)
{
    for (int method = 0; method < CARD_METHOD_COUNT; ++method) {
        if (command == (write ? methodWriteCommand(method) : methodReadCommand(method)))
            return method;
    }
    return -1;
}

QString printable(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        const uchar u = uchar(c);
        text += (u >= 32 && u < 127) ? QString(QLatin1Char(c))
                                     : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString statusMeaning(const QByteArray& body)
{
    const char code = body.size() > 1 ? body.at(1) : '\0';
    switch (code) {
    case cmd::ST_OK:
        return QStringLiteral("OK");
    case cmd::ST_WRITE_DONE:
        return QStringLiteral("card written");
    case cmd::ST_READ_DONE:
        return QStringLiteral("card read");
    default:
        return statusMessage(body);
    }
}

// What a frame's body means; *dataFrom is where its track data starts (-1: none).
QString meaning(bool fromHost, const QByteArray& body, qsizetype* dataFrom)
{
    *dataFrom = -1;
    if (body.isEmpty())
        return QStringLiteral("empty frame");
    const char first = body.at(0);
    if (fromHost) {
        switch (first) {
        case cmd::CMD_VERSION:
            return QStringLiteral("version query");
        case cmd::CMD_ARM:
            return QStringLiteral("arm for a swipe");
        case cmd::CMD_RESEND:
            return QStringLiteral("resend request");
        case cmd::CMD_RESET:
            return QStringLiteral("reset");
        case cmd::CMD_LED: {
            const QString lamp = body.size() == 2 ? lampName(body.at(1) - '0') : QString();
            return QStringLiteral("lamps: ") + (lamp.isEmpty() ? QStringLiteral("?") : lamp);
        }
        default:
            break;
        }
        const int written = methodOf(first, true);
        if (written >= 0) {
            *dataFrom = 1;
            return QStringLiteral("write %1: %2 bytes of track data")
                .arg(methodName(written))
                .arg(body.size() - 1);
        }
        const int read = methodOf(first, false);
        if (read >= 0 && body.size() == 1)
            return QStringLiteral("read %1").arg(methodName(read));
        return QStringLiteral("command %1").arg(printable(body.left(1)));
    }
    if (first == cmd::REPLY_STATUS)
        return QStringLiteral("status %1: %2")
            .arg(QString::fromLatin1(body.left(2)), statusMeaning(body));
    if (first == cmd::CMD_VERSION && body.size() == 2)
        return QStringLiteral("version: reader type %1").arg(QLatin1Char(body.at(1)));
    const int read = methodOf(first, false);
    if (read >= 0) {
        *dataFrom = 1;
        return QStringLiteral("track data, %1: %2 bytes")
            .arg(methodName(read))
            .arg(body.size() - 1);
    }
    return QStringLiteral("reply %1").arg(printable(body.left(1)));
}

} // namespace

TracingPort::TracingPort(ISerialPort& inner, bool reveal, Sink sink, QObject* parent)
    : ISerialPort(parent), m_inner(inner), m_reveal(reveal), m_sink(std::move(sink))
{
    connect(&m_inner, &ISerialPort::onComm, this, &ISerialPort::onComm);
    connect(&m_inner, &ISerialPort::lost, this, &ISerialPort::lost);
}

void TracingPort::setPortOpen(bool open)
{
    m_rx.clear();
    m_inner.setPortOpen(open);
}

QString TracingPort::describe(bool fromHost, const QByteArray& frame, bool reveal)
{
    const QString arrow = fromHost ? QStringLiteral("host   > ") : QStringLiteral("reader < ");
    const bool framed =
        frame.size() >= 3 && frame.at(0) == cmd::STX && frame.at(frame.size() - 2) == cmd::ETX;
    if (!framed) {
        // Bytes outside a frame may be the remains of one that carried track data.
        if (!reveal)
            return arrow + QStringLiteral("[%1 bytes hidden]  not a frame").arg(frame.size());
        return arrow + hex(frame) + QStringLiteral("  not a frame");
    }
    const QByteArray body = frame.mid(1, frame.size() - 3);
    qsizetype dataFrom = -1;
    QString text = meaning(fromHost, body, &dataFrom);
    const bool goodCheck = CalcLRC(body + cmd::ETX) == frame.at(frame.size() - 1);
    if (!goodCheck)
        text += QStringLiteral(" (bad check character)");
    if (dataFrom < 0 || reveal) {
        if (dataFrom >= 0)
            text += QStringLiteral(" ") + printable(body.mid(dataFrom));
        return arrow + hex(frame) + QStringLiteral("  ") + text;
    }
    // The check character would tell something of the data too.
    const qsizetype hidden = body.size() - dataFrom;
    return arrow + hex(frame.left(1 + dataFrom)) +
           QStringLiteral(" [%1 bytes hidden] 03 ??  ").arg(hidden) + text;
}

void TracingPort::output(const QByteArray& data)
{
    m_inner.output(data);
    if (m_sink)
        m_sink(describe(true, data, m_reveal));
}

QByteArray TracingPort::input()
{
    const QByteArray bytes = m_inner.input();
    if (!bytes.isEmpty())
        takeReaderBytes(bytes);
    return bytes;
}

void TracingPort::takeReaderBytes(const QByteArray& bytes)
{
    m_rx.append(bytes);
    for (;;) {
        if (m_rx.isEmpty())
            return;
        if (m_rx.at(0) != cmd::STX) {
            qsizetype start = m_rx.indexOf(cmd::STX);
            if (start < 0)
                start = m_rx.size();
            if (m_sink)
                m_sink(describe(false, m_rx.left(start), m_reveal));
            m_rx.remove(0, start);
            continue;
        }
        const qsizetype end = m_rx.indexOf(cmd::ETX, 1);
        if (end < 0 || end + 1 >= m_rx.size()) {
            // A frame still arriving; a line that never ends one is not kept for ever.
            if (m_rx.size() > ReaderLink::kMaxReplyBuffer) {
                if (m_sink)
                    m_sink(describe(false, m_rx, m_reveal));
                m_rx.clear();
            }
            return;
        }
        if (m_sink)
            m_sink(describe(false, m_rx.left(end + 2), m_reveal));
        m_rx.remove(0, end + 2);
    }
}
