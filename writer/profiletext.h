#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvandell::profiletext {

// A JSON string: quotes, backslashes and control characters escaped, everything else as it is, but
// for U+FEFF, which is written escaped so that no reader takes it for a byte order mark.
std::string quoted(std::string_view text);

// Length as the windows' text boxes count it: in UTF-16 units (a character beyond U+FFFF counts two).
std::size_t boxLength(std::string_view utf8);

// Nesting deeper than this refuses the file, as the profile reader always has.
constexpr std::size_t MaxDepth = 1024;

// The profile text made ready for the JSON parser, which is stricter than profiles have always been
// read in two ways: it refuses raw control characters in strings (profiles allow them; they are
// escaped here), and it refuses an escaped surrogate without its partner ("\ud800"), which is no
// character (a profile refuses it as the value that holds it, not as JSON: each is replaced by
// "\ufffd", and the string tokens that held one are kept by their number in document order, keys and
// values alike, from 0). The nesting depth is checked on the way.
struct Prepared
{
    std::string text;
    std::vector<std::size_t> invalidStrings;
    std::size_t tooDeepAt = std::string::npos; // offset of the bracket that went too deep
    // (offset in text after an escape that was added, bytes added up to there)
    std::vector<std::pair<std::size_t, std::size_t>> added;

    // The offset in the original text for an offset in text.
    std::size_t original(std::size_t at) const;
};

Prepared prepare(std::string_view in);

} // namespace morvandell::profiletext
