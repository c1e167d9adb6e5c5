#include "writer/profiletext.h"

#include "platform/text.h"

#include <cstdlib>

namespace morvandell::profiletext {

namespace {

const char* const hex = "0123456789abcdef";

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The UTF-16 unit of the escape "\uXXXX" at text[at], or -1.
long escapedUnit(std::string_view text, std::size_t at)
{
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    for (std::size_t k = at + 2; k < at + 6; ++k)
        if (!isHex(text[k]))
            return -1;
    return std::strtol(std::string(text.substr(at + 2, 4)).c_str(), nullptr, 16);
}

} // namespace

std::string quoted(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if (c == 0xEF && text.compare(i, 3, "\xEF\xBB\xBF") == 0) {
            out += "\\ufeff";
            i += 2;
        } else {
            out += char(c);
        }
    }
    out += '"';
    return out;
}

std::size_t boxLength(std::string_view utf8)
{
    std::size_t n = 0;
    for (const char32_t c : text::toCodePoints(utf8))
        n += c > 0xFFFF ? 2 : 1;
    return n;
}

std::size_t Prepared::original(std::size_t at) const
{
    std::size_t shift = 0;
    for (const auto& [after, total] : added)
        if (after <= at)
            shift = total;
    return at >= shift ? at - shift : 0;
}

Prepared prepare(std::string_view in)
{
    Prepared p;
    std::string& out = p.text;
    out.reserve(in.size());
    std::size_t strings = 0;
    std::size_t depth = 0;
    bool inString = false;
    bool invalid = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (!inString) {
            if (c == '"') {
                inString = true;
                invalid = false;
            } else if (c == '[' || c == '{') {
                if (++depth > MaxDepth && p.tooDeepAt == std::string::npos)
                    p.tooDeepAt = i;
            } else if ((c == ']' || c == '}') && depth > 0) {
                --depth;
            }
            out += c;
            continue;
        }
        if (c == '"') {
            inString = false;
            if (invalid)
                p.invalidStrings.push_back(strings);
            ++strings;
            out += c;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
            p.added.emplace_back(out.size(), (p.added.empty() ? 0 : p.added.back().second) + 5);
            continue;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        const long unit = escapedUnit(in, i);
        if (unit < 0) { // an escaped character: never the end of the string
            out += c;
            if (i + 1 < in.size())
                out += in[++i];
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const long next = escapedUnit(in, i + 6);
            if (next >= 0xDC00 && next <= 0xDFFF) { // a pair: one character
                out.append(in.substr(i, 12));
                i += 11;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            out += "\\ufffd";
            invalid = true;
        } else {
            out.append(in.substr(i, 6));
        }
        i += 5;
    }
    return p;
}

} // namespace morvandell::profiletext
