#pragma once

#include <QObject>
#include <QTimer>
#include <QtGlobal>

class IClock;

// What a reply wait does between two looks at the link: hand control to the event loop.
class IEventPump
{
public:
    virtual ~IEventPump() = default;
    // Process pending events, sleeping until at least one arrives or deadlineMs (on the
    // clock the waiter uses) has passed.
    virtual void waitForEvents(qint64 deadlineMs) = 0;
};

// Sleeps in the Qt event loop; a single-shot timer makes sure the deadline wakes it even when
// no other event comes.
class QtEventPump : public IEventPump
{
public:
    explicit QtEventPump(const IClock& clock);
    void waitForEvents(qint64 deadlineMs) override;

private:
    const IClock& m_clock;
    QTimer m_wake;
    qint64 m_wakeAt = 0;
};
