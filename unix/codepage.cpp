// Windows-1252 from its table: the same on every Unix, whatever locale the user runs. It is also the
// ANSI code page here: a Unix system has none of its own, and the log-definition files and the display
// come from (German) Windows PCs.
#include "platform/text.h"

namespace morvandell::text {

namespace {

// 0x80..0x9F; 0 marks the five bytes without a character (read as U+0081 etc., like Windows).
constexpr char16_t High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t toUnicode(unsigned char b)
{
    if (b >= 0x80 && b <= 0x9F && High[b - 0x80] != 0)
        return High[b - 0x80];
    return b;
}

} // namespace

std::string fromWindows1252(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            out += c;
        else
            out += fromCodePoint(toUnicode(b));
    }
    return out;
}

Bytes toWindows1252(std::string_view utf8, Byte missing)
{
    Bytes out;
    out.reserve(utf8.size());
    for (const char32_t c : toCodePoints(utf8)) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(Byte(c));
            continue;
        }
        Byte b = missing;
        for (int i = 0; i < 32; ++i) {
            const char32_t mapped = High[i] != 0 ? High[i] : char32_t(0x80 + i);
            if (mapped == c) {
                b = Byte(0x80 + i);
                break;
            }
        }
        out.push_back(b);
    }
    return out;
}

unsigned ansiCodePage()
{
    return 1252;
}

std::string fromAnsi(std::string_view bytes)
{
    return fromWindows1252(bytes);
}

Bytes toAnsi(std::string_view utf8, Byte missing)
{
    return toWindows1252(utf8, missing);
}

} // namespace morvandell::text
