// Code pages through the system's own tables: Windows-1252, and the system's ANSI code page for the
// log-definition files and the display's texts. Text to bytes goes one character at a time, so that every
// character the code page lacks becomes exactly one `missing` byte, never a look-alike (no best fit).
#include "platform/text.h"
#include "windows/wide.h"

#include <windows.h>

namespace morvandell::text {

namespace {

constexpr UINT Windows1252 = 1252;

std::string fromCodePage(UINT codePage, std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), wide.data(), n);
    return win::narrow(wide);
}

Bytes toCodePage(UINT codePage, std::string_view utf8, Byte missing)
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
        const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, count, converted,
                                            sizeof converted, &defaultChar, &usedDefault);
        out.push_back(n == 1 && !usedDefault ? Byte(converted[0]) : missing);
    }
    return out;
}

// The system's ANSI code page when it has one byte per character. UTF-8 (Windows' "Beta: Unicode UTF-8
// for worldwide language support"), and the East Asian code pages 932, 936, 949 and 950, have more: the
// display's fields are one byte per character, so those systems get Windows-1252 instead.
UINT systemAnsiCodePage()
{
    const UINT acp = ::GetACP();
    CPINFO info{};
    if (::GetCPInfo(acp, &info) && info.MaxCharSize == 1)
        return acp;
    return Windows1252;
}

} // namespace

std::string fromWindows1252(std::string_view bytes)
{
    return fromCodePage(Windows1252, bytes);
}

Bytes toWindows1252(std::string_view utf8, Byte missing)
{
    return toCodePage(Windows1252, utf8, missing);
}

unsigned ansiCodePage()
{
    // The ANSI code page is fixed for the life of a process.
    static const UINT codePage = systemAnsiCodePage();
    return codePage;
}

std::string fromAnsi(std::string_view bytes)
{
    return fromCodePage(ansiCodePage(), bytes);
}

Bytes toAnsi(std::string_view utf8, Byte missing)
{
    return toCodePage(ansiCodePage(), utf8, missing);
}

} // namespace morvandell::text
