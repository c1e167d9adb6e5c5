#pragma once

#include <windows.h>

#include <string>

namespace morvandell::win32 {

// The text a window or control shows now (empty for a null handle).
std::wstring windowText(HWND hwnd);

// Buttons and menus take "&" as the mark of an access key; their captions show it as it is.
std::wstring escapeAmpersands(const std::wstring& text);
std::wstring unescapeAmpersands(const std::wstring& text);

// The text of entry index of a combo box's list (combo true) or of a list box.
std::wstring itemString(HWND hwnd, bool combo, int index);

} // namespace morvandell::win32
