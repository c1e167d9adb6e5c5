#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace morvandell {

// Every command frame this program sends: 22 bytes, 0x55, command code, address high and low,
// a 16-byte record, 0x00, 0x0D. Nothing is escaped or checksummed.
class FrameBuilder
{
public:
    static constexpr int FrameSize = 22;
    static constexpr int RecordSize = 16;
    static constexpr int NameWidth = 8;
    static constexpr int UnitWidth = 3;
    static constexpr std::uint16_t SettingsAddress = 0x0090;

    enum Command : std::uint8_t { Write = 0x01, Update = 0x04, Connect = 0x05, Reset = 0xFF };

    static QByteArray frame(Command code, std::uint16_t address = 0, const QByteArray& record = {});

    static QByteArray connectFrame() { return frame(Connect); }
    static QByteArray resetFrame() { return frame(Reset); }
    static QByteArray updateFrame() { return frame(Update); }

    // Slot k (1..8) lives at address 16 * k.
    static std::uint16_t slotAddress(int slot) { return static_cast<std::uint16_t>(16 * slot); }
    static QByteArray slotFrame(int slot, const QString& name, std::uint8_t channel, std::uint8_t divider,
                                const QString& unit);
    // The same from a name and unit already fitted to 8 and 3 bytes.
    static QByteArray slotFrameFitted(int slot, const QByteArray& name, std::uint8_t channel,
                                      std::uint8_t divider, const QByteArray& unit);
    static QByteArray settingsFrame(std::uint8_t defaultView);

    // Text through Windows-1252 ('?' for characters it lacks), cut or padded with blanks to width bytes.
    static QByteArray fitText(const QString& text, int width);
};

} // namespace morvandell
