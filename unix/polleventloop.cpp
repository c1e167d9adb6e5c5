#include "unix/polleventloop.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace morvandell {

PollEventLoop::PollEventLoop() = default;
PollEventLoop::~PollEventLoop() = default;

int PollEventLoop::watch(WaitHandle handle, std::function<void()> ready)
{
    const int id = ++m_lastId;
    m_watches[id] = Watch{handle, std::move(ready)};
    return id;
}

void PollEventLoop::unwatch(int id)
{
    m_watches.erase(id);
}

void PollEventLoop::post(std::function<void()> task)
{
    m_posted.push_back(std::move(task));
}

int PollEventLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> task)
{
    const int id = ++m_lastId;
    m_timers[id] = Timer{Clock::now() + delay, std::move(task)};
    return id;
}

void PollEventLoop::cancelTimer(int id)
{
    m_timers.erase(id);
}

bool PollEventLoop::runDue()
{
    bool ran = false;
    // Only what is due now: tasks posted or timers started by these run at the next pass.
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

void PollEventLoop::runOnce(Clock::time_point deadline)
{
    bool handled = runDue();
    for (;;) {
        if (m_woken) {
            m_woken = false;
            return;
        }
        auto now = Clock::now();
        // Sleep until the deadline, the next timer, or input; without sleeping when something was handled
        // already or is waiting to run.
        Clock::time_point until = deadline;
        for (const auto& [id, timer] : m_timers)
            until = std::min(until, timer.due);
        int timeout = 0;
        if (!handled && m_posted.empty() && until > now)
            timeout = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1;
        std::vector<pollfd> fds;
        std::vector<int> ids;
        fds.reserve(m_watches.size());
        for (const auto& [id, w] : m_watches) {
            fds.push_back(pollfd{w.fd, POLLIN, 0});
            ids.push_back(id);
        }
        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            n = 0;
        for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const auto it = m_watches.find(ids[i]);
            if (it == m_watches.end())
                continue; // unwatched by an earlier handler
            auto ready = it->second.ready; // the handler may unwatch itself
            ready();
            handled = true;
        }
        handled = runDue() || handled;
        now = Clock::now();
        if (handled || m_woken || now >= deadline) {
            m_woken = false;
            return;
        }
    }
}

void PollEventLoop::run()
{
    m_quit = false;
    while (!m_quit)
        runOnce(Clock::now() + std::chrono::hours(1));
}

} // namespace morvandell
