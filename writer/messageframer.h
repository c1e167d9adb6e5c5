#pragma once

#include "platform/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvandell {

// One 22-byte message from the display: 0x55, type, address high/low, 16 payload bytes, CR, LF.
struct DeviceMessage
{
    enum Type : std::uint8_t { Text = 0, EepromReport = 2, Identification = 253 };
    static constexpr std::size_t Size = 22;
    static constexpr Byte LastByte = 0x0A; // LF: every message ends with it

    Bytes bytes; // all 22 bytes

    std::uint8_t type() const { return bytes.at(1); }
    std::uint16_t address() const { return static_cast<std::uint16_t>(bytes.at(2) * 256 + bytes.at(3)); }
    Bytes payload() const { return slice(bytes, 4, 16); }
    // Payload up to its first zero byte, through Windows-1252, as UTF-8.
    std::string payloadText() const;

    // The log line for this message after the given time text (text::longTimeText); empty for types
    // that are not shown.
    std::string logLine(const std::string& timeText) const;
};

// Cuts device messages out of the received byte stream. A message is 22 bytes that start with 0x55 and
// end with CR LF. Bytes before a 0x55 that cannot start a message are dropped; an incomplete tail waits
// for more bytes. Every complete message is returned, in arrival order, however the bytes were split.
// The buffer never holds more than one incomplete message (21 bytes).
class MessageFramer
{
public:
    std::vector<DeviceMessage> feed(const Bytes& bytes) { return feed(bytes.data(), bytes.size()); }
    std::vector<DeviceMessage> feed(const Byte* data, std::size_t size);
    const Bytes& buffer() const { return m_buffer; }
    void clear() { m_buffer.clear(); }

private:
    Bytes m_buffer;
};

} // namespace morvandell
