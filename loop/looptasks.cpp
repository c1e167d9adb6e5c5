#include "loop/looptasks.h"

#include <algorithm>
#include <vector>

namespace morvandell {

void LoopTasks::startTimer(int id, Clock::time_point due, std::function<void()> task)
{
    m_timers[id] = Timer{due, std::move(task)};
}

bool LoopTasks::runDue()
{
    bool ran = false;
    std::deque<std::function<void()>> posted;
    posted.swap(m_posted);
    for (auto& task : posted) {
        task();
        ran = true;
    }
    const auto now = Clock::now();
    std::vector<int> due;
    for (const auto& [id, timer] : m_timers)
        if (timer.due <= now)
            due.push_back(id);
    for (const int id : due) {
        const auto it = m_timers.find(id);
        if (it == m_timers.end())
            continue; // cancelled by an earlier one
        auto task = std::move(it->second.task);
        m_timers.erase(it);
        task();
        ran = true;
    }
    return ran;
}

std::optional<LoopTasks::Clock::time_point> LoopTasks::nextDue() const
{
    std::optional<Clock::time_point> next;
    for (const auto& [id, timer] : m_timers)
        if (!next || timer.due < *next)
            next = timer.due;
    return next;
}

LoopTasks::Clock::time_point LoopTasks::sleepUntil(Clock::time_point deadline) const
{
    const auto next = nextDue();
    return next ? std::min(deadline, *next) : deadline;
}

int OwnEventLoop::watch(WaitHandle handle, std::function<void()> ready)
{
    const int id = ++m_lastId;
    m_watches[id] = Watch{handle, std::move(ready)};
    return id;
}

void OwnEventLoop::unwatch(int id)
{
    m_watches.erase(id);
}

int OwnEventLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> task)
{
    const int id = ++m_lastId;
    m_tasks.startTimer(id, Clock::now() + delay, std::move(task));
    return id;
}

void OwnEventLoop::run()
{
    m_quit = false;
    while (!m_quit)
        runOnce(Clock::now() + std::chrono::hours(1));
}

} // namespace morvandell
