#include "ui/win32/controltext.h"

#include <algorithm>

namespace morvandell::win32 {

std::wstring windowText(HWND hwnd)
{
    if (!hwnd)
        return {};
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(size_t(length) + 1, L'\0');
    const int got = ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(size_t(std::max(got, 0)));
    return text;
}

std::wstring escapeAmpersands(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        out += c;
        if (c == L'&')
            out += L'&';
    }
    return out;
}

std::wstring unescapeAmpersands(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == L'&' && i + 1 < text.size() && text[i + 1] == L'&')
            ++i;
    }
    return out;
}

std::wstring itemString(HWND hwnd, bool combo, int index)
{
    const UINT lengthMessage = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
    const UINT textMessage = combo ? CB_GETLBTEXT : LB_GETTEXT;
    const LRESULT length = ::SendMessageW(hwnd, lengthMessage, WPARAM(index), 0);
    if (length < 0)
        return {};
    std::wstring text(size_t(length) + 1, L'\0');
    const LRESULT got = ::SendMessageW(hwnd, textMessage, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(size_t(std::max<LRESULT>(got, 0)));
    return text;
}

} // namespace morvandell::win32
