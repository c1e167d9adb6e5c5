#pragma once

// Bytes and text, the one convention of the whole program:
// - text is UTF-8 in std::string (captions, messages, names, file paths);
// - bytes on the wire and in files are Bytes, a vector of 8-bit values; a byte is never a char.
// Conversions between the two name their encoding (platform/text.h: the PC's ANSI code page for the
// log-definition file and the display's names, units and texts, UTF-8 for everything the user reads).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace morvandell {

using Byte = std::uint8_t;
using Bytes = std::vector<Byte>;

// The characters of an ASCII text as bytes, one each ("U" gives 0x55). For literals and protocol text.
inline Bytes asciiBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

// The bytes as the same number of chars, for byte-oriented APIs (files, traces); not a text conversion.
inline std::string_view charsOf(const Bytes& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline void append(Bytes& to, const Bytes& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

inline void append(Bytes& to, const Byte* data, std::size_t size)
{
    to.insert(to.end(), data, data + size);
}

// Bytes [from, from + count) of bytes, cut at its end.
inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count = std::string::npos)
{
    if (from >= bytes.size())
        return {};
    const std::size_t n = count < bytes.size() - from ? count : bytes.size() - from;
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

} // namespace morvandell
