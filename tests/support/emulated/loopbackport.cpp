#include "support/emulated/loopbackport.h"

#include "platform/apperror.h"

#include <cerrno>

LoopbackPort::LoopbackPort(QObject* parent)
    : ISerialPort(parent), m_own(std::make_unique<ReaderModel>()), m_model(*m_own)
{
}

LoopbackPort::LoopbackPort(ReaderModel& model, QObject* parent)
    : ISerialPort(parent), m_model(model)
{
}

LoopbackPort::~LoopbackPort() = default;

void LoopbackPort::setPortOpen(bool open)
{
    if (open && openFailures > 0) {
        --openFailures;
        throw AppError(
            ENOENT, QStringLiteral("Cannot open COM%1: No such file or directory").arg(m_commPort));
    }
    if (!open)
        m_queue.clear();
    m_open = open;
    m_lost = false;
}

void LoopbackPort::output(const QByteArray& data)
{
    if (loseOnWrite) {
        loseOnWrite = false;
        pullCable();
    }
    if (!m_open)
        throw AppError(EBADF, QStringLiteral("COM%1 is not open").arg(m_commPort));
    written.append(data);
    m_queue.append(m_model.receive(data));
}

QByteArray LoopbackPort::input()
{
    if (!m_open)
        return QByteArray();
    if (m_queue.isEmpty() && autoSwipe && m_model.isArmed()) {
        const QByteArray status = m_model.swipe();
        if (!status.isEmpty())
            ++autoSwipes;
        m_queue.append(status);
    }
    const int split = m_model.splitSize();
    const qsizetype take = split > 0 ? qMin<qsizetype>(split, m_queue.size()) : m_queue.size();
    const QByteArray piece = m_queue.left(take);
    m_queue.remove(0, take);
    return piece;
}

int LoopbackPort::inBufferCount() const
{
    return m_open ? int(m_queue.size()) : 0;
}

QByteArray LoopbackPort::swipe()
{
    const QByteArray status = m_model.swipe();
    if (m_open)
        m_queue.append(status);
    return status;
}

QByteArray LoopbackPort::swipe(int card)
{
    const QByteArray status = m_model.swipe(card);
    if (m_open)
        m_queue.append(status);
    return status;
}

void LoopbackPort::pullCable()
{
    if (!m_open)
        return;
    m_open = false;
    m_lost = true;
    m_queue.clear();
    m_model.clearInput();
    emit onComm();
    emit lost();
}
