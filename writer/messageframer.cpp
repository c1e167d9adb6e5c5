#include "writer/messageframer.h"

#include "platform/text.h"

#include <algorithm>

namespace morvandell {

std::string DeviceMessage::payloadText() const
{
    Bytes p = payload();
    p.erase(std::find(p.begin(), p.end(), Byte(0)), p.end());
    return text::fromAnsi(p);
}

std::string DeviceMessage::logLine(const std::string& timeText) const
{
    switch (type()) {
    case Text: {
        const std::string text = payloadText();
        if (text == "Write SDram")
            return timeText + " -> " + text + " @ 0x0";
        return timeText + " -> " + text;
    }
    case EepromReport:
        return timeText + "->  ReadEEProm @ 0x" + text::hexUpper(address());
    case Identification:
        return timeText + "->  online Firmware: " + payloadText();
    default:
        return std::string();
    }
}

std::vector<DeviceMessage> MessageFramer::feed(const Byte* data, std::size_t count)
{
    std::vector<DeviceMessage> messages;
    append(m_buffer, data, count);
    const std::size_t size = m_buffer.size();
    const auto begin = m_buffer.begin();
    std::size_t pos = 0;
    while (pos < size) {
        const auto start = std::find(begin + std::ptrdiff_t(pos), m_buffer.end(), Byte(0x55));
        if (start == m_buffer.end()) {
            pos = size; // nothing here can start a message
            break;
        }
        pos = std::size_t(start - begin);
        if (size - pos < DeviceMessage::Size)
            break; // incomplete: wait for more
        if (m_buffer[pos + 20] == 0x0D && m_buffer[pos + 21] == 0x0A) {
            messages.push_back(DeviceMessage{slice(m_buffer, pos, DeviceMessage::Size)});
            pos += DeviceMessage::Size;
        } else {
            ++pos; // this 0x55 does not start a message
        }
    }
    m_buffer.erase(begin, begin + std::ptrdiff_t(pos));
    return messages;
}

} // namespace morvandell
