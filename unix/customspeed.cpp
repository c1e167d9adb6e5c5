// Kept apart: the kernel's termios2 header cannot be included beside the C library's termios.h.
#include "unix/customspeed.h"

#include <cerrno>

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#endif

namespace morvandell {

bool setCustomSpeed(int fd, int baud)
{
#ifdef __linux__
    struct termios2 t2 {};
    if (::ioctl(fd, TCGETS2, &t2) != 0)
        return false;
    t2.c_cflag &= ~CBAUD;
    t2.c_cflag |= BOTHER;
    t2.c_ispeed = t2.c_ospeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &t2) == 0;
#else
    (void)fd;
    (void)baud;
    errno = EINVAL;
    return false;
#endif
}

} // namespace morvandell
