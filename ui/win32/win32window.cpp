#include "ui/win32/win32window.h"

#include "platform/text.h"
#include "ui/win32/win32frontend.h"
#include "windows/wide.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cwctype>

namespace morvandell::win32 {

using win::narrow;
using win::widen;

using ui::ControlKind;

namespace {

constexpr int FirstControlId = 100; // clear of IDOK and IDCANCEL, which the dialog keys send
constexpr UINT FirstCommandId = 0x7000;
constexpr int TwipsPerInch = 1440;
constexpr int StandardDpi = 96;
// The font: 8.25 points, in hundredths.
constexpr int FontCentipoints = 825;
// A closed combo box is this tall; its list drops this much further (pixels at 96 dpi).
constexpr int DropDownHeight = 240;
constexpr int ComboVisibleItems = 16;
// Combo boxes narrower than this (twips) get the condensed cut ("Com #16" beside the arrow), at this
// share of the regular width.
constexpr int NarrowComboTwips = 1000;
constexpr int NarrowPercent = 85;

bool wantsNarrowFont(const ControlSpec& c)
{
    return c.kind == ControlKind::ComboBox && !c.bold && c.enabled && c.geometry.width < NarrowComboTwips;
}

int scale(int twips, UINT dpi)
{
    return ::MulDiv(twips, int(dpi), TwipsPerInch);
}

// A function of user32 that older systems lack; null there.
template<typename Fn>
Fn userFunction(const char* name)
{
    const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
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

// Buttons and menus take "&" as the mark of an access key; their captions show it as it is.
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

// "Ctrl+S", "Ctrl+Shift+O", "F5", "Del": an accelerator entry; false when the text names no key.
bool parseShortcut(const std::string& shortcut, ACCEL& accel)
{
    accel = ACCEL{};
    accel.fVirt = FVIRTKEY;
    const std::vector<std::string> parts = text::split(shortcut, '+');
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string m = text::asciiLower(text::trimmed(parts[i]));
        if (m == "ctrl" || m == "strg")
            accel.fVirt |= FCONTROL;
        else if (m == "shift" || m == "umschalt")
            accel.fVirt |= FSHIFT;
        else if (m == "alt")
            accel.fVirt |= FALT;
        else
            return false;
    }
    const std::string key = text::trimmed(parts.back());
    const std::string lower = text::asciiLower(key);
    if (key.size() == 1 && std::isalnum(static_cast<unsigned char>(key[0]))) {
        accel.key = WORD(std::toupper(static_cast<unsigned char>(key[0])));
        return true;
    }
    if (lower.size() >= 2 && lower[0] == 'f') {
        const auto n = text::toInteger(lower.substr(1));
        if (n && *n >= 1 && *n <= 24) {
            accel.key = WORD(VK_F1 + *n - 1);
            return true;
        }
    }
    if (lower == "del" || lower == "delete" || lower == "entf") {
        accel.key = VK_DELETE;
        return true;
    }
    if (lower == "ins" || lower == "insert" || lower == "einfg") {
        accel.key = VK_INSERT;
        return true;
    }
    return false;
}

// Keeps notifications that the window's own changes cause from being taken for the user's.
class Quiet
{
public:
    explicit Quiet(int& counter) : m_counter(counter) { ++m_counter; }
    ~Quiet() { --m_counter; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    int& m_counter;
};

DWORD windowStyle(const FormSpec& def)
{
    // Not WS_CLIPCHILDREN: the window paints the inside of its frames, which group boxes leave to it.
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    if (!def.fixedSize)
        style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
    return style;
}

constexpr DWORD WindowExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

} // namespace

Win32Window::Win32Window(Win32FrontEnd& frontEnd, const FormSpec& def, FormEvents& events)
    : m_frontEnd(frontEnd)
    , m_spec(def)
    , m_events(events)
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    static const bool registered = [&] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = WindowClass;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;

    const DWORD style = windowStyle(m_spec);
    m_hwnd = ::CreateWindowExW(WindowExStyle, WindowClass, widen(m_spec.caption).c_str(), style, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (!m_hwnd)
        m_creationError = ::GetLastError();
    m_frontEnd.added(this);
    if (!m_hwnd)
        return;
    if (HICON big = m_frontEnd.icon(false))
        ::SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (HICON small = m_frontEnd.icon(true))
        ::SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    createControls();
    createToolTips();
    createAccelerators();
    applyDpi(dpiOfWindow(m_hwnd));

    std::shared_ptr<bool> alive = m_alive;
    m_filter = m_frontEnd.guiLoop().addMessageFilter([this, alive](MSG& msg) {
        if (!*alive || !m_hwnd)
            return false;
        if (msg.hwnd != m_hwnd && !::IsChild(m_hwnd, msg.hwnd))
            return false;
        if (m_accelerators && ::TranslateAcceleratorW(m_hwnd, m_accelerators, &msg))
            return true;
        return ::IsDialogMessageW(m_hwnd, &msg) != FALSE;
    });
}

Win32Window::~Win32Window()
{
    *m_alive = false;
    m_destroying = true;
    if (m_filter)
        m_frontEnd.guiLoop().removeMessageFilter(m_filter);
    if (m_hwnd) {
        for (Control& c : m_controls) {
            for (HWND part : {c.hwnd, c.edit, c.list})
                if (part)
                    ::RemoveWindowSubclass(part, controlProc, UINT_PTR(c.id));
        }
        ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    if (m_accelerators)
        ::DestroyAcceleratorTable(m_accelerators);
    for (Control& c : m_controls)
        if (c.brush)
            ::DeleteObject(c.brush);
    if (m_font)
        ::DeleteObject(m_font);
    if (m_boldFont)
        ::DeleteObject(m_boldFont);
    if (m_narrowFont)
        ::DeleteObject(m_narrowFont);
    m_frontEnd.removed(this);
}

// --- building ---------------------------------------------------------------------------------------

void Win32Window::createControls()
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_controls.reserve(m_spec.controls.size());
    int id = FirstControlId;
    for (const ControlSpec& def : m_spec.controls) {
        Control c;
        c.def = def;
        c.id = id++;
        c.toolTip = def.toolTip;
        const wchar_t* windowClass = WC_STATICW;
        DWORD style = WS_CHILD;
        DWORD exStyle = 0;
        std::wstring caption = widen(def.text);
        switch (def.kind) {
        case ControlKind::Button:
            windowClass = WC_BUTTONW;
            style |= BS_PUSHBUTTON | WS_TABSTOP | (def.wrap ? BS_MULTILINE : 0);
            caption = escapeAmpersands(caption);
            break;
        case ControlKind::Frame:
            windowClass = WC_BUTTONW;
            style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
            caption = escapeAmpersands(caption);
            break;
        case ControlKind::ComboBox:
            windowClass = WC_COMBOBOXW;
            style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | (def.sorted ? CBS_SORT : 0);
            caption.clear(); // set below, through the edit field
            break;
        case ControlKind::TextBox:
            windowClass = WC_EDITW;
            style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Label:
            windowClass = WC_STATICW;
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case ControlKind::ListBox:
            windowClass = WC_LISTBOXW;
            style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP | (def.sorted ? LBS_SORT : 0);
            exStyle = WS_EX_CLIENTEDGE;
            caption.clear();
            break;
        case ControlKind::ProgressBar:
            windowClass = PROGRESS_CLASSW;
            caption.clear();
            break;
        }
        if (def.visible)
            style |= WS_VISIBLE;
        if (!def.enabled)
            style |= WS_DISABLED;
        c.hwnd = ::CreateWindowExW(exStyle, windowClass, caption.c_str(), style, 0, 0, 0, 0, m_hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        c.backColor = def.backColor;
        if (def.backColor) {
            const std::uint32_t rgb = *def.backColor;
            c.brush = ::CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
        }
        if (def.kind == ControlKind::ProgressBar)
            c.barText = widen(def.text);
        m_controls.push_back(std::move(c));
    }

    Quiet quiet(m_quiet);
    for (Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        if (c.def.kind == ControlKind::ComboBox) {
            COMBOBOXINFO info{};
            info.cbSize = sizeof info;
            if (::GetComboBoxInfo(c.hwnd, &info)) {
                c.edit = info.hwndItem;
                c.list = info.hwndList;
            }
            for (HWND part : {c.hwnd, c.edit, c.list})
                if (part)
                    ::SetWindowSubclass(part, controlProc, UINT_PTR(c.id), reinterpret_cast<DWORD_PTR>(this));
            if (c.def.maxLength > 0)
                ::SendMessageW(c.hwnd, CB_LIMITTEXT, WPARAM(c.def.maxLength), 0);
            ::SendMessageW(c.hwnd, CB_SETMINVISIBLE, ComboVisibleItems, 0);
            ::SetWindowTextW(c.hwnd, widen(c.def.text).c_str());
        } else if (c.def.kind == ControlKind::TextBox && c.def.maxLength > 0) {
            ::SendMessageW(c.hwnd, EM_SETLIMITTEXT, WPARAM(c.def.maxLength), 0);
        } else if (c.def.kind == ControlKind::ProgressBar) {
            ::SendMessageW(c.hwnd, PBM_SETRANGE32, 0, 100);
            ::SetWindowSubclass(c.hwnd, controlProc, UINT_PTR(c.id), reinterpret_cast<DWORD_PTR>(this));
        }
    }
    // Frames lie beneath the controls they hold: the bottom of the order, the outermost lowest.
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it)
        if (it->def.kind == ControlKind::Frame && it->hwnd)
            ::SetWindowPos(it->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32Window::createToolTips()
{
    m_toolTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!m_toolTip)
        return;
    ::SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, 480); // longer tips wrap; "\n" breaks lines
    for (const Control& c : m_controls) {
        for (HWND part : {c.hwnd, c.edit, c.list}) {
            if (!part)
                continue;
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = m_hwnd;
            tool.uId = reinterpret_cast<UINT_PTR>(part);
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
}

void Win32Window::createAccelerators()
{
    std::vector<ACCEL> table;
    auto take = [&](const std::vector<MenuItemSpec>& items) {
        for (const MenuItemSpec& item : items) {
            if (item.id.empty())
                continue;
            auto known = std::find_if(m_commands.begin(), m_commands.end(),
                                      [&](const Command& c) { return c.id == item.id; });
            if (known == m_commands.end()) {
                m_commands.push_back({item.id, FirstCommandId + UINT(m_commands.size())});
                known = m_commands.end() - 1;
            }
            ACCEL accel;
            if (!item.shortcut.empty() && parseShortcut(item.shortcut, accel)) {
                accel.cmd = WORD(known->commandId);
                table.push_back(accel);
            }
        }
    };
    take(m_spec.windowMenu);
    for (const auto& [control, items] : m_spec.controlMenus)
        take(items);
    if (!table.empty())
        m_accelerators = ::CreateAcceleratorTableW(table.data(), int(table.size()));
}

RECT Win32Window::scaledGeometry(const FormSpec& def, const ControlSpec& control, UINT dpi)
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

int Win32Window::controlId(const FormSpec& def, const std::string& name)
{
    for (std::size_t i = 0; i < def.controls.size(); ++i)
        if (def.controls[i].name == name)
            return FirstControlId + int(i);
    return 0;
}

SIZE Win32Window::scaledClientSize(const FormSpec& def, UINT dpi)
{
    return SIZE{scale(def.clientWidth, dpi), scale(def.clientHeight, dpi)};
}

void Win32Window::applyDpi(UINT dpi)
{
    m_dpi = dpi ? dpi : StandardDpi;
    const HFONT oldFonts[] = {m_font, m_boldFont, m_narrowFont};
    m_font = createFont(m_dpi, false);
    m_boldFont = createFont(m_dpi, true);
    m_narrowFont = createFont(m_dpi, false, true);
    for (const Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font(c.def.name)), TRUE);
        if (c.edit && wantsNarrowFont(c.def))
            ::SendMessageW(c.edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(1, 1));
    }
    for (HFONT old : oldFonts)
        if (old)
            ::DeleteObject(old);

    const SIZE client = scaledClientSize(m_spec, m_dpi);
    RECT frame{0, 0, client.cx, client.cy};
    adjustWindowRect(frame, windowStyle(m_spec), WindowExStyle, m_dpi);
    ::SetWindowPos(m_hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame may be drawn at other metrics than those asked for (a DPI change on its way): the client
    // area is what counts.
    RECT got;
    ::GetClientRect(m_hwnd, &got);
    if (got.right != client.cx || got.bottom != client.cy) {
        RECT outer;
        ::GetWindowRect(m_hwnd, &outer);
        ::SetWindowPos(m_hwnd, nullptr, 0, 0, outer.right - outer.left + client.cx - got.right,
                       outer.bottom - outer.top + client.cy - got.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    layoutControls();
}

void Win32Window::layoutControls()
{
    for (Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        const RECT r = scaledGeometry(m_spec, c.def, m_dpi);
        const int height = r.bottom - r.top;
        if (c.def.kind == ControlKind::ComboBox) {
            // A drop-down combo box's height is its list's: the closed box gets its height from its
            // edit field, fitted below.
            ::MoveWindow(c.hwnd, r.left, r.top, r.right - r.left, height + scale(DropDownHeight * 15, m_dpi), TRUE);
            fitComboHeight(c, height);
        } else {
            ::MoveWindow(c.hwnd, r.left, r.top, r.right - r.left, height, TRUE);
        }
    }
}

// A closed drop-down combo box is as tall as its edit field makes it: the field's height is set until the
// box has the height of the table. The field height a box reports need not be the one it was given
// (Wine adds its padding), so each step goes by the height measured.
void Win32Window::fitComboHeight(Control& c, int height)
{
    LRESULT field = ::SendMessageW(c.hwnd, CB_GETITEMHEIGHT, WPARAM(-1), 0);
    if (field == CB_ERR)
        return;
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT box;
        ::GetWindowRect(c.hwnd, &box);
        const int actual = box.bottom - box.top;
        if (actual == height || field + height - actual < 1)
            return;
        field += height - actual;
        ::SendMessageW(c.hwnd, CB_SETITEMHEIGHT, WPARAM(-1), field);
    }
}

// --- looking up -------------------------------------------------------------------------------------

Win32Window::Control* Win32Window::find(const std::string& name)
{
    for (Control& c : m_controls)
        if (c.def.name == name)
            return &c;
    return nullptr;
}

const Win32Window::Control* Win32Window::find(const std::string& name) const
{
    return const_cast<Win32Window*>(this)->find(name);
}

Win32Window::Control* Win32Window::findById(int id)
{
    const int index = id - FirstControlId;
    if (index < 0 || index >= int(m_controls.size()))
        return nullptr;
    return &m_controls[size_t(index)];
}

Win32Window::Control* Win32Window::findByHwnd(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    for (Control& c : m_controls)
        if (c.hwnd == hwnd || c.edit == hwnd || c.list == hwnd)
            return &c;
    return nullptr;
}

const Win32Window::Control* Win32Window::findByHwnd(HWND hwnd) const
{
    return const_cast<Win32Window*>(this)->findByHwnd(hwnd);
}

HWND Win32Window::control(const std::string& name) const
{
    const Control* c = find(name);
    return c ? c->hwnd : nullptr;
}

std::string Win32Window::controlName(HWND hwnd) const
{
    const Control* c = findByHwnd(hwnd);
    return c ? c->def.name : std::string();
}

HFONT Win32Window::font(const std::string& name) const
{
    const Control* c = find(name);
    if (!c)
        return nullptr;
    if (c->def.bold)
        return m_boldFont;
    return wantsNarrowFont(c->def) ? m_narrowFont : m_font;
}

std::string Win32Window::currentToolTip(const std::string& name) const
{
    const Control* c = find(name);
    if (!c)
        return {};
    if (c->def.kind == ControlKind::ComboBox && c->list && ::IsWindowVisible(c->list)) {
        if (c->hoveredItem >= 0 && c->hoveredItem < int(c->itemTips.size()))
            return c->itemTips[size_t(c->hoveredItem)];
        return {};
    }
    return c->toolTip;
}

// --- the window procedure ---------------------------------------------------------------------------

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hwnd = hwnd;
    }
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->onMessage(message, wParam, lParam);
}

LRESULT Win32Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND hwnd = m_hwnd;
    switch (message) {
    case WM_COMMAND:
        onCommand(wParam, lParam);
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header && header->hwndFrom == m_toolTip && header->code == TTN_GETDISPINFOW)
            return onToolTipText(header);
        break;
    }
    case WM_CTLCOLORSTATIC: {
        const Control* c = findByHwnd(reinterpret_cast<HWND>(lParam));
        if (c && c->brush && c->backColor) {
            const std::uint32_t rgb = *c->backColor;
            const HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetBkColor(dc, RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
            ::SetBkMode(dc, OPAQUE);
            return reinterpret_cast<LRESULT>(c->brush);
        }
        break;
    }
    case WM_CONTEXTMENU:
        if (onContextMenu(reinterpret_cast<HWND>(wParam), lParam))
            return 0;
        break;
    case WM_CLOSE:
        close();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = ::GetFocus();
            if (focus && ::IsChild(hwnd, focus))
                m_lastFocus = focus;
        } else if (!HIWORD(wParam)) { // not minimised
            if (m_lastFocus && ::IsWindow(m_lastFocus) && ::IsWindowEnabled(m_lastFocus))
                ::SetFocus(m_lastFocus);
            else if (HWND first = ::GetNextDlgTabItem(hwnd, nullptr, FALSE))
                ::SetFocus(first);
        }
        return 0;
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        applyDpi(HIWORD(wParam));
        if (suggested)
            ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_SETCURSOR:
        if (m_busy > 0) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        // Destroyed by the system rather than by the window's owner (which lets go without events).
        if (!m_destroying)
            m_events.unload();
        return 0;
    case WM_NCDESTROY:
        for (Control& c : m_controls)
            c.hwnd = c.edit = c.list = nullptr;
        m_toolTip = nullptr;
        m_hwnd = nullptr;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

// A window that closes is hidden, not destroyed: its owner may show it again.
void Win32Window::close()
{
    const std::shared_ptr<bool> alive = m_alive;
    if (m_destroying || !m_events.closeRequested() || !*alive)
        return;
    m_events.unload();
    if (*alive && m_hwnd)
        ::ShowWindow(m_hwnd, SW_HIDE);
}

void Win32Window::onCommand(WPARAM wParam, LPARAM lParam)
{
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (lParam == 0) { // a menu entry (0) or an accelerator (1)
        if (code != 0 && code != 1)
            return;
        for (const Command& command : m_commands) {
            if (command.commandId == UINT(id)) {
                if (m_events.commandEnabled(command.id))
                    raiseCommand(command.id);
                return;
            }
        }
        return;
    }
    Control* c = findById(id);
    if (!c || m_quiet || m_destroying)
        return; // IDOK and IDCANCEL of the dialog keys end here too
    const std::string name = c->def.name;
    switch (c->def.kind) {
    case ControlKind::Button:
        if (code == BN_CLICKED && ::IsWindowEnabled(c->hwnd)) // BM_CLICK reaches disabled buttons too
            m_events.click(name);
        break;
    case ControlKind::ListBox:
        if (code == LBN_SELCHANGE)
            m_events.click(name);
        break;
    case ControlKind::ComboBox:
        onComboNotification(*c, code);
        break;
    default:
        break;
    }
}

void Win32Window::onComboNotification(Control& c, int code)
{
    switch (code) {
    case CBN_DROPDOWN: {
        c.hoveredItem = -1;
        const std::string name = c.def.name;
        m_events.dropDown(name);
        break;
    }
    case CBN_EDITCHANGE:
        c.typed = true;
        c.listIndex = -1;
        c.typedText = windowText(c.hwnd);
        break;
    case CBN_SELCHANGE:
        // With the list closed, the arrow keys (or the wheel, with the focus) choose at once.
        if (!::SendMessageW(c.hwnd, CB_GETDROPPEDSTATE, 0, 0))
            schedulePick(c);
        break;
    case CBN_SELENDOK:
        schedulePick(c);
        break;
    case CBN_CLOSEUP:
        c.hoveredItem = -1;
        break;
    default:
        break;
    }
}

// The combo box fills its edit field after it has told of the choice: the handler hears of it once
// the combo box is done, from the loop.
void Win32Window::schedulePick(Control& c)
{
    const std::weak_ptr<bool> alive = m_alive;
    const std::string name = c.def.name;
    if (c.typed) {
        // Typed text chooses nothing, whatever entry the list matched it with; it stays as typed.
        const std::wstring typed = c.typedText;
        m_frontEnd.guiLoop().post([this, alive, name, typed] {
            const auto a = alive.lock();
            Control* c = a && *a ? find(name) : nullptr;
            if (!c || !c->hwnd || !c->typed)
                return;
            if (windowText(c->hwnd) != typed) {
                Quiet quiet(m_quiet);
                ::SetWindowTextW(c->hwnd, typed.c_str());
            }
            c->listIndex = -1;
        });
        return;
    }
    if (c.pickPending)
        return;
    c.pickPending = true;
    m_frontEnd.guiLoop().post([this, alive, name] {
        const auto a = alive.lock();
        Control* c = a && *a ? find(name) : nullptr;
        if (!c || !c->hwnd)
            return;
        c->pickPending = false;
        const int index = int(::SendMessageW(c->hwnd, CB_GETCURSEL, 0, 0));
        if (index < 0)
            return;
        c->listIndex = index;
        m_events.click(name);
    });
}

LRESULT CALLBACK Win32Window::controlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR data)
{
    auto* self = reinterpret_cast<Win32Window*>(data);
    Control* c = self ? self->findById(int(id)) : nullptr;
    if (c && c->def.kind == ControlKind::ProgressBar) {
        switch (message) {
        case WM_PAINT:
            if (c->barText.empty())
                break;
            paintBar(hwnd, c->barText);
            return 0;
        case WM_ERASEBKGND:
            if (!c->barText.empty())
                return 1; // painted whole in WM_PAINT
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, controlProc, id);
            break;
        default:
            break;
        }
    } else if (c) {
        switch (message) {
        case WM_MOUSEWHEEL:
            if (hwnd != c->list) {
                // Scrolling past a list changes nothing: the wheel chooses only in the list that has the
                // keyboard focus.
                const HWND focus = ::GetFocus();
                if (focus != c->hwnd && focus != c->edit)
                    return 0;
                c->typed = false;
                // The edit field would keep the wheel to itself: the combo box turns it into a choice.
                if (hwnd == c->edit)
                    return ::SendMessageW(c->hwnd, WM_MOUSEWHEEL, wParam, lParam);
            }
            break;
        case WM_KEYDOWN:
            if (hwnd == c->list) {
                switch (wParam) {
                case VK_UP:
                case VK_DOWN:
                case VK_PRIOR:
                case VK_NEXT:
                case VK_HOME:
                case VK_END:
                    c->typed = false; // moving through the entries is choosing
                    break;
                default:
                    break;
                }
            }
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            if (hwnd == c->list)
                c->typed = false;
            break;
        case WM_MOUSEMOVE:
            if (hwnd == c->list) {
                const LRESULT hit = ::SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lParam);
                const int item = HIWORD(hit) ? -1 : int(LOWORD(hit));
                if (item != c->hoveredItem) {
                    c->hoveredItem = item;
                    if (self->m_toolTip)
                        ::SendMessageW(self->m_toolTip, TTM_POP, 0, 0); // the next tip is the new entry's
                }
            }
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(hwnd, controlProc, id);
            break;
        default:
            break;
        }
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

// The bar as the control draws it, and its text centred on top, drawn off screen in one piece.
void Win32Window::paintBar(HWND bar, const std::wstring& text)
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

LRESULT Win32Window::onToolTipText(NMHDR* header)
{
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
    const Control* c = findByHwnd(reinterpret_cast<HWND>(header->idFrom));
    m_toolTipBuffer = c ? widen(currentToolTip(c->def.name)) : std::wstring();
    info->lpszText = m_toolTipBuffer.data();
    info->hinst = nullptr;
    return 0;
}

// --- menus ------------------------------------------------------------------------------------------

bool Win32Window::onContextMenu(HWND target, LPARAM position)
{
    POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    const bool fromKeyboard = position == -1;
    const Control* c = findByHwnd(target);
    const std::vector<MenuItemSpec>* items = nullptr;
    if (c) {
        for (const auto& [control, menu] : m_spec.controlMenus)
            if (control == c->def.name)
                items = &menu;
    }
    if (!items && !m_spec.windowMenu.empty())
        items = &m_spec.windowMenu;
    if (!items)
        return false;
    if (fromKeyboard) {
        RECT r{};
        if (c && c->hwnd) {
            ::GetWindowRect(c->hwnd, &r);
        } else {
            ::GetClientRect(m_hwnd, &r);
            ::MapWindowPoints(m_hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
        }
        at = POINT{r.left + 8, r.top + 8};
    }
    const std::vector<MenuItemSpec> copy = *items; // the handler may change what the definition holds
    runMenu(copy, at);
    return true;
}

void Win32Window::runMenu(const std::vector<MenuItemSpec>& items, POINT at)
{
    HMENU menu = ::CreatePopupMenu();
    if (!menu)
        return;
    for (const MenuItemSpec& item : items) {
        if (item.text.empty()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT commandId = 0;
        for (const Command& command : m_commands)
            if (command.id == item.id)
                commandId = command.commandId;
        std::wstring label = escapeAmpersands(widen(item.text));
        if (!item.shortcut.empty())
            label += L"\t" + widen(item.shortcut);
        const UINT flags = MF_STRING | (m_events.commandEnabled(item.id) ? MF_ENABLED : MF_GRAYED);
        ::AppendMenuW(menu, flags, commandId, label.c_str());
    }
    const std::shared_ptr<bool> alive = m_alive;
    const UINT chosen = UINT(::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y,
                                              0, m_hwnd, nullptr));
    ::DestroyMenu(menu);
    if (!chosen || !*alive)
        return;
    for (const Command& command : m_commands) {
        if (command.commandId == chosen) {
            const std::string id = command.id;
            raiseCommand(id);
            return;
        }
    }
}

void Win32Window::raiseCommand(const std::string& id)
{
    m_events.command(id);
}

// --- FormView -----------------------------------------------------------------------------------------

void Win32Window::setCaption(const std::string& caption)
{
    if (m_hwnd)
        ::SetWindowTextW(m_hwnd, widen(caption).c_str());
}

std::string Win32Window::caption() const
{
    return narrow(windowText(m_hwnd));
}

void Win32Window::showWindow()
{
    if (!m_hwnd)
        return;
    ::ShowWindow(m_hwnd, ::IsIconic(m_hwnd) ? SW_RESTORE : SW_SHOW);
    ::SetForegroundWindow(m_hwnd);
    ::BringWindowToTop(m_hwnd);
}

void Win32Window::hideWindow()
{
    if (m_hwnd)
        ::ShowWindow(m_hwnd, SW_HIDE);
}

bool Win32Window::isWindowVisible() const
{
    return m_hwnd && ::IsWindowVisible(m_hwnd);
}

std::string Win32Window::text(const std::string& control) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd)
        return {};
    switch (c->def.kind) {
    case ControlKind::Button:
    case ControlKind::Frame:
        return narrow(unescapeAmpersands(windowText(c->hwnd)));
    case ControlKind::ListBox: {
        const int current = int(::SendMessageW(c->hwnd, LB_GETCURSEL, 0, 0));
        return current < 0 ? std::string() : narrow(itemString(c->hwnd, false, current));
    }
    case ControlKind::ProgressBar:
        return narrow(c->barText);
    default:
        return narrow(windowText(c->hwnd));
    }
}

void Win32Window::setText(const std::string& control, const std::string& text)
{
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    Quiet quiet(m_quiet);
    std::wstring wide = widen(text);
    switch (c->def.kind) {
    case ControlKind::Button:
    case ControlKind::Frame:
        ::SetWindowTextW(c->hwnd, escapeAmpersands(wide).c_str());
        break;
    case ControlKind::ComboBox:
        ::SetWindowTextW(c->hwnd, wide.c_str());
        c->listIndex = -1;
        c->typed = false;
        break;
    case ControlKind::ListBox:
        break;
    case ControlKind::ProgressBar:
        c->barText = wide;
        ::InvalidateRect(c->hwnd, nullptr, TRUE);
        break;
    default:
        ::SetWindowTextW(c->hwnd, wide.c_str());
        break;
    }
}

bool Win32Window::isEnabled(const std::string& control) const
{
    const Control* c = find(control);
    return c && c->hwnd && ::IsWindowEnabled(c->hwnd);
}

void Win32Window::setEnabled(const std::string& control, bool enabled)
{
    if (Control* c = find(control); c && c->hwnd)
        ::EnableWindow(c->hwnd, enabled);
}

void Win32Window::setToolTip(const std::string& control, const std::string& toolTip)
{
    if (Control* c = find(control))
        c->toolTip = toolTip;
}

void Win32Window::setFocus(const std::string& control)
{
    if (Control* c = find(control); c && c->hwnd)
        ::SetFocus(c->hwnd);
}

void Win32Window::setBackColor(const std::string& control, std::optional<std::uint32_t> rgb)
{
    Control* c = find(control);
    if (!c)
        return;
    if (c->brush)
        ::DeleteObject(c->brush);
    c->brush = nullptr;
    c->backColor = rgb;
    if (rgb)
        c->brush = ::CreateSolidBrush(RGB((*rgb >> 16) & 0xFF, (*rgb >> 8) & 0xFF, *rgb & 0xFF));
    if (c->hwnd)
        ::InvalidateRect(c->hwnd, nullptr, TRUE);
}

std::optional<std::uint32_t> Win32Window::backColor(const std::string& control) const
{
    const Control* c = find(control);
    return c ? c->backColor : std::nullopt;
}

// A long step runs inside a handler: the hourglass at once, and for as long as the mouse is over the
// window.
void Win32Window::setBusy(bool busy)
{
    if (busy)
        ++m_busy;
    else if (m_busy > 0)
        --m_busy;
    POINT at;
    ::GetCursorPos(&at);
    const HWND under = ::WindowFromPoint(at);
    if (m_hwnd && (under == m_hwnd || ::IsChild(m_hwnd, under)))
        ::SetCursor(::LoadCursorW(nullptr, m_busy > 0 ? IDC_WAIT : IDC_ARROW));
}

void Win32Window::addItem(const std::string& control, const std::string& text, const std::string& toolTip)
{
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    Quiet quiet(m_quiet);
    const std::wstring wide = widen(text);
    if (c->def.kind == ControlKind::ComboBox) {
        if (::SendMessageW(c->hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())) >= 0)
            c->itemTips.push_back(toolTip);
    } else if (c->def.kind == ControlKind::ListBox) {
        if (::SendMessageW(c->hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())) >= 0)
            c->itemTips.push_back(toolTip);
    }
}

void Win32Window::insertItem(const std::string& control, int index, const std::string& text)
{
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    const bool combo = c->def.kind == ControlKind::ComboBox;
    if (!combo && c->def.kind != ControlKind::ListBox)
        return;
    Quiet quiet(m_quiet);
    const int count = itemCount(control);
    if (index < 0 || index > count)
        index = count;
    const std::wstring wide = widen(text);
    const LRESULT at = ::SendMessageW(c->hwnd, combo ? CB_INSERTSTRING : LB_INSERTSTRING, WPARAM(index),
                                      reinterpret_cast<LPARAM>(wide.c_str()));
    if (at < 0)
        return;
    c->itemTips.insert(c->itemTips.begin() + std::min<size_t>(size_t(at), c->itemTips.size()), std::string());
    if (combo && c->listIndex >= index)
        ++c->listIndex;
}

void Win32Window::removeItem(const std::string& control, int index)
{
    Control* c = find(control);
    if (!c || !c->hwnd || index < 0 || index >= itemCount(control))
        return;
    const bool combo = c->def.kind == ControlKind::ComboBox;
    Quiet quiet(m_quiet);
    if (combo) {
        const std::wstring shown = windowText(c->hwnd);
        ::SendMessageW(c->hwnd, CB_DELETESTRING, WPARAM(index), 0);
        if (windowText(c->hwnd) != shown)
            ::SetWindowTextW(c->hwnd, shown.c_str());
        if (c->listIndex == index)
            c->listIndex = -1;
        else if (c->listIndex > index)
            --c->listIndex;
    } else {
        ::SendMessageW(c->hwnd, LB_DELETESTRING, WPARAM(index), 0);
    }
    if (size_t(index) < c->itemTips.size())
        c->itemTips.erase(c->itemTips.begin() + index);
}

void Win32Window::clearItems(const std::string& control)
{
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    Quiet quiet(m_quiet);
    if (c->def.kind == ControlKind::ComboBox) {
        const std::wstring shown = windowText(c->hwnd);
        ::SendMessageW(c->hwnd, CB_RESETCONTENT, 0, 0);
        ::SetWindowTextW(c->hwnd, shown.c_str()); // the edit field keeps its text
        c->listIndex = -1;
        c->hoveredItem = -1;
    } else if (c->def.kind == ControlKind::ListBox) {
        ::SendMessageW(c->hwnd, LB_RESETCONTENT, 0, 0);
    }
    c->itemTips.clear();
}

int Win32Window::itemCount(const std::string& control) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd)
        return 0;
    if (c->def.kind == ControlKind::ComboBox)
        return std::max(0, int(::SendMessageW(c->hwnd, CB_GETCOUNT, 0, 0)));
    if (c->def.kind == ControlKind::ListBox)
        return std::max(0, int(::SendMessageW(c->hwnd, LB_GETCOUNT, 0, 0)));
    return 0;
}

std::string Win32Window::itemText(const std::string& control, int index) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd || index < 0 || index >= itemCount(control))
        return {};
    if (c->def.kind != ControlKind::ComboBox && c->def.kind != ControlKind::ListBox)
        return {};
    return narrow(itemString(c->hwnd, c->def.kind == ControlKind::ComboBox, index));
}

int Win32Window::listIndex(const std::string& control) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd)
        return -1;
    if (c->def.kind == ControlKind::ComboBox)
        return c->listIndex;
    if (c->def.kind == ControlKind::ListBox)
        return int(::SendMessageW(c->hwnd, LB_GETCURSEL, 0, 0));
    return -1;
}

void Win32Window::setListIndex(const std::string& control, int index)
{
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    Quiet quiet(m_quiet);
    if (index < 0 || index >= itemCount(control))
        index = -1;
    if (c->def.kind == ControlKind::ComboBox) {
        ::SendMessageW(c->hwnd, CB_SETCURSEL, WPARAM(index), 0); // -1 empties the edit field too
        c->listIndex = index;
        c->typed = false;
    } else if (c->def.kind == ControlKind::ListBox) {
        ::SendMessageW(c->hwnd, LB_SETCURSEL, WPARAM(index), 0);
    }
}

void Win32Window::setRange(const std::string& control, int minimum, int maximum)
{
    if (Control* c = find(control); c && c->hwnd && c->def.kind == ControlKind::ProgressBar)
        ::SendMessageW(c->hwnd, PBM_SETRANGE32, WPARAM(minimum), LPARAM(maximum));
}

void Win32Window::setValue(const std::string& control, int value)
{
    if (Control* c = find(control); c && c->hwnd && c->def.kind == ControlKind::ProgressBar)
        ::SendMessageW(c->hwnd, PBM_SETPOS, WPARAM(value), 0);
}

int Win32Window::value(const std::string& control) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd || c->def.kind != ControlKind::ProgressBar)
        return 0;
    return int(::SendMessageW(c->hwnd, PBM_GETPOS, 0, 0));
}

} // namespace morvandell::win32
