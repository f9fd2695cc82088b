#include "link/linkdriver.h"

#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/serialport.h"

LinkDriver::LinkDriver(ReaderLink& link, int pollMs, QObject* parent)
    : QObject(parent), m_link(link)
{
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, &m_link, [this] { m_link.tmrCheckComms_Timer(); });
}

LinkDriver::~LinkDriver()
{
    m_poll.stop();
}

void LinkDriver::setEager(bool eager)
{
    disconnect(&m_link.port(), &ISerialPort::dataArrived, this, nullptr);
    if (eager)
        connect(&m_link.port(), &ISerialPort::dataArrived, this,
                [this] { m_link.tmrCheckComms_Timer(); });
}

void LinkDriver::configure(int commPort, const QString& lineSettings)
{
    m_link.port().setCommPort(commPort);
    m_link.port().setSettings(lineSettings);
    m_configured = true;
}

void LinkDriver::open()
{
    ISerialPort& port = m_link.port();
    if (!port.portOpen())
        port.setPortOpen(true);
    port.setInputMode(0);
    m_link.endWait();
    m_poll.start();
}

void LinkDriver::close()
{
    m_poll.stop();
    try {
        if (m_link.port().portOpen())
            m_link.port().setPortOpen(false);
    } catch (const AppError&) {
    }
}

#include "moc_linkdriver.cpp"
