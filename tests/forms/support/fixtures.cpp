#include "fixtures.h"

#include <cstdint>

namespace morvandell::test {

std::string dataFile(const std::string& name)
{
    return std::string(MORVANDELL_TEST_DATA) + "/" + name;
}

const std::vector<std::string>& eightChannelNames()
{
    static const std::vector<std::string> names{
        "RPM", "Oil_P", "Coolant_Temperature", "Batt", "MAP", "\xC3\x84GT", "Lambda", "Speed"};
    return names;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    append(a, b);
    return a;
}

Bytes connectFrame()
{
    return hex("55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

Bytes resetFrame()
{
    return hex("55 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

Bytes updateFrame()
{
    return hex("55 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

Bytes settingsFrame(Byte defaultView)
{
    return hex("55 01 00 90") + Bytes{defaultView} +
           hex("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

const std::vector<Bytes>& reversedPicksFrames()
{
    // Address, name (8), 00, channel number, divider, unit (3), 00 00 00, CR; names and units in
    // Windows-1252.
    static const std::vector<Bytes> frames{
        hex("55 01 00 10") + bytes("Speed   ") + hex("00 5A 03") + bytes("kmh") + hex("00 00 00 0D"),
        hex("55 01 00 20") + bytes("Lambda  ") + hex("00 37 64") + bytes("l  ") + hex("00 00 00 0D"),
        hex("55 01 00 30") + bytes("\xC4GT     ") + hex("00 21 01") + hex("B0") + bytes("C ") +
            hex("00 00 00 0D"),
        hex("55 01 00 40") + bytes("MAP     ") + hex("00 C8 01") + bytes("kPa") + hex("00 00 00 0D"),
        hex("55 01 00 50") + bytes("Akku    ") + hex("00 07 64") + bytes("V  ") + hex("00 00 00 0D"),
        hex("55 01 00 60") + bytes("Coolant_") + hex("00 55 02") + bytes("deg") + hex("00 00 00 0D"),
        hex("55 01 00 70") + bytes("Oil_P   ") + hex("00 0D 0A") + bytes("bar") + hex("00 00 00 0D"),
        hex("55 01 00 80") + bytes("RPM     ") + hex("00 0C 01") + bytes("rpm") + hex("00 00 00 0D"),
        settingsFrame(1),
    };
    return frames;
}

Bytes firmwareImage(std::size_t size)
{
    Bytes image(size);
    std::uint32_t x = std::uint32_t(size) ^ 0x5A5Au;
    for (Byte& b : image) {
        x = x * 1103515245u + 12345u;
        b = Byte(x >> 24);
    }
    return image;
}

Bytes asTransferred(const Bytes& image)
{
    Bytes sent = image;
    sent.resize(1016 * 128, 0xFF);
    return sent;
}

namespace {

Bytes message(Byte type, const std::string& payload)
{
    Bytes payload16 = bytes(payload.substr(0, 16));
    payload16.resize(16, 0x00);
    return Bytes{0x55, type, 0x00, 0x00} + payload16 + hex("0D 0A");
}

} // namespace

Bytes identification(const std::string& firmware)
{
    return message(0xFD, firmware);
}

Bytes textMessage(const std::string& text)
{
    return message(0x00, text);
}

} // namespace morvandell::test
