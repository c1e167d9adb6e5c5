#pragma once

#include <QStringView>
#include <QtGlobal>

namespace morvandell {

// A "divider" or "channel" attribute value converted to a whole number.
struct ConvertedNumber
{
    qint64 value; // saturated to the qint64 range for absurd magnitudes such as 1e400
    bool inRange; // 0..255, i.e. fits the catalogue's 8-bit fields
};

// Length of the longest decimal number at the start of text: optional sign, digits,
// optional fraction after a point, optional exponent. The digits before the point are
// required, the fraction's are not: "5." is 5, while ".5", "-.5", "." and "+" are no numbers
// (they read as 0). An exponent counts only with at least one digit ("12e" is 12).
// 0 when text does not start with a number.
qsizetype leadingNumberLength(QStringView text);

// Reads the leading number (see leadingNumberLength; anything after it is ignored, no
// number reads as 0) and rounds it to the nearest whole number, exactly half-way to the
// even neighbour. The decimal separator is always the point, whatever the locale.
ConvertedNumber convertNumber(QStringView text);

} // namespace morvandell
