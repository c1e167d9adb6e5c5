#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace morvandell {

// What the update window gets from the window that opens it: the port number of its last Connect, a
// way to close that window's port before the update window takes the device over, and whether that
// window is still open (the program ends when the last window closes).
struct UpdateHost
{
    std::function<std::optional<std::int16_t>()> comport;
    std::function<void()> closePort;
    std::function<bool()> otherWindowOpen;
};

} // namespace morvandell
