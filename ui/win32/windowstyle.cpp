#include "ui/win32/windowstyle.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>

namespace morvandell::win32 {

using ui::ControlKind;
using ui::ControlSpec;
using ui::FormSpec;

namespace {

constexpr int TwipsPerInch = 1440;
// The font: 8.25 points, in hundredths.
constexpr int FontCentipoints = 825;
// Combo boxes narrower than this (twips) get the condensed cut ("Com #16" beside the arrow), at this
// share of the regular width.
constexpr int NarrowComboTwips = 1000;
constexpr int NarrowPercent = 85;

// A function of user32 that older systems lack; null there.
template<typename Fn>
Fn userFunction(const char* name)
{
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

void adjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, UINT dpi)
{
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const Fn adjustForDpi = userFunction<Fn>("AdjustWindowRectExForDpi");
    if (adjustForDpi)
        adjustForDpi(&rect, style, FALSE, exStyle, dpi);
    else
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

int CALLBACK fontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool fontInstalled(const wchar_t* face)
{
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC dc = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(dc, &lf, fontFound, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, dc);
    return found;
}

// "MS Sans Serif" is a bitmap font made for 96 dpi; at other resolutions its outline twin reads better.
const wchar_t* fontFace(UINT dpi)
{
    static const bool outlineTwin = fontInstalled(L"Microsoft Sans Serif");
    if (dpi != StandardDpi && outlineTwin)
        return L"Microsoft Sans Serif";
    return L"MS Sans Serif";
}

// narrow: the same size in a condensed cut, for fields whose whole entry must fit beside the arrow.
HFONT createFont(UINT dpi, bool bold, bool narrow = false)
{
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(FontCentipoints, int(dpi), 72 * 100);
    if (narrow) {
        HFONT regular = createFont(dpi, bold);
        HDC dc = ::GetDC(nullptr);
        const HGDIOBJ old = ::SelectObject(dc, regular);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, old);
        ::ReleaseDC(nullptr, dc);
        ::DeleteObject(regular);
        lf.lfWidth = std::max<LONG>(1, metrics.tmAveCharWidth * NarrowPercent / 100);
    }
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcsncpy(lf.lfFaceName, fontFace(dpi), LF_FACESIZE - 1);
    return ::CreateFontIndirectW(&lf);
}

} // namespace

int scale(int twips, UINT dpi)
{
    return ::MulDiv(twips, int(dpi), TwipsPerInch);
}

UINT dpiOfWindow(HWND hwnd)
{
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn getDpiForWindow = userFunction<Fn>("GetDpiForWindow");
    if (getDpiForWindow && hwnd) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi)
            return dpi;
    }
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    return dpi > 0 ? UINT(dpi) : StandardDpi;
}

SIZE windowSizeForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi)
{
    RECT frame{0, 0, client.cx, client.cy};
    adjustWindowRect(frame, style, exStyle, dpi);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

void resizeToClient(HWND hwnd, SIZE client, DWORD style, DWORD exStyle, UINT dpi)
{
    RECT frame{0, 0, client.cx, client.cy};
    adjustWindowRect(frame, style, exStyle, dpi);
    ::SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame may be drawn at other metrics than those asked for (a DPI change on its way): the client
    // area is what counts.
    RECT got;
    ::GetClientRect(hwnd, &got);
    if (got.right != client.cx || got.bottom != client.cy) {
        RECT outer;
        ::GetWindowRect(hwnd, &outer);
        ::SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left + client.cx - got.right,
                       outer.bottom - outer.top + client.cy - got.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

RECT scaledGeometry(const FormSpec& def, const ControlSpec& control, UINT dpi)
{
    int left = control.geometry.left;
    int top = control.geometry.top;
    // Containers' positions add up; a container named twice or in a circle ends the walk.
    std::string container = control.container;
    for (int depth = 0; !container.empty() && depth < 16; ++depth) {
        const ControlSpec* frame = def.find(container);
        if (!frame)
            break;
        left += frame->geometry.left;
        top += frame->geometry.top;
        container = frame->container;
    }
    const int x = scale(left, dpi);
    const int y = scale(top, dpi);
    return RECT{x, y, x + scale(control.geometry.width, dpi), y + scale(control.geometry.height, dpi)};
}

SIZE scaledClientSize(const FormSpec& def, UINT dpi)
{
    return SIZE{scale(def.clientWidth, dpi), scale(def.clientHeight, dpi)};
}

bool wantsNarrowFont(const ControlSpec& c)
{
    return c.kind == ControlKind::ComboBox && !c.bold && c.enabled && c.geometry.width < NarrowComboTwips;
}

WindowFonts::WindowFonts(UINT dpi)
    : m_regular(createFont(dpi, false))
    , m_bold(createFont(dpi, true))
    , m_narrow(createFont(dpi, false, true))
{
}

WindowFonts::~WindowFonts()
{
    release();
}

WindowFonts::WindowFonts(WindowFonts&& other) noexcept
    : m_regular(std::exchange(other.m_regular, nullptr))
    , m_bold(std::exchange(other.m_bold, nullptr))
    , m_narrow(std::exchange(other.m_narrow, nullptr))
{
}

WindowFonts& WindowFonts::operator=(WindowFonts&& other) noexcept
{
    if (this != &other) {
        release();
        m_regular = std::exchange(other.m_regular, nullptr);
        m_bold = std::exchange(other.m_bold, nullptr);
        m_narrow = std::exchange(other.m_narrow, nullptr);
    }
    return *this;
}

void WindowFonts::release()
{
    for (HFONT font : {m_regular, m_bold, m_narrow})
        if (font)
            ::DeleteObject(font);
    m_regular = m_bold = m_narrow = nullptr;
}

HFONT WindowFonts::forControl(const ControlSpec& control) const
{
    if (control.bold)
        return m_bold;
    return wantsNarrowFont(control) ? m_narrow : m_regular;
}

} // namespace morvandell::win32
