#include "loop/consoleinterrupt.h"

namespace morvandell {

ConsoleInterrupt::ConsoleInterrupt(EventLoop& loop)
    : m_loop(loop)
{
    if (!m_notifier.isValid())
        return;
    m_watch = m_loop.watch(m_notifier.handle(), [this] { onNotified(); });
    m_installed = installHandler(m_notifier);
    if (!m_installed) {
        m_loop.unwatch(m_watch);
        m_watch = 0;
    }
}

ConsoleInterrupt::~ConsoleInterrupt()
{
    if (m_installed)
        removeHandler();
    if (m_watch)
        m_loop.unwatch(m_watch);
}

void ConsoleInterrupt::onNotified()
{
    m_notifier.reset();
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_loop.wake();
    interrupted();
}

} // namespace morvandell
