#include "loop/eventwait.h"

#include <algorithm>

namespace morvandell {

EventWait::EventWait(EventLoop& loop)
    : m_loop(loop)
{}

EventWait::~EventWait()
{
    abort();
}

EventWait::Result EventWait::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    Active active;
    m_active.push_back(&active);
    if (m_active.size() == 1)
        waitingChanged(true);

    const auto deadline = EventLoop::Clock::now() + limit;
    bool timedOut = false;
    // The first test comes after one pass of event handling.
    m_loop.runOnce(EventLoop::Clock::now());
    while (!active.aborted && !condition()) {
        if (EventLoop::Clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        if (!m_loop.canRun()) { // the program is ending: nothing will arrive any more
            active.aborted = true;
            break;
        }
        m_loop.runOnce(deadline);
    }

    m_active.erase(std::remove(m_active.begin(), m_active.end(), &active), m_active.end());
    if (m_active.empty())
        waitingChanged(false);

    if (active.aborted)
        return Result::Aborted;
    if (!timedOut || condition())
        return Result::Satisfied;
    return Result::TimedOut;
}

void EventWait::wake()
{
    if (!m_active.empty())
        m_loop.wake();
}

void EventWait::abort()
{
    for (Active* a : m_active)
        a->aborted = true;
    if (!m_active.empty())
        m_loop.wake();
}

} // namespace morvandell
