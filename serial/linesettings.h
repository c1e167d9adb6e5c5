#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvandell {

// Line settings in the classic "baud,parity,data,stop" text form, e.g. "9600,n,8,1", and the event
// character, which the text form does not carry.
struct LineSettings
{
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    std::int32_t baudRate = 19200;
    Parity parity = Parity::None;
    int dataBits = 8; // 5..8
    StopBits stopBits = StopBits::One;
    // A byte on whose arrival the driver passes what it has received on at once instead of holding it
    // for its latency timer (FTDI's event character on Windows: the DCB's EvtChar). Drivers without
    // such a setting, and every driver on Linux (low-latency mode does the job there), ignore it.
    std::optional<std::uint8_t> eventChar;

    // Strict: exactly four comma-separated fields, no guessing; no event character. On failure *error
    // says why (German).
    static std::optional<LineSettings> parse(std::string_view text, std::string* error = nullptr);
    std::string toString() const;

    friend bool operator==(const LineSettings& a, const LineSettings& b)
    {
        return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits &&
               a.stopBits == b.stopBits && a.eventChar == b.eventChar;
    }
    friend bool operator!=(const LineSettings& a, const LineSettings& b) { return !(a == b); }
};

} // namespace morvandell
