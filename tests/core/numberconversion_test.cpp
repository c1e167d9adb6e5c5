// "divider" and "channel" values to whole numbers: the leading number only, exact decimal rounding
// half to even, out-of-range values reported and never wrapped.
#include "catalogue/numberconversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

using namespace morvandell;

namespace {

constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();

struct ConvertRow
{
    const char* name;
    const char* text;
    std::int64_t value;
    bool inRange;
};

class Convert : public testing::TestWithParam<ConvertRow>
{};

TEST_P(Convert, givesTheRoundedLeadingNumber)
{
    const ConvertRow& row = GetParam();
    const ConvertedNumber result = convertNumber(row.text);
    EXPECT_EQ(result.value, row.value) << row.text;
    EXPECT_EQ(result.inRange, row.inRange) << row.text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Convert,
    testing::Values(
        // Leading number, rest ignored.
        ConvertRow{"plain", "12", 12, true}, ConvertRow{"elementClose", "10/>", 10, true},
        ConvertRow{"lettersAfter", "12abc", 12, true}, ConvertRow{"commaIsNoPoint", "2,5", 2, true},
        ConvertRow{"pointLast", "5.", 5, true},
        // Digits before the point are required: a point first is no number.
        ConvertRow{"pointFirst", ".6", 0, true}, ConvertRow{"signAndPointFirst", "-.5e3", 0, true},
        // No number.
        ConvertRow{"empty", "", 0, true}, ConvertRow{"letters", "abc", 0, true},
        ConvertRow{"pointOnly", ".", 0, true}, ConvertRow{"leadingBlank", " 5", 0, true},
        // Half to even.
        ConvertRow{"zeroPointFive", "0.5", 0, true}, ConvertRow{"onePointFive", "1.5", 2, true},
        ConvertRow{"twoPointFive", "2.5", 2, true}, ConvertRow{"threePointFive", "3.5", 4, true},
        ConvertRow{"twoFiftyFourPointFive", "254.5", 254, true},
        ConvertRow{"minusHalfIsZero", "-0.5", 0, true},
        // More digits than a double holds: a hair above or below a half still decides.
        ConvertRow{"hairAbove2Point5", "2.50000000000000001", 3, true},
        ConvertRow{"hairBelow255Point5", "255.49999999999999999", 255, true},
        ConvertRow{"hairBelowMinusHalf", "-0.50000000000000001", -1, false},
        ConvertRow{"hairBelow49Point5", "49.49999999999999999", 49, true},
        ConvertRow{"halfAfterAShiftedPoint", "25e-1", 2, true},
        ConvertRow{"zerosBeforeTheDigits", "000.0000049e6", 5, true},
        // Exponents.
        ConvertRow{"exponent", "1e2", 100, true}, ConvertRow{"negativeExponentHalf", "15e-1", 2, true},
        ConvertRow{"exponentWithoutDigits", "1e", 1, true},
        ConvertRow{"smallMantissaBigExponent", "0.00000000000000000000000000000000000001e40", 100, true},
        ConvertRow{"bigMantissaSmallExponent", "1000000000000000000000000000000000000000e-37", 100, true},
        ConvertRow{"tiny", "1e-400", 0, true},
        // Out of 0..255: reported, never wrapped.
        ConvertRow{"twoFiftyFive", "255", 255, true}, ConvertRow{"twoFiftyFivePointFiveRoundsUp", "255.5", 256, false},
        ConvertRow{"threeHundred", "300", 300, false}, ConvertRow{"minusOne", "-1", -1, false},
        ConvertRow{"minusZeroPointSix", "-0.6", -1, false}, ConvertRow{"oneE400", "1e400", Max, false},
        ConvertRow{"hugeExponent", "1e99999999999999999999", Max, false}),
    [](const testing::TestParamInfo<ConvertRow>& info) { return std::string(info.param.name); });

} // namespace
