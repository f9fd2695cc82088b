#include "support/link/manualpump.h"

#include "link/readerlink.h"
#include "support/manualclock.h"

#include <QCoreApplication>

void ManualPump::waitForEvents(qint64)
{
    ++passes;
    QCoreApplication::processEvents();
    if (onPass)
        onPass();
    m_clock.advance(stepMs);
    if (m_link)
        m_link->tmrCheckComms_Timer();
}
