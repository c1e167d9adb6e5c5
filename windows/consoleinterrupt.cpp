// Ctrl+C on Windows: the console control handler (which the system calls on a thread of its own) sets
// the notifier's event, which the loop watches. A second Ctrl+C, or Ctrl+Break after Ctrl+C, goes to
// the default handler, which ends the program.
#include "loop/consoleinterrupt.h"

#include <atomic>

#include <windows.h>

namespace morvandell {

namespace {

std::atomic<Notifier*> target{nullptr};
std::atomic<int> presses{0};

BOOL WINAPI onControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; // closing the console, logging off: the default handling
    if (presses.fetch_add(1) > 0)
        return FALSE;
    Notifier* notifier = target.load();
    if (!notifier)
        return FALSE;
    notifier->notify();
    return TRUE;
}

} // namespace

bool ConsoleInterrupt::installHandler(Notifier& notifier)
{
    presses.store(0);
    target.store(&notifier);
    if (!::SetConsoleCtrlHandler(onControl, TRUE)) {
        target.store(nullptr);
        return false;
    }
    return true;
}

void ConsoleInterrupt::removeHandler()
{
    ::SetConsoleCtrlHandler(onControl, FALSE);
    target.store(nullptr);
}

} // namespace morvandell
