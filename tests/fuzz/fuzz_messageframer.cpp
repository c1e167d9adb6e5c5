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
//   empty line for every other type, for messages from the framer and for any 22 bytes.
#include "writer/messageframer.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

using morvandell::DeviceMessage;
using morvandell::MessageFramer;

namespace {

constexpr int MaxBuffered = DeviceMessage::Size - 1;
const QString Time = QStringLiteral("14:03:22");

bool isWindow(const QByteArray& s, qsizetype p)
{
    return p + DeviceMessage::Size <= s.size() && s[p] == '\x55' && s[p + 20] == '\r' && s[p + 21] == '\n';
}

QString messagesText(const QList<DeviceMessage>& messages)
{
    QStringList parts;
    for (const DeviceMessage& m : messages)
        parts << fuzzcheck::escaped(m.bytes);
    return parts.join(QLatin1String(", "));
}

void checkLogLine(const DeviceMessage& m)
{
    const QString line = m.logLine(Time);
    const QByteArray payload = m.payload();
    CHECK(payload.size() == 16);

    const QString text = m.payloadText();
    const qsizetype zero = payload.indexOf('\0');
    const qsizetype textBytes = zero < 0 ? payload.size() : zero;
    // One character per byte up to the first zero; ASCII stays itself.
    CHECK(text.size() == textBytes, fuzzcheck::escaped(m.bytes) + QLatin1String(" -> ") + fuzzcheck::escaped(text));
    for (qsizetype i = 0; i < textBytes; ++i) {
        const auto b = static_cast<unsigned char>(payload[i]);
        CHECK(text[i].unicode() != 0);
        if (b < 0x80)
            CHECK(text[i].unicode() == b, fuzzcheck::escaped(m.bytes));
    }

    switch (m.type()) {
    case DeviceMessage::Text: {
        QString expected = Time + QLatin1String(" -> ") + text;
        if (text == QLatin1String("Write SDram"))
            expected += QLatin1String(" @ 0x0");
        CHECK(line == expected, fuzzcheck::escaped(line));
        break;
    }
    case DeviceMessage::EepromReport: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X",
                      unsigned(static_cast<unsigned char>(m.bytes[2])) * 256u
                          + unsigned(static_cast<unsigned char>(m.bytes[3])));
        CHECK(line == Time + QLatin1String("->  ReadEEProm @ 0x") + QLatin1String(hex), fuzzcheck::escaped(line));
        break;
    }
    case DeviceMessage::Identification:
        CHECK(line == Time + QLatin1String("->  online Firmware: ") + text, fuzzcheck::escaped(line));
        break;
    default:
        CHECK(line.isEmpty(), fuzzcheck::escaped(line));
        break;
    }
}

// Feeds one piece, checking what comes back and the buffer bound.
void feed(MessageFramer& framer, const QByteArray& piece, QList<DeviceMessage>& out)
{
    const QList<DeviceMessage> got = framer.feed(piece);
    CHECK(framer.buffer().size() <= MaxBuffered,
          QStringLiteral("buffer holds %1 bytes").arg(framer.buffer().size()));
    if (piece.isEmpty())
        CHECK(got.isEmpty());
    for (const DeviceMessage& m : got) {
        CHECK(m.bytes.size() == DeviceMessage::Size, fuzzcheck::escaped(m.bytes));
        CHECK(m.bytes.front() == '\x55' && m.bytes.endsWith("\r\n"), fuzzcheck::escaped(m.bytes));
    }
    out += got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t k = std::min<std::size_t>(data[0] & 0x0f, size - 1);
    QList<qsizetype> pieces;
    for (std::size_t i = 1; i <= k; ++i)
        pieces << qMax(1, int(data[i])); // 1..255
    const QByteArray stream(reinterpret_cast<const char*>(data + 1 + k), qsizetype(size - 1 - k));
    const qsizetype n = stream.size();
    if (pieces.isEmpty())
        pieces << qMax<qsizetype>(1, n / 2);

    // In one piece.
    MessageFramer whole;
    QList<DeviceMessage> wholeMessages;
    feed(whole, stream, wholeMessages);

    // In the given pieces, with empty feeds in between.
    MessageFramer split;
    QList<DeviceMessage> splitMessages;
    for (qsizetype pos = 0, i = 0; pos < n; ++i) {
        const qsizetype length = qMin(pieces[i % pieces.size()], n - pos);
        feed(split, stream.mid(pos, length), splitMessages);
        feed(split, QByteArray(), splitMessages);
        pos += length;
    }

    // Byte by byte.
    MessageFramer single;
    QList<DeviceMessage> singleMessages;
    for (qsizetype pos = 0; pos < n; ++pos)
        feed(single, stream.mid(pos, 1), singleMessages);

    const auto same = [](const QList<DeviceMessage>& a, const QList<DeviceMessage>& b) {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i)
            if (a[i].bytes != b[i].bytes)
                return false;
        return true;
    };
    CHECK(same(wholeMessages, splitMessages),
          QLatin1String("one piece: ") + messagesText(wholeMessages) + QLatin1String("\n    split: ")
              + messagesText(splitMessages));
    CHECK(same(wholeMessages, singleMessages),
          QLatin1String("one piece: ") + messagesText(wholeMessages) + QLatin1String("\n    byte by byte: ")
              + messagesText(singleMessages));

    // The messages are the leftmost non-overlapping windows of the stream.
    qsizetype pos = 0;
    for (const DeviceMessage& m : wholeMessages) {
        qsizetype p = pos;
        while (p < n && !isWindow(stream, p))
            ++p;
        CHECK(p < n, QLatin1String("message not found in the stream: ") + fuzzcheck::escaped(m.bytes));
        CHECK(stream.mid(p, DeviceMessage::Size) == m.bytes,
              QStringLiteral("expected the window at %1: ").arg(p) + fuzzcheck::escaped(stream.mid(p, 22))
                  + QLatin1String(", got ") + fuzzcheck::escaped(m.bytes));
        pos = p + DeviceMessage::Size;
    }
    for (qsizetype p = pos; p < n; ++p)
        CHECK(!isWindow(stream, p), QStringLiteral("complete message at offset %1 not returned").arg(p));

    // The buffer holds the stream from its first 0x55 that cannot be judged yet.
    qsizetype keepFrom = n;
    for (qsizetype p = qMax(pos, n - MaxBuffered); p < n; ++p) {
        if (stream[p] == '\x55') {
            keepFrom = p;
            break;
        }
    }
    const QByteArray expectedBuffer = stream.mid(keepFrom);
    CHECK(whole.buffer() == expectedBuffer,
          fuzzcheck::escaped(whole.buffer()) + QLatin1String(" instead of ") + fuzzcheck::escaped(expectedBuffer));
    CHECK(split.buffer() == expectedBuffer, fuzzcheck::escaped(split.buffer()));
    CHECK(single.buffer() == expectedBuffer, fuzzcheck::escaped(single.buffer()));

    whole.clear();
    CHECK(whole.buffer().isEmpty());

    // Log lines: for the framed messages, and for the first 22 bytes taken as a message whatever they are.
    for (const DeviceMessage& m : wholeMessages)
        checkLogLine(m);
    if (n >= DeviceMessage::Size)
        checkLogLine(DeviceMessage{stream.first(DeviceMessage::Size)});
    return 0;
}
