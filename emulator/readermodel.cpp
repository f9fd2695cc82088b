#include "emulator/readermodel.h"

#include "link/commands.h"
#include "link/frame.h"
#include "link/frametext.h"

#include <QStringList>
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

QString FrameLogEntry::text() const
{
    if (direction == Note)
        return QStringLiteral("       * ") + meaning;
    const FrameSender sender = direction == FromHost ? FrameSender::Host : FrameSender::Reader;
    return FrameDescription{sender, hexBytes(bytes), meaning}.line();
}

ReaderModel::ReaderModel() : m_deck(defaultDeck()) {}

QByteArray ReaderModel::receive(const QByteArray& bytes)
{
    QByteArray out;
    for (const char b : bytes) {
        switch (m_rx) {
        case Rx::Idle:
            if (b == cmd::STX) {
                flushGarbage();
                m_frameData.clear();
                m_overflow = 0;
                m_rx = Rx::InFrame;
            } else {
                m_garbage.append(b);
            }
            break;
        case Rx::InFrame:
            // The first ETX ends the data: the reader has no escaping, so neither has this.
            if (b == cmd::ETX)
                m_rx = Rx::AwaitLrc;
            else if (m_frameData.size() < kMaxFrameData)
                m_frameData.append(b);
            else
                ++m_overflow;
            break;
        case Rx::AwaitLrc:
            m_rx = Rx::Idle;
            out.append(handleFrame(m_frameData, b, m_overflow));
            m_frameData.clear();
            m_overflow = 0;
            break;
        }
    }
    flushGarbage();
    return out;
}

void ReaderModel::clearInput()
{
    m_rx = Rx::Idle;
    m_frameData.clear();
    m_overflow = 0;
    m_garbage.clear();
}

void ReaderModel::flushGarbage()
{
    if (m_garbage.isEmpty())
        return;
    log(FrameLogEntry::Note, QByteArray(),
        QStringLiteral("skipped %1 byte(s) outside a frame: %2")
            .arg(m_garbage.size())
            .arg(hexBytes(m_garbage.left(32)) +
                 (m_garbage.size() > 32 ? QStringLiteral(" ...") : QString())));
    m_garbage.clear();
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

    const CommandMethod command = methodOfCommand(c);
    if (command.direction == CommandMethod::Write) {
        m_loaded.removeIf([&command](const auto& entry) { return entry.first == command.method; });
        m_loaded.append({command.method, params});
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
    if (command.direction == CommandMethod::Read)
        return sendBody(QByteArray(1, c) + readData(command.method));
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
    const QList<QPair<int, QByteArray>> loaded = m_loaded;
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
            target.tracks[methodTrack(method)] = data;
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

std::optional<QByteArray> ReaderModel::loadedData(int method) const
{
    for (const auto& entry : m_loaded) {
        if (entry.first == method)
            return entry.second;
    }
    return std::nullopt;
}

QByteArray ReaderModel::readData(int method) const
{
    if (!m_lastRead || !isCardMethod(method))
        return QByteArray();
    return (*m_lastRead)[methodTrack(method)];
}

QString ReaderModel::lampsText() const
{
    QStringList on;
    if (m_lamps.green)
        on << QStringLiteral("green");
    if (m_lamps.red)
        on << QStringLiteral("red");
    if (m_lamps.yellow)
        on << QStringLiteral("yellow");
    return on.isEmpty() ? QStringLiteral("all off")
                        : on.join(QStringLiteral(", ")) + QStringLiteral(" on");
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

QString ReaderModel::cardsText() const
{
    QStringList lines;
    for (int i = 0; i < m_deck.size(); ++i) {
        const ReaderCard& card = m_deck.at(i);
        lines << QStringLiteral("%1 %2: %3")
                     .arg(i == m_current ? QStringLiteral("*") : QStringLiteral(" "))
                     .arg(i + 1)
                     .arg(card.name);
        for (int t = 0; t < 3; ++t)
            lines << QStringLiteral("      track %1: %2")
                         .arg(t + 1)
                         .arg(printableBytes(card.tracks[t]));
    }
    return lines.join(QLatin1Char('\n'));
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

QString ReaderModel::faultsText() const
{
    QStringList on;
    if (m_corrupt > 0)
        on << QStringLiteral("corrupt %1").arg(m_corrupt);
    if (m_split > 0)
        on << QStringLiteral("split %1").arg(m_split);
    if (!m_silent.isEmpty())
        on << QStringLiteral("silent %1").arg(printableBytes(m_silent));
    if (m_forcedCount > 0)
        on << QStringLiteral("force %1 x%2").arg(printableBytes(m_forced)).arg(m_forcedCount);
    if (m_swipeError != SwipeError::None)
        on << QStringLiteral("swipe-error %1").arg(swipeErrorName(m_swipeError));
    return on.isEmpty() ? QStringLiteral("no faults") : on.join(QStringLiteral(", "));
}

QList<ReaderCard> ReaderModel::defaultDeck()
{
    ReaderCard test;
    test.name = QStringLiteral("Test card");
    test.tracks = {QByteArrayLiteral("B4000123456789010^TARNAVEL/QUORVEX^25121010000000"),
                   QByteArrayLiteral("4000123456789010=25121010000000000"),
                   QByteArrayLiteral("014000123456789010=7247240000000000000000000000000")};
    ReaderCard second;
    second.name = QStringLiteral("Track 2 only");
    second.tracks = {QByteArray(), QByteArrayLiteral("5500005555555559=27121010000"), QByteArray()};
    ReaderCard blank;
    blank.name = QStringLiteral("Blank card");
    return {test, second, blank};
}

QString ReaderModel::deckFormatHelp()
{
    return QStringLiteral(
        "Deck file: a text file of cards.\n"
        "  [Name of the card]   starts a card\n"
        "  1=data               track 1 (likewise 2= and 3=); a missing track is blank\n"
        "  # ...                comment; blank lines are ignored\n"
        "The data is taken exactly as written after '=', up to the end of the line\n"
        "(no quotes, spaces kept), at most 512 bytes a track. At least one card.\n"
        "Card methods use the tracks: ISO on Track 1 -> track 1; ISO on Track 2 and\n"
        "IBM 4700 on Track 2 -> track 2; ISO on Track 3 and Track 1 ISO on Track 3 -> track 3.\n"
        "A card with all three tracks blank answers a read swipe with 'no data' (lR).");
}

bool ReaderModel::parseDeck(const QByteArray& text, QList<ReaderCard>* deck, QString* error)
{
    QList<ReaderCard> cards;
    std::array<bool, 3> seen{};
    const QList<QByteArray> lines = text.split('\n');
    auto fail = [&](int line, const QString& why) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return false;
    };
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            if (!trimmed.endsWith(']'))
                return fail(i + 1, QStringLiteral("a card name needs a closing ']'"));
            ReaderCard card;
            card.name = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2)).trimmed();
            if (card.name.isEmpty())
                card.name = QStringLiteral("Card %1").arg(cards.size() + 1);
            cards.append(card);
            seen = {};
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            return fail(i + 1, QStringLiteral("expected [name], 1=, 2= or 3="));
        const QByteArray key = line.left(eq).trimmed();
        if (key != "1" && key != "2" && key != "3")
            return fail(i + 1, QStringLiteral("unknown track \"%1\" (use 1, 2 or 3)")
                                   .arg(QString::fromLatin1(key)));
        if (cards.isEmpty())
            return fail(i + 1, QStringLiteral("track data before the first [card]"));
        const int track = key.at(0) - '1';
        if (seen[track])
            return fail(i + 1, QStringLiteral("track %1 given twice").arg(track + 1));
        const QByteArray data = line.mid(eq + 1);
        if (data.size() > kMaxTrackLength)
            return fail(i + 1,
                        QStringLiteral("track data longer than %1 bytes").arg(kMaxTrackLength));
        seen[track] = true;
        cards.last().tracks[track] = data;
    }
    if (cards.isEmpty()) {
        if (error)
            *error = QStringLiteral("no cards in the file");
        return false;
    }
    if (deck)
        *deck = cards;
    return true;
}

QString ReaderModel::swipeErrorName(SwipeError error)
{
    switch (error) {
    case SwipeError::Read:
        return QStringLiteral("read");
    case SwipeError::NoData:
        return QStringLiteral("nodata");
    case SwipeError::Write:
        return QStringLiteral("write");
    case SwipeError::None:
        break;
    }
    return QStringLiteral("off");
}

std::optional<ReaderModel::SwipeError> ReaderModel::parseSwipeError(const QString& name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("read"))
        return SwipeError::Read;
    if (n == QLatin1String("nodata"))
        return SwipeError::NoData;
    if (n == QLatin1String("write"))
        return SwipeError::Write;
    if (n == QLatin1String("off") || n == QLatin1String("none"))
        return SwipeError::None;
    return std::nullopt;
}

QByteArray ReaderModel::parseForcedReply(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.size() == 1 && bytes.at(0) != cmd::REPLY_STATUS)
        return QByteArray(1, cmd::REPLY_STATUS) + bytes;
    return bytes;
}

void ReaderModel::log(FrameLogEntry::Direction direction, const QByteArray& bytes,
                      const QString& meaning)
{
    if (onLog)
        onLog(FrameLogEntry{direction, bytes, meaning});
}
