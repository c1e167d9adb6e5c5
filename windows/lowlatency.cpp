// Windows has no low-latency request on an open port: an FTDI adapter's latency timer is a driver
// setting (windows/ftdilatency.h reads it), which this program describes and never changes.
#include "serial/lowlatency.h"

namespace morvandell {

LowLatency::Outcome LowLatency::request(int fd)
{
    if (hook())
        return hook()(fd);
    return Outcome::NotAvailable;
}

} // namespace morvandell
