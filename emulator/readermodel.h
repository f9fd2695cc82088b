#pragma once

#include "link/protocol/cardmethod.h"
#include "link/protocol/framesplitter.h"

#include "emulator/deck.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <optional>

struct ReaderLamps {
    bool green = false;
    bool red = false;
    bool yellow = false;
    bool operator==(const ReaderLamps&) const = default;
};

// One line of the emulator's traffic log: a frame in either direction, or an event.
struct FrameLogEntry {
    enum Direction { FromHost, ToHost, Note };
    Direction direction = Note;
    QByteArray bytes; // as on the wire; empty for notes
    QString meaning;
};

// The card reader/writer as the host sees it on the line: frames in, frames out. No I/O and no
// clock, so the same model serves the pseudo-terminal program and the in-process loopback port.
class ReaderModel
{
public:
    // Data between STX and ETX longer than this is answered with "buffer full".
    static constexpr int kMaxFrameData = 512;
    static constexpr int kDefaultType = 8;

    enum class SwipeError { None, Read, NoData, Write };

    ReaderModel();

    // Takes bytes from the host in any chunking and returns what the reader sends back (zero,
    // one or several frames, back to back).
    QByteArray receive(const QByteArray& bytes);
    // The current card passes the slot: the unsolicited status frame when armed, else nothing.
    QByteArray swipe();
    QByteArray swipe(int card);
    // Drops a partly received frame (the line was closed or reset).
    void clearInput();

    // The last frame sent, uncorrupted: what a resend repeats.
    QByteArray lastFrame() const { return m_lastFrame; }

    int type() const { return m_type; }
    bool setType(int type); // 0..9
    bool isArmed() const { return m_armed; }
    // Counts accepted arm commands, so a transport can tell a new arm from an old one.
    quint64 armCount() const { return m_armCount; }
    bool hasWriteData() const { return !m_loaded.isEmpty(); }
    // Write data loaded for the next swipe, per card method; nullopt when none.
    std::optional<QByteArray> loadedData(CardMethodId method) const;
    // What the read command of a method returns: the data of the last card read.
    QByteArray readData(CardMethodId method) const;
    bool hasReadCard() const { return m_lastRead.has_value(); }
    ReaderLamps lamps() const { return m_lamps; }

    const QList<ReaderCard>& deck() const { return m_deck; }
    bool setDeck(const QList<ReaderCard>& deck); // refuses an empty deck
    int currentCard() const { return m_current; }
    bool setCurrentCard(int index);

    // Faults. Corruption counts every frame sent (replies, resends, swipe statuses).
    void setCorruptCount(int frames) { m_corrupt = qMax(0, frames); }
    int corruptCount() const { return m_corrupt; }
    // The transport hands replies out in pieces of this many bytes; 0 = whole.
    void setSplitSize(int bytes) { m_split = qMax(0, bytes); }
    int splitSize() const { return m_split; }
    // Frames whose command character is listed are ignored as if never received.
    void setSilentCommands(const QByteArray& commands) { m_silent = commands; }
    QByteArray silentCommands() const { return m_silent; }
    // The next `count` commands are answered with this body instead of their own reply, and
    // are not carried out. An empty body switches it off.
    void setForcedReply(const QByteArray& body, int count = 1);
    QByteArray forcedReply() const { return m_forcedCount > 0 ? m_forced : QByteArray(); }
    int forcedCount() const { return m_forcedCount; }
    // The next armed swipe fails with this status.
    void setSwipeError(SwipeError error) { m_swipeError = error; }
    SwipeError swipeError() const { return m_swipeError; }
    void clearFaults();

    std::function<void(const FrameLogEntry&)> onLog;

private:
    QByteArray handleFrame(const QByteArray& data, char lrc, int overflow);
    QByteArray dispatch(const QByteArray& data);
    QByteArray sendBody(const QByteArray& body, const QString& note = QString());
    QByteArray sendFrame(const QByteArray& frame, const QString& meaning);
    QByteArray status(char code) { return sendBody(QByteArray(1, 'l') + code); }
    void log(FrameLogEntry::Direction direction, const QByteArray& bytes, const QString& meaning);
    void logStray(const QByteArray& bytes);

    // Data beyond kMaxFrameData is counted, not kept.
    FrameSplitter m_splitter{kMaxFrameData};

    QByteArray m_lastFrame;
    int m_type = kDefaultType;
    bool m_armed = false;
    quint64 m_armCount = 0;
    QList<QPair<CardMethodId, QByteArray>> m_loaded; // in load order; one entry per method
    std::optional<std::array<QByteArray, 3>> m_lastRead;
    ReaderLamps m_lamps;

    QList<ReaderCard> m_deck;
    int m_current = 0;

    int m_corrupt = 0;
    int m_split = 0;
    QByteArray m_silent;
    QByteArray m_forced;
    int m_forcedCount = 0;
    SwipeError m_swipeError = SwipeError::None;
};
