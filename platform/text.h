#pragma once

// Text helpers on UTF-8 std::string (see platform/bytes.h for the convention).

#include "platform/bytes.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace morvandell::text {

// --- building messages ---------------------------------------------------------------------------------

// One argument of arg(): text as it is, whole numbers in decimal.
class Arg
{
public:
    Arg(std::string_view s) : m_text(s) {}
    Arg(const std::string& s) : m_text(s) {}
    Arg(const char* s) : m_text(s ? s : "") {}
    template<typename T, typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                                     !std::is_same_v<T, char>>>
    Arg(T value) : m_text(std::to_string(value))
    {}
    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

// Replaces %1 .. %9 in pattern by the arguments, in one pass (text put in is not scanned again).
// A % not followed by the number of a given argument stays as it is.
std::string arg(std::string_view pattern, std::initializer_list<Arg> args);

// Decimal with at least `width` digits, filled with zeros ("%02d").
std::string padded(long long value, int width);
// Upper-case hexadecimal without leading zeros (304 gives "130").
std::string hexUpper(unsigned long long value);

// --- looking at text ---------------------------------------------------------------------------------

inline bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}
inline bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
inline bool contains(std::string_view s, std::string_view part)
{
    return s.find(part) != std::string_view::npos;
}
// ASCII letters only: enough for options, keys and port names.
std::string asciiLower(std::string_view s);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Without leading and trailing blanks, tabs, CR and LF.
std::string trimmed(std::string_view s);
// Split at every separator; two in a row give an empty part; "" gives one empty part.
std::vector<std::string> split(std::string_view s, char separator);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
// Every occurrence of `from` replaced, left to right, without scanning the replacement again.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);

// A whole decimal number, optionally signed, and nothing else (no blanks); nothing when it does not fit.
std::optional<long long> toInteger(std::string_view s);

// --- UTF-8 ---------------------------------------------------------------------------------------------

// Code points of well-formed UTF-8; each malformed byte becomes U+FFFD.
std::u32string toCodePoints(std::string_view utf8);
std::string fromCodePoints(std::u32string_view codePoints);
std::string fromCodePoint(char32_t c);
// Number of characters (code points).
std::size_t length(std::string_view utf8);
// The first `count` characters, never a broken sequence.
std::string left(std::string_view utf8, std::size_t count);
// Whether the text is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

// --- Windows-1252, the display's character set -------------------------------------------------------

// Bytes in Windows-1252 to text. The five bytes without a character (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// become U+0081 etc., as Windows reads them.
std::string fromWindows1252(std::string_view bytes);
inline std::string fromWindows1252(const Bytes& bytes)
{
    return fromWindows1252(charsOf(bytes));
}
// Text to Windows-1252, one byte per character; a character the code page lacks becomes `missing`
// (never a look-alike: "Ł" is not sent as "L").
Bytes toWindows1252(std::string_view utf8, Byte missing = '?');

// --- the PC's single-byte (ANSI) code page: log-definition files, the display's names and texts ---------

// The code page these two use. Windows: the system's ANSI code page (GetACP: 1250 on a Polish or Czech
// Windows, 1252 on a German one), or 1252 when that is not a single-byte code page (UTF-8, 932, 936,
// 949, 950), since the display takes one byte per character. Elsewhere always 1252: a Linux system has
// no ANSI code page, and the files and the display come from Windows PCs.
unsigned ansiCodePage();
// Bytes in that code page to text; every byte gives one character.
std::string fromAnsi(std::string_view bytes);
inline std::string fromAnsi(const Bytes& bytes)
{
    return fromAnsi(charsOf(bytes));
}
// Text to that code page, one byte per character; a character the code page lacks becomes `missing`.
Bytes toAnsi(std::string_view utf8, Byte missing = '?');

// --- time of day -----------------------------------------------------------------------------------

// The time of day in the user's long time format, without a time-zone name (German: "14:03:22").
std::string longTimeText(std::chrono::system_clock::time_point when);
// The program's front end may replace how the time is written (the Qt windows write it as Qt does).
using TimeFormatter = std::string (*)(std::chrono::system_clock::time_point);
void setTimeFormatter(TimeFormatter formatter);

} // namespace morvandell::text
