#pragma once

#include "loop/eventloop.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>

namespace morvandell {

// The posted tasks and single-shot timers of an event loop, kept alike by every loop that does not have
// its own (the poll loop, the Windows wait loop, the Win32 message pump): what is due runs in order,
// tasks first, each pass taking only what was due when it began.
class LoopTasks
{
public:
    using Clock = EventLoop::Clock;

    // Ids come from the loop, which numbers its watches and timers in one sequence.
    void post(std::function<void()> task) { m_posted.push_back(std::move(task)); }
    void startTimer(int id, Clock::time_point due, std::function<void()> task);
    // False when no such timer was waiting (it ran, or was cancelled).
    bool cancelTimer(int id) { return m_timers.erase(id) > 0; }

    // Runs the posted tasks and the timers due now; tasks posted or timers started by these wait for
    // the next pass. True when anything ran.
    bool runDue();

    bool hasPosted() const { return !m_posted.empty(); }
    bool hasTimers() const { return !m_timers.empty(); }
    // When the next timer is due; none without timers.
    std::optional<Clock::time_point> nextDue() const;
    // The earlier of `deadline` and the next timer.
    Clock::time_point sleepUntil(Clock::time_point deadline) const;

private:
    struct Timer
    {
        Clock::time_point due;
        std::function<void()> task;
    };
    std::map<int, Timer> m_timers;
    std::deque<std::function<void()>> m_posted;
};

// An event loop that keeps its watches, tasks and timers itself; a platform's loop adds only how it
// sleeps and what wakes it (runOnce). wake() from the loop's own thread.
class OwnEventLoop : public EventLoop
{
public:
    int watch(WaitHandle handle, std::function<void()> ready) override;
    void unwatch(int id) override;
    void post(std::function<void()> task) override { m_tasks.post(std::move(task)); }
    int startTimer(std::chrono::milliseconds delay, std::function<void()> task) override;
    void cancelTimer(int id) override { m_tasks.cancelTimer(id); }
    void wake() override { m_woken = true; }

    // Runs until quit() (for programs whose whole life is this loop).
    void run();
    void quit() { m_quit = true; }

protected:
    struct Watch
    {
        WaitHandle handle;
        std::function<void()> ready;
    };

    std::map<int, Watch> m_watches;
    LoopTasks m_tasks;
    bool m_woken = false;
    bool m_quit = false;

private:
    int m_lastId = 0;
};

} // namespace morvandell
