#include "platform/text.h"

#include <cerrno>
#include <cstdlib>

namespace morvandell::text {

std::string arg(std::string_view pattern, std::initializer_list<Arg> args)
{
    std::string out;
    out.reserve(pattern.size() + 16 * args.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const std::size_t n = std::size_t(pattern[i + 1] - '1');
            if (n < args.size()) {
                out += (args.begin() + n)->str();
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string padded(long long value, int width)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (int(digits.size()) < width)
        digits.insert(0, std::size_t(width) - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

std::string hexUpper(unsigned long long value)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return out;
}

std::string asciiLower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

std::string trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && blank(s[begin]))
        ++begin;
    while (end > begin && blank(s[end - 1]))
        --end;
    return std::string(s.substr(begin, end - begin));
}

std::vector<std::string> split(std::string_view s, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(separator, start);
        if (at == std::string_view::npos) {
            parts.emplace_back(s.substr(start));
            return parts;
        }
        parts.emplace_back(s.substr(start, at - start));
        start = at + 1;
    }
}

std::string join(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(s);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(from, start);
        if (at == std::string_view::npos)
            break;
        out.append(s.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(s.substr(start));
    return out;
}

std::optional<long long> toInteger(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i == s.size())
        return std::nullopt;
    for (std::size_t j = i; j < s.size(); ++j)
        if (s[j] < '0' || s[j] > '9')
            return std::nullopt;
    const std::string copy(s);
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(copy.c_str(), &end, 10);
    if (errno == ERANGE || end != copy.c_str() + copy.size())
        return std::nullopt;
    return value;
}

// --- UTF-8 ---------------------------------------------------------------------------------------------

namespace {

// Decodes one sequence at s[i]; advances i. Malformed input gives U+FFFD for one byte.
char32_t decodeOne(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        c = b0 & 0x1F;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        c = b0 & 0x0F;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        c = b0 & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + std::size_t(extra) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + std::size_t(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += std::size_t(extra) + 1;
    return c;
}

} // namespace

std::u32string toCodePoints(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size())
        out.push_back(decodeOne(utf8, i));
    return out;
}

std::string fromCodePoint(char32_t c)
{
    std::string out;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

std::string fromCodePoints(std::u32string_view codePoints)
{
    std::string out;
    out.reserve(codePoints.size());
    for (const char32_t c : codePoints)
        out += fromCodePoint(c);
    return out;
}

std::size_t length(std::string_view utf8)
{
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        decodeOne(utf8, i);
        ++n;
    }
    return n;
}

std::string left(std::string_view utf8, std::size_t count)
{
    std::size_t i = 0;
    std::size_t n = 0;
    while (i < utf8.size() && n < count) {
        decodeOne(utf8, i);
        ++n;
    }
    return std::string(utf8.substr(0, i));
}

bool isValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t before = i;
        const char32_t c = decodeOne(s, i);
        if (c == 0xFFFD) {
            // A real U+FFFD is three bytes long; a malformed byte advances by one.
            if (i - before != 3)
                return false;
        }
    }
    return true;
}

// --- time of day -----------------------------------------------------------------------------------

std::string systemLongTimeText(std::chrono::system_clock::time_point when); // unix/ or windows/

namespace {
TimeFormatter& formatter()
{
    static TimeFormatter f = nullptr;
    return f;
}
} // namespace

void setTimeFormatter(TimeFormatter f)
{
    formatter() = f;
}

std::string longTimeText(std::chrono::system_clock::time_point when)
{
    if (formatter())
        return formatter()(when);
    return systemLongTimeText(when);
}

} // namespace morvandell::text
