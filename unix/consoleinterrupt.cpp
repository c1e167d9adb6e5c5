// Ctrl+C on POSIX: the SIGINT handler writes into the notifier's pipe (the self-pipe the loop watches)
// and hands SIGINT back to the system, so that a second Ctrl+C ends the program.
#include "loop/consoleinterrupt.h"

#include <atomic>
#include <csignal>

namespace morvandell {

namespace {

std::atomic<Notifier*> target{nullptr};
struct sigaction previous
{
};

extern "C" void onSigint(int)
{
    // Only what is safe in a signal handler: an atomic load and the notifier's write().
    if (Notifier* notifier = target.load())
        notifier->notify();
}

} // namespace

bool ConsoleInterrupt::installHandler(Notifier& notifier)
{
    target.store(&notifier);
    struct sigaction action
    {
    };
    action.sa_handler = onSigint;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next SIGINT gets the default action, whatever the program is doing then.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    if (::sigaction(SIGINT, &action, &previous) != 0) {
        target.store(nullptr);
        return false;
    }
    return true;
}

void ConsoleInterrupt::removeHandler()
{
    ::sigaction(SIGINT, &previous, nullptr);
    target.store(nullptr);
}

} // namespace morvandell
