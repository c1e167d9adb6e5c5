#pragma once

#include "platform/signal.h"
#include "loop/eventloop.h"

#include <chrono>
#include <functional>
#include <vector>

namespace morvandell {

// The one way this program waits for the display: it lets the event loop handle events and sleep until
// the next one (the receivers run meanwhile and set the flags), tests the condition after each, and ends
// on the condition, its time limit or abort(). Nothing polls: whoever changes a flag that a wait may be
// testing calls wake(); the port's input wakes the loop by itself.
class EventWait
{
public:
    enum class Result { Satisfied, TimedOut, Aborted };

    explicit EventWait(EventLoop& loop);
    ~EventWait();
    EventWait(const EventWait&) = delete;
    EventWait& operator=(const EventWait&) = delete;

    // Runs until condition() holds, the time limit runs out, or abort(). The first test comes after one
    // pass of event handling. Waits may nest (a handler that runs inside a wait may wait itself); the
    // inner one ends first.
    Result waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

    // A flag changed: the running waits test their conditions again.
    void wake();
    // Ends every running wait (window closed, device gone, Ctrl+C).
    void abort();
    bool isWaiting() const { return !m_active.empty(); }
    EventLoop& loop() const { return m_loop; }

    // A wait began (true) or the last one ended (false): windows disable their sending buttons on it.
    Signal<bool> waitingChanged;

private:
    struct Active
    {
        bool aborted = false;
    };
    EventLoop& m_loop;
    std::vector<Active*> m_active;
};

} // namespace morvandell
