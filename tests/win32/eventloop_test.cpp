// The Win32 windows' event loop: it sleeps until a message, a watched handle or the deadline; handles
// and timers are served in Windows' own message loops too; it never spins.
#include "win32test.h"

#include "loop/eventwait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace morvandell::win32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// CPU time of this thread so far.
std::chrono::milliseconds threadCpu()
{
    FILETIME created, ended, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ms = [](FILETIME t) { return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000; };
    return std::chrono::milliseconds(ms(kernel) + ms(user));
}

struct Event
{
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() { ::CloseHandle(handle); }
};

TEST(GuiEventLoop, sleepsUntilTheDeadlineWithoutSpinning)
{
    GuiEventLoop loop;
    const auto cpu = threadCpu();
    const auto start = Clock::now();
    loop.runOnce(start + 500ms);
    EXPECT_GE(since(start), 490ms);
    EXPECT_LT(since(start), 700ms);
    EXPECT_LT(threadCpu() - cpu, 60ms);
}

TEST(GuiEventLoop, aWatchedHandleEndsTheSleepAtOnce)
{
    GuiEventLoop loop;
    Event input;
    int calls = 0;
    loop.watch(input.handle, [&] {
        ++calls;
        ::ResetEvent(input.handle); // the input is taken
    });
    std::thread device([&] {
        std::this_thread::sleep_for(100ms);
        ::SetEvent(input.handle);
    });
    const auto start = Clock::now();
    while (calls == 0 && since(start) < 2s)
        loop.runOnce(start + 2s);
    device.join();
    EXPECT_EQ(calls, 1);
    EXPECT_LT(since(start), 400ms);
    loop.runOnce(Clock::now() + 100ms);
    EXPECT_EQ(calls, 1); // taken input is not announced again
}

TEST(GuiEventLoop, timersFireWhenDueAndNotBefore)
{
    GuiEventLoop loop;
    const auto start = Clock::now();
    std::vector<std::pair<int, std::chrono::milliseconds>> fired;
    for (const int delay : {120, 40, 250})
        loop.startTimer(std::chrono::milliseconds(delay), [&, delay] { fired.emplace_back(delay, since(start)); });
    const int cancelled = loop.startTimer(80ms, [&] { fired.emplace_back(80, since(start)); });
    loop.cancelTimer(cancelled);
    const auto cpu = threadCpu();
    while (fired.size() < 3 && since(start) < 2s)
        loop.runOnce(start + 2s);
    ASSERT_EQ(fired.size(), 3u);
    int previous = 0;
    for (const auto& [delay, at] : fired) {
        SCOPED_TRACE(delay);
        EXPECT_GT(delay, previous); // in the order they fall due
        EXPECT_GE(at.count(), delay);
        EXPECT_LT(at.count(), delay + 60);
        previous = delay;
    }
    EXPECT_LT(threadCpu() - cpu, 60ms);
}

TEST(GuiEventLoop, handlesAndTimersAreServedWhileAMessageBoxIsOpen)
{
    Win32FrontEnd frontEnd;
    Event input;
    Clock::time_point answered{}, ticked{};
    frontEnd.loop().watch(input.handle, [&] {
        ::ResetEvent(input.handle);
        answered = Clock::now();
    });
    frontEnd.loop().startTimer(150ms, [&] { ticked = Clock::now(); });
    std::thread device([&] {
        std::this_thread::sleep_for(100ms);
        ::SetEvent(input.handle);
    });
    test::whenDialogAppears(frontEnd, L"Hinweis", [&](HWND box) {
        // Closed once both were served, from inside the box's own loop.
        auto close = std::make_shared<std::function<void()>>();
        *close = [&, box, close] {
            if (answered != Clock::time_point{} && ticked != Clock::time_point{})
                test::pressButton(box, IDOK);
            else
                frontEnd.loop().startTimer(20ms, *close);
        };
        (*close)();
    });
    const auto start = Clock::now();
    frontEnd.dialogs().message(nullptr, "Hinweis", "Please restart.", ui::Dialogs::Icon::None);
    device.join();
    ASSERT_NE(answered, Clock::time_point{});
    ASSERT_NE(ticked, Clock::time_point{});
    EXPECT_LT(answered - start, 500ms);
    EXPECT_LT(ticked - start, 500ms);
}

TEST(GuiEventLoop, aWaitEndsOnItsConditionItsLimitOrTheProgramsEnd)
{
    Win32FrontEnd frontEnd;
    EventWait wait(frontEnd.loop());
    Event input;
    bool flag = false;
    frontEnd.loop().watch(input.handle, [&] {
        ::ResetEvent(input.handle);
        flag = true;
        wait.wake();
    });
    std::thread device([&] {
        std::this_thread::sleep_for(50ms);
        ::SetEvent(input.handle);
    });
    EXPECT_EQ(wait.waitUntil([&] { return flag; }, 2000ms), EventWait::Result::Satisfied);
    device.join();

    auto start = Clock::now();
    EXPECT_EQ(wait.waitUntil([] { return false; }, 300ms), EventWait::Result::TimedOut);
    EXPECT_GE(since(start), 290ms);

    frontEnd.loop().startTimer(50ms, [&] { frontEnd.quit(); });
    start = Clock::now();
    EXPECT_EQ(wait.waitUntil([] { return false; }, 3000ms), EventWait::Result::Aborted);
    EXPECT_LT(since(start), 500ms);
    EXPECT_FALSE(frontEnd.loop().canRun());
}

TEST(GuiEventLoop, runEndsOnQuitOrWmQuitWithItsExitCode)
{
    {
        Win32FrontEnd frontEnd;
        frontEnd.loop().post([&] { frontEnd.guiLoop().quit(3); });
        EXPECT_EQ(frontEnd.run(), 3);
    }
    {
        Win32FrontEnd frontEnd;
        frontEnd.loop().post([] { ::PostQuitMessage(4); });
        EXPECT_EQ(frontEnd.run(), 4);
    }
}

} // namespace
} // namespace morvandell::win32
