#include "platform/qtserialport.h"

#include "platform/paths.h"
#include "platform/portholders.h"
#include "platform/portsfolder.h"
#include "platform/serialdevices.h"
#include "platform/systemtree.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString settingsFormatError(const QString& text)
{
    return QStringLiteral("Invalid property value: line settings \"%1\" (expected speed,parity,"
                          "data bits,stop bits such as 9600,e,7,1)")
        .arg(text);
}

// QSerialPort's own messages, as it may have translated them.
bool isQtMessage(const QString& message, const char* source)
{
    return message == QLatin1String(source) ||
           message == QCoreApplication::translate("QSerialPort", source);
}

// errno read after a Qt call may be left over from something else: trust it only when it
// explains the message Qt produced at the time.
int systemErrorFor(int captured, const QString& qtMessage, int fallback)
{
    if (captured > 0 && qt_error_string(captured) == qtMessage)
        return captured;
    return fallback;
}

// What a read, write or line-control call fails with once the device has gone.
bool isDeviceGoneError(int number)
{
    return number == EIO || number == ENXIO || number == ENODEV;
}

QString parityName(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return QStringLiteral("even parity");
    case QSerialPort::OddParity:
        return QStringLiteral("odd parity");
    case QSerialPort::MarkParity:
        return QStringLiteral("mark parity");
    case QSerialPort::SpaceParity:
        return QStringLiteral("space parity");
    default:
        return QStringLiteral("no parity");
    }
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : ISerialPort(parent), m_port(new QSerialPort(this))
{
    m_port->setReadBufferSize(kReadBufferBytes);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::handleError);
    connect(m_port, &QSerialPort::readyRead, this, &ISerialPort::dataArrived);
}

QtSerialPort::~QtSerialPort()
{
    // The child outlives this part of the object; nothing may call back into it.
    m_port->disconnect(this);
    unwatchLine();
}

void QtSerialPort::setCommPort(int number)
{
    if (number < 1)
        throw AppError(ErrInvalidPortNumber,
                       QStringLiteral("Invalid port number (COM%1)").arg(number));
    if (number == m_commPort)
        return;
    if (m_port->isOpen())
        throw AppError(ErrPortAlreadyOpen,
                       QStringLiteral("Port already open (%1): close it before choosing COM%2")
                           .arg(portLabel())
                           .arg(number));
    m_commPort = number;
}

QtSerialPort::LineSettings QtSerialPort::parseSettings(const QString& text)
{
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() != 4)
        throw AppError(ErrInvalidPropertyValue, settingsFormatError(text));

    LineSettings line;
    bool ok = false;
    line.speed = items.at(0).trimmed().toInt(&ok);
    if (!ok || line.speed <= 0)
        throw AppError(ErrInvalidPropertyValue, settingsFormatError(text));

    const QString parity = items.at(1).trimmed().toLower();
    if (parity == QLatin1String("e"))
        line.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        line.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("n"))
        line.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("m"))
        line.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        line.parity = QSerialPort::SpaceParity;
    else
        throw AppError(ErrInvalidPropertyValue, settingsFormatError(text));

    const int dataBits = items.at(2).trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        throw AppError(ErrInvalidPropertyValue, settingsFormatError(text));
    line.dataBits = QSerialPort::DataBits(dataBits);

    const QString stopBits = items.at(3).trimmed();
    if (stopBits == QLatin1String("1"))
        line.stopBits = QSerialPort::OneStop;
    else if (stopBits == QLatin1String("2"))
        line.stopBits = QSerialPort::TwoStop;
    else if (stopBits == QLatin1String("1.5"))
        // termios has no 1.5 stop bits, and QSerialPort would quietly send 1.
        throw AppError(ErrInvalidPropertyValue,
                       QStringLiteral("Invalid property value: line settings \"%1\": 1.5 stop "
                                      "bits are not supported on this system (use 1 or 2)")
                           .arg(text));
    else
        throw AppError(ErrInvalidPropertyValue, settingsFormatError(text));
    return line;
}

void QtSerialPort::setSettings(const QString& settings)
{
    const LineSettings line = parseSettings(settings);
    m_settings = settings;
    m_line = line;
    if (m_port->isOpen())
        applySettings();
}

void QtSerialPort::setReadBufferLimit(qint64 bytes)
{
    m_port->setReadBufferSize(bytes);
}

ComEntry QtSerialPort::comEntry() const
{
    return PortsFolder(portsDirectory()).entry(m_commPort);
}

QString QtSerialPort::devicePath() const
{
    if (m_port->isOpen() || m_deviceLost)
        return m_openDevice;
    return deviceFor(m_deviceOverride.isEmpty() ? comEntry() : ComEntry());
}

QString QtSerialPort::deviceFor(const ComEntry& entry) const
{
    if (!m_deviceOverride.isEmpty())
        return m_deviceOverride;
    if (entry.kind != ComEntry::Kind::None)
        return entry.device.isEmpty() ? entry.path : entry.device;
    // A folder that cannot be used is named, never passed over for /dev/ttyS(n-1).
    if (!entry.mayOpen())
        return entry.path;
    return QStringLiteral("/dev/ttyS%1").arg(m_commPort - 1);
}

QString QtSerialPort::placeName(int commPort, const QString& device)
{
    return commPort < 1 ? device : QStringLiteral("COM%1 (%2)").arg(commPort).arg(device);
}

bool QtSerialPort::isPseudoTerminal(const QString& device)
{
    return ::isPseudoTerminal(device);
}

AppError QtSerialPort::openError(QSerialPort::SerialPortError error, int systemError,
                                 const QString& qtMessage, const QString& device, int commPort)
{
    const QString where = placeName(commPort, device);
    switch (error) {
    case QSerialPort::DeviceNotFoundError: {
        const int number = (systemError == ENODEV || systemError == ENXIO) ? systemError : ENOENT;
        const QString ports = portsDirectory();
        if (commPort < 1)
            return AppError(number, QStringLiteral("%1: %2. Check the cable and the path; "
                                                   "tarnavel-cli ports lists the serial devices.")
                                        .arg(where, qt_error_string(number)));
        if (ports.isEmpty())
            return AppError(number, QStringLiteral("%1: %2. Check the cable; a link to another "
                                                   "device needs HOME set to an absolute path.")
                                        .arg(where, qt_error_string(number)));
        return AppError(number,
                        QStringLiteral("%1: %2. Check the cable and the link com%3 in %4 "
                                       "(tarnavel-cli ports lists the serial devices; "
                                       "tarnavel-cli ports link %3 /dev/serial/by-id/... points "
                                       "COM%3 at one).")
                            .arg(where, qt_error_string(number), QString::number(commPort), ports));
    }
    case QSerialPort::PermissionError:
        if (isQtMessage(qtMessage, "Permission error while locking the device") ||
            systemError == EBUSY || qtMessage == qt_error_string(EBUSY))
            return AppError(EBUSY, QStringLiteral("%1: %2. %3")
                                       .arg(where, qt_error_string(EBUSY),
                                            busyHolderText(SystemTree::live(), device, commPort)));
        if (isQtMessage(qtMessage, "Permission error while creating lock file"))
            return AppError(EACCES, QStringLiteral("%1: %2: no lock folder (/var/lock, /tmp) is "
                                                   "writable.")
                                        .arg(where, qtMessage));
        {
            const int number =
                (systemError == EPERM || qtMessage == qt_error_string(EPERM)) ? EPERM : EACCES;
            return AppError(number,
                            QStringLiteral("%1: %2. Add the user to the dialout group (sudo "
                                           "adduser $USER dialout), then log in again.")
                                .arg(where, qt_error_string(number)));
        }
    default:
        break;
    }
    const int fallback = error == QSerialPort::UnsupportedOperationError ? EINVAL : EIO;
    const int number = systemErrorFor(systemError, qtMessage, fallback);
    const QString reason = qtMessage.isEmpty() ? qt_error_string(number) : qtMessage;
    return AppError(number, QStringLiteral("%1: %2.").arg(where, reason));
}

void QtSerialPort::setPortOpen(bool open)
{
    if (!open) {
        closeDevice();
        m_openDevice.clear();
        m_deviceLost = false;
        return;
    }
    if (m_port->isOpen())
        throw AppError(ErrPortAlreadyOpen,
                       QStringLiteral("Port already open (%1)").arg(portLabel()));

    const ComEntry entry = m_deviceOverride.isEmpty() ? comEntry() : ComEntry();
    if (!entry.mayOpen())
        throw linkRefusal(entry);
    const QString device = deviceFor(entry);
    if (m_afterLook)
        m_afterLook();
    const fsutil::Fd approved = holdApproved(entry, device);
    m_port->setPortName(device);
    // Open at plain 8N1 and change one setting at a time afterwards, so that a refusal names
    // the setting instead of failing the whole open.
    m_port->setBaudRate(9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->clearError();
    errno = 0;
    if (!m_port->open(QIODevice::ReadWrite)) {
        const int systemError = errno;
        const AppError failure =
            openError(m_port->error(), systemError, m_port->errorString(), device, namedPort());
        m_port->clearError();
        throw withAdapterHint(failure, entry);
    }
    struct stat opened {
    };
    if (approved.isValid() &&
        (::fstat(int(m_port->handle()), &opened) != 0 || opened.st_rdev != entry.deviceNumber)) {
        closeDevice();
        throw changedWhileOpening(entry, comEntry());
    }
    m_openDevice = device;
    m_deviceLost = false;
    m_pseudoTerminal = isPseudoTerminal(device);
    bool gone = false;
    try {
        applySettings();
        gone = !m_port->isOpen() || lineGone();
    } catch (const AppError& error) {
        gone = error.number() == ErrPortNotOpen;
        if (!gone) {
            closeDevice();
            m_openDevice.clear();
            throw;
        }
    }
    if (gone) {
        // Nothing was ever open to the caller: no loss to report, only a failed open.
        closeDevice();
        m_openDevice.clear();
        m_deviceLost = false;
        throw AppError(EIO, QStringLiteral("%1: the device disappeared while it was being opened.")
                                .arg(placeName(namedPort(), device)));
    }
    watchLine();
}

bool QtSerialPort::portOpen() const
{
    return m_port->isOpen();
}

void QtSerialPort::checkSetting(bool ok, int systemError, const QString& what, bool ptyMayRefuse)
{
    const QString reason = m_port->errorString();
    // QSerialPort keeps the last error until cleared; the next setting must start clean.
    m_port->clearError();
    if (ok || !m_port->isOpen())
        return;
    const int number = systemErrorFor(systemError, reason, EINVAL);
    // A USB adapter pulled between two settings fails the next one with EIO.
    if (isDeviceGoneError(number) || lineGone()) {
        markLost();
        throw notOpenError();
    }
    if (ptyMayRefuse && m_pseudoTerminal)
        return;
    throw AppError(number,
                   QStringLiteral("%1 refused the line setting %2 of \"%3\": %4")
                       .arg(placeName(namedPort(), m_openDevice), what, m_settings, reason));
}

void QtSerialPort::applySettings()
{
    const auto apply = [this](const auto& setter, const QString& what, bool ptyMayRefuse) {
        errno = 0;
        const bool ok = setter();
        const int systemError = errno;
        checkSetting(ok, systemError, what, ptyMayRefuse);
    };
    m_port->clearError();
    apply([this] { return m_port->setBaudRate(m_line.speed); },
          QStringLiteral("speed %1").arg(m_line.speed), false);
    apply([this] { return m_port->setDataBits(m_line.dataBits); },
          QStringLiteral("%1 data bits").arg(int(m_line.dataBits)), true);
    apply([this] { return m_port->setParity(m_line.parity); }, parityName(m_line.parity), true);
    apply([this] { return m_port->setStopBits(m_line.stopBits); },
          m_line.stopBits == QSerialPort::TwoStop ? QStringLiteral("2 stop bits")
                                                  : QStringLiteral("1 stop bit"),
          false);
    apply([this] { return m_port->setFlowControl(QSerialPort::NoFlowControl); },
          QStringLiteral("no handshaking"), false);
}

QString QtSerialPort::portLabel() const
{
    const QString device = m_openDevice.isEmpty() ? devicePath() : m_openDevice;
    if (namedPort() < 1)
        return device;
    return QStringLiteral("COM%1, %2").arg(m_commPort).arg(device);
}

AppError QtSerialPort::notOpenError() const
{
    QString text =
        QStringLiteral("Operation valid only when the port is open (%1)").arg(portLabel());
    if (m_deviceLost)
        text += QStringLiteral(": the device disappeared and the port was closed");
    return AppError(ErrPortNotOpen, text);
}

void QtSerialPort::output(const QByteArray& data)
{
    if (!m_port->isOpen())
        throw notOpenError();
    if (data.isEmpty())
        return;
    m_port->clearError();
    errno = 0;
    // flush() hands the bytes to the driver now; the line itself is not waited for.
    const bool sent = m_port->write(data) == data.size() && m_port->flush();
    if (sent)
        return;
    const int systemError = errno;
    if (!m_port->isOpen())
        throw notOpenError();
    const QString reason = m_port->errorString();
    m_port->clearError();
    // A write is often the first to notice that a USB adapter has gone.
    const int number = systemErrorFor(systemError, reason, EIO);
    if (isDeviceGoneError(number) || lineGone()) {
        markLost();
        throw notOpenError();
    }
    throw AppError(number, QStringLiteral("Could not write to %1: %2")
                               .arg(placeName(namedPort(), m_openDevice), reason));
}

QByteArray QtSerialPort::input()
{
    if (!m_port->isOpen() || checkLine())
        return {};
    if (m_watch)
        m_watch->setEnabled(true);
    return m_port->readAll();
}

int QtSerialPort::inBufferCount() const
{
    if (!m_port->isOpen())
        return 0;
    return int(qMin<qint64>(m_port->bytesAvailable(), INT_MAX));
}

void QtSerialPort::handleError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_port->isOpen())
        return;
    // A vanished device makes QSerialPort repeat its error tens of thousands of times a
    // second until the port is closed: a read error on Qt 6.4, a write error on Qt 6.8.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        markLost();
    else
        checkLine();
}

bool QtSerialPort::lineGone() const
{
    const int fd = m_port->isOpen() ? int(m_port->handle()) : -1;
    if (fd < 0)
        return false;
    pollfd line{fd, POLLIN, 0};
    if (::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return true;
    termios attributes{};
    if (::tcgetattr(fd, &attributes) != 0 && isDeviceGoneError(errno))
        return true;
    // An unplugged adapter's node goes away; a replugged one is a new device under the name.
    struct stat opened {
    };
    struct stat named {
    };
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode))
        return false;
    if (::stat(QFile::encodeName(m_openDevice).constData(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR || isDeviceGoneError(errno);
    return named.st_rdev != opened.st_rdev;
}

bool QtSerialPort::checkLine()
{
    if (!m_port->isOpen() || !lineGone())
        return false;
    markLost();
    return true;
}

void QtSerialPort::watchLine()
{
    unwatchLine();
    // A hang-up shows as an exceptional condition on the descriptor, in the event loop
    // whichever Qt version reads the line. Plain data never wakes this watch.
    m_watchFd = ::fcntl(int(m_port->handle()), F_DUPFD_CLOEXEC, 0);
    if (m_watchFd < 0)
        return;
    m_watch = new QSocketNotifier(m_watchFd, QSocketNotifier::Exception, this);
    connect(m_watch, &QSocketNotifier::activated, this, &QtSerialPort::onLineActivity);
}

void QtSerialPort::unwatchLine()
{
    if (m_watch) {
        m_watch->setEnabled(false);
        delete m_watch;
        m_watch = nullptr;
    }
    if (m_watchFd >= 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
}

void QtSerialPort::onLineActivity()
{
    if (checkLine())
        return;
    // Woken for something else: rest until the next poll of the port rather than spin.
    if (m_watch)
        m_watch->setEnabled(false);
}

void QtSerialPort::closeDevice()
{
    unwatchLine();
    if (m_port->isOpen())
        m_port->close();
}

void QtSerialPort::markLost()
{
    if (!m_port->isOpen())
        return;
    m_deviceLost = true;
    closeDevice();
    // Raised from a clean stack rather than from inside QSerialPort's read or write; not at
    // all when the port was closed or opened again meanwhile (a device that vanished while
    // being opened is a failed open, not a loss).
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_deviceLost)
                return;
            emit onComm();
            emit lost();
        },
        Qt::QueuedConnection);
}

fsutil::Fd QtSerialPort::holdApproved(const ComEntry& entry, const QString& device) const
{
    // A device the ports folder leads to is opened here first, taking no setting from it and
    // giving it none (no controlling terminal, no wait for a carrier), and checked on that
    // descriptor: it must be the device the look approved and, behind an emulator's link, that
    // emulator must still hold its mark now that the device is open. The descriptor stays open
    // while QSerialPort opens the device by its name and sets it up: a terminal held open
    // keeps its number, so that name leads to the device checked, or nowhere.
    if (!entry.characterDevice)
        return fsutil::Fd();
    fsutil::Fd fd(
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        const int failure = errno;
        throw withAdapterHint(
            openError(errorKindOf(failure), failure, qt_error_string(failure), device, namedPort()),
            entry);
    }
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != entry.deviceNumber)
        throw changedWhileOpening(entry, comEntry());
    if (entry.emulator) {
        const ComEntry again = comEntry();
        if (!again.emulator || again.device != device || again.deviceNumber != st.st_rdev)
            throw changedWhileOpening(entry, again);
    }
    return fd;
}

QSerialPort::SerialPortError QtSerialPort::errorKindOf(int systemError)
{
    // As QSerialPort sorts the same failures of its own open.
    switch (systemError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QSerialPort::DeviceNotFoundError;
    case EACCES:
    case EPERM:
    case EBUSY:
        return QSerialPort::PermissionError;
    case EIO:
    case EAGAIN:
        return QSerialPort::ResourceError;
    default:
        return QSerialPort::OpenError;
    }
}

AppError QtSerialPort::staleLinkError(const ComEntry& entry, const QString& reason) const
{
    // The pseudo-terminal number may belong to another program's terminal by now: a version
    // query written there would land in someone's shell.
    const QString removal =
        m_staleLinkRemoval.isEmpty()
            ? QStringLiteral("rm ") + fsutil::printable(fsutil::shellQuoted(entry.path))
            : m_staleLinkRemoval.arg(m_commPort);
    return AppError(
        ESTALE,
        QStringLiteral("COM%1 (%2 -> %3): stale link to a pseudo-terminal: %4; not "
                       "opening it, as the terminal may be another program's by now. "
                       "Remove it with: %5 (or start tarnavel-sim --com %1 again).")
            .arg(m_commPort)
            .arg(fsutil::printable(entry.path), fsutil::printable(entry.device), reason, removal));
}

AppError QtSerialPort::linkRefusal(const ComEntry& entry) const
{
    if (entry.refusalNumber == ESTALE)
        return staleLinkError(entry, entry.refusal);
    return AppError(entry.refusalNumber,
                    QStringLiteral("COM%1: not opening it through the ports folder: %2")
                        .arg(m_commPort)
                        .arg(entry.refusal));
}

AppError QtSerialPort::changedWhileOpening(const ComEntry& before, const ComEntry& now) const
{
    // Said as it happened: the emulator that held the link ended, another one took the number,
    // or the link was changed; whichever, what opens now was not what was looked at.
    if (before.emulator && now.refusalNumber == ESTALE &&
        now.mark.kind == linkmark::Mark::Kind::Emulator && now.mark.pid == before.mark.pid &&
        now.device == before.device)
        return staleLinkError(now, QStringLiteral("its emulator ended while it was being opened"));
    if (!now.mayOpen())
        return linkRefusal(now);
    QString what;
    if (now.kind == ComEntry::Kind::None)
        what = QStringLiteral("its link was removed while it was being opened");
    else if (now.emulator && (now.device != before.device || now.mark.pid != before.mark.pid))
        what = QStringLiteral("tarnavel-sim (process %1) took the number while it was being "
                              "opened, serving on %2")
                   .arg(now.mark.pid)
                   .arg(fsutil::printable(now.device));
    else if (now.device != before.device)
        what = QStringLiteral("its link was changed while it was being opened, to %1")
                   .arg(fsutil::printable(now.device));
    else
        what = QStringLiteral("another device took the name %1 while it was being opened")
                   .arg(fsutil::printable(now.device));
    return AppError(
        EAGAIN, QStringLiteral("COM%1 (%2 -> %3): %4; nothing was written. Try again.")
                    .arg(m_commPort)
                    .arg(fsutil::printable(before.path), fsutil::printable(before.device), what));
}

AppError QtSerialPort::withAdapterHint(const AppError& failure, const ComEntry& entry) const
{
    // Without a ports link COMn is a built-in UART, which is rarely where the reader is.
    if (!m_deviceOverride.isEmpty() || entry.kind != ComEntry::Kind::None)
        return failure;
    const QString adapter = soleUsbSerialAdapter(listSerialDevices());
    if (adapter.isEmpty())
        return failure;
    return AppError(failure.number(),
                    failure.description() +
                        QStringLiteral(" A USB serial adapter is present: %1. To use it as "
                                       "COM%2: tarnavel-cli ports link %2 %1")
                            .arg(adapter)
                            .arg(m_commPort));
}

#include "moc_qtserialport.cpp"
