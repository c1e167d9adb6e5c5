// The sleep inhibitor on Windows: the loop thread's execution state asks the system to stay awake for as
// long as it is set; ES_CONTINUOUS alone clears it again.
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
        if (m_set)
            return;
        m_set = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }

    void release() override
    {
        if (!m_set)
            return;
        SetThreadExecutionState(ES_CONTINUOUS);
        m_set = false;
    }

    bool isHeld() const override { return m_set; }

private:
    bool m_set = false;
};

} // namespace

std::unique_ptr<SleepInhibitor::Backend> SleepInhibitor::Backend::system(EventLoop&, std::function<void()>)
{
    return std::make_unique<ExecutionStateInhibitor>();
}

} // namespace morvandell
