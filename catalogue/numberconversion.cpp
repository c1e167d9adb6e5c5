#include "numberconversion.h"

#include <algorithm>
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
    const qsizetype integerStart = i;
    while (i < size && isDigit(text[i]))
        ++i;
    if (i == integerStart) // digits first: ".6" is no number
        return 0;
    if (i < size && text[i] == u'.') {
        ++i;
        while (i < size && isDigit(text[i]))
            ++i;
    }
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

    // Round on the decimal digits themselves: going through a double first can land a value such as
    // 2.50000000000000001 exactly on a half and round it the wrong way.
    std::string digits; // every mantissa digit, integer part first
    qint64 integerDigits = -1;
    for (qsizetype k = i; k < mantissaEnd; ++k) {
        if (number[k] == u'.')
            integerDigits = qint64(digits.size());
        else
            digits.push_back(char(number[k].unicode()));
    }
    if (integerDigits < 0) // no point: every digit is a whole digit
        integerDigits = qint64(digits.size());
    const qint64 point = integerDigits + exponent; // digits before the decimal point
    const qint64 count = qint64(digits.size());

    // Whole part: the digits before the point, with zeros appended when the point lies beyond them.
    qint64 whole = 0;
    int significant = 0;
    for (qint64 k = 0; k < point; ++k) {
        const int d = k < count ? digits[std::size_t(k)] - '0' : 0;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 18)
            return {negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max(),
                    false};
        whole = whole * 10 + d;
    }
    // The first digit after the point decides (a zero when the point lies before every digit), the rest
    // only whether a 5 is exactly half.
    const int first = (point >= 0 && point < count) ? digits[std::size_t(point)] - '0' : 0;
    bool restNonZero = false;
    for (qint64 k = std::max<qint64>(point + 1, 0); k < count && !restNonZero; ++k)
        restNonZero = digits[std::size_t(k)] != '0';
    if (first > 5 || (first == 5 && (restNonZero || whole % 2 == 1)))
        ++whole;

    const qint64 value = negative ? -whole : whole;
    return {value, value >= 0 && value <= 255};
}

} // namespace morvandell
