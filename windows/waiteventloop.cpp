#include "windows/waiteventloop.h"

#include <algorithm>
#include <windows.h>

namespace morvandell {

WaitEventLoop::WaitEventLoop() = default;
WaitEventLoop::~WaitEventLoop() = default;

bool WaitEventLoop::dispatchSignalled()
{
    std::vector<int> ids;
    ids.reserve(m_watches.size());
    for (const auto& [id, w] : m_watches)
        ids.push_back(id);
    bool any = false;
    for (const int id : ids) {
        const auto it = m_watches.find(id);
        if (it == m_watches.end())
            continue; // unwatched by an earlier handler
        if (::WaitForSingleObject(it->second.handle, 0) != WAIT_OBJECT_0)
            continue;
        auto ready = it->second.ready; // the handler may unwatch itself
        ready();
        any = true;
    }
    return any;
}

void WaitEventLoop::runOnce(Clock::time_point deadline)
{
    bool handled = m_tasks.runDue();
    if (m_pump)
        handled = m_pump() || handled;
    for (;;) {
        if (m_woken) {
            m_woken = false;
            return;
        }
        auto now = Clock::now();
        // Sleep until the deadline, the next timer, input or a window message; without sleeping when
        // something was handled already or is waiting to run.
        const Clock::time_point until = m_tasks.sleepUntil(deadline);
        DWORD timeout = 0;
        if (!handled && !m_tasks.hasPosted() && until > now) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
            timeout = DWORD(std::min<long long>(ms, 0x7FFFFFFF));
        }
        std::vector<HANDLE> handles;
        for (const auto& [id, w] : m_watches) {
            if (handles.size() == MaxSleepHandles) {
                timeout = std::min<DWORD>(timeout, DWORD(LongWaitStep.count()));
                break;
            }
            handles.push_back(static_cast<HANDLE>(w.handle));
        }
        DWORD result = WAIT_TIMEOUT;
        if (m_pump)
            result = ::MsgWaitForMultipleObjectsEx(DWORD(handles.size()), handles.data(), timeout, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        else if (!handles.empty())
            result = ::WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, timeout);
        else if (timeout > 0)
            ::Sleep(timeout);
        if (result == WAIT_FAILED && timeout > 0)
            ::Sleep(std::min<DWORD>(timeout, DWORD(LongWaitStep.count()))); // a handle closed under us: never spin
        if (m_pump)
            handled = m_pump() || handled;
        handled = dispatchSignalled() || handled;
        handled = m_tasks.runDue() || handled;
        now = Clock::now();
        if (handled || m_woken || m_quit || now >= deadline) {
            m_woken = false;
            return;
        }
    }
}

} // namespace morvandell
