#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace morvandell {

// One display slot as it goes into its frame. Texts are UTF-8.
struct SlotSetting
{
    // The list entry that was picked (not sent). Empty for a slot without a pick (a name or unit typed
    // alone): loading then takes the slot's own numbers, as it does for a name the file lacks.
    std::string channel;
    std::uint8_t number = 0; // channel number sent in the frame
    std::uint8_t divider = 0;
    std::string name; // name box text, at most 8 characters
    std::string unit; // unit box text, at most 3 characters

    friend bool operator==(const SlotSetting& a, const SlotSetting& b)
    {
        return a.channel == b.channel && a.number == b.number && a.divider == b.divider && a.name == b.name &&
               a.unit == b.unit;
    }
    friend bool operator!=(const SlotSetting& a, const SlotSetting& b) { return !(a == b); }
};

// Everything one "Daten schreiben" puts into the display: eight slots and the settings byte.
// Shared by the control window, the command-line tool and profiles.
struct DisplayConfiguration
{
    static constexpr int SlotCount = 8;

    std::string logDefinition;    // the log-definition file the channels came from (may be empty)
    std::uint8_t defaultView = 1; // settings byte: 1..3 for the default-view list's entries, 0 for none
    // Display slots 1..8 (element 0 unused). Empty: a slot never picked, sent with channel 0, divider 0
    // and blank name and unit, as after start-up.
    std::array<std::optional<SlotSetting>, SlotCount + 1> slotSettings{};

    SlotSetting slotOrBlank(int slot) const
    {
        return slotSettings.at(std::size_t(slot)).value_or(SlotSetting{});
    }

    friend bool operator==(const DisplayConfiguration& a, const DisplayConfiguration& b)
    {
        return a.logDefinition == b.logDefinition && a.defaultView == b.defaultView &&
               a.slotSettings == b.slotSettings;
    }
    friend bool operator!=(const DisplayConfiguration& a, const DisplayConfiguration& b) { return !(a == b); }
};

} // namespace morvandell
