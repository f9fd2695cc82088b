#pragma once

#include "platform/clock.h"

class ManualClock : public IClock
{
public:
    qint64 ms() const override { return m_now; }
    void advance(qint64 ms) { m_now += ms; }
    void set(qint64 ms) { m_now = ms; }

private:
    qint64 m_now = 1000;
};
