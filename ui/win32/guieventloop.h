#pragma once

#include "loop/eventloop.h"
#include "loop/looptasks.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace morvandell::win32 {

// The event loop of the Win32 windows: a message pump that sleeps in MsgWaitForMultipleObjectsEx until
// a window message arrives or the deadline (or the next timer) is due. Never a busy loop.
//
// Watched handles and due timers are delivered as messages to a message-only window of the loop, so
// that they are served in every message loop of the thread: this one, and the ones Windows runs by
// itself (a message box, the file dialogs, moving or sizing a window, a context menu). A transfer's
// answers are thus taken while the user drags a window, and the wait that expects them finds them when
// it goes on. The thread pool waits on the handles and posts; timers are kept here, and the pump's
// sleep ends at the next one (a single-shot WM_TIMER at the same time covers Windows' own loops).
class GuiEventLoop final : public EventLoop
{
public:
    GuiEventLoop();
    ~GuiEventLoop() override;
    GuiEventLoop(const GuiEventLoop&) = delete;
    GuiEventLoop& operator=(const GuiEventLoop&) = delete;

    int watch(WaitHandle handle, std::function<void()> ready) override;
    void unwatch(int id) override;
    void post(std::function<void()> task) override;
    int startTimer(std::chrono::milliseconds delay, std::function<void()> task) override;
    void cancelTimer(int id) override;
    void runOnce(Clock::time_point deadline) override;
    void wake() override { m_woken = true; }
    bool canRun() const override { return !m_quitting; }

    // Offered every message before it is dispatched (accelerators, the dialog keys of windows and
    // modeless dialogs); a filter returns true when it has taken the message.
    int addMessageFilter(std::function<bool(MSG&)> filter);
    void removeMessageFilter(int id);

    // Runs until quit() (or WM_QUIT); returns the exit code.
    int run();
    void quit(int exitCode = 0);
    bool isQuitting() const { return m_quitting; }

private:
    struct Watch;

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK handleSignalled(void* context, BOOLEAN timedOut);
    void arm(Watch& w);
    void disarm(Watch& w);
    void serveWatch(int id);
    // Runs posted tasks and due timers; true when anything ran.
    bool runDue();
    // Dispatches the messages that are waiting; true when there were any.
    bool pumpMessages();
    void armSafetyTimer();

    HWND m_window = nullptr;
    std::map<int, std::unique_ptr<Watch>> m_watches;
    LoopTasks m_tasks;
    bool m_postPending = false; // a message announcing posted tasks is on its way
    std::vector<std::pair<int, std::function<bool(MSG&)>>> m_filters;
    int m_lastId = 0;
    bool m_woken = false;
    bool m_quitting = false;
    int m_exitCode = 0;
};

} // namespace morvandell::win32
