#pragma once

namespace morvandell {

// Sets a speed that has no B constant (250000 baud, say) on an open terminal; false with errno set
// where the system cannot.
bool setCustomSpeed(int fd, int baud);

} // namespace morvandell
