#pragma once

#include "emulator/pty.h"
#include "platform/writequeue.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class ReaderModel;

// Serves a ReaderModel on a pseudo-terminal: the host program opens the slave side as its
// serial port. Every reply goes out as it is produced, in pieces when the model's split fault
// is on; nothing is written while no program has the slave open, so a host that opens the
// device later never finds stale frames waiting.
class SimServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPieceGapMs = 5;
    // Replies a host does not read wait here up to this much; beyond it the oldest go.
    static constexpr qsizetype kMaxPendingBytes = 64 * 1024;
    // How often a master without a slave is looked at again where the system cannot say when
    // a program opens the device (no inotify).
    static constexpr int kRetryMs = 100;

    explicit SimServer(ReaderModel& model, QObject* parent = nullptr);
    ~SimServer() override;

    bool open(QString* error);
    bool isOpen() const { return m_pty.isOpen(); }
    QString devicePath() const { return m_pty.slavePath(); }

    // Links <ports folder>/comN to the device and marks the link as an emulator's (the mark
    // stays locked while this server lives). A number another running emulator holds is
    // refused, naming its process. No link, a dangling one or a stale one to a pseudo-terminal
    // is replaced; anything else is left alone and refused. Waits a bounded time for another
    // change of the folder in progress, less once cancelFd (when >= 0) is readable. However it
    // fails, no emulator's link is left without a mark: the link it would have replaced goes,
    // or stays stale.
    bool linkAsCom(int number, QString* error, int cancelFd = -1);
    // Removes the link, if it still points to this device, and its mark. Waits for the folder's
    // lock as linkAsCom() does; without it, only what is still this server's goes. Empty, or
    // what was left behind and why.
    QString removeLink(int cancelFd = -1);
    QString linkPath() const { return m_linkPath; }
    // Reply bytes produced and not yet taken by the pseudo-terminal.
    qsizetype pendingBytes() const;

    ReaderModel& model() { return m_model; }
    // Swipes the card in the slot (or card `card`, 0-based) and sends the status, if armed.
    QByteArray swipe(int card = -1);
    // Automatic swipe this many milliseconds after each arm; negative = off.
    void setAutoSwipeMs(int ms);
    int autoSwipeMs() const { return m_autoSwipeMs; }
    // Pause between two pieces of a split reply.
    void setPieceGapMs(int ms) { m_gapTimer.setInterval(qMax(0, ms)); }
    int pieceGapMs() const { return m_gapTimer.interval(); }

signals:
    // The traffic: frames with their meaning, and events of the line.
    void logLine(const QString& line);

private:
    class OpenWatch;

    void onReadable();
    void onWritable();
    void retryRead();
    void watchOpens();
    void onSlaveOpened();
    void hostGone();
    void send(const QByteArray& bytes);
    void writePending();
    bool hostPresent() const;
    void dropPending(const QString& why);
    void afterReceive(quint64 armsBefore);

    ReaderModel& m_model;
    PseudoTerminal m_pty;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    // Tells when a program opens the device (inotify, IN_OPEN on the slave's node); -1 where
    // the system cannot, and the master is looked at again every kRetryMs instead.
    int m_openWatch = -1;
    QTimer m_retryTimer;
    QTimer m_gapTimer;
    QTimer m_autoTimer;
    WriteQueue m_pending{kMaxPendingBytes};
    bool m_hostSeen = false;
    int m_autoSwipeMs = -1;
    QString m_linkPath;
    int m_linkNumber = 0;
    int m_markFd = -1;
};
