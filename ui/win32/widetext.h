#pragma once

#include <string>
#include <string_view>

namespace morvandell::win32 {

// UTF-8 (the program's text) to UTF-16 (the Win32 API's) and back. Malformed UTF-8 becomes U+FFFD;
// a lone surrogate becomes U+FFFD on the way back.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace morvandell::win32
