#pragma once

#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/serialport.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <functional>

class QSocketNotifier;
struct ComEntry;

// The serial control on a real device through QSerialPort. COMn is the link comN in the ports
// folder when there is one (normally a symlink to /dev/ttyUSB0 or the like), else
// /dev/ttyS(n-1). Opening refuses a folder or link that another user controls, a folder that
// cannot be read, and a link to a pseudo-terminal that nobody vouches for (see PortsFolder).
// The QSerialPort is a child object, so it can be found with findChild().
class QtSerialPort : public ISerialPort
{
    Q_OBJECT
public:
    // Error numbers of the serial control that programs of its era test for.
    static constexpr int ErrInvalidPropertyValue = 380;
    static constexpr int ErrInvalidPortNumber = 8002;
    static constexpr int ErrPortAlreadyOpen = 8005;
    static constexpr int ErrPortNotOpen = 8018;
    // The most the port keeps of what the line sends between two polls; a line that floods it
    // waits in the kernel (and is dropped there) instead of growing the program's memory.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;

    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int number) override;
    int commPort() const override { return m_commPort; }
    void setSettings(const QString& settings) override;
    QString settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setInputMode(int mode) override { m_inputMode = mode; }
    int inputMode() const { return m_inputMode; }
    void output(const QByteArray& data) override;
    QByteArray input() override;
    int inBufferCount() const override;

    // The device COMn stands for: the open device while open (or lost), otherwise where the
    // ports-folder link points now (followed to the end), the link or folder that opening
    // would refuse, or /dev/ttyS(n-1) without a link.
    QString devicePath() const override;
    bool deviceLost() const override { return m_deviceLost; }
    // Opens this device instead of what COMn stands for (a command line's device path);
    // empty: COMn again.
    void setDeviceOverride(const QString& path) { m_deviceOverride = path; }
    // The command a stale link's error offers to remove it, with %1 for the COM number (a
    // command line has one of its own); empty: rm and the link's path.
    void setStaleLinkRemoval(const QString& command) { m_staleLinkRemoval = command; }
    // 0: no limit. Only benchmarks change it, to show what the limit saves.
    void setReadBufferLimit(qint64 bytes);
    // Runs between the look at the ports folder and the open: tests change the folder there,
    // as another program may.
    void setAfterLook(std::function<void()> hook) { m_afterLook = std::move(hook); }

    // The error a failed open becomes. systemError is errno as the open left it (0 when
    // unknown, it may be stale); qtMessage is QSerialPort::errorString(), the only sign of a
    // lock file held by another process. commPort 0: a device given by its path.
    static AppError openError(QSerialPort::SerialPortError error, int systemError,
                              const QString& qtMessage, const QString& device, int commPort);
    // Unix98 pseudo-terminal slaves refuse parity and data-bit changes that a real line would
    // take, so those refusals only matter on real devices.
    static bool isPseudoTerminal(const QString& device);

private:
    struct LineSettings {
        qint32 speed = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };

    static LineSettings parseSettings(const QString& text);
    void applySettings();
    void checkSetting(bool ok, int systemError, const QString& what, bool ptyMayRefuse);
    void handleError(QSerialPort::SerialPortError error);
    // True when the open device has gone: a hang-up on the line, a line-control call failing
    // with EIO, ENXIO or ENODEV, or its device node removed or replaced.
    bool lineGone() const;
    // Looks at the line once; marks the port lost when the device has gone.
    bool checkLine();
    void watchLine();
    void unwatchLine();
    void onLineActivity();
    void closeDevice();
    void markLost();
    ComEntry comEntry() const;
    QString deviceFor(const ComEntry& entry) const;
    // Opens what the ports folder entry approved, with no setting, and checks it on the open
    // descriptor; an invalid Fd when there is nothing to hold (no link, not a device).
    fsutil::Fd holdApproved(const ComEntry& entry, const QString& device) const;
    static QSerialPort::SerialPortError errorKindOf(int systemError);
    AppError linkRefusal(const ComEntry& entry) const;
    AppError staleLinkError(const ComEntry& entry, const QString& reason) const;
    AppError changedWhileOpening(const ComEntry& before, const ComEntry& now) const;
    AppError withAdapterHint(const AppError& failure, const ComEntry& entry) const;
    AppError notOpenError() const;
    QString portLabel() const;
    // The COM number the port goes by, or 0 for a device given by its path, which is named by
    // that path alone.
    int namedPort() const { return m_deviceOverride.isEmpty() ? m_commPort : 0; }
    static QString placeName(int commPort, const QString& device);

    QSerialPort* m_port;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    LineSettings m_line;
    int m_inputMode = 0;
    QString m_openDevice;
    QString m_deviceOverride;
    QString m_staleLinkRemoval;
    bool m_pseudoTerminal = false;
    // A second descriptor of the open device, watched for a hang-up: Qt 6.8 reads a hung-up
    // line as empty and says nothing, where Qt 6.4 raised a read error.
    int m_watchFd = -1;
    QSocketNotifier* m_watch = nullptr;
    // Set when the device vanished under an open port; cleared by the next open or close.
    bool m_deviceLost = false;
    std::function<void()> m_afterLook;
};
