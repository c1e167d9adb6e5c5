#include "catalogue/numberconversion.h"

#include <algorithm>
#include <limits>
#include <string>

namespace morvandell {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Magnitudes beyond this many decimal places are decided without parsing:
// they are far outside 0..255 (or round to 0) and could overflow a double.
constexpr std::int64_t MagnitudeLimit = 30;

constexpr ConvertedNumber saturated(bool negative)
{
    return {negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max(),
            false};
}

} // namespace

std::size_t leadingNumberLength(std::string_view text)
{
    const std::size_t size = text.size();
    std::size_t i = 0;
    if (i < size && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t integerStart = i;
    while (i < size && isDigit(text[i]))
        ++i;
    if (i == integerStart) // digits first: ".6" is no number
        return 0;
    if (i < size && text[i] == '.') {
        ++i;
        while (i < size && isDigit(text[i]))
            ++i;
    }
    if (i < size && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < size && (text[j] == '+' || text[j] == '-'))
            ++j;
        const std::size_t expStart = j;
        while (j < size && isDigit(text[j]))
            ++j;
        if (j > expStart)
            i = j;
    }
    return i;
}

ConvertedNumber convertNumber(std::string_view text)
{
    const std::size_t length = leadingNumberLength(text);
    if (length == 0)
        return {0, true};
    const std::string_view number = text.substr(0, length);

    // Split into sign, mantissa and exponent to estimate the decimal magnitude first.
    std::size_t i = 0;
    bool negative = false;
    if (number[i] == '+' || number[i] == '-') {
        negative = number[i] == '-';
        ++i;
    }
    std::int64_t firstSignificant = 0; // m such that the mantissa lies in [10^(m-1), 10^m)
    bool nonZero = false;
    std::int64_t intDigits = 0;
    std::size_t mantissaEnd = i;
    while (mantissaEnd < length && isDigit(number[mantissaEnd])) {
        if (!nonZero && number[mantissaEnd] != '0') {
            nonZero = true;
            intDigits = 0;
        }
        if (nonZero)
            ++intDigits;
        ++mantissaEnd;
    }
    firstSignificant = intDigits;
    if (mantissaEnd < length && number[mantissaEnd] == '.') {
        ++mantissaEnd;
        std::int64_t zerosAfterPoint = 0;
        while (mantissaEnd < length && isDigit(number[mantissaEnd])) {
            if (!nonZero) {
                if (number[mantissaEnd] != '0') {
                    nonZero = true;
                    firstSignificant = -zerosAfterPoint;
                } else {
                    ++zerosAfterPoint;
                }
            }
            ++mantissaEnd;
        }
    }
    if (!nonZero)
        return {0, true};

    std::int64_t exponent = 0;
    if (mantissaEnd < length) { // an exponent follows
        std::size_t j = mantissaEnd + 1;
        bool expNegative = false;
        if (number[j] == '+' || number[j] == '-') {
            expNegative = number[j] == '-';
            ++j;
        }
        for (; j < length; ++j) {
            if (exponent < 1'000'000'000) // saturate; anything this large is decided below anyway
                exponent = exponent * 10 + (number[j] - '0');
        }
        if (expNegative)
            exponent = -exponent;
    }

    const std::int64_t magnitude = firstSignificant + exponent; // value lies in [10^(m-1), 10^m)
    if (magnitude > MagnitudeLimit)
        return saturated(negative);
    if (magnitude < -MagnitudeLimit)
        return {0, true};

    // Round on the decimal digits themselves: going through a double first can land a value such as
    // 2.50000000000000001 exactly on a half and round it the wrong way.
    std::string digits; // every mantissa digit, integer part first
    std::int64_t integerDigits = -1;
    for (std::size_t k = i; k < mantissaEnd; ++k) {
        if (number[k] == '.')
            integerDigits = std::int64_t(digits.size());
        else
            digits.push_back(number[k]);
    }
    if (integerDigits < 0) // no point: every digit is a whole digit
        integerDigits = std::int64_t(digits.size());
    const std::int64_t point = integerDigits + exponent; // digits before the decimal point
    const std::int64_t count = std::int64_t(digits.size());

    // Whole part: the digits before the point, with zeros appended when the point lies beyond them.
    std::int64_t whole = 0;
    int significant = 0;
    for (std::int64_t k = 0; k < point; ++k) {
        const int d = k < count ? digits[std::size_t(k)] - '0' : 0;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 18)
            return saturated(negative);
        whole = whole * 10 + d;
    }
    // The first digit after the point decides (a zero when the point lies before every digit), the rest
    // only whether a 5 is exactly half.
    const int first = (point >= 0 && point < count) ? digits[std::size_t(point)] - '0' : 0;
    bool restNonZero = false;
    for (std::int64_t k = std::max<std::int64_t>(point + 1, 0); k < count && !restNonZero; ++k)
        restNonZero = digits[std::size_t(k)] != '0';
    if (first > 5 || (first == 5 && (restNonZero || whole % 2 == 1)))
        ++whole;

    const std::int64_t value = negative ? -whole : whole;
    return {value, value >= 0 && value <= 255};
}

} // namespace morvandell
