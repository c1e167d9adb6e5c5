// The notifier on POSIX: a non-blocking pipe; at most one byte is in it at a time.
#include "loop/notifier.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace morvandell {

Notifier::Notifier()
{
    int ends[2];
    if (::pipe(ends) != 0)
        return;
    for (const int fd : ends) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_handle = ends[0];
    m_writeEnd = ends[1];
}

Notifier::~Notifier()
{
    if (m_handle != NoWaitHandle)
        ::close(m_handle);
    if (m_writeEnd >= 0)
        ::close(m_writeEnd);
}

void Notifier::notify()
{
    // Only atomics and write(): safe in a signal handler.
    if (m_writeEnd < 0 || m_raised.exchange(true))
        return;
    const int saved = errno;
    const char c = 1;
    ssize_t n;
    do {
        n = ::write(m_writeEnd, &c, 1);
    } while (n < 0 && errno == EINTR);
    errno = saved;
}

void Notifier::reset()
{
    if (m_handle == NoWaitHandle)
        return;
    m_raised.store(false);
    char buffer[64];
    while (::read(m_handle, buffer, sizeof buffer) > 0) {
    }
}

} // namespace morvandell
