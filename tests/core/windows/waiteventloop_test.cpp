// The Windows event loop: handles signalled from another thread wake it at once, timers and posted tasks
// run in their turn, it never sleeps past its deadline, more handles than one wait takes are all served,
// and window messages reach the pump.
#include "loop/notifier.h"
#include "windows/waiteventloop.h"

#include <gtest/gtest.h>

#include <thread>
#include <windows.h>

using namespace morvandell;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

TEST(WaitEventLoop, aHandleSignalledFromAnotherThreadWakesItAtOnce)
{
    WaitEventLoop loop;
    Notifier notifier;
    ASSERT_TRUE(notifier.isValid());
    int calls = 0;
    loop.watch(notifier.handle(), [&] {
        notifier.reset();
        ++calls;
    });
    const auto start = Clock::now();
    std::thread other([&] {
        std::this_thread::sleep_for(50ms);
        notifier.notify();
    });
    loop.runOnce(start + 5s);
    other.join();
    EXPECT_EQ(calls, 1);
    EXPECT_LT(Clock::now() - start, 1s);
}

TEST(WaitEventLoop, timersAndPostedTasksRunInTheirTurn)
{
    WaitEventLoop loop;
    std::vector<std::string> ran;
    loop.startTimer(60ms, [&] { ran.push_back("late"); });
    loop.startTimer(20ms, [&] { ran.push_back("early"); });
    const int cancelled = loop.startTimer(10ms, [&] { ran.push_back("cancelled"); });
    loop.cancelTimer(cancelled);
    loop.post([&] {
        ran.push_back("posted");
        loop.post([&] { ran.push_back("posted by a task"); });
    });
    loop.runOnce(Clock::now() + 1s);
    ASSERT_FALSE(ran.empty());
    EXPECT_EQ(ran.back().rfind("posted", 0), 0u); // no timer is due yet
    const auto deadline = Clock::now() + 2s;
    while (ran.size() < 4 && Clock::now() < deadline)
        loop.runOnce(deadline);
    EXPECT_EQ(ran, (std::vector<std::string>{"posted", "posted by a task", "early", "late"}));
}

TEST(WaitEventLoop, neverSleepsPastItsDeadlineAndWakeEndsIt)
{
    WaitEventLoop loop;
    const auto start = Clock::now();
    loop.runOnce(start + 100ms);
    const auto slept = Clock::now() - start;
    EXPECT_GE(slept, 90ms);
    EXPECT_LT(slept, 400ms);

    loop.post([&] { loop.wake(); });
    const auto woken = Clock::now();
    loop.runOnce(woken + 5s);
    EXPECT_LT(Clock::now() - woken, 1s);
}

TEST(WaitEventLoop, servesMoreHandlesThanOneWaitTakes)
{
    WaitEventLoop loop;
    std::vector<std::unique_ptr<Notifier>> notifiers;
    std::vector<int> calls(WaitEventLoop::MaxSleepHandles + 10, 0);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        notifiers.push_back(std::make_unique<Notifier>());
        Notifier* n = notifiers.back().get();
        loop.watch(n->handle(), [&calls, n, i] {
            n->reset();
            ++calls[i];
        });
    }
    notifiers.back()->notify(); // one the sleep does not take
    notifiers.front()->notify();
    const auto deadline = Clock::now() + 2s;
    while ((calls.back() == 0 || calls.front() == 0) && Clock::now() < deadline)
        loop.runOnce(deadline);
    EXPECT_EQ(calls.front(), 1);
    EXPECT_EQ(calls.back(), 1);
}

TEST(WaitEventLoop, aHandlerMayUnwatchItself)
{
    WaitEventLoop loop;
    Notifier notifier;
    int calls = 0;
    int id = 0;
    id = loop.watch(notifier.handle(), [&] {
        ++calls;
        loop.unwatch(id); // and leaves the handle signalled
    });
    notifier.notify();
    loop.runOnce(Clock::now() + 200ms);
    loop.runOnce(Clock::now() + 50ms);
    EXPECT_EQ(calls, 1);
}

TEST(WaitEventLoop, windowMessagesWakeItAndReachThePump)
{
    WaitEventLoop loop;
    std::vector<UINT> messages;
    loop.setMessagePump([&] {
        MSG msg;
        bool any = false;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            messages.push_back(msg.message);
            if (msg.message == WM_QUIT)
                loop.quit();
            any = true;
        }
        return any;
    });
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread has a queue from now on
    const DWORD thread = ::GetCurrentThreadId();
    const auto start = Clock::now();
    std::thread other([thread] {
        std::this_thread::sleep_for(50ms);
        ::PostThreadMessageW(thread, WM_APP + 1, 0, 0);
    });
    while (messages.empty() && Clock::now() - start < 3s)
        loop.runOnce(start + 3s);
    other.join();
    EXPECT_EQ(messages, std::vector<UINT>{WM_APP + 1});
    EXPECT_LT(Clock::now() - start, 1s);

    EXPECT_TRUE(loop.canRun());
    ::PostQuitMessage(0);
    loop.runOnce(Clock::now() + 1s);
    EXPECT_FALSE(loop.canRun());
}

} // namespace
