#include "unix/polleventloop.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace morvandell {

PollEventLoop::PollEventLoop() = default;
PollEventLoop::~PollEventLoop() = default;

void PollEventLoop::runOnce(Clock::time_point deadline)
{
    bool handled = m_tasks.runDue();
    for (;;) {
        if (m_woken) {
            m_woken = false;
            return;
        }
        auto now = Clock::now();
        // Sleep until the deadline, the next timer, or input; without sleeping when something was handled
        // already or is waiting to run.
        const Clock::time_point until = m_tasks.sleepUntil(deadline);
        int timeout = 0;
        if (!handled && !m_tasks.hasPosted() && until > now)
            timeout = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1;
        std::vector<pollfd> fds;
        std::vector<int> ids;
        fds.reserve(m_watches.size());
        for (const auto& [id, w] : m_watches) {
            fds.push_back(pollfd{w.handle, POLLIN, 0});
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
        handled = m_tasks.runDue() || handled;
        now = Clock::now();
        if (handled || m_woken || now >= deadline) {
            m_woken = false;
            return;
        }
    }
}

} // namespace morvandell
