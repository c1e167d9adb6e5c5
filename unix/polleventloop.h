#pragma once

#include "loop/eventloop.h"
#include "loop/looptasks.h"

namespace morvandell {

// An event loop for programs without windows (the command-line tool, the simulator, tests): poll() over
// the watched descriptors, with timers and posted tasks. wake() from the loop's own thread.
class PollEventLoop final : public OwnEventLoop
{
public:
    PollEventLoop();
    ~PollEventLoop() override;

    void runOnce(Clock::time_point deadline) override;
};

} // namespace morvandell
