#pragma once

#include "serial/eventloop.h"
#include "serial/looptasks.h"

#include <map>
#include <vector>

namespace morvandell {

// An event loop for programs without windows (the command-line tool, the simulator, tests): poll() over
// the watched descriptors, with timers and posted tasks. wake() from the loop's own thread.
class PollEventLoop final : public EventLoop
{
public:
    PollEventLoop();
    ~PollEventLoop() override;

    int watch(WaitHandle handle, std::function<void()> ready) override;
    void unwatch(int id) override;
    void post(std::function<void()> task) override;
    int startTimer(std::chrono::milliseconds delay, std::function<void()> task) override;
    void cancelTimer(int id) override;
    void runOnce(Clock::time_point deadline) override;
    void wake() override { m_woken = true; }

    // Runs until quit() (for programs whose whole life is this loop).
    void run();
    void quit() { m_quit = true; }

private:
    struct Watch
    {
        int fd;
        std::function<void()> ready;
    };

    std::map<int, Watch> m_watches;
    LoopTasks m_tasks;
    int m_lastId = 0;
    bool m_woken = false;
    bool m_quit = false;
};

} // namespace morvandell
