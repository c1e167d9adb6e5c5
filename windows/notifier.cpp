// The notifier on Windows: a manual-reset event.
#include "loop/notifier.h"

#include <windows.h>

namespace morvandell {

Notifier::Notifier()
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_handle = event ? event : NoWaitHandle;
}

Notifier::~Notifier()
{
    if (m_handle != NoWaitHandle)
        ::CloseHandle(m_handle);
}

void Notifier::notify()
{
    if (m_handle != NoWaitHandle)
        ::SetEvent(m_handle);
}

void Notifier::reset()
{
    if (m_handle != NoWaitHandle)
        ::ResetEvent(m_handle);
}

} // namespace morvandell
