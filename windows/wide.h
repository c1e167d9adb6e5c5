#pragma once

// UTF-8 <-> UTF-16 for the wide-character API, and the system's own words for an error number.

#include <string>
#include <string_view>

namespace morvandell::win {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// What the system says about a GetLastError() number, in the user's language, one line, without the
// trailing full stop; "Fehler 1234" when it has no text for it.
std::string systemMessage(unsigned long error);

} // namespace morvandell::win
