#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

class QTime;

namespace morvandell {

// One 22-byte message from the display: 0x55, type, address high/low, 16 payload bytes, CR, LF.
struct DeviceMessage
{
    enum Type : std::uint8_t { Text = 0, EepromReport = 2, Identification = 253 };
    static constexpr int Size = 22;

    QByteArray bytes; // all 22 bytes

    std::uint8_t type() const { return static_cast<std::uint8_t>(bytes.at(1)); }
    std::uint16_t address() const
    {
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes.at(2)) * 256 +
                                          static_cast<std::uint8_t>(bytes.at(3)));
    }
    QByteArray payload() const { return bytes.mid(4, 16); }
    // Payload up to its first zero byte, through Windows-1252.
    QString payloadText() const;

    // The log line for this message at the given time text; empty for types that are not shown.
    QString logLine(const QString& time) const;
};

// Cuts device messages out of the received byte stream. A message is 22 bytes that start with 0x55 and
// end with CR LF. Bytes before a 0x55 that cannot start a message are dropped; an incomplete tail waits
// for more bytes. Every complete message is returned, in arrival order, however the bytes were split.
// The buffer never holds more than one incomplete message (21 bytes).
class MessageFramer
{
public:
    QList<DeviceMessage> feed(const QByteArray& bytes);
    const QByteArray& buffer() const { return m_buffer; }
    void clear() { m_buffer.clear(); }

private:
    QByteArray m_buffer;
};

// The system's long time format without a time-zone suffix (German: 14:03:22).
QString longTimeText(const QTime& time);

} // namespace morvandell
