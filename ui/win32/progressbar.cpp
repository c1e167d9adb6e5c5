#include "ui/win32/progressbar.h"

#include <commctrl.h>

#include <utility>

namespace morvandell::win32 {

ProgressBar::ProgressBar(HWND bar, UINT_PTR id, std::wstring text)
    : m_bar(bar)
    , m_id(id)
    , m_text(std::move(text))
{
    ::SendMessageW(m_bar, PBM_SETRANGE32, 0, 100);
    ::SetWindowSubclass(m_bar, subclassProc, m_id, reinterpret_cast<DWORD_PTR>(this));
}

void ProgressBar::detach()
{
    if (m_bar)
        ::RemoveWindowSubclass(m_bar, subclassProc, m_id);
    m_bar = nullptr;
}

void ProgressBar::setText(const std::wstring& text)
{
    m_text = text;
    ::InvalidateRect(m_bar, nullptr, TRUE);
}

void ProgressBar::setRange(int minimum, int maximum)
{
    ::SendMessageW(m_bar, PBM_SETRANGE32, WPARAM(minimum), LPARAM(maximum));
}

void ProgressBar::setValue(int value)
{
    ::SendMessageW(m_bar, PBM_SETPOS, WPARAM(value), 0);
}

int ProgressBar::value() const
{
    return int(::SendMessageW(m_bar, PBM_GETPOS, 0, 0));
}

LRESULT CALLBACK ProgressBar::subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR data)
{
    if (const auto* self = reinterpret_cast<const ProgressBar*>(data)) {
        switch (message) {
        case WM_PAINT:
            if (self->m_text.empty())
                break;
            paint(hwnd, self->m_text);
            return 0;
        case WM_ERASEBKGND:
            if (!self->m_text.empty())
                return 1; // painted whole in WM_PAINT
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, subclassProc, id);
            break;
        default:
            break;
        }
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

// The bar as the control draws it, and the text centred on top, drawn off screen in one piece.
void ProgressBar::paint(HWND bar, const std::wstring& text)
{
    PAINTSTRUCT ps;
    const HDC dc = ::BeginPaint(bar, &ps);
    RECT client;
    ::GetClientRect(bar, &client);
    const HDC memory = ::CreateCompatibleDC(dc);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    const HGDIOBJ oldBitmap = ::SelectObject(memory, bitmap);
    ::FillRect(memory, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    ::DefSubclassProc(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    const HGDIOBJ oldFont = ::SelectObject(memory, reinterpret_cast<HFONT>(::SendMessageW(bar, WM_GETFONT, 0, 0)));
    ::SetBkMode(memory, TRANSPARENT);
    ::SetTextColor(memory, ::GetSysColor(COLOR_WINDOWTEXT));
    RECT r = client;
    ::DrawTextW(memory, text.c_str(), int(text.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, oldFont);
    ::SelectObject(memory, oldBitmap);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::EndPaint(bar, &ps);
}

} // namespace morvandell::win32
