#pragma once

#include "platform/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvandell {

// Every command frame this program sends: 22 bytes, 0x55, command code, address high and low,
// a 16-byte record, 0x00, 0x0D. Nothing is escaped or checksummed.
class FrameBuilder
{
public:
    static constexpr std::size_t FrameSize = 22;
    static constexpr std::size_t RecordSize = 16;
    static constexpr std::size_t NameWidth = 8;
    static constexpr std::size_t UnitWidth = 3;
    static constexpr std::uint16_t SettingsAddress = 0x0090;

    enum Command : std::uint8_t { Write = 0x01, Update = 0x04, Connect = 0x05, Reset = 0xFF };

    // A record longer than 16 bytes is cut.
    static Bytes frame(Command code, std::uint16_t address = 0, const Bytes& record = {});

    static Bytes connectFrame() { return frame(Connect); }
    static Bytes resetFrame() { return frame(Reset); }
    static Bytes updateFrame() { return frame(Update); }

    // Slot k (1..8) lives at address 16 * k.
    static std::uint16_t slotAddress(int slot) { return static_cast<std::uint16_t>(16 * slot); }
    // Name and unit as UTF-8 text (the boxes' contents).
    static Bytes slotFrame(int slot, std::string_view name, std::uint8_t channel, std::uint8_t divider,
                           std::string_view unit);
    // The same from a name and unit already fitted to 8 and 3 bytes.
    static Bytes slotFrameFitted(int slot, const Bytes& name, std::uint8_t channel, std::uint8_t divider,
                                 const Bytes& unit);
    static Bytes settingsFrame(std::uint8_t defaultView);

    // UTF-8 text through the ANSI code page (text::toAnsi), one byte per character ('?' for each
    // character the code page lacks, and for each byte that is no UTF-8), cut or padded with blanks to
    // width bytes.
    static Bytes fitText(std::string_view utf8, std::size_t width);
};

} // namespace morvandell
