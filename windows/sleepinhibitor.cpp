// The sleep inhibitor on Windows: the thread's execution state keeps the system from sleeping while it
// is idle. It is set and given back at once, on the program's one thread; nothing comes later.
#include "updater/sleepinhibitor.h"

#include <windows.h>

namespace morvandell {

namespace {

class ExecutionStateInhibitor final : public SleepInhibitor::Backend
{
public:
    ~ExecutionStateInhibitor() override { release(); }

    void request() override
    {
        if (m_held)
            return;
        m_held = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }

    void release() override
    {
        if (!m_held)
            return;
        ::SetThreadExecutionState(ES_CONTINUOUS);
        m_held = false;
    }

    bool isHeld() const override { return m_held; }

private:
    bool m_held = false;
};

} // namespace

std::unique_ptr<SleepInhibitor::Backend> SleepInhibitor::Backend::system(EventLoop&, std::function<void()>)
{
    return std::make_unique<ExecutionStateInhibitor>();
}

} // namespace morvandell
