#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Milliseconds on a monotonic clock: never wraps, never jumps with the wall clock.
class IClock
{
public:
    virtual ~IClock() = default;
    virtual qint64 ms() const = 0;
};

class SystemClock : public IClock
{
public:
    SystemClock() { m_timer.start(); }
    qint64 ms() const override { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
};
