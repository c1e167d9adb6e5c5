#pragma once

#include "loop/eventloop.h"
#include "loop/looptasks.h"

#include <functional>
#include <map>
#include <vector>

namespace morvandell {

// The event loop on Windows: WaitForMultipleObjects over the watched handles (events that stay
// signalled while their input waits), with timers and posted tasks. A program with windows sets a
// message pump: the loop then also wakes for the thread's window messages and lets the pump handle them,
// so windows stay alive while a wait runs. wake() from the loop's own thread.
class WaitEventLoop final : public OwnEventLoop
{
public:
    // Handles every window message that is waiting and returns at once; true when it handled any.
    // False from canRun() once it saw WM_QUIT (the pump says so through quit()).
    using MessagePump = std::function<bool()>;

    WaitEventLoop();
    ~WaitEventLoop() override;

    void runOnce(Clock::time_point deadline) override;
    bool canRun() const override { return !m_quit; }

    void setMessagePump(MessagePump pump) { m_pump = std::move(pump); }

    // At most this many handles are slept on at once (one place is kept for the window messages);
    // beyond it the loop looks at the rest every LongWaitStep.
    static constexpr std::size_t MaxSleepHandles = 63;
    static constexpr std::chrono::milliseconds LongWaitStep{10};

private:
    // Calls the handlers of every watched handle that is signalled now; true when any was.
    bool dispatchSignalled();

    MessagePump m_pump;
};

} // namespace morvandell
