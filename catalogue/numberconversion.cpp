#include "numberconversion.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace morvandell {

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Magnitudes beyond this many decimal places are decided without parsing:
// they are far outside 0..255 (or round to 0) and could overflow a double.
constexpr qint64 MagnitudeLimit = 30;

} // namespace

qsizetype leadingNumberLength(QStringView text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    if (i < size && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < size && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < size && text[i] == u'.') {
        qsizetype j = i + 1;
        while (j < size && isDigit(text[j])) {
            ++j;
            ++digits;
        }
        if (digits > 0)
            i = j;
    }
    if (digits == 0)
        return 0;
    if (i < size && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < size && (text[j] == u'+' || text[j] == u'-'))
            ++j;
        const qsizetype expStart = j;
        while (j < size && isDigit(text[j]))
            ++j;
        if (j > expStart)
            i = j;
    }
    return i;
}

ConvertedNumber convertNumber(QStringView text)
{
    const qsizetype length = leadingNumberLength(text);
    if (length == 0)
        return {0, true};
    const QStringView number = text.first(length);

    // Split into sign, mantissa and exponent to estimate the decimal magnitude first.
    qsizetype i = 0;
    bool negative = false;
    if (number[i] == u'+' || number[i] == u'-') {
        negative = number[i] == u'-';
        ++i;
    }
    qint64 firstSignificant = 0; // m such that the mantissa lies in [10^(m-1), 10^m)
    bool nonZero = false;
    qint64 intDigits = 0;
    qsizetype mantissaEnd = i;
    while (mantissaEnd < length && isDigit(number[mantissaEnd])) {
        if (!nonZero && number[mantissaEnd] != u'0') {
            nonZero = true;
            intDigits = 0;
        }
        if (nonZero)
            ++intDigits;
        ++mantissaEnd;
    }
    firstSignificant = intDigits;
    if (mantissaEnd < length && number[mantissaEnd] == u'.') {
        ++mantissaEnd;
        qint64 zerosAfterPoint = 0;
        while (mantissaEnd < length && isDigit(number[mantissaEnd])) {
            if (!nonZero) {
                if (number[mantissaEnd] != u'0') {
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

    qint64 exponent = 0;
    if (mantissaEnd < length) { // an exponent follows
        qsizetype j = mantissaEnd + 1;
        bool expNegative = false;
        if (number[j] == u'+' || number[j] == u'-') {
            expNegative = number[j] == u'-';
            ++j;
        }
        for (; j < length; ++j) {
            if (exponent < 1'000'000'000) // saturate; anything this large is decided below anyway
                exponent = exponent * 10 + (number[j].unicode() - u'0');
        }
        if (expNegative)
            exponent = -exponent;
    }

    const qint64 magnitude = firstSignificant + exponent; // value lies in [10^(m-1), 10^m)
    if (magnitude > MagnitudeLimit) {
        return {negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max(), false};
    }
    if (magnitude < -MagnitudeLimit)
        return {0, true};

    // Now a double holds it without overflow or underflow. from_chars is locale-independent
    // but does not take a leading '+'.
    std::string ascii;
    ascii.reserve(std::size_t(length));
    for (qsizetype k = (number[0] == u'+') ? 1 : 0; k < length; ++k)
        ascii.push_back(char(number[k].unicode()));
    double parsed = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed);
    if (result.ec != std::errc())
        return {0, true}; // cannot happen for a text that passed the scan above

    const double rounded = std::nearbyint(parsed); // default rounding mode: half to even
    if (std::fabs(rounded) >= 9.0e18) {
        return {rounded < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max(), false};
    }
    const qint64 value = qint64(rounded);
    return {value, value >= 0 && value <= 255};
}

} // namespace morvandell
