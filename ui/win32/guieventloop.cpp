#include "ui/win32/guieventloop.h"

#include <algorithm>

namespace morvandell::win32 {

namespace {

constexpr UINT WatchMessage = WM_APP + 1; // wParam: the watch's id
constexpr UINT PostedMessage = WM_APP + 2;
constexpr UINT_PTR SafetyTimerId = 1;
// Messages dispatched in one pass at most, so that a steady stream of them (a fast serial input) lets
// a wait test its condition in between.
constexpr int MessagesPerPass = 64;
constexpr const wchar_t* WindowClass = L"MorvandellEventLoop";

// Whole milliseconds until `until`, rounded up so that a sleep never ends before it.
DWORD millisecondsUntil(EventLoop::Clock::time_point until, EventLoop::Clock::time_point now)
{
    if (until <= now)
        return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(until - now).count();
    const long long ms = (us + 999) / 1000;
    constexpr long long longest = 24LL * 3600 * 1000; // far below INFINITE
    return DWORD(std::min(ms, longest));
}

} // namespace

struct GuiEventLoop::Watch
{
    int id = 0;
    HANDLE handle = nullptr;
    HWND window = nullptr;
    std::function<void()> ready;
    HANDLE wait = nullptr; // the thread pool's registration while armed
};

GuiEventLoop::GuiEventLoop()
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = WindowClass;
    ::RegisterClassExW(&wc); // fails harmlessly when a second loop registers it again
    m_window = ::CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

GuiEventLoop::~GuiEventLoop()
{
    for (auto& [id, w] : m_watches)
        disarm(*w);
    m_watches.clear();
    if (m_window) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::KillTimer(m_window, SafetyTimerId);
        ::DestroyWindow(m_window);
    }
}

void CALLBACK GuiEventLoop::handleSignalled(void* context, BOOLEAN)
{
    // A thread-pool thread: only hand the news to the loop's thread.
    const auto* w = static_cast<const Watch*>(context);
    ::PostMessageW(w->window, WatchMessage, WPARAM(w->id), 0);
}

void GuiEventLoop::arm(Watch& w)
{
    if (w.wait || !w.handle)
        return;
    if (!::RegisterWaitForSingleObject(&w.wait, w.handle, handleSignalled, &w, INFINITE,
                                       WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD))
        w.wait = nullptr;
}

void GuiEventLoop::disarm(Watch& w)
{
    if (!w.wait)
        return;
    // Waits until a callback that is running has returned, so that `w` may go away afterwards.
    ::UnregisterWaitEx(w.wait, INVALID_HANDLE_VALUE);
    w.wait = nullptr;
}

int GuiEventLoop::watch(WaitHandle handle, std::function<void()> ready)
{
    const int id = ++m_lastId;
    auto w = std::make_unique<Watch>();
    w->id = id;
    w->handle = static_cast<HANDLE>(handle);
    w->window = m_window;
    w->ready = std::move(ready);
    arm(*w);
    m_watches.emplace(id, std::move(w));
    return id;
}

void GuiEventLoop::unwatch(int id)
{
    const auto it = m_watches.find(id);
    if (it == m_watches.end())
        return;
    disarm(*it->second);
    m_watches.erase(it);
}

void GuiEventLoop::serveWatch(int id)
{
    auto it = m_watches.find(id);
    if (it == m_watches.end())
        return; // unwatched after the handle was signalled
    disarm(*it->second);
    auto ready = it->second->ready; // ready() may unwatch itself
    ready();
    it = m_watches.find(id);
    if (it != m_watches.end())
        arm(*it->second); // fires at once when the input was left waiting
}

void GuiEventLoop::post(std::function<void()> task)
{
    m_tasks.post(std::move(task));
    if (!m_postPending && m_window) {
        m_postPending = true;
        ::PostMessageW(m_window, PostedMessage, 0, 0);
    }
}

int GuiEventLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> task)
{
    const int id = ++m_lastId;
    m_tasks.startTimer(id, Clock::now() + delay, std::move(task));
    armSafetyTimer();
    return id;
}

void GuiEventLoop::cancelTimer(int id)
{
    if (m_tasks.cancelTimer(id))
        armSafetyTimer();
}

void GuiEventLoop::armSafetyTimer()
{
    if (!m_window)
        return;
    const auto next = m_tasks.nextDue();
    if (!next) {
        ::KillTimer(m_window, SafetyTimerId);
        return;
    }
    const DWORD ms = millisecondsUntil(*next, Clock::now());
    ::SetTimer(m_window, SafetyTimerId, std::max<DWORD>(ms, USER_TIMER_MINIMUM), nullptr);
}

bool GuiEventLoop::runDue()
{
    const bool ran = m_tasks.runDue();
    if (ran)
        armSafetyTimer();
    return ran;
}

bool GuiEventLoop::pumpMessages()
{
    bool any = false;
    MSG msg;
    for (int i = 0; i < MessagesPerPass && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        any = true;
        if (msg.message == WM_QUIT) {
            m_quitting = true;
            m_exitCode = int(msg.wParam);
            break;
        }
        bool taken = false;
        const auto filters = m_filters; // a filter may add or remove filters
        for (const auto& [id, filter] : filters) {
            if (filter(msg)) {
                taken = true;
                break;
            }
        }
        if (taken)
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return any;
}

void GuiEventLoop::runOnce(Clock::time_point deadline)
{
    bool handled = runDue();
    for (;;) {
        handled = pumpMessages() || handled;
        handled = runDue() || handled;
        if (m_woken || m_quitting) {
            m_woken = false;
            return;
        }
        const auto now = Clock::now();
        if (handled || now >= deadline)
            return;
        const Clock::time_point until = m_tasks.sleepUntil(deadline);
        ::MsgWaitForMultipleObjectsEx(0, nullptr, millisecondsUntil(until, now), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
}

int GuiEventLoop::addMessageFilter(std::function<bool(MSG&)> filter)
{
    const int id = ++m_lastId;
    m_filters.emplace_back(id, std::move(filter));
    return id;
}

void GuiEventLoop::removeMessageFilter(int id)
{
    m_filters.erase(std::remove_if(m_filters.begin(), m_filters.end(),
                                   [id](const auto& f) { return f.first == id; }),
                    m_filters.end());
}

int GuiEventLoop::run()
{
    while (!m_quitting)
        runOnce(Clock::now() + std::chrono::hours(1));
    return m_exitCode;
}

void GuiEventLoop::quit(int exitCode)
{
    m_exitCode = exitCode;
    m_quitting = true;
    m_woken = true;
}

LRESULT CALLBACK GuiEventLoop::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* loop = reinterpret_cast<GuiEventLoop*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (loop) {
        switch (message) {
        case WatchMessage:
            loop->serveWatch(int(wParam));
            return 0;
        case PostedMessage:
            loop->m_postPending = false;
            loop->runDue();
            return 0;
        case WM_TIMER:
            if (wParam == SafetyTimerId) {
                ::KillTimer(hwnd, SafetyTimerId);
                loop->runDue();
                loop->armSafetyTimer();
                return 0;
            }
            break;
        default:
            break;
        }
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace morvandell::win32
