// The notifier on Windows: a manual-reset event.
#include "serial/notifier.h"

#include <windows.h>

namespace morvandell {

Notifier::Notifier()
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event)
        m_handle = event;
}

Notifier::~Notifier()
{
    if (m_handle != NoWaitHandle)
        ::CloseHandle(static_cast<HANDLE>(m_handle));
}

void Notifier::notify()
{
    if (m_handle != NoWaitHandle)
        ::SetEvent(static_cast<HANDLE>(m_handle));
}

void Notifier::reset()
{
    if (m_handle != NoWaitHandle)
        ::ResetEvent(static_cast<HANDLE>(m_handle));
}

} // namespace morvandell
