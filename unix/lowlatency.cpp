// The low-latency flag of Linux serial drivers (TIOCGSERIAL/TIOCSSERIAL, ASYNC_LOW_LATENCY).
#include "serial/lowlatency.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace morvandell {

LowLatency::Outcome LowLatency::request(int fd)
{
    if (hook())
        return hook()(fd);
#ifdef __linux__
    serial_struct serial{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return Outcome::Unsupported;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return Outcome::AlreadySet;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return Outcome::Unsupported;
    return Outcome::Set;
#else
    (void)fd;
    return Outcome::NotAvailable;
#endif
}

} // namespace morvandell
