#pragma once

#include "catalogue/catalogue.h"
#include "platform/bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace morvandell {

// The control window's state record. "Empty" values are std::nullopt.
struct ControlState
{
    static constexpr int SlotCount = 8;

    std::optional<std::int16_t> weiter;  // 0 while a writer waits, 1 once the display has answered
    std::optional<std::int16_t> comport; // port number of the last Connect; read by the update window

    Catalogue catalogue;
    std::array<std::string, Catalogue::Size>& catalogueName = catalogue.name;
    std::array<std::string, Catalogue::Size>& catalogueUnit = catalogue.unit;
    std::array<std::uint8_t, Catalogue::Size>& catalogueDivider = catalogue.divider;
    std::array<std::uint8_t, Catalogue::Size>& catalogueNumber = catalogue.number;
    std::array<std::string, Catalogue::Size>& catalogueStorage = catalogue.storage;

    Bytes frameName = Bytes(8, 0x00);
    Bytes frameUnit = Bytes(3, 0x00);

    // Indexed by display slot 1..8; element 0 unused.
    std::array<std::uint8_t, SlotCount + 1> slotChannel{};
    std::array<std::uint8_t, SlotCount + 1> slotDivider{};

    Bytes rxBuffer;                             // received bytes not yet taken as a message (bounded)
    std::array<std::optional<int>, 22> rxBytes; // bytes 1..21 of the last message taken; 0 unused
    std::optional<std::int16_t> deviceFound;    // 1 once the display has identified itself

    ControlState() = default;
    ControlState(const ControlState&) = delete;
    ControlState& operator=(const ControlState&) = delete;
};

} // namespace morvandell
