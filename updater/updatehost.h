#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace morvandell {

// What the update window gets from the window that opens it: the port number of its last Connect, and
// a way to close that window's port before the update window takes the device over.
struct UpdateHost
{
    std::function<std::optional<std::int16_t>()> comport;
    std::function<void()> closePort;
};

} // namespace morvandell
