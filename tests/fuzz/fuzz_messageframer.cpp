// Fuzz target for the device-message framer and the log lines of device messages.
//
// Input: byte 0 gives the number k (0..15, low four bits) of piece sizes that follow in bytes 1..k;
// everything after them is the received byte stream. The stream is fed to three framers: in one
// piece, in pieces of the given sizes (repeated; two halves when k is 0, empty feeds in between)
// and byte by byte.
//
// Properties:
// - all three framers return the same messages in the same order and end with the same buffer;
// - every message is 22 bytes of the stream, starting 0x55 and ending CR LF;
// - the messages are exactly the leftmost non-overlapping 22-byte windows of the stream that start
//   0x55 and end CR LF: message k is the first such window that begins after message k-1 ends,
//   and no such window is left after the last message;
// - the buffer never holds more than 21 bytes, and at the end it holds the stream from its first
//   0x55 that is too close to the end to be judged yet (nothing that could still begin a message
//   is lost, nothing that cannot is kept);
// - logLine gives the line for the message's type (text, EEPROM report, identification) and an
//   empty line for every other type, for messages from the framer and for any 22 bytes; the payload
//   text is valid UTF-8 with one character per byte up to the first zero, ASCII as it is.
#include "fuzzcheck.h"
#include "platform/text.h"
#include "writer/messageframer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using morvandell::Byte;
using morvandell::Bytes;
using morvandell::DeviceMessage;
using morvandell::MessageFramer;
namespace text = morvandell::text;

namespace {

constexpr std::size_t MaxBuffered = DeviceMessage::Size - 1;
const std::string Time = "14:03:22";

bool isWindow(const Bytes& s, std::size_t p)
{
    return p + DeviceMessage::Size <= s.size() && s[p] == 0x55 && s[p + 20] == '\r' && s[p + 21] == '\n';
}

std::string messagesText(const std::vector<DeviceMessage>& messages)
{
    std::vector<std::string> parts;
    for (const DeviceMessage& m : messages)
        parts.push_back(fuzzcheck::escaped(m.bytes));
    return text::join(parts, ", ");
}

void checkLogLine(const DeviceMessage& m)
{
    const std::string line = m.logLine(Time);
    const Bytes payload = m.payload();
    CHECK(payload.size() == 16);

    const std::string shown = m.payloadText();
    const auto zero = std::find(payload.begin(), payload.end(), Byte(0));
    const std::size_t textBytes = std::size_t(zero - payload.begin());
    // One character per byte up to the first zero; ASCII stays itself.
    CHECK(text::isValidUtf8(shown), fuzzcheck::escaped(m.bytes) + " -> " + fuzzcheck::escaped(shown));
    const std::u32string characters = text::toCodePoints(shown);
    CHECK(characters.size() == textBytes, fuzzcheck::escaped(m.bytes) + " -> " + fuzzcheck::escaped(shown));
    for (std::size_t i = 0; i < textBytes; ++i) {
        CHECK(characters[i] != 0);
        if (payload[i] < 0x80)
            CHECK(characters[i] == payload[i], fuzzcheck::escaped(m.bytes));
    }

    switch (m.type()) {
    case DeviceMessage::Text: {
        std::string expected = Time + " -> " + shown;
        if (shown == "Write SDram")
            expected += " @ 0x0";
        CHECK(line == expected, fuzzcheck::escaped(line));
        break;
    }
    case DeviceMessage::EepromReport: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", unsigned(m.bytes[2]) * 256u + unsigned(m.bytes[3]));
        CHECK(line == Time + "->  ReadEEProm @ 0x" + hex, fuzzcheck::escaped(line));
        break;
    }
    case DeviceMessage::Identification:
        CHECK(line == Time + "->  online Firmware: " + shown, fuzzcheck::escaped(line));
        break;
    default:
        CHECK(line.empty(), fuzzcheck::escaped(line));
        break;
    }
}

// Feeds one piece, checking what comes back and the buffer bound.
void feed(MessageFramer& framer, const Bytes& piece, std::vector<DeviceMessage>& out)
{
    const std::vector<DeviceMessage> got = framer.feed(piece);
    CHECK(framer.buffer().size() <= MaxBuffered, "buffer holds " + std::to_string(framer.buffer().size()) + " bytes");
    if (piece.empty())
        CHECK(got.empty());
    for (const DeviceMessage& m : got) {
        CHECK(m.bytes.size() == DeviceMessage::Size, fuzzcheck::escaped(m.bytes));
        CHECK(m.bytes.front() == 0x55 && m.bytes[20] == '\r' && m.bytes[21] == '\n', fuzzcheck::escaped(m.bytes));
    }
    out.insert(out.end(), got.begin(), got.end());
}

bool same(const std::vector<DeviceMessage>& a, const std::vector<DeviceMessage>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].bytes != b[i].bytes)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t k = std::min<std::size_t>(data[0] & 0x0f, size - 1);
    std::vector<std::size_t> pieces;
    for (std::size_t i = 1; i <= k; ++i)
        pieces.push_back(std::max<std::size_t>(1, data[i])); // 1..255
    const Bytes stream(data + 1 + k, data + size);
    const std::size_t n = stream.size();
    if (pieces.empty())
        pieces.push_back(std::max<std::size_t>(1, n / 2));

    // In one piece.
    MessageFramer whole;
    std::vector<DeviceMessage> wholeMessages;
    feed(whole, stream, wholeMessages);

    // In the given pieces, with empty feeds in between.
    MessageFramer split;
    std::vector<DeviceMessage> splitMessages;
    for (std::size_t pos = 0, i = 0; pos < n; ++i) {
        const std::size_t length = std::min(pieces[i % pieces.size()], n - pos);
        feed(split, morvandell::slice(stream, pos, length), splitMessages);
        feed(split, Bytes(), splitMessages);
        pos += length;
    }

    // Byte by byte.
    MessageFramer single;
    std::vector<DeviceMessage> singleMessages;
    for (std::size_t pos = 0; pos < n; ++pos)
        feed(single, Bytes{stream[pos]}, singleMessages);

    CHECK(same(wholeMessages, splitMessages),
          "one piece: " + messagesText(wholeMessages) + "\n    split: " + messagesText(splitMessages));
    CHECK(same(wholeMessages, singleMessages),
          "one piece: " + messagesText(wholeMessages) + "\n    byte by byte: " + messagesText(singleMessages));

    // The messages are the leftmost non-overlapping windows of the stream.
    std::size_t pos = 0;
    for (const DeviceMessage& m : wholeMessages) {
        std::size_t p = pos;
        while (p < n && !isWindow(stream, p))
            ++p;
        CHECK(p < n, "message not found in the stream: " + fuzzcheck::escaped(m.bytes));
        CHECK(morvandell::slice(stream, p, DeviceMessage::Size) == m.bytes,
              "expected the window at " + std::to_string(p) + ": " +
                  fuzzcheck::escaped(morvandell::slice(stream, p, 22)) + ", got " + fuzzcheck::escaped(m.bytes));
        pos = p + DeviceMessage::Size;
    }
    for (std::size_t p = pos; p < n; ++p)
        CHECK(!isWindow(stream, p), "complete message at offset " + std::to_string(p) + " not returned");

    // The buffer holds the stream from its first 0x55 that cannot be judged yet.
    std::size_t keepFrom = n;
    for (std::size_t p = std::max(pos, n > MaxBuffered ? n - MaxBuffered : 0); p < n; ++p) {
        if (stream[p] == 0x55) {
            keepFrom = p;
            break;
        }
    }
    const Bytes expectedBuffer = morvandell::slice(stream, keepFrom);
    CHECK(whole.buffer() == expectedBuffer,
          fuzzcheck::escaped(whole.buffer()) + " instead of " + fuzzcheck::escaped(expectedBuffer));
    CHECK(split.buffer() == expectedBuffer, fuzzcheck::escaped(split.buffer()));
    CHECK(single.buffer() == expectedBuffer, fuzzcheck::escaped(single.buffer()));

    whole.clear();
    CHECK(whole.buffer().empty());

    // Log lines: for the framed messages, and for the first 22 bytes taken as a message whatever they are.
    for (const DeviceMessage& m : wholeMessages)
        checkLogLine(m);
    if (n >= DeviceMessage::Size)
        checkLogLine(DeviceMessage{morvandell::slice(stream, 0, DeviceMessage::Size)});
    return 0;
}
