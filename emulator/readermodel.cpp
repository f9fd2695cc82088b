#include "emulator/readermodel.h"

#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "link/protocol/frame.h"
#include "link/protocol/frametext.h"

#include <algorithm>

namespace {

QByteArray wholeFrame(const QByteArray& data, char lrc)
{
    QByteArray frame;
    frame.reserve(data.size() + 3);
    frame.append(cmd::STX);
    frame.append(data);
    frame.append(cmd::ETX);
    frame.append(lrc);
    return frame;
}

// Described as it was meant to go out: a corrupted check character is noted apart.
QString replyMeaning(const QByteArray& frame)
{
    return describeFrame(FrameSender::Reader, frame, TrackData::Shown).meaning;
}

} // namespace

ReaderModel::ReaderModel() : m_deck(defaultDeck()) {}

QByteArray ReaderModel::receive(const QByteArray& bytes)
{
    QByteArray out;
    for (const FrameSplitter::Piece& piece : m_splitter.feed(bytes)) {
        if (piece.isFrame())
            out.append(handleFrame(piece.bytes, piece.lrc, int(piece.overflow)));
        else
            logStray(piece.bytes);
    }
    return out;
}

void ReaderModel::clearInput()
{
    m_splitter.clear();
}

void ReaderModel::logStray(const QByteArray& bytes)
{
    log(FrameLogEntry::Note, QByteArray(),
        QStringLiteral("skipped %1 byte(s) outside a frame: %2")
            .arg(bytes.size())
            .arg(hexBytes(bytes.left(32)) +
                 (bytes.size() > 32 ? QStringLiteral(" ...") : QString())));
}

QByteArray ReaderModel::handleFrame(const QByteArray& data, char lrc, int overflow)
{
    const bool overlong = overflow > 0;
    const bool lrcOk = !overlong && CalcLRC(data + cmd::ETX) == lrc;

    QString meaning;
    QByteArray shown;
    if (overlong) {
        shown = QByteArray(1, cmd::STX) + data.left(16);
        meaning = QStringLiteral("overlong frame: %1 data bytes (shown: the first 16)")
                      .arg(data.size() + overflow);
    } else {
        shown = wholeFrame(data, lrc);
        meaning = describeFrame(FrameSender::Host, shown, TrackData::Shown).meaning;
    }
    log(FrameLogEntry::FromHost, shown, meaning);

    // A silenced command behaves as if the frame had been lost on the line.
    if (lrcOk && !data.isEmpty() && m_silent.contains(data.at(0))) {
        log(FrameLogEntry::Note, QByteArray(),
            QStringLiteral("fault: silent for %1, no reply").arg(printableBytes(data.left(1))));
        return QByteArray();
    }
    if (m_forcedCount > 0) {
        --m_forcedCount;
        return sendBody(m_forced, QStringLiteral("fault: forced reply, command not carried out"));
    }
    if (overlong)
        return status(cmd::ST_BUFFER_FULL);
    if (!lrcOk)
        return status(cmd::ST_LRC_ERROR);
    return dispatch(data);
}

QByteArray ReaderModel::dispatch(const QByteArray& data)
{
    if (data.isEmpty())
        return status(cmd::ST_BAD_COMMAND);
    const char c = data.at(0);
    const QByteArray params = data.mid(1);

    CardMethodId::Direction direction = CardMethodId::Direction::Read;
    const std::optional<CardMethodId> method = CardMethodId::fromCommand(c, &direction);
    if (method && direction == CardMethodId::Direction::Write) {
        m_loaded.removeIf([&method](const auto& entry) { return entry.first == *method; });
        m_loaded.append({*method, params});
        return status(cmd::ST_OK);
    }
    if (c == cmd::CMD_LED) {
        if (params.size() != 1 || params.at(0) < '0' || params.at(0) > '3')
            return status(cmd::ST_BAD_COMMAND);
        // Colours add up, as the test dialog keeps several pressed; "0" puts them all out.
        switch (params.at(0)) {
        case '0':
            m_lamps = ReaderLamps();
            break;
        case '1':
            m_lamps.green = true;
            break;
        case '2':
            m_lamps.red = true;
            break;
        default:
            m_lamps.yellow = true;
            break;
        }
        return status(cmd::ST_OK);
    }
    // Every other command takes no parameters.
    if (!params.isEmpty())
        return status(cmd::ST_BAD_COMMAND);
    if (method)
        return sendBody(QByteArray(1, c) + readData(*method));
    switch (c) {
    case cmd::CMD_VERSION:
        return sendBody(QByteArray(1, c) + char('0' + m_type));
    case cmd::CMD_ARM:
        m_armed = true;
        ++m_armCount;
        return status(cmd::ST_OK);
    case cmd::CMD_RESET:
        m_armed = false;
        m_loaded.clear();
        return status(cmd::ST_OK);
    case cmd::CMD_RESEND:
        if (m_lastFrame.isEmpty())
            return status(cmd::ST_BAD_COMMAND);
        return sendFrame(m_lastFrame, replyMeaning(m_lastFrame) + QStringLiteral(" (resent)"));
    default:
        return status(cmd::ST_BAD_COMMAND);
    }
}

QByteArray ReaderModel::sendBody(const QByteArray& body, const QString& note)
{
    const QByteArray frame = buildFrame(body);
    m_lastFrame = frame;
    QString meaning = replyMeaning(frame);
    if (!note.isEmpty())
        meaning += QStringLiteral(" (") + note + QLatin1Char(')');
    return sendFrame(frame, meaning);
}

QByteArray ReaderModel::sendFrame(const QByteArray& frame, const QString& meaning)
{
    QByteArray wire = frame;
    QString shown = meaning;
    if (m_corrupt > 0) {
        --m_corrupt;
        // Flipping the low seven bits always changes the character and keeps it 7-bit clean.
        wire[wire.size() - 1] = char(wire.at(wire.size() - 1) ^ 0x7F);
        shown += QStringLiteral(" [fault: check character corrupted]");
    }
    log(FrameLogEntry::ToHost, wire, shown);
    return wire;
}

QByteArray ReaderModel::swipe()
{
    const ReaderCard& card = m_deck.at(m_current);
    const QString who = QStringLiteral("card %1 \"%2\" swiped").arg(m_current + 1).arg(card.name);
    if (!m_armed) {
        log(FrameLogEntry::Note, QByteArray(),
            who + QStringLiteral(": reader not armed, nothing happens"));
        return QByteArray();
    }
    m_armed = false;
    const QList<QPair<CardMethodId, QByteArray>> loaded = m_loaded;
    m_loaded.clear();
    const SwipeError error = m_swipeError;
    m_swipeError = SwipeError::None;
    log(FrameLogEntry::Note, QByteArray(),
        who + (loaded.isEmpty() ? QStringLiteral(" to read") : QStringLiteral(" to write")));

    if (error != SwipeError::None) {
        m_lastRead.reset();
        const char code = error == SwipeError::Read     ? cmd::ST_READ_ERROR
                          : error == SwipeError::NoData ? cmd::ST_READ_NO_DATA
                                                        : cmd::ST_WRITE_ERROR;
        return sendBody(QByteArray(1, 'l') + code,
                        QStringLiteral("unsolicited, fault: swipe fails"));
    }
    ReaderCard& target = m_deck[m_current];
    if (!loaded.isEmpty()) {
        for (const auto& [method, data] : loaded)
            target.tracks[method.track()] = data;
        // The writer reads the card back as it leaves the slot.
        m_lastRead = target.tracks;
        return sendBody(QByteArray(1, 'l') + cmd::ST_WRITE_DONE, QStringLiteral("unsolicited"));
    }
    const bool blank = std::all_of(target.tracks.begin(), target.tracks.end(),
                                   [](const QByteArray& t) { return t.isEmpty(); });
    if (blank) {
        m_lastRead.reset();
        return sendBody(QByteArray(1, 'l') + cmd::ST_READ_NO_DATA,
                        QStringLiteral("unsolicited, blank card"));
    }
    m_lastRead = target.tracks;
    return sendBody(QByteArray(1, 'l') + cmd::ST_READ_DONE, QStringLiteral("unsolicited"));
}

QByteArray ReaderModel::swipe(int card)
{
    if (!setCurrentCard(card))
        return QByteArray();
    return swipe();
}

bool ReaderModel::setType(int type)
{
    if (type < 0 || type > 9)
        return false;
    m_type = type;
    return true;
}

std::optional<QByteArray> ReaderModel::loadedData(CardMethodId method) const
{
    for (const auto& entry : m_loaded) {
        if (entry.first == method)
            return entry.second;
    }
    return std::nullopt;
}

QByteArray ReaderModel::readData(CardMethodId method) const
{
    if (!m_lastRead)
        return QByteArray();
    return (*m_lastRead)[method.track()];
}

bool ReaderModel::setDeck(const QList<ReaderCard>& deck)
{
    if (deck.isEmpty())
        return false;
    m_deck = deck;
    if (m_current >= m_deck.size())
        m_current = 0;
    return true;
}

bool ReaderModel::setCurrentCard(int index)
{
    if (index < 0 || index >= m_deck.size())
        return false;
    m_current = index;
    return true;
}

void ReaderModel::setForcedReply(const QByteArray& body, int count)
{
    m_forced = body;
    m_forcedCount = body.isEmpty() ? 0 : qMax(0, count);
}

void ReaderModel::clearFaults()
{
    m_corrupt = 0;
    m_split = 0;
    m_silent.clear();
    m_forced.clear();
    m_forcedCount = 0;
    m_swipeError = SwipeError::None;
}

void ReaderModel::log(FrameLogEntry::Direction direction, const QByteArray& bytes,
                      const QString& meaning)
{
    if (onLog)
        onLog(FrameLogEntry{direction, bytes, meaning});
}
