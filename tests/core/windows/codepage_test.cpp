// Windows-1252 through the system's tables gives what the portable table gives: one byte per character,
// no look-alikes, and the five bytes without a character kept as they are.
#include "platform/text.h"

#include <gtest/gtest.h>

using namespace morvandell;

namespace {

struct Row
{
    const char* name;
    const char* text;
    Bytes bytes;
};

class ToWindows1252 : public testing::TestWithParam<Row>
{};

TEST_P(ToWindows1252, oneBytePerCharacter)
{
    EXPECT_EQ(text::toWindows1252(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ToWindows1252,
    testing::Values(Row{"ascii", "RPM 12", {'R', 'P', 'M', ' ', '1', '2'}},
                    Row{"umlauts", "Öldrück ß", {0xD6, 'l', 'd', 'r', 0xFC, 'c', 'k', ' ', 0xDF}},
                    Row{"euroAndEllipsis", "€…", {0x80, 0x85}},
                    Row{"noLookAlike", "Łódź", {'?', 0xF3, 'd', '?'}},
                    Row{"greek", "Ω", {'?'}},
                    Row{"beyondTheBasicPlane", "a😀b", {'a', '?', 'b'}},
                    Row{"controlBytesWithoutCharacter", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D",
                        {0x81, 0x8D, 0x8F, 0x90, 0x9D}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Windows1252, missingCharactersBecomeTheGivenByte)
{
    EXPECT_EQ(text::toWindows1252("Ł€", ' '), (Bytes{' ', 0x80}));
}

TEST(Windows1252, everyByteComesBackAsItWas)
{
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, char(b));
        EXPECT_EQ(text::toWindows1252(text::fromWindows1252(one)), Bytes{Byte(b)}) << "byte " << b;
    }
    EXPECT_EQ(text::fromWindows1252(std::string("\x80\xFC\x85")), "€ü…");
}

} // namespace
