#pragma once

#include "loop/eventloop.h"

#include <atomic>

namespace morvandell {

// Something the event loop can wait on that another thread (or, on POSIX, a signal handler) raises:
// a pipe that becomes readable (POSIX), a manual-reset event that becomes signalled (Windows). Used where
// input comes from a thread of the program's own (the demo display) rather than from the system.
class Notifier
{
public:
    Notifier();
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // What EventLoop::watch() waits on. NoWaitHandle when the system had no pipe or event to give.
    WaitHandle handle() const { return m_handle; }
    bool isValid() const { return m_handle != NoWaitHandle; }

    // Makes handle() ready until reset(). From any thread; on POSIX also from a signal handler.
    void notify();
    // Makes handle() quiet again. From the thread that waits on it, before it takes what was announced.
    void reset();

private:
    WaitHandle m_handle = NoWaitHandle;
#ifndef _WIN32
    int m_writeEnd = -1;
    std::atomic<bool> m_raised{false}; // a byte is in the pipe
#endif
};

} // namespace morvandell
