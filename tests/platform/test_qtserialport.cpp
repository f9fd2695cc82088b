#include "config/ports.h"
#include "emulator/pty.h"
#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/paths.h"
#include "platform/qtserialport.h"
#include "support/fakeaccounts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

// Runs the event loop in short slices until done() holds or the pass budget is spent.
template <typename Done> bool pumpUntil(Done done)
{
    for (int pass = 0; pass < 500 && !done(); ++pass)
        QTest::qWait(10);
    return done();
}

// Reads from the master until count bytes have come or the pass budget is spent.
QByteArray readMaster(int fd, qsizetype count)
{
    QByteArray received;
    for (int pass = 0; pass < 200 && received.size() < count; ++pass) {
        QCoreApplication::processEvents();
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0)
            received.append(chunk, got);
    }
    return received;
}

bool writeMaster(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    for (int pass = 0; pass < 200 && done < bytes.size(); ++pass) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put > 0)
            done += put;
    }
    return done == bytes.size();
}

int lineErrorCount(const QSignalSpy& spy)
{
    int count = 0;
    for (const QList<QVariant>& args : spy) {
        const auto error = args.at(0).value<QSerialPort::SerialPortError>();
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            ++count;
    }
    return count;
}

} // namespace

class TestQtSerialPort : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_config;

    // COMn -> target, made by hand.
    void linkCom(int number, const QString& target)
    {
        const QString link = portsDirectory() + QStringLiteral("/com%1").arg(number);
        QFile::remove(link);
        QVERIFY2(QFile::link(target, link), qPrintable(link));
    }

    // A fresh pseudo-terminal whose slave is COMn.
    void openLinkedPty(PseudoTerminal& pty, int number)
    {
        QVERIFY2(pty.open(), qPrintable(pty.errorString()));
        linkCom(number, pty.slavePath());
    }

private slots:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        QVERIFY(portsDirectory().startsWith(m_config->path()));
        QVERIFY(QDir().mkpath(portsDirectory()));
    }

    void cleanup() { m_config.reset(); }

    void commPortMapping_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no link, COM1") << 1 << QString() << QStringLiteral("/dev/ttyS0");
        QTest::newRow("no link, COM12") << 12 << QString() << QStringLiteral("/dev/ttyS11");
        QTest::newRow("link to a pty") << 3 << QStringLiteral("<pty>") << QStringLiteral("<pty>");
        QTest::newRow("dangling link") << 4 << QStringLiteral("/dev/quorvex-absent-usb")
                                       << QStringLiteral("/dev/quorvex-absent-usb");
        QTest::newRow("link through a link")
            << 5 << QStringLiteral("<link to pty>") << QStringLiteral("<pty>");
        // An emulator stopped after its mark and before its link leaves the mark alone.
        QTest::newRow("a mark without its link")
            << 6 << QStringLiteral("<mark only>") << QStringLiteral("/dev/ttyS5");
    }

    void commPortMapping()
    {
        QFETCH(int, number);
        QFETCH(QString, link);
        QFETCH(QString, expected);
        PseudoTerminal pty;
        QVERIFY2(pty.open(), qPrintable(pty.errorString()));
        if (link == QLatin1String("<pty>")) {
            link = pty.slavePath();
        } else if (link == QLatin1String("<link to pty>")) {
            link = m_config->filePath(QStringLiteral("by-id"));
            QVERIFY(QFile::link(pty.slavePath(), link));
        }
        if (expected == QLatin1String("<pty>"))
            expected = pty.slavePath();
        if (link == QLatin1String("<mark only>")) {
            const fsutil::Fd folder(
                ::open(QFile::encodeName(portsDirectory()).constData(), O_RDONLY));
            QString error;
            QVERIFY2(fsutil::Fd(linkmark::claim(folder.get(), number, pty.slavePath(), &error))
                         .isValid(),
                     qPrintable(error));
        } else if (!link.isEmpty()) {
            linkCom(number, link);
        }

        QtSerialPort port;
        port.setCommPort(number);
        QCOMPARE(port.commPort(), number);
        QCOMPARE(port.devicePath(), expected);
    }

    void invalidPortNumber_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -3;
    }

    void invalidPortNumber()
    {
        QFETCH(int, number);
        QtSerialPort port;
        try {
            port.setCommPort(number);
            QFAIL("no error for an invalid port number");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), QtSerialPort::ErrInvalidPortNumber);
            QVERIFY2(error.description().startsWith(QLatin1String("Invalid port number")),
                     qPrintable(error.text()));
        }
        QCOMPARE(port.commPort(), 1);
    }

    void settingsAccepted_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::newRow("defaults") << QStringLiteral("9600,e,7,1");
        QTest::newRow("upper-case parity") << QStringLiteral("9600,E,7,1");
        QTest::newRow("odd, two stop bits") << QStringLiteral("19200,o,8,2");
        QTest::newRow("no parity") << QStringLiteral("9600,n,8,1");
        QTest::newRow("mark") << QStringLiteral("115200,m,8,1");
        QTest::newRow("space") << QStringLiteral("4800,S,8,1");
        QTest::newRow("five data bits") << QStringLiteral("1200,n,5,1");
        QTest::newRow("six data bits, upper odd") << QStringLiteral("38400,O,6,2");
    }

    // A pseudo-terminal refuses parity and 7 data bits; the port still opens and carries bytes.
    void settingsAccepted()
    {
        QFETCH(QString, settings);
        PseudoTerminal pty;
        openLinkedPty(pty, 2);
        QtSerialPort port;
        port.setCommPort(2);
        port.setSettings(settings);
        QCOMPARE(port.settings(), settings);
        try {
            port.setPortOpen(true);
        } catch (const AppError& error) {
            QFAIL(qPrintable(error.text()));
        }
        QVERIFY(port.portOpen());
        port.output(QByteArrayLiteral("\x02V\x03"));
        QCOMPARE(readMaster(pty.masterFd(), 3), QByteArrayLiteral("\x02V\x03"));
        port.setPortOpen(false);
        QVERIFY(!port.portOpen());
    }

    void settingsRejected_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("reason");
        const QString format = QStringLiteral("(expected speed,parity,data bits,stop bits such as "
                                              "9600,e,7,1)");
        QTest::newRow("unknown parity") << QStringLiteral("9600,x,7,1") << format;
        QTest::newRow("empty parity") << QStringLiteral("9600,,7,1") << format;
        QTest::newRow("two parity letters") << QStringLiteral("9600,ee,7,1") << format;
        QTest::newRow("not a list") << QStringLiteral("abc") << format;
        QTest::newRow("three items") << QStringLiteral("9600,e,7") << format;
        QTest::newRow("five items") << QStringLiteral("9600,e,7,1,1") << format;
        QTest::newRow("empty") << QString() << format;
        QTest::newRow("speed not a number") << QStringLiteral("fast,e,7,1") << format;
        QTest::newRow("speed zero") << QStringLiteral("0,e,7,1") << format;
        QTest::newRow("speed negative") << QStringLiteral("-9600,e,7,1") << format;
        QTest::newRow("nine data bits") << QStringLiteral("9600,e,9,1") << format;
        QTest::newRow("four data bits") << QStringLiteral("9600,e,4,1") << format;
        QTest::newRow("three stop bits") << QStringLiteral("9600,e,7,3") << format;
        QTest::newRow("one and a half stop bits")
            << QStringLiteral("9600,n,5,1.5") << QStringLiteral("1.5 stop bits are not supported");
    }

    void settingsRejected()
    {
        QFETCH(QString, settings);
        QFETCH(QString, reason);
        QtSerialPort port;
        port.setSettings(QStringLiteral("9600,e,7,1"));
        try {
            port.setSettings(settings);
            QFAIL("no error for malformed line settings");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), QtSerialPort::ErrInvalidPropertyValue);
            const QString head =
                QStringLiteral("Invalid property value: line settings \"%1\"").arg(settings);
            QVERIFY2(error.description().startsWith(head), qPrintable(error.text()));
            QVERIFY2(error.description().contains(reason), qPrintable(error.text()));
        }
        QCOMPARE(port.settings(), QStringLiteral("9600,e,7,1"));
    }

    void settingsWhileOpen()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 2);
        QtSerialPort port;
        port.setCommPort(2);
        port.setPortOpen(true);
        port.setSettings(QStringLiteral("19200,e,7,1"));
        QCOMPARE(port.settings(), QStringLiteral("19200,e,7,1"));
        QVERIFY_THROWS_EXCEPTION(AppError, port.setSettings(QStringLiteral("19200,x,7,1")));
        QCOMPARE(port.settings(), QStringLiteral("19200,e,7,1"));
        QVERIFY(port.portOpen());
        port.output(QByteArrayLiteral("ok"));
        QCOMPARE(readMaster(pty.masterFd(), 2), QByteArrayLiteral("ok"));
    }

    void allByteValuesPassBothWays()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 1);
        QtSerialPort port;
        port.setCommPort(1);
        port.setSettings(QStringLiteral("9600,e,7,1"));
        port.setPortOpen(true);
        port.setInputMode(0);
        QCOMPARE(port.inputMode(), 0);
        const QByteArray bytes = allByteValues();

        QVERIFY(writeMaster(pty.masterFd(), bytes));
        QByteArray received;
        QVERIFY(pumpUntil([&] {
            received += port.input();
            return received.size() >= bytes.size();
        }));
        QCOMPARE(received, bytes);
        QCOMPARE(port.input(), QByteArray());

        port.output(bytes);
        QCOMPARE(readMaster(pty.masterFd(), bytes.size()), bytes);
    }

    void inputTakesEverythingBuffered()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 1);
        QtSerialPort port;
        port.setCommPort(1);
        port.setPortOpen(true);
        QCOMPARE(port.inBufferCount(), 0);
        QCOMPARE(port.input(), QByteArray());
        QVERIFY(writeMaster(pty.masterFd(), QByteArrayLiteral("\x02"
                                                              "01\x03")));
        QVERIFY(pumpUntil([&] { return port.inBufferCount() >= 4; }));
        QCOMPARE(port.inBufferCount(), 4);
        QCOMPARE(port.input(), QByteArrayLiteral("\x02"
                                                 "01\x03"));
        QCOMPARE(port.inBufferCount(), 0);
        QCOMPARE(port.input(), QByteArray());
    }

    void missingDevice_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("device");
        QTest::newRow("dangling link") << 5 << QStringLiteral("/dev/quorvex-unplugged-usb")
                                       << QStringLiteral("/dev/quorvex-unplugged-usb");
        QTest::newRow("no link, no ttyS") << 200 << QString() << QStringLiteral("/dev/ttyS199");
    }

    void missingDevice()
    {
        QFETCH(int, number);
        QFETCH(QString, link);
        QFETCH(QString, device);
        if (QFileInfo::exists(device))
            QSKIP("this machine has the device the test expects to be missing");
        if (!link.isEmpty())
            linkCom(number, link);
        QtSerialPort port;
        port.setCommPort(number);
        QCOMPARE(port.devicePath(), device);
        try {
            port.setPortOpen(true);
            QFAIL("a missing device opened");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), ENOENT);
            const QString text = error.description();
            QVERIFY2(text.startsWith(QStringLiteral("COM%1 (%2): ").arg(number).arg(device)),
                     qPrintable(text));
            QVERIFY2(text.contains(qt_error_string(ENOENT)), qPrintable(text));
            QVERIFY2(text.contains(portsDirectory()), qPrintable(text));
            QVERIFY2(text.contains(QLatin1String("Check the cable")), qPrintable(text));
        }
        QVERIFY(!port.portOpen());
    }

    void openErrorMapping_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<int>("systemError");
        QTest::addColumn<QString>("qtMessage");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("cure");

        const QString check = QStringLiteral("Check the cable and the link com7 in <ports>");
        const QString dialout =
            QStringLiteral("Add the user to the dialout group (sudo adduser $USER dialout), then "
                           "log in again.");
        const QString busy = QStringLiteral("Another program holds the port");
        QTest::newRow("not found") << QSerialPort::DeviceNotFoundError << ENOENT
                                   << qt_error_string(ENOENT) << ENOENT << check;
        QTest::newRow("not found, errno lost")
            << QSerialPort::DeviceNotFoundError << 0 << qt_error_string(ENOENT) << ENOENT << check;
        QTest::newRow("no such device") << QSerialPort::DeviceNotFoundError << ENODEV
                                        << qt_error_string(ENODEV) << ENODEV << check;
        QTest::newRow("permission denied") << QSerialPort::PermissionError << EACCES
                                           << qt_error_string(EACCES) << EACCES << dialout;
        QTest::newRow("permission denied, errno lost")
            << QSerialPort::PermissionError << 0 << qt_error_string(EACCES) << EACCES << dialout;
        QTest::newRow("not permitted")
            << QSerialPort::PermissionError << EPERM << qt_error_string(EPERM) << EPERM << dialout;
        QTest::newRow("lock file of another process")
            << QSerialPort::PermissionError << 0
            << QStringLiteral("Permission error while locking the device") << EBUSY << busy;
        QTest::newRow("lock file, stale errno")
            << QSerialPort::PermissionError << ENOENT
            << QStringLiteral("Permission error while locking the device") << EBUSY << busy;
        QTest::newRow("exclusive open refused")
            << QSerialPort::PermissionError << EBUSY << qt_error_string(EBUSY) << EBUSY << busy;
        QTest::newRow("no lock folder")
            << QSerialPort::PermissionError << 0
            << QStringLiteral("Permission error while creating lock file") << EACCES
            << QStringLiteral("no lock folder");
        QTest::newRow("input/output error") << QSerialPort::ResourceError << EIO
                                            << qt_error_string(EIO) << EIO << qt_error_string(EIO);
        QTest::newRow("unknown, stale errno")
            << QSerialPort::UnknownError << ENOENT << QStringLiteral("Something odd") << EIO
            << QStringLiteral("Something odd");
    }

    void openErrorMapping()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(int, systemError);
        QFETCH(QString, qtMessage);
        QFETCH(int, number);
        QFETCH(QString, cure);
        cure.replace(QLatin1String("<ports>"), portsDirectory());

        const AppError mapped = QtSerialPort::openError(error, systemError, qtMessage,
                                                        QStringLiteral("/dev/ttyUSB6"), 7);
        QCOMPARE(mapped.number(), number);
        QVERIFY2(mapped.description().startsWith(QLatin1String("COM7 (/dev/ttyUSB6): ")),
                 qPrintable(mapped.text()));
        QVERIFY2(mapped.description().contains(cure), qPrintable(mapped.text()));
        QCOMPARE(mapped.text(),
                 QString::number(number) + QStringLiteral(": ") + mapped.description());
    }

    // QSerialPort locks the device with a lock file; a second holder is refused as busy.
    void busyWhileAnotherHolds()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 6);
        QtSerialPort holder;
        holder.setCommPort(6);
        holder.setPortOpen(true);

        QtSerialPort second;
        second.setCommPort(6);
        try {
            second.setPortOpen(true);
            QFAIL("a port held elsewhere opened a second time");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), EBUSY);
            QVERIFY2(
                error.description().startsWith(QStringLiteral("COM6 (%1): ").arg(pty.slavePath())),
                qPrintable(error.text()));
            // Here the holder is this very test, found through its lock file and /proc.
            QVERIFY2(error.description().contains(
                         QStringLiteral("It is held by %1 (process %2): it is this program "
                                        "itself")
                             .arg(QCoreApplication::applicationName())
                             .arg(QCoreApplication::applicationPid())),
                     qPrintable(error.text()));
        }
        QVERIFY(!second.portOpen());

        holder.setPortOpen(false);
        second.setPortOpen(true);
        QVERIFY(second.portOpen());
    }

    void openTwiceAndCloseTwice()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 2);
        QtSerialPort port;
        port.setCommPort(2);
        port.setPortOpen(true);
        try {
            port.setPortOpen(true);
            QFAIL("an open port opened again");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), QtSerialPort::ErrPortAlreadyOpen);
            QCOMPARE(error.description(),
                     QStringLiteral("Port already open (COM2, %1)").arg(pty.slavePath()));
        }
        QVERIFY(port.portOpen());
        QVERIFY_THROWS_EXCEPTION(AppError, port.setCommPort(3));
        QCOMPARE(port.commPort(), 2);
        port.setCommPort(2);
        port.output(QByteArrayLiteral("still"));
        QCOMPARE(readMaster(pty.masterFd(), 5), QByteArrayLiteral("still"));

        port.setPortOpen(false);
        port.setPortOpen(false);
        QVERIFY(!port.portOpen());
        port.setCommPort(3);
        QCOMPARE(port.commPort(), 3);
    }

    void outputOnClosedPort_data()
    {
        QTest::addColumn<bool>("openedBefore");
        QTest::newRow("never opened") << false;
        QTest::newRow("opened and closed") << true;
    }

    void outputOnClosedPort()
    {
        QFETCH(bool, openedBefore);
        PseudoTerminal pty;
        QVERIFY2(pty.open(), qPrintable(pty.errorString()));
        QtSerialPort port;
        QString device = QStringLiteral("/dev/ttyS0");
        if (openedBefore) {
            linkCom(1, pty.slavePath());
            device = pty.slavePath();
            port.setPortOpen(true);
            port.setPortOpen(false);
        }
        try {
            port.output(QByteArrayLiteral("\x02V\x03"));
            QFAIL("output on a closed port did not fail");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), QtSerialPort::ErrPortNotOpen);
            QCOMPARE(error.description(),
                     QStringLiteral("Operation valid only when the port is open (COM1, %1)")
                         .arg(device));
        }
        QCOMPARE(port.input(), QByteArray());
        QCOMPARE(port.inBufferCount(), 0);
    }

    void pulledCable()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 3);
        QtSerialPort port;
        port.setCommPort(3);
        port.setPortOpen(true);
        auto* device = port.findChild<QSerialPort*>();
        QVERIFY(device);
        QSignalSpy lineErrors(device, &QSerialPort::errorOccurred);
        QSignalSpy comm(&port, &ISerialPort::onComm);
        QSignalSpy lost(&port, &ISerialPort::lost);
        const QString slave = pty.slavePath();

        pty.close();
        QVERIFY(pumpUntil([&] { return lost.count() > 0; }));
        QCOMPARE(comm.count(), 1);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!port.portOpen());
        QVERIFY(port.deviceLost());
        QCOMPARE(port.devicePath(), slave);
        // Qt 6.4 reports the hang-up as one read error, Qt 6.8 not at all; neither may go on.
        const int errorsAtLoss = lineErrorCount(lineErrors);
        QVERIFY(errorsAtLoss <= 1);

        for (int pass = 0; pass < 2000; ++pass)
            QCoreApplication::processEvents();
        QCOMPARE(lineErrorCount(lineErrors), errorsAtLoss);
        QCOMPARE(comm.count(), 1);

        QCOMPARE(port.input(), QByteArray());
        QCOMPARE(port.inBufferCount(), 0);
        try {
            port.output(QByteArrayLiteral("\x02V\x03"));
            QFAIL("output to a vanished device did not fail");
        } catch (const AppError& error) {
            QCOMPARE(error.number(), QtSerialPort::ErrPortNotOpen);
            QVERIFY2(error.description().startsWith(
                         QStringLiteral("Operation valid only when the port is open (COM3, %1)")
                             .arg(slave)),
                     qPrintable(error.text()));
            QVERIFY2(error.description().contains(QLatin1String("disappeared")),
                     qPrintable(error.text()));
        }
        QCOMPARE(lost.count(), 1);

        // Replugged under the same link: opening again takes the new device.
        PseudoTerminal replugged;
        openLinkedPty(replugged, 3);
        port.setPortOpen(true);
        QVERIFY(!port.deviceLost());
        QCOMPARE(port.devicePath(), replugged.slavePath());
        port.output(QByteArrayLiteral("\x02k\x03h"));
        QCOMPARE(readMaster(replugged.masterFd(), 4), QByteArrayLiteral("\x02k\x03h"));
        port.setPortOpen(false);
        QCOMPARE(comm.count(), 1);
    }

    void floodStaysWithinTheReadBuffer()
    {
        PseudoTerminal pty;
        openLinkedPty(pty, 2);
        QtSerialPort port;
        port.setCommPort(2);
        port.setSettings(QStringLiteral("9600,n,8,1"));
        port.setPortOpen(true);
        ::fcntl(pty.masterFd(), F_SETFL, ::fcntl(pty.masterFd(), F_GETFL) | O_NONBLOCK);
        const QByteArray noise(4096, 'x');
        // The line floods while the program does not poll: the port takes its buffer's worth
        // and the rest waits in the kernel, which soon stops taking more.
        const auto flood = [&] {
            qint64 flooded = 0;
            for (int round = 0; round < 100; ++round) {
                for (ssize_t put = 1; put > 0;) {
                    put = ::write(pty.masterFd(), noise.constData(), size_t(noise.size()));
                    flooded += qMax<ssize_t>(put, 0);
                }
                QCoreApplication::processEvents();
            }
            return flooded;
        };
        const qint64 flooded = flood();
        QVERIFY2(flooded > QtSerialPort::kReadBufferBytes &&
                     flooded < 4 * QtSerialPort::kReadBufferBytes,
                 qPrintable(QString::number(flooded)));
        const QByteArray first = port.input();
        QVERIFY2(first.size() > 0 && first.size() <= QtSerialPort::kReadBufferBytes,
                 qPrintable(QString::number(first.size())));
        // Reading resumes once the poll has taken its share: the rest of the flood comes
        // through, and after it a frame, whole.
        qint64 drained = first.size();
        QVERIFY(pumpUntil([&] { return (drained += port.input().size()) >= flooded; }));
        QCOMPARE(drained, flooded);
        QVERIFY(writeMaster(pty.masterFd(), QByteArrayLiteral("\x02k8\x03")));
        QByteArray frame;
        QVERIFY(pumpUntil([&] { return (frame += port.input()).size() >= 4; }));
        QCOMPARE(frame, QByteArrayLiteral("\x02k8\x03"));
    }

    // Every state a link and its mark can be left in, whenever the program that made them
    // was stopped: a link to a pseudo-terminal beside a mark opens only while that mark names it
    // and its device and, for an emulator's, the emulator still runs; one without a mark was
    // made by hand, and it and a link to anything else open as they always did.
    void emulatorLinks_data()
    {
        QTest::addColumn<QString>("link"); // where com4 leads: the pty, another pty, a USB name
        QTest::addColumn<QString>("mark"); // what stands as .com4.tarnavel-sim
        QTest::addColumn<bool>("alive");   // an emulator holds the mark's lock
        QTest::addColumn<int>("expected"); // 0: opens; else the error's number
        const QString pty = QStringLiteral("pty");
        const QString other = QStringLiteral("other pty");
        const QString usb = QStringLiteral("/dev/quorvex-absent-usb");
        QTest::newRow("emulator running") << pty << "emulator" << true << 0;
        QTest::newRow("emulator killed") << pty << "emulator" << false << ESTALE;
        QTest::newRow("killed after its mark, before its link")
            << other << "emulator" << false << ESTALE;
        QTest::newRow("starting: mark made, link not yet") << other << "emulator" << true << ESTALE;
        QTest::newRow("linked by hand, no mark") << pty << "none" << false << 0;
        QTest::newRow("linked with ports link") << pty << "hand" << false << 0;
        QTest::newRow("linked again by hand after ports link")
            << other << "hand" << false << ESTALE;
        QTest::newRow("a mark of another number") << pty << "com9" << true << ESTALE;
        QTest::newRow("mark is a link to a live mark") << pty << "symlink" << true << ESTALE;
        QTest::newRow("mark is a FIFO") << pty << "fifo" << false << ESTALE;
        QTest::newRow("mark is a folder") << pty << "folder" << false << ESTALE;
        QTest::newRow("mark is some file") << pty << "file" << false << ESTALE;
        QTest::newRow("USB link beside a dead mark") << usb << "emulator" << false << ENOENT;
    }

    void emulatorLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, mark);
        QFETCH(bool, alive);
        QFETCH(int, expected);
        PseudoTerminal pty, otherPty;
        QVERIFY(pty.open() && otherPty.open());
        const QString path = portsDirectory() + QStringLiteral("/com4");
        const QString target = link == QLatin1String("pty")         ? pty.slavePath()
                               : link == QLatin1String("other pty") ? otherPty.slavePath()
                                                                    : link;
        QVERIFY(QFile::link(target, path));
        const QByteArray markPath = QFile::encodeName(portsDirectory() + "/.com4.tarnavel-sim");
        const fsutil::Fd folder(::open(QFile::encodeName(portsDirectory()).constData(), O_RDONLY));
        const fsutil::Fd elsewhere(
            ::open(QFile::encodeName(m_config->path()).constData(), O_RDONLY));
        QString error;
        fsutil::Fd held;
        if (mark == QLatin1String("emulator"))
            held = fsutil::Fd(linkmark::claim(folder.get(), 4, pty.slavePath(), &error));
        else if (mark == QLatin1String("hand"))
            QVERIFY(linkmark::writeHandMark(folder.get(), 4, pty.slavePath(), &error));
        else if (mark == QLatin1String("com9"))
            held = fsutil::Fd(linkmark::claim(folder.get(), 9, pty.slavePath(), &error));
        else if (mark == QLatin1String("symlink"))
            held = fsutil::Fd(linkmark::claim(elsewhere.get(), 4, pty.slavePath(), &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        if (mark == QLatin1String("com9"))
            QVERIFY(::renameat(folder.get(), ".com9.tarnavel-sim", folder.get(), markPath) == 0);
        else if (mark == QLatin1String("symlink"))
            QVERIFY(QFile::link(m_config->filePath(".com4.tarnavel-sim"), markPath));
        else if (mark == QLatin1String("fifo"))
            QVERIFY(::mkfifo(markPath.constData(), 0600) == 0);
        else if (mark == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(markPath));
        else if (mark == QLatin1String("file"))
            QVERIFY(QFile(markPath).open(QIODevice::WriteOnly));
        if (!alive)
            held = fsutil::Fd(); // what SIGKILL does to the lock; the mark stays behind

        QtSerialPort port;
        port.setCommPort(4);
        try {
            port.setPortOpen(true);
            QCOMPARE(0, expected);
            QVERIFY(port.portOpen());
        } catch (const AppError& refused) {
            QVERIFY2(expected != 0, qPrintable(refused.text()));
            QCOMPARE(refused.number(), expected);
            QVERIFY(!port.portOpen());
            if (expected != ESTALE)
                return;
            for (const QString& part : {QStringLiteral("COM4"), path, target,
                                        QStringLiteral("stale"), QStringLiteral("rm '") + path})
                QVERIFY2(refused.description().contains(part), qPrintable(refused.text()));
            // Only a lock says whether an emulator runs: what a mark claims proves nothing.
            QVERIFY2(!refused.description().contains(QLatin1String("process")),
                     qPrintable(refused.text()));
        }
    }

    // The emulator behind a link ends, or the number is given to another device, between the
    // look at the link and the open: the terminal found there is refused before any setting
    // touches it, and the error says what happened.
    void changedBetweenLookAndOpen_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("said");
        QTest::newRow("the emulator ends")
            << "end" << ESTALE << "its emulator ended while it was being opened";
        QTest::newRow("ports unlink") << "unlink" << EAGAIN << "its link was removed";
        QTest::newRow("ports link elsewhere")
            << "relink" << EAGAIN << "its link was changed while it was being opened, to <other>";
        QTest::newRow("another emulator takes the number")
            << "takeover" << EAGAIN
            << "took the number while it was being opened, serving on "
               "<other>";
    }

    void changedBetweenLookAndOpen()
    {
        QFETCH(QString, change);
        QFETCH(int, expected);
        QFETCH(QString, said);
        PseudoTerminal pty, other;
        QVERIFY(pty.open() && other.open());
        said.replace(QLatin1String("<other>"), other.slavePath());
        linkCom(4, pty.slavePath());
        const fsutil::Fd folder(::open(QFile::encodeName(portsDirectory()).constData(), O_RDONLY));
        QString error;
        fsutil::Fd held(linkmark::claim(folder.get(), 4, pty.slavePath(), &error));
        QVERIFY2(held.isValid(), qPrintable(error));
        // Whoever has the terminal now: cooked, as a shell keeps it.
        const fsutil::Fd user(
            ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY));
        termios before{};
        QVERIFY(::tcgetattr(user.get(), &before) == 0);
        before.c_lflag |= ICANON | ECHO;
        QVERIFY(::tcsetattr(user.get(), TCSANOW, &before) == 0);

        QtSerialPort port;
        port.setCommPort(4);
        port.setAfterLook([&] {
            held = fsutil::Fd();
            if (change == QLatin1String("unlink"))
                QVERIFY(unlinkPort(4, &error, portsDirectory()));
            else if (change == QLatin1String("relink"))
                QVERIFY(linkPort(4, other.slavePath(), &error, portsDirectory(), true));
            else if (change == QLatin1String("takeover"))
                QVERIFY(
                    (held = fsutil::Fd(linkmark::claim(folder.get(), 4, other.slavePath(), &error)))
                        .isValid() &&
                    fsutil::replaceSymlinkAt(folder.get(), QStringLiteral("com4"),
                                             other.slavePath(), QString(), &error));
        });
        try {
            port.setPortOpen(true);
            QFAIL("a terminal nobody vouches for any more was opened");
        } catch (const AppError& refused) {
            QCOMPARE(refused.number(), expected);
            QVERIFY2(refused.description().contains(said), qPrintable(refused.text()));
        }
        QVERIFY(!port.portOpen());
        termios after{};
        int exclusive = 0;
        QVERIFY(::tcgetattr(user.get(), &after) == 0);
        QCOMPARE(after.c_lflag, before.c_lflag);
        QCOMPARE(after.c_iflag, before.c_iflag);
        QCOMPARE(after.c_cflag, before.c_cflag);
        QVERIFY(::ioctl(user.get(), TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    }

    // A folder or link that another user controls is never opened through, and never passed
    // over for /dev/ttyS(n-1): the error names the path, what is wrong and the cure.
    void foreignFolder_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("said");
        QTest::newRow("ports writable by all")
            << "chmod 777 ports" << EPERM << "(mode 0777), so another user decides";
        QTest::newRow("config group-writable, group shared")
            << "chmod 775 config" << EPERM << "(mode 0775), which bob belong(s) to as well";
        QTest::newRow("link of another user") << "chown link" << EPERM << "belongs to uid 4321";
        QTest::newRow("ports is a link") << "link ports" << EPERM << "symbolic link";
        QTest::newRow("unreadable to its user") << "nobody" << EACCES << "cannot read";
    }

    void foreignFolder()
    {
        QFETCH(QString, damage);
        QFETCH(int, expected);
        QFETCH(QString, said);
        PseudoTerminal pty;
        openLinkedPty(pty, 2);
        const QString ports = portsDirectory();
        const QString config = configDirectory();
        const QString link = ports + QStringLiteral("/com2");
        if (::geteuid() != 0 &&
            (damage.startsWith(QLatin1String("chown")) || damage == QLatin1String("nobody")))
            QSKIP("another user's files need root");
        // The folders' group has another member besides the user.
        FakeAccounts accounts;
        accounts.user(::geteuid(), QStringLiteral("me"))
            .user(4321, QStringLiteral("bob"))
            .group(::getegid(), {::geteuid(), 4321});
        QString named = damage.endsWith(QLatin1String("config")) ? config : ports;
        const QByteArray local = QFile::encodeName(named);
        if (damage.startsWith(QLatin1String("chmod")))
            QVERIFY(::chmod(local.constData(), damage.mid(6, 3).toUInt(nullptr, 8)) == 0);
        else if (damage == QLatin1String("chown link"))
            QVERIFY(::lchown(QFile::encodeName(named = link).constData(), 4321, 4321) == 0);
        else if (damage == QLatin1String("link ports"))
            QVERIFY(QDir().rename(ports, ports + QStringLiteral(".real")) &&
                    QFile::link(ports + QStringLiteral(".real"), ports));

        const auto refusal = [] {
            QtSerialPort port;
            port.setCommPort(2);
            try {
                port.setPortOpen(true);
            } catch (const AppError& error) {
                return std::make_pair(error.number(), error.description() + port.devicePath());
            }
            return std::make_pair(0, QString());
        };
        if (damage == QLatin1String("nobody")) {
            // Another user, against the user's private folder: an error, never COM2 = ttyS1.
            QVERIFY(::chmod(QFile::encodeName(config).constData(), 0700) == 0);
            const pid_t child = ::fork();
            if (child == 0) {
                const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
                const auto [number, text] = refusal();
                ::_exit(dropped && number == expected && text.contains(said) &&
                                !text.contains(QLatin1String("ttyS"))
                            ? 0
                            : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            return;
        }
        const auto [number, text] = refusal();
        QCOMPARE(number, expected);
        QVERIFY2(text.startsWith(QLatin1String("COM2: not opening it through the ports folder")),
                 qPrintable(text));
        QVERIFY2(text.contains(named + QLatin1Char(' ')) && text.contains(said), qPrintable(text));
    }

    void pseudoTerminalDetection_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("pseudo");
        QTest::newRow("pty slave") << QStringLiteral("<pty>") << true;
        QTest::newRow("link to pty slave") << QStringLiteral("<link>") << true;
        QTest::newRow("null device") << QStringLiteral("/dev/null") << false;
        QTest::newRow("pty multiplexer") << QStringLiteral("/dev/ptmx") << false;
        QTest::newRow("regular file") << QStringLiteral("<file>") << false;
        QTest::newRow("missing") << QStringLiteral("/dev/quorvex-nothing") << false;
    }

    void pseudoTerminalDetection()
    {
        QFETCH(QString, device);
        QFETCH(bool, pseudo);
        PseudoTerminal pty;
        QVERIFY2(pty.open(), qPrintable(pty.errorString()));
        if (device == QLatin1String("<pty>")) {
            device = pty.slavePath();
        } else if (device == QLatin1String("<link>")) {
            device = m_config->filePath(QStringLiteral("tty-link"));
            QVERIFY(QFile::link(pty.slavePath(), device));
        } else if (device == QLatin1String("<file>")) {
            device = m_config->filePath(QStringLiteral("7"));
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(QtSerialPort::isPseudoTerminal(device), pseudo);
    }
};

QTEST_GUILESS_MAIN(TestQtSerialPort)
#include "test_qtserialport.moc"
