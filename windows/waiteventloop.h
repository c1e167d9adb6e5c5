#pragma once

#include "serial/eventloop.h"
#include "serial/looptasks.h"

#include <functional>
#include <map>
#include <vector>

namespace morvandell {

// The event loop on Windows: WaitForMultipleObjects over the watched handles (events that stay
// signalled while their input waits), with timers and posted tasks. A program with windows sets a
// message pump: the loop then also wakes for the thread's window messages and lets the pump handle them,
// so windows stay alive while a wait runs. wake() from the loop's own thread.
class WaitEventLoop final : public EventLoop
{
public:
    // Handles every window message that is waiting and returns at once; true when it handled any.
    // False from canRun() once it saw WM_QUIT (the pump says so through quit()).
    using MessagePump = std::function<bool()>;

    WaitEventLoop();
    ~WaitEventLoop() override;

    int watch(WaitHandle handle, std::function<void()> ready) override;
    void unwatch(int id) override;
    void post(std::function<void()> task) override;
    int startTimer(std::chrono::milliseconds delay, std::function<void()> task) override;
    void cancelTimer(int id) override;
    void runOnce(Clock::time_point deadline) override;
    void wake() override { m_woken = true; }
    bool canRun() const override { return !m_quit; }

    void setMessagePump(MessagePump pump) { m_pump = std::move(pump); }

    // Runs until quit() (for programs whose whole life is this loop).
    void run();
    void quit() { m_quit = true; }

    // At most this many handles are slept on at once (one place is kept for the window messages);
    // beyond it the loop looks at the rest every LongWaitStep.
    static constexpr std::size_t MaxSleepHandles = 63;
    static constexpr std::chrono::milliseconds LongWaitStep{10};

private:
    struct Watch
    {
        WaitHandle handle;
        std::function<void()> ready;
    };
    // Calls the handlers of every watched handle that is signalled now; true when any was.
    bool dispatchSignalled();

    std::map<int, Watch> m_watches;
    LoopTasks m_tasks;
    MessagePump m_pump;
    int m_lastId = 0;
    bool m_woken = false;
    bool m_quit = false;
};

} // namespace morvandell
