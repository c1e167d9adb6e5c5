// Command frames, byte for byte, and the name and unit fields through the display's character set.
#include "coresupport.h"

#include "writer/framebuilder.h"

#include <gtest/gtest.h>

#include <string>

using namespace morvandell;
using namespace morvandell::test;

namespace {

struct FrameRow
{
    const char* name;
    Bytes frame;
    const char* expected;
};

class FramesAreExact : public testing::TestWithParam<FrameRow>
{};

TEST_P(FramesAreExact, byteForByte)
{
    const FrameRow& row = GetParam();
    EXPECT_EQ(row.frame.size(), 22u);
    EXPECT_EQ(hexOf(row.frame), hexOf(hex(row.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FramesAreExact,
    testing::Values(
        FrameRow{"slot2Rpm", FrameBuilder::slotFrame(2, "RPM", 12, 1, "rpm"),
                 "55 01 00 20 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00 00 0D"},
        FrameRow{"unassignedSlot8EmptyBoxes", FrameBuilder::slotFrame(8, "", 0, 0, ""),
                 "55 01 00 80 20 20 20 20 20 20 20 20 00 00 00 20 20 20 00 00 00 0D"},
        FrameRow{"channel13AndDivider0x55TravelUnescaped", FrameBuilder::slotFrame(1, "Oil_P", 13, 0x55, "bar"),
                 "55 01 00 10 4F 69 6C 5F 50 20 20 20 00 0D 55 62 61 72 00 00 00 0D"},
        FrameRow{"settingsAsLoaded", FrameBuilder::settingsFrame(1),
                 "55 01 00 90 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"},
        FrameRow{"settingsPage3", FrameBuilder::settingsFrame(3),
                 "55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"},
        FrameRow{"settingsNothingSelected", FrameBuilder::settingsFrame(0),
                 "55 01 00 90 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"},
        FrameRow{"connect", FrameBuilder::connectFrame(),
                 "55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"},
        FrameRow{"reset", FrameBuilder::resetFrame(),
                 "55 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"},
        FrameRow{"update", FrameBuilder::updateFrame(),
                 "55 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"}),
    [](const testing::TestParamInfo<FrameRow>& info) { return std::string(info.param.name); });

struct FitRow
{
    const char* name;
    const char* text; // UTF-8
    std::size_t width;
    std::string bytes;
};

class TextIsFittedToItsField : public testing::TestWithParam<FitRow>
{};

TEST_P(TextIsFittedToItsField, oneBytePerCharacter)
{
    const FitRow& row = GetParam();
    EXPECT_EQ(hexOf(FrameBuilder::fitText(row.text, row.width)), hexOf(bytes(row.bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TextIsFittedToItsField,
    testing::Values(FitRow{"shortNamePadded", "RPM", 8, "RPM     "},
                    FitRow{"longNameCut", "Coolant_Temperature", 8, "Coolant_"},
                    FitRow{"blanksKeptNotTrimmed", " a ", 8, " a      "}, FitRow{"unitV", "V", 3, "V  "},
                    FitRow{"emptyUnit", "", 3, "   "},
                    FitRow{"umlautThroughWindows1252", "Öl°C", 8, "\xD6l\xB0"
                                                                  "C    "},
                    FitRow{"euroSign", "€", 3, "\x80  "}, FitRow{"missingCharacterBecomesQuestionMark", "Ωk", 3, "?k "},
                    FitRow{"characterOutsideTheBmpIsOneQuestionMark", "a😀b", 3, "a?b"},
                    FitRow{"cutAfterConversionKeepsTheWidth", "ΩΩΩΩΩΩΩΩΩΩ", 8, "????????"}),
    [](const testing::TestParamInfo<FitRow>& info) { return std::string(info.param.name); });

} // namespace
