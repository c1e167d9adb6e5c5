// Windows-1252 through the system's tables gives what the portable table gives: one byte per character,
// no look-alikes, and the five bytes without a character kept as they are. The ANSI code page is the
// system's: a log-definition file's names, the frames' names and the display's texts go through it. Its
// tests run this program once per locale (tests/wine/wine.cmake), each telling it the code page that
// Windows reports (MORVANDELL_ACP) and the one to be used (MORVANDELL_CODE_PAGE).
#include "catalogue/logdefinitionreader.h"
#include "platform/text.h"
#include "writer/framebuilder.h"
#include "writer/messageframer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include <windows.h>

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

unsigned expected(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? unsigned(std::atoi(value)) : 0;
}

TEST(AnsiCodePage, isTheSystemsWhenItHasOneBytePerCharacter)
{
    ASSERT_NE(expected("MORVANDELL_ACP"), 0u) << "MORVANDELL_ACP is set by the test's environment";
    EXPECT_EQ(::GetACP(), expected("MORVANDELL_ACP"));
    EXPECT_EQ(text::ansiCodePage(), expected("MORVANDELL_CODE_PAGE"));
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, char(b));
        EXPECT_EQ(text::toAnsi(text::fromAnsi(one)), Bytes{Byte(b)}) << "byte " << b;
    }
}

struct AnsiRow
{
    const char* name;
    unsigned codePage; // the row holds under this code page only
    std::string bytes; // as in the file, in a frame, from the display
    const char* text;
};

class AnsiText : public testing::TestWithParam<AnsiRow>
{};

// A name from the log-definition file, as the lists show it, goes out as the same bytes; the display's
// text in those bytes is logged as that text.
TEST_P(AnsiText, fromTheFileToTheListsToTheFrameAndFromTheDisplayToTheLog)
{
    const AnsiRow& row = GetParam();
    if (text::ansiCodePage() != row.codePage)
        GTEST_SKIP() << "for code page " << row.codePage;
    std::istringstream file("<channel name=\"" + row.bytes + "\" unit=\"" + row.bytes.substr(0, 3) + "\"/>\r\n",
                            std::ios::binary);
    Catalogue catalogue;
    ReadReport report;
    ASSERT_TRUE(LogDefinitionReader::readWhole(file, catalogue, &report));
    ASSERT_EQ(report.entries.size(), 1u);
    EXPECT_EQ(report.entries[0].name, row.text);

    Bytes field(row.bytes.begin(), row.bytes.end());
    field.resize(FrameBuilder::NameWidth, ' ');
    const Bytes frame = FrameBuilder::slotFrame(1, report.entries[0].name, 1, 1, catalogue.unit[1]);
    EXPECT_EQ(slice(frame, 4, FrameBuilder::NameWidth), field);
    EXPECT_EQ(slice(frame, 15, 3), Bytes(row.bytes.begin(), row.bytes.begin() + 3));

    Bytes message{0x55, 0x00, 0x00, 0x00};
    message.insert(message.end(), row.bytes.begin(), row.bytes.end());
    message.resize(20, 0x00);
    message.insert(message.end(), {0x0D, 0x0A});
    EXPECT_EQ(DeviceMessage{message}.logLine("14:03:22"), std::string("14:03:22 -> ") + row.text);
}

INSTANTIATE_TEST_SUITE_P(Rows, AnsiText,
                         testing::Values(AnsiRow{"polish1250", 1250, "\xA3\xF3" "d\x9F\x8C\x9C", "ŁódźŚś"},
                                         AnsiRow{"germanIn1250", 1250, "\xD6l\xDF\xB0", "Ölß°"},
                                         AnsiRow{"polishBytesIn1252", 1252, "\xA3\xF3" "d\x9F\x8C\x9C", "£ódŸŒœ"},
                                         AnsiRow{"german1252", 1252, "\xD6l\xDF\xB0", "Ölß°"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A character the code page lacks is sent as '?', never as a look-alike.
TEST(AnsiCodePage, aMissingCharacterIsAQuestionMark)
{
    const unsigned codePage = text::ansiCodePage();
    if (codePage == 1250)
        EXPECT_EQ(FrameBuilder::fitText("ñŁ", 3), (Bytes{'?', 0xA3, ' '}));
    else if (codePage == 1252)
        EXPECT_EQ(FrameBuilder::fitText("ñŁ", 3), (Bytes{0xF1, '?', ' '}));
    else
        GTEST_SKIP() << "no row for code page " << codePage;
}

} // namespace
