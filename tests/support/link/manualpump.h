#pragma once

#include "platform/eventpump.h"

#include <functional>

class ManualClock;
class ReaderLink;

// A reply wait's pass in tests: run pending events without sleeping, then act as one 200 ms
// poll period: advance the manual clock and run the poll tick. onPass runs first, so a test
// can press a button, swipe a card or pull the cable in the middle of a wait.
class ManualPump : public IEventPump
{
public:
    ManualPump(ManualClock& clock) : m_clock(clock) {}
    void setLink(ReaderLink* link) { m_link = link; }
    void waitForEvents(qint64 deadlineMs) override;

    std::function<void()> onPass;
    int passes = 0;
    qint64 stepMs = 200;

private:
    ManualClock& m_clock;
    ReaderLink* m_link = nullptr;
};
