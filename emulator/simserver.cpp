#include "emulator/simserver.h"

#include "emulator/readermodel.h"
#include "emulator/readertext.h"
#include "platform/linkmark.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Where a symbolic link points, or an empty string when path is not a link.
QString readLink(const QString& path)
{
    char target[4096];
    const QByteArray local = QFile::encodeName(path);
    const ssize_t n = ::readlink(local.constData(), target, sizeof target - 1);
    if (n < 0)
        return QString();
    return QFile::decodeName(QByteArray(target, int(n)));
}

// Creates path and any missing parent. Folders made here are private: the configuration
// folder also holds the per-user store.
bool makePrivateDirectory(const QString& path, QString* error)
{
    const QByteArray local = QFile::encodeName(path);
    struct stat st {
    };
    if (::stat(local.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        *error = QStringLiteral("%1 exists and is not a folder").arg(path);
        return false;
    }
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makePrivateDirectory(parent, error))
        return false;
    if (::mkdir(local.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2").arg(path, errnoText());
        return false;
    }
    return true;
}

} // namespace

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
    return true;
}

bool SimServer::linkAsCom(int number, QString* error)
{
    if (!isOpen()) {
        *error = QStringLiteral("the device is not open");
        return false;
    }
    if (number < 1) {
        *error = QStringLiteral("COM%1 is not a port number").arg(number);
        return false;
    }
    if (configDirectory().isEmpty()) {
        *error = QStringLiteral("cannot link the device as COM%1: no configuration folder, as "
                                "neither HOME nor XDG_CONFIG_HOME is an absolute path; set HOME "
                                "or leave out --com")
                     .arg(number);
        return false;
    }
    if (!makePrivateDirectory(configDirectory(), error) ||
        !makePrivateDirectory(portsDirectory(), error))
        return false;
    const QString path = portsDirectory() + QStringLiteral("/com%1").arg(number);
    const QByteArray local = QFile::encodeName(path);
    struct stat st {
    };
    if (::lstat(local.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(path);
            return false;
        }
        const QString target = readLink(path);
        const bool dangling = ::access(local.constData(), F_OK) != 0;
        // Only a dangling link or one an emulator made is ours to replace: a link to a
        // pseudo-terminal made by hand may be a bridge to a remote reader.
        if (!dangling && !linkmark::inspect(path).present) {
            *error = QStringLiteral("%1 links to %2, which is not an emulator; remove the link "
                                    "or choose another number")
                         .arg(path, target);
            return false;
        }
    }
    // The mark goes first, so the link never exists without it.
    const int mark = linkmark::claim(path, devicePath(), error);
    if (mark < 0)
        return false;
    // Made aside and renamed over, so the port never disappears for a host looking at it.
    const QString temp = path + QStringLiteral(".new-%1").arg(::getpid());
    const QByteArray tempLocal = QFile::encodeName(temp);
    ::unlink(tempLocal.constData());
    if (::symlink(QFile::encodeName(devicePath()).constData(), tempLocal.constData()) != 0 ||
        ::rename(tempLocal.constData(), local.constData()) != 0) {
        *error = QStringLiteral("cannot create the link %1: %2").arg(path, errnoText());
        ::unlink(tempLocal.constData());
        linkmark::release(path, mark);
        return false;
    }
    m_linkPath = path;
    m_markFd = mark;
    return true;
}

void SimServer::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    // Another emulator may have taken the number over since; its link stays.
    if (readLink(m_linkPath) == devicePath())
        ::unlink(QFile::encodeName(m_linkPath).constData());
    linkmark::release(m_linkPath, m_markFd);
    m_markFd = -1;
    m_linkPath.clear();
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
        // that, so look again later instead of spinning on it.
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
