// Fuzz target for the conversion of "divider" and "channel" values to whole numbers.
//
// Input: the value's text, Latin-1 (one character per byte, turned into UTF-8 as the reader's decoded
// names are), or raw bytes after a leading byte 0xFF so that UTF-8 of other scripts, characters beyond
// U+00FF and malformed UTF-8 come up too.
//
// Properties:
// - inRange holds exactly when 0 <= value <= 255;
// - the length of the leading number agrees with an independent scan (digits must come before the
//   point: ".5" is no number), and with the C library's strtod in the C locale wherever strtod reads
//   plain decimals (no blank, hex, inf, nan or point first);
// - the result equals exact decimal rounding of the leading number: to the nearest whole number,
//   exactly half-way to the even neighbour, computed on the digits as written (no binary floating
//   point), so "255.49999999999999999" is 255 and "0.50000000000000001" is 1; out-of-range results
//   keep the number's sign;
// - what follows the number never changes the result: the text cut after the number, and the text
//   followed by characters that cannot continue a number, convert alike.
#include "catalogue/numberconversion.h"
#include "fuzzcheck.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using morvandell::convertNumber;
using morvandell::ConvertedNumber;
using morvandell::leadingNumberLength;

namespace {

// The text as ASCII for the reference: every byte outside ASCII, and NUL, becomes 0x01, which no
// number contains. Only ASCII makes a number, so the lengths in bytes agree.
std::string asciiOf(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(b > 0 && b < 0x80 ? c : '\x01');
    }
    return out;
}

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

// The leading decimal number, in pieces.
struct Decimal
{
    std::size_t length = 0; // 0: no number
    bool negative = false;
    std::string digits;     // integer and fraction digits together, as written
    long long exponent = 0; // value = digits * 10^exponent (fraction digits already counted in)
};

constexpr long long ExponentCap = 1'000'000; // far beyond any magnitude that matters here

Decimal scan(const std::string& s)
{
    Decimal d;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        d.negative = s[i] == '-';
        ++i;
    }
    std::string intPart, fraction;
    while (i < s.size() && digit(s[i]))
        intPart.push_back(s[i++]);
    if (intPart.empty()) // digits first: ".5" is no number
        return Decimal{};
    std::size_t end = i;
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        while (j < s.size() && digit(s[j]))
            fraction.push_back(s[j++]);
        end = j;
    }
    i = end;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool expNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            expNegative = s[j] == '-';
            ++j;
        }
        const std::size_t expStart = j;
        while (j < s.size() && digit(s[j])) {
            exponent = std::min(ExponentCap, exponent * 10 + (s[j] - '0'));
            ++j;
        }
        if (j > expStart) {
            end = j;
            if (expNegative)
                exponent = -exponent;
        } else {
            exponent = 0;
        }
    }
    d.length = end;
    d.digits = intPart + fraction;
    d.exponent = exponent - (long long)fraction.size();
    return d;
}

// Exact rounding of the decimal; `huge` when the magnitude is 1000 or more.
struct Rounded
{
    bool huge = false;
    long long value = 0; // signed; only when !huge
};

Rounded roundExactly(const Decimal& d)
{
    std::string digits = d.digits;
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return {false, 0};
    digits.erase(0, firstNonZero);
    const long long intDigits = (long long)digits.size() + d.exponent; // digits before the point
    if (intDigits > 3)
        return {true, 0};
    if (intDigits < 0)
        return {false, 0}; // below 0.1
    std::string integer, fraction;
    if (d.exponent >= 0) {
        integer = digits + std::string(std::size_t(d.exponent), '0');
    } else {
        integer = digits.substr(0, std::size_t(intDigits));
        fraction = digits.substr(std::size_t(intDigits));
    }
    long long magnitude = integer.empty() ? 0 : std::stoll(integer);
    if (!fraction.empty()) {
        const bool restNonZero = fraction.find_first_not_of('0', 1) != std::string::npos;
        if (fraction[0] > '5' || (fraction[0] == '5' && (restNonZero || magnitude % 2 == 1)))
            ++magnitude;
    }
    return {false, d.negative ? -magnitude : magnitude};
}

// Whether strtod reads the text's start the way a plain decimal number is read: it also takes leading
// white space, hexadecimal numbers, "inf" and "nan", and a point first (".5"), which are no numbers
// here.
bool strtodReadsPlainDecimal(const std::string& s)
{
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    const std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i < s.size() && std::strchr("iInN.", s[i]))
        return false;
    return !(i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X'));
}

std::string describe(const std::string& text, const ConvertedNumber& got)
{
    return fuzzcheck::escaped(text) + " -> value " + std::to_string(got.value) + ", inRange " +
           (got.inRange ? "true" : "false");
}

bool same(const ConvertedNumber& a, const ConvertedNumber& b)
{
    return a.value == b.value && a.inRange == b.inRange;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string text;
    if (size > 0 && data[0] == 0xFF) {
        text.assign(bytes + 1, size - 1);
    } else {
        for (std::size_t i = 0; i < size; ++i)
            text += morvandell::text::fromCodePoint(char32_t(data[i]));
    }

    const ConvertedNumber got = convertNumber(text);
    CHECK(got.inRange == (got.value >= 0 && got.value <= 255), describe(text, got));

    // The leading number's extent.
    const std::string ascii = asciiOf(text);
    const Decimal d = scan(ascii);
    const std::size_t length = leadingNumberLength(text);
    CHECK(length == d.length, fuzzcheck::escaped(text) + ": length " + std::to_string(length) + ", expected " +
                                  std::to_string(d.length));
    if (strtodReadsPlainDecimal(ascii)) {
        char* end = nullptr;
        std::strtod(ascii.c_str(), &end);
        const std::size_t strtodLength = std::size_t(end - ascii.c_str());
        CHECK(strtodLength == length, fuzzcheck::escaped(text) + ": strtod reads " + std::to_string(strtodLength) +
                                          " characters, leadingNumberLength " + std::to_string(length));
    }

    // Exact rounding.
    if (d.length == 0) {
        CHECK(got.value == 0 && got.inRange, describe(text, got));
    } else {
        const Rounded expected = roundExactly(d);
        if (expected.huge) {
            CHECK(!got.inRange, describe(text, got));
            CHECK((got.value < 0) == d.negative, describe(text, got));
        } else {
            const bool expectedInRange = expected.value >= 0 && expected.value <= 255;
            CHECK(got.inRange == expectedInRange && (!expectedInRange || got.value == expected.value),
                  describe(text, got) + "; the nearest whole number is " + std::to_string(expected.value));
            if (!expectedInRange)
                CHECK((got.value < 0) == (expected.value < 0), describe(text, got));
        }
    }

    // What follows the number does not matter.
    const ConvertedNumber cut = convertNumber(std::string_view(text).substr(0, length));
    CHECK(same(cut, got), describe(text, got) + ", cut after the number: " + describe(text.substr(0, length), cut));
    for (const char* junk : {"/>", "\"", " ", "abc", ",5", "x1e5", "\t7", "/"}) {
        const std::string longer = text + junk;
        const ConvertedNumber withJunk = convertNumber(longer);
        CHECK(same(withJunk, got), describe(text, got) + ", followed by junk: " + describe(longer, withJunk));
    }
    return 0;
}
