#include "emulator/simserver.h"

#include "emulator/readermodel.h"
#include "emulator/readertext.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/portsfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

// One inotify instance for every server of the process, never closed: closing one waits for
// the kernel's grace period, some 20 ms, which a program making many servers (a test) would pay
// for each.
class SimServer::OpenWatch
{
public:
    static OpenWatch& instance()
    {
        static OpenWatch* const watch = new OpenWatch;
        return *watch;
    }

    // A watch for opens of path, reported to server; -1 when the system cannot watch it.
    int add(const QString& path, SimServer* server)
    {
        if (m_fd < 0)
            return -1;
        const int watch = ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN);
        if (watch >= 0)
            m_servers.insert(watch, server);
        return watch;
    }

    void remove(int watch)
    {
        m_servers.remove(watch);
        ::inotify_rm_watch(m_fd, watch);
    }

private:
    OpenWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd < 0)
            return;
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { readEvents(); });
    }

    void readEvents()
    {
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = ::read(m_fd, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (SimServer* server = m_servers.value(event->wd))
                    server->onSlaveOpened();
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
    }

    int m_fd;
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, SimServer*> m_servers;
};

SimServer::SimServer(ReaderModel& model, QObject* parent) : QObject(parent), m_model(model)
{
    m_model.onLog = [this](const FrameLogEntry& entry) { emit logLine(logEntryLine(entry)); };
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &SimServer::retryRead);
    m_gapTimer.setSingleShot(true);
    m_gapTimer.setInterval(kPieceGapMs);
    connect(&m_gapTimer, &QTimer::timeout, this, &SimServer::writePending);
    m_autoTimer.setSingleShot(true);
    connect(&m_autoTimer, &QTimer::timeout, this, [this] {
        if (m_model.isArmed())
            swipe();
    });
}

SimServer::~SimServer()
{
    removeLink();
    m_model.onLog = nullptr;
    if (m_openWatch >= 0)
        OpenWatch::instance().remove(m_openWatch);
}

bool SimServer::open(QString* error)
{
    if (!m_pty.open()) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(m_pty.errorString());
        return false;
    }
    const int fd = m_pty.masterFd();
    const int flags = ::fcntl(fd, F_GETFL);
    // Non-blocking, so a host that stops reading can never freeze the console.
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = QStringLiteral("cannot set up the pseudo-terminal: %1").arg(errnoText());
        m_pty.close();
        return false;
    }
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimServer::onReadable);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimServer::onWritable);
    watchOpens();
    return true;
}

void SimServer::watchOpens()
{
    // The master cannot say when a program opens the slave: until then it only reports the
    // hang-up, and is left alone. The slave's node can: opening it is an inotify event, at once.
    m_openWatch = OpenWatch::instance().add(devicePath(), this);
}

void SimServer::onSlaveOpened()
{
    // This server's own open in hostGone() comes here too; the read it allows meets the
    // hang-up again, with no host seen, which opens nothing: it cannot go round.
    if (m_readNotifier && !m_readNotifier->isEnabled())
        m_readNotifier->setEnabled(true);
}

bool SimServer::linkAsCom(int number, QString* error, int cancelFd)
{
    if (!isOpen()) {
        *error = QStringLiteral("the device is not open");
        return false;
    }
    if (!checkPortNumber(number, error))
        return false;
    if (configDirectory().isEmpty()) {
        *error = QStringLiteral("cannot link the device as COM%1: no configuration folder, as "
                                "neither HOME nor XDG_CONFIG_HOME is an absolute path; set HOME "
                                "or leave out --com")
                     .arg(number);
        return false;
    }
    removeLink(cancelFd);
    // Under the folder's lock, the look at the number and the claim of it are one step: no
    // other emulator, and no ports link, comes between them.
    PortsFolder ports = PortsFolder::forChange(portsDirectory());
    if (ports.lock(error, FolderLock::kWaitMs, cancelFd) != FolderLock::Result::Held)
        return false;
    const linkmark::Mark mark = linkmark::inspect(ports.fd(), number);
    if (mark.kind == linkmark::Mark::Kind::Emulator && mark.alive) {
        *error = QStringLiteral("COM%1 is held by another tarnavel-sim (process %2, serving on "
                                "%3); choose another number, or end that one first")
                     .arg(number)
                     .arg(mark.pid)
                     .arg(fsutil::printable(mark.device));
        return false;
    }
    const ComEntry entry = ports.entry(number);
    if (entry.kind == ComEntry::Kind::Other) {
        *error = QStringLiteral("%1 exists and is not a link; not replacing it")
                     .arg(fsutil::printable(entry.path));
        return false;
    }
    if (entry.refusalNumber == EPERM) {
        *error = entry.refusal;
        return false;
    }
    // A link to a serial line, or a pseudo-terminal linked by hand on purpose (a bridge to a
    // remote reader, say), is the user's. What is left is ours to replace: no link, one that
    // leads nowhere, or a stale one to a pseudo-terminal.
    if (entry.kind == ComEntry::Kind::Link && entry.present && entry.mayOpen()) {
        *error = QStringLiteral("%1 links to %2, which is not an emulator; remove the link or "
                                "choose another number")
                     .arg(fsutil::printable(entry.path), fsutil::printable(entry.target));
        return false;
    }
    // The mark first, locked from its first moment; the link last. Stopped in between, the
    // mark names a device the old link does not lead to, and the old link counts as stale.
    const int markFd = linkmark::claim(ports.fd(), number, devicePath(), error);
    if (markFd < 0)
        return false;
    const QString name = comName(number);
    if (!fsutil::replaceSymlinkAt(ports.fd(), name, devicePath(), entry.path, error)) {
        // The old link (a dead emulator's, or one leading nowhere) is still there and must not
        // be left without a mark, which would make it pass for one made by hand: it goes, and
        // only then does the new mark; where even that fails, the new mark stays, unlocked,
        // naming a device the old link does not lead to, so the link stays stale.
        const QByteArray local = QFile::encodeName(name);
        const QString now = fsutil::readLinkAt(ports.fd(), name);
        struct stat there {
        };
        const bool nothing =
            ::fstatat(ports.fd(), local.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT;
        if (nothing ||
            (!now.isEmpty() && fsutil::sys::unlinkat(ports.fd(), local.constData(), 0) == 0))
            linkmark::release(ports.fd(), number, markFd);
        else
            ::close(markFd);
        return false;
    }
    m_linkPath = entry.path;
    m_linkNumber = number;
    m_markFd = markFd;
    return true;
}

QString SimServer::removeLink(int cancelFd)
{
    if (m_linkPath.isEmpty())
        return QString();
    const QString path = m_linkPath;
    PortsFolder ports(QFileInfo(m_linkPath).path());
    QString error;
    // A holder that does not let go, or a signal to stop waiting, does not keep the link
    // alive: what is still this server's goes without the lock, since every other change of
    // the number replaces the link or the mark first, and both are looked at here.
    const bool locked =
        ports.lock(&error, FolderLock::kWaitMs, cancelFd) == FolderLock::Result::Held;
    // A folder gone since takes the link with it; one refused since is not touched.
    bool linkGone = ports.state() != PortsFolder::State::Refused;
    QString why = ports.error();
    if (ports.state() == PortsFolder::State::Open) {
        // Taken over since (ports link --force): the new link stays.
        const QString name = comName(m_linkNumber);
        const QByteArray local = QFile::encodeName(name);
        if (fsutil::readLinkAt(ports.fd(), name) == devicePath() &&
            fsutil::sys::unlinkat(ports.fd(), local.constData(), 0) != 0 && errno != ENOENT) {
            why = fsutil::errorText(errno);
            linkGone = false;
        }
    }
    QString left;
    if (linkGone) {
        // The link goes before the mark: stopped in between, a mark is left without a link.
        linkmark::release(ports.fd(), m_linkNumber, m_markFd);
        if (!locked)
            left = QStringLiteral("removed %1 without the folder's lock: %2")
                       .arg(fsutil::printable(path), error);
    } else {
        // The link stays with its mark, which nobody holds now: every program refuses it.
        if (m_markFd >= 0)
            ::close(m_markFd);
        left = QStringLiteral("could not remove %1 (%2); it is left stale, and no program opens "
                              "it. Remove it with: tarnavel-cli ports unlink %3")
                   .arg(fsutil::printable(path), why)
                   .arg(m_linkNumber);
    }
    m_markFd = -1;
    m_linkNumber = 0;
    m_linkPath.clear();
    return left;
}

QByteArray SimServer::swipe(int card)
{
    const QByteArray status = card < 0 ? m_model.swipe() : m_model.swipe(card);
    send(status);
    return status;
}

void SimServer::setAutoSwipeMs(int ms)
{
    m_autoSwipeMs = ms;
    if (ms < 0)
        m_autoTimer.stop();
}

void SimServer::afterReceive(quint64 armsBefore)
{
    if (m_autoSwipeMs >= 0 && m_model.armCount() != armsBefore)
        m_autoTimer.start(m_autoSwipeMs);
}

void SimServer::onReadable()
{
    const int fd = m_pty.masterFd();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (!m_hostSeen) {
                m_hostSeen = true;
                emit logLine(QStringLiteral("       * a program has opened the device"));
            }
            const quint64 armsBefore = m_model.armCount();
            send(m_model.receive(QByteArray(buffer, int(n))));
            afterReceive(armsBefore);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO (or end of file): no program has the slave open. The master keeps reporting
        // that, so it is looked at again when one opens it, instead of spinning on it.
        hostGone();
        return;
    }
}

void SimServer::retryRead()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(true);
}

void SimServer::hostGone()
{
    m_readNotifier->setEnabled(false);
    if (m_openWatch < 0)
        m_retryTimer.start();
    if (!m_hostSeen)
        return;
    m_hostSeen = false;
    emit logLine(QStringLiteral("       * the program has closed the device"));
    m_model.clearInput();
    dropPending(QStringLiteral("the device was closed"));
    // Frames the host did not read would greet the next program that opens the device.
    const int slave =
        ::open(QFile::encodeName(devicePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave >= 0) {
        ::tcflush(slave, TCIFLUSH);
        ::close(slave);
    }
}

bool SimServer::hostPresent() const
{
    pollfd p{m_pty.masterFd(), POLLOUT, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

void SimServer::dropPending(const QString& why)
{
    const qsizetype bytes = m_pending.clear().bytes;
    m_gapTimer.stop();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    if (bytes > 0)
        emit logLine(QStringLiteral("       * %1: %2 byte(s) not sent").arg(why).arg(bytes));
}

qsizetype SimServer::pendingBytes() const
{
    return m_pending.bytes();
}

void SimServer::send(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    // A host that writes and never reads must not grow the emulator without bound.
    const qsizetype split = m_model.splitSize() > 0 ? m_model.splitSize() : bytes.size();
    qsizetype dropped = 0;
    for (qsizetype at = 0; at < bytes.size(); at += split)
        dropped += m_pending.append(bytes.mid(at, split)).bytes;
    if (dropped > 0)
        emit logLine(QStringLiteral("       * the program is not reading: %1 byte(s) of older "
                                    "replies dropped")
                         .arg(dropped));
    if (!m_gapTimer.isActive() && !(m_writeNotifier && m_writeNotifier->isEnabled()))
        writePending();
}

void SimServer::onWritable()
{
    m_writeNotifier->setEnabled(false);
    writePending();
}

void SimServer::writePending()
{
    if (m_pending.isEmpty())
        return;
    if (!isOpen() || !hostPresent()) {
        dropPending(QStringLiteral("no program has the device open"));
        return;
    }
    // Split replies pause between pieces, so the host really receives them one by one.
    switch (m_pending.writeTo(m_pty.masterFd(), m_model.splitSize() > 0)) {
    case WriteQueue::Result::Blocked:
        m_writeNotifier->setEnabled(true);
        break;
    case WriteQueue::Result::Failed:
        dropPending(QStringLiteral("write failed (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(m_pending.error()))));
        break;
    case WriteQueue::Result::PieceDone:
        m_gapTimer.start();
        break;
    case WriteQueue::Result::Empty:
        break;
    }
}

#include "moc_simserver.cpp"
