#include "updater/sleepinhibitor.h"

namespace morvandell {

SleepInhibitor::SleepInhibitor(EventLoop& loop)
    : m_backend(Backend::system(loop, [this] { update(); }))
{}

SleepInhibitor::~SleepInhibitor()
{
    heldChanged.disconnectAll(); // nobody listens to the end of a dying object
    release();
}

void SleepInhibitor::acquire()
{
    if (m_wanted)
        return;
    m_wanted = true;
    m_backend->request();
    update();
}

void SleepInhibitor::release()
{
    if (!m_wanted)
        return;
    m_wanted = false;
    m_backend->release();
    update();
}

void SleepInhibitor::update()
{
    const bool held = m_wanted && m_backend->isHeld();
    if (held == m_held)
        return;
    m_held = held;
    heldChanged(held);
}

} // namespace morvandell
