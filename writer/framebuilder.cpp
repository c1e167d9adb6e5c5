#include "writer/framebuilder.h"

#include "platform/text.h"

#include <algorithm>
#include <cassert>

namespace morvandell {

Bytes FrameBuilder::frame(Command code, std::uint16_t address, const Bytes& record)
{
    assert(record.size() <= RecordSize);
    Bytes f(FrameSize, 0x00);
    f[0] = 0x55;
    f[1] = code;
    f[2] = static_cast<Byte>(address >> 8);
    f[3] = static_cast<Byte>(address & 0xFF);
    std::copy_n(record.begin(), std::min(record.size(), RecordSize), f.begin() + 4);
    f[20] = 0x00;
    f[21] = 0x0D;
    return f;
}

Bytes FrameBuilder::fitText(std::string_view utf8, std::size_t width)
{
    // One byte per character: cut to the width in characters first, so that a long text is not
    // converted whole.
    Bytes out = text::toAnsi(text::left(utf8, width), '?');
    out.resize(width, ' ');
    return out;
}

Bytes FrameBuilder::slotFrame(int slot, std::string_view name, std::uint8_t channel, std::uint8_t divider,
                              std::string_view unit)
{
    return slotFrameFitted(slot, fitText(name, NameWidth), channel, divider, fitText(unit, UnitWidth));
}

Bytes FrameBuilder::slotFrameFitted(int slot, const Bytes& name, std::uint8_t channel, std::uint8_t divider,
                                    const Bytes& unit)
{
    assert(name.size() == NameWidth && unit.size() == UnitWidth);
    Bytes record;
    record.reserve(RecordSize);
    append(record, name);
    record.push_back(0x00);
    record.push_back(channel);
    record.push_back(divider);
    append(record, unit);
    record.resize(RecordSize, 0x00);
    return frame(Write, slotAddress(slot), record);
}

Bytes FrameBuilder::settingsFrame(std::uint8_t defaultView)
{
    Bytes record(RecordSize, 0x00);
    record[0] = defaultView;
    return frame(Write, SettingsAddress, record);
}

} // namespace morvandell
