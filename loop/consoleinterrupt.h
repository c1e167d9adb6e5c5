#pragma once

#include "platform/signal.h"
#include "loop/eventloop.h"
#include "loop/notifier.h"

namespace morvandell {

// Ctrl+C at the console as an event of the program's loop. The system's notification (SIGINT on POSIX,
// the console control handler on Windows) only raises a notifier; the loop then raises `interrupted` on
// its own thread, where the program ends its waits and closes what it opened. A second Ctrl+C ends the
// program the system's way at once, so that it can be stopped even where it does not run its loop.
// One at a time in a process.
class ConsoleInterrupt
{
public:
    explicit ConsoleInterrupt(EventLoop& loop);
    // The system's own handling of Ctrl+C again.
    ~ConsoleInterrupt();
    ConsoleInterrupt(const ConsoleInterrupt&) = delete;
    ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

    // False when the system gave no notifier or refused the handler: Ctrl+C then ends the program at once.
    bool isActive() const { return m_installed; }
    // Ctrl+C was pressed (and its notification handled by the loop).
    bool isInterrupted() const { return m_interrupted; }

    // Raised from the loop, once.
    Signal<> interrupted;

private:
    // The platform's part (unix/, windows/): routes Ctrl+C to the notifier, or back to the default.
    static bool installHandler(Notifier& notifier);
    static void removeHandler();

    void onNotified();

    EventLoop& m_loop;
    Notifier m_notifier;
    int m_watch = 0;
    bool m_installed = false;
    bool m_interrupted = false;
};

} // namespace morvandell
