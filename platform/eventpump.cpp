#include "platform/eventpump.h"

#include "platform/clock.h"

#include <QCoreApplication>
#include <QEventLoop>

QtEventPump::QtEventPump(const IClock& clock) : m_clock(clock)
{
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
}

void QtEventPump::waitForEvents(qint64 deadlineMs)
{
    const qint64 now = m_clock.ms();
    // "Past the deadline" means strictly later, so wake one millisecond after it.
    const qint64 remaining = deadlineMs - now + 1;
    if (remaining > 0 && (!m_wake.isActive() || m_wakeAt > deadlineMs)) {
        m_wakeAt = deadlineMs;
        m_wake.start(int(qMin<qint64>(remaining, std::numeric_limits<int>::max())));
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
