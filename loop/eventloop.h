#pragma once

#include <chrono>
#include <functional>

namespace morvandell {

// What a wait can sleep on until input arrives: a file descriptor that becomes readable (POSIX), or an
// event object that becomes signalled (Windows).
#ifdef _WIN32
using WaitHandle = void*;
constexpr WaitHandle NoWaitHandle = nullptr;
#else
using WaitHandle = int;
constexpr WaitHandle NoWaitHandle = -1;
#endif

// How time passes on the program's one thread: the front end's event loop. The core never runs a loop
// of its own; it asks this one to handle what is pending and to sleep until something happens. The Qt
// windows run Qt's event loop here, the Win32 windows a message pump, the command-line tool a poll()
// over its descriptors. Every call comes from the loop's own thread.
class EventLoop
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~EventLoop() = default;

    // Calls `ready` whenever `handle` has input (readable, or signalled), each time the loop looks.
    // `ready` must take the input (or unwatch), or it is called again at once. Returns a number for
    // unwatch().
    virtual int watch(WaitHandle handle, std::function<void()> ready) = 0;
    virtual void unwatch(int id) = 0;

    // Runs `task` once, at the loop's next pass, outside the handler that is running now.
    virtual void post(std::function<void()> task) = 0;

    // Calls `task` once after `delay` (a single shot); returns a number for cancelTimer().
    virtual int startTimer(std::chrono::milliseconds delay, std::function<void()> task) = 0;
    virtual void cancelTimer(int id) = 0;

    // Handles every pending event, then sleeps until one more was handled, wake() was called or the
    // deadline passed, whichever comes first. Never sleeps past the deadline; never spins.
    virtual void runOnce(Clock::time_point deadline) = 0;

    // Ends the runOnce() that is running now, or makes the next one return after handling what is
    // pending. From the loop's thread (handlers call it when they change a flag a wait may test).
    virtual void wake() = 0;

    // False once the program is ending (the application quits): a wait then ends instead of sleeping.
    virtual bool canRun() const { return true; }
};

} // namespace morvandell
