#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvandell {

// A "divider" or "channel" attribute value converted to a whole number.
struct ConvertedNumber
{
    std::int64_t value; // saturated to the 64-bit range for absurd magnitudes such as 1e400
    bool inRange;       // 0..255, i.e. fits the catalogue's 8-bit fields
};

// Length in bytes of the longest decimal number at the start of text: optional sign, digits,
// optional fraction after a point, optional exponent. The digits before the point are
// required, the fraction's are not: "5." is 5, while ".5", "-.5", "." and "+" are no numbers
// (they read as 0). An exponent counts only with at least one digit ("12e" is 12).
// 0 when text does not start with a number. Only ASCII makes a number, so the length is the
// same in bytes of UTF-8 and in characters.
std::size_t leadingNumberLength(std::string_view text);

// Reads the leading number (see leadingNumberLength; anything after it is ignored, no
// number reads as 0) and rounds it to the nearest whole number, exactly half-way to the
// even neighbour. The decimal separator is always the point, whatever the locale.
ConvertedNumber convertNumber(std::string_view text);

} // namespace morvandell
