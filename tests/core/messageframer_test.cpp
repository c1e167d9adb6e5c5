// Device messages: framing of the received byte stream and decoding into log lines.
#include "coresupport.h"

#include "platform/text.h"
#include "writer/messageframer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace morvandell;
using namespace morvandell::test;

namespace {

Bytes message(Byte type, const std::string& payload, Byte hi = 0, Byte lo = 0)
{
    Bytes m{0x55, type, hi, lo};
    Bytes p = bytes(payload.substr(0, 16));
    p.resize(16, 0x00);
    append(m, p);
    append(m, bytes("\r\n"));
    return m;
}

std::vector<std::string> linesOf(const std::vector<DeviceMessage>& messages)
{
    std::vector<std::string> out;
    for (const auto& m : messages)
        out.push_back(m.logLine("14:03:22"));
    return out;
}

void add(std::vector<DeviceMessage>& to, std::vector<DeviceMessage> more)
{
    to.insert(to.end(), more.begin(), more.end());
}

struct DecodeRow
{
    const char* name;
    Bytes bytes;
    const char* line;
};

class DecodesEachMessageType : public testing::TestWithParam<DecodeRow>
{};

TEST_P(DecodesEachMessageType, intoItsLogLine)
{
    const DecodeRow& row = GetParam();
    MessageFramer framer;
    const auto messages = framer.feed(row.bytes);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().bytes, row.bytes);
    EXPECT_EQ(messages.front().logLine("14:03:22"), row.line);
    EXPECT_TRUE(framer.buffer().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodesEachMessageType,
    testing::Values(DecodeRow{"text", message(0, "OK"), "14:03:22 -> OK"},
                    DecodeRow{"emptyText", message(0, ""), "14:03:22 -> "},
                    DecodeRow{"sixteenCharactersNoZero", message(0, "ABCDEFGHIJKLMNOP"),
                              "14:03:22 -> ABCDEFGHIJKLMNOP"},
                    DecodeRow{"textEndsAtFirstZero", message(0, std::string("AB\0CD", 5)), "14:03:22 -> AB"},
                    DecodeRow{"writeSdram", message(0, "Write SDram"), "14:03:22 -> Write SDram @ 0x0"},
                    DecodeRow{"writeSdramIsCaseSensitive", message(0, "write sdram"), "14:03:22 -> write sdram"},
                    DecodeRow{"eepromReport", message(2, "xxxxxxxxxxxxxxxx", 0x01, 0x30),
                              "14:03:22->  ReadEEProm @ 0x130"},
                    DecodeRow{"eepromReportAt0", message(2, "", 0, 0), "14:03:22->  ReadEEProm @ 0x0"},
                    DecodeRow{"eepromReportUpperHex", message(2, "", 0xAB, 0xCD), "14:03:22->  ReadEEProm @ 0xABCD"},
                    DecodeRow{"identification", message(253, "V1.2"), "14:03:22->  online Firmware: V1.2"},
                    DecodeRow{"windows1252Payload", message(0, "\xD6l \x80"), "14:03:22 -> Öl €"},
                    DecodeRow{"unknownType", message(7, "X"), ""}),
    [](const testing::TestParamInfo<DecodeRow>& info) { return std::string(info.param.name); });

struct ArrivalRow
{
    const char* name;
    std::vector<Bytes> reads;
    std::vector<std::string> lines;
    std::size_t leftInBuffer;
};

Bytes operator+(Bytes a, const Bytes& b)
{
    append(a, b);
    return a;
}

const Bytes A = message(0, "first");
const Bytes B = message(0, "second");
const std::vector<std::string> Both{"14:03:22 -> first", "14:03:22 -> second"};
const std::vector<std::string> First{"14:03:22 -> first"};

class FramesEveryMessageInArrivalOrder : public testing::TestWithParam<ArrivalRow>
{};

TEST_P(FramesEveryMessageInArrivalOrder, howeverTheReadsSplitThem)
{
    const ArrivalRow& row = GetParam();
    MessageFramer framer;
    std::vector<DeviceMessage> all;
    for (const Bytes& read : row.reads)
        add(all, framer.feed(read));
    EXPECT_EQ(linesOf(all), row.lines);
    EXPECT_EQ(framer.buffer().size(), row.leftInBuffer);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FramesEveryMessageInArrivalOrder,
    testing::Values(
        ArrivalRow{"twoMessagesInOneRead", {A + B}, Both, 0},
        ArrivalRow{"messageFollowedByStartOfNext", {A + slice(B, 0, 5), slice(B, 5)}, Both, 0},
        ArrivalRow{"crAndLfInDifferentReads", {slice(A, 0, 21), slice(A, 21)}, First, 0},
        ArrivalRow{"noiseBeforeAMessage", {bytes("garbage\r\n") + A}, First, 0},
        ArrivalRow{"noiseContainingUBetweenMessages", {A + bytes("xUUx\x55zz") + B}, Both, 0},
        ArrivalRow{"shortCrLfLineBeforeAMessage", {bytes("OK\r\n"), A}, First, 0},
        ArrivalRow{"payloadCrLfInsideAMessage", {message(0, std::string("ab\r\ncd", 6))}, {"14:03:22 -> ab\r\ncd"}, 0},
        ArrivalRow{"incompleteTailWaits", {A + slice(B, 0, 10)}, First, 10},
        ArrivalRow{"uWithoutCrLfAt21To22IsDropped", {Bytes(22, 0x55) + A}, First, 0},
        ArrivalRow{"emptyRead", {Bytes()}, {}, 0},
        // Beyond the rows above: a 0x55 inside a message, 22 bytes before a CR LF in the next one, starts
        // no message of its own.
        ArrivalRow{"aWindowInsideAMessageIsNoMessage",
                   {message(0, std::string(14, 'a') + "\x55" "b") + message(0, std::string(12, 'c') + "\r\nd")},
                   {"14:03:22 -> aaaaaaaaaaaaaaUb", "14:03:22 -> cccccccccccc\r\nd"},
                   0}),
    [](const testing::TestParamInfo<ArrivalRow>& info) { return std::string(info.param.name); });

TEST(MessageFramer, splitDeliveryDecodesLikeOnePiece)
{
    Bytes stream;
    for (int i = 0; i < 50; ++i) {
        append(stream, message(Byte(i % 3 == 0 ? 0 : (i % 3 == 1 ? 2 : 253)), std::to_string(i) + "\x55\r\n", 0,
                               Byte(i)));
        if (i % 7 == 0)
            append(stream, bytes("noise\x55\r\n"));
    }
    MessageFramer whole;
    const std::vector<std::string> expected = linesOf(whole.feed(stream));
    ASSERT_EQ(expected.size(), 50u);

    MessageFramer bytewise;
    std::vector<DeviceMessage> got;
    for (const Byte b : stream)
        add(got, bytewise.feed(Bytes{b}));
    EXPECT_EQ(linesOf(got), expected);

    std::mt19937 random(20240601);
    for (int round = 0; round < 20; ++round) {
        MessageFramer pieces;
        std::vector<DeviceMessage> all;
        for (std::size_t pos = 0; pos < stream.size();) {
            const std::size_t n = 1 + random() % 59;
            add(all, pieces.feed(slice(stream, pos, n)));
            pos += n;
        }
        EXPECT_EQ(linesOf(all), expected) << "round " << round;
    }
}

TEST(MessageFramer, bufferStaysBoundedUnderEndlessNoise)
{
    MessageFramer framer;
    const Bytes noise(4096, 0x55);
    for (int i = 0; i < 256; ++i) {
        ASSERT_TRUE(framer.feed(noise).empty());
        ASSERT_LT(framer.buffer().size(), DeviceMessage::Size);
    }
    EXPECT_EQ(framer.feed(message(0, "after")).size(), 1u);
}

TEST(MessageFramer, longTimeHasNoTimeZone)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = 22;
    local.tm_isdst = -1;
    const std::string text = text::longTimeText(std::chrono::system_clock::from_time_t(std::mktime(&local)));
    EXPECT_TRUE(text::startsWith(text, "14:03:22") || text::contains(text, "2:03:22")) << text;
    EXPECT_FALSE(text::contains(text, "UTC") || text::endsWith(text, " ")) << text;
}

} // namespace
