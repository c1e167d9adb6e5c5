// Windows-1252 through the system's own tables. Text to bytes goes one character at a time, so that every
// character the code page lacks becomes exactly one `missing` byte, never a look-alike (no best fit).
#include "platform/text.h"
#include "windows/wide.h"

#include <windows.h>

namespace morvandell::text {

namespace {
constexpr UINT Windows1252 = 1252;
}

std::string fromWindows1252(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const int n = ::MultiByteToWideChar(Windows1252, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(Windows1252, 0, bytes.data(), int(bytes.size()), wide.data(), n);
    return win::narrow(wide);
}

Bytes toWindows1252(std::string_view utf8, Byte missing)
{
    Bytes out;
    out.reserve(utf8.size());
    for (const char32_t c : toCodePoints(utf8)) {
        if (c < 0x80) {
            out.push_back(Byte(c));
            continue;
        }
        wchar_t units[2];
        int count = 1;
        if (c >= 0x10000) {
            units[0] = wchar_t(0xD800 + ((c - 0x10000) >> 10));
            units[1] = wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            count = 2;
        } else {
            units[0] = wchar_t(c);
        }
        char converted[4] = {};
        BOOL usedDefault = FALSE;
        const char defaultChar = char(missing);
        const int n = ::WideCharToMultiByte(Windows1252, WC_NO_BEST_FIT_CHARS, units, count, converted,
                                            sizeof converted, &defaultChar, &usedDefault);
        out.push_back(n == 1 && !usedDefault ? Byte(converted[0]) : missing);
    }
    return out;
}

} // namespace morvandell::text
