// Fuzz target for the line-settings text ("9600,n,8,1") of the serial service.
//
// Input: byte 0 picks how the rest becomes text (even: Latin-1 turned into UTF-8, odd: the bytes as
// they are, UTF-8 or not); bytes 1.. are the text. The same bytes also give a line-settings value of
// their own (see valueFrom) for the round trip.
//
// Properties:
// - parse accepts exactly the texts of four comma-separated fields of the allowed forms, decided
//   here independently: baud rate ASCII digits (leading zeros allowed) with value 50..4000000, parity
//   one letter of n e o m s (either case), data bits ASCII digits with value 5..8, stop bits "1",
//   "1.5" or "2"; an accepted text gives those values, a rejected one an error text;
// - a parsed value printed with toString() parses back to the same value and prints the same;
// - every valid value prints as a text that parses back to it.
#include "fuzzcheck.h"
#include "platform/text.h"
#include "serial/linesettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using morvandell::LineSettings;
using Parity = LineSettings::Parity;
using StopBits = LineSettings::StopBits;

namespace {

// The decimal value of a field of ASCII digits only (leading zeros allowed); nullopt otherwise or
// when it exceeds limit.
std::optional<long> digitsValue(std::string_view field, long limit)
{
    if (field.empty())
        return std::nullopt;
    long value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

std::optional<LineSettings> reference(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',') {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (fields.size() != 4)
        return std::nullopt;
    LineSettings s;
    const auto baud = digitsValue(fields[0], 4000000);
    if (!baud || *baud < 50)
        return std::nullopt;
    s.baudRate = std::int32_t(*baud);
    if (fields[1].size() != 1)
        return std::nullopt;
    switch (fields[1][0]) {
    case 'n': case 'N': s.parity = Parity::None; break;
    case 'e': case 'E': s.parity = Parity::Even; break;
    case 'o': case 'O': s.parity = Parity::Odd; break;
    case 'm': case 'M': s.parity = Parity::Mark; break;
    case 's': case 'S': s.parity = Parity::Space; break;
    default: return std::nullopt;
    }
    const auto bits = digitsValue(fields[2], 8);
    if (!bits || *bits < 5)
        return std::nullopt;
    s.dataBits = int(*bits);
    if (fields[3] == "1")
        s.stopBits = StopBits::One;
    else if (fields[3] == "1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (fields[3] == "2")
        s.stopBits = StopBits::Two;
    else
        return std::nullopt;
    return s;
}

std::string show(const LineSettings& s)
{
    return "{baud " + std::to_string(s.baudRate) + ", parity " + std::to_string(int(s.parity)) + ", data " +
           std::to_string(s.dataBits) + ", stop " + std::to_string(int(s.stopBits)) + "}";
}

// A valid value from up to 6 bytes.
LineSettings valueFrom(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t b[6] = {};
    for (std::size_t i = 0; i < 6 && i < size; ++i)
        b[i] = data[i];
    static const Parity parities[] = {Parity::None, Parity::Even, Parity::Odd, Parity::Mark, Parity::Space};
    static const StopBits stops[] = {StopBits::One, StopBits::OneAndHalf, StopBits::Two};
    LineSettings s;
    s.baudRate = 50 + std::int32_t((std::uint32_t(b[0]) << 16 | std::uint32_t(b[1]) << 8 | b[2]) % (4000000 - 50 + 1));
    s.parity = parities[b[3] % 5];
    s.dataBits = 5 + b[4] % 4;
    s.stopBits = stops[b[5] % 3];
    return s;
}

void checkRoundTrip(const LineSettings& value)
{
    const std::string printed = value.toString();
    std::string error;
    const auto again = LineSettings::parse(printed, &error);
    CHECK(again.has_value(), show(value) + " prints as " + fuzzcheck::escaped(printed) + ", which is rejected: " + error);
    CHECK(*again == value, show(value) + " -> " + fuzzcheck::escaped(printed) + " -> " + show(*again));
    CHECK(again->toString() == printed, fuzzcheck::escaped(again->toString()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string text;
    if (data[0] & 1) {
        text.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        for (std::size_t i = 1; i < size; ++i)
            text += morvandell::text::fromCodePoint(char32_t(data[i]));
    }

    std::string error;
    const auto parsed = LineSettings::parse(text, &error);
    const auto expected = reference(text);
    CHECK(parsed.has_value() == expected.has_value(),
          fuzzcheck::escaped(text) + (parsed ? " accepted as " + show(*parsed) : " rejected: " + error));
    if (parsed) {
        CHECK(*parsed == *expected, fuzzcheck::escaped(text) + ": " + show(*parsed) + " instead of " + show(*expected));
        CHECK(error.empty());
        checkRoundTrip(*parsed);
    } else {
        CHECK(!error.empty(), fuzzcheck::escaped(text) + " rejected without a reason");
    }
    // A rejected text leaves no value behind, with or without an error text.
    CHECK(LineSettings::parse(text).has_value() == parsed.has_value());

    checkRoundTrip(valueFrom(data, size));
    return 0;
}
