#include "ui/win32/win32window.h"

#include "ui/win32/controltext.h"
#include "ui/win32/quiet.h"
#include "ui/win32/win32frontend.h"
#include "windows/wide.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace morvandell::win32 {

using win::narrow;
using win::widen;

using ui::ControlKind;

namespace {

constexpr int FirstControlId = 100; // clear of IDOK and IDCANCEL, which the dialog keys send

DWORD windowStyle(const FormSpec& def)
{
    // Not WS_CLIPCHILDREN: the window paints the inside of its frames, which group boxes leave to it.
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    if (!def.fixedSize)
        style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
    return style;
}

constexpr DWORD WindowExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

// At most `limit` characters (0: no limit), a character's two halves kept together.
std::wstring limitedText(const std::wstring& text, int limit)
{
    if (limit <= 0)
        return text;
    std::size_t units = 0;
    for (int characters = 0; units < text.size() && characters < limit; ++characters)
        units += (text[units] >= 0xD800 && text[units] <= 0xDBFF && units + 1 < text.size()) ? 2 : 1;
    return text.substr(0, units);
}

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

    // Every control is made where it stays and in its font: before the window is first shown each later
    // move or font change would be one more round trip to the window system (under Wine the larger part
    // of the start-up). A change of DPI later goes through applyDpi().
    m_dpi = dpiOfWindow(m_hwnd);
    m_fonts = WindowFonts(m_dpi);
    resizeToClient(m_hwnd, scaledClientSize(m_spec, m_dpi), style, WindowExStyle, m_dpi);
    createControls();
    createToolTips();
    m_menus.build(m_spec);

    std::shared_ptr<bool> alive = m_alive;
    m_filter = m_frontEnd.guiLoop().addMessageFilter([this, alive](MSG& msg) {
        if (!*alive || !m_hwnd)
            return false;
        const bool ours = msg.hwnd == m_hwnd || ::IsChild(m_hwnd, msg.hwnd);
        relayToToolTip(msg, ours);
        if (!ours)
            return false;
        if (m_menus.translate(m_hwnd, msg))
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
            if (c.combo)
                c.combo->detach();
            if (c.bar)
                c.bar->detach();
        }
        ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hwnd);
        m_hwnd = nullptr;
    }
    for (Control& c : m_controls)
        if (c.brush)
            ::DeleteObject(c.brush);
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
        const RECT at = scaledGeometry(m_spec, def, m_dpi);
        const RECT place = def.kind == ControlKind::ComboBox ? ComboBox::withList(at, m_dpi) : at;
        c.hwnd = ::CreateWindowExW(exStyle, windowClass, caption.c_str(), style, place.left, place.top,
                                   place.right - place.left, place.bottom - place.top, m_hwnd,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        if (c.hwnd) // the window is not shown yet: nothing to redraw
            ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.forControl(def)), FALSE);
        c.backColor = def.backColor;
        if (def.backColor) {
            const std::uint32_t rgb = *def.backColor;
            c.brush = ::CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
        }
        m_controls.push_back(std::move(c));
    }

    Quiet quiet(m_quiet);
    for (Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        if (c.def.kind == ControlKind::ComboBox) {
            c.combo = std::make_unique<ComboBox>(c.hwnd, c.def, UINT_PTR(c.id), m_events, m_frontEnd.guiLoop(),
                                                 m_quiet, m_alive);
            if (wantsNarrowFont(c.def))
                c.combo->setNarrowMargins();
            c.combo->fit(scaledGeometry(m_spec, c.def, m_dpi));
            c.combo->listen();
        } else if (c.def.kind == ControlKind::TextBox && c.def.maxLength > 0) {
            ::SendMessageW(c.hwnd, EM_SETLIMITTEXT, WPARAM(c.def.maxLength), 0);
        } else if (c.def.kind == ControlKind::ProgressBar) {
            c.bar = std::make_unique<ProgressBar>(c.hwnd, UINT_PTR(c.id), widen(c.def.text));
        }
    }
    // Frames lie beneath the controls they hold: the bottom of the order, the outermost lowest.
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it)
        if (it->def.kind == ControlKind::Frame && it->hwnd)
            ::SetWindowPos(it->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The tool tip learns where the mouse is from the messages the loop takes for this window, its controls
// and the combo boxes' open lists. (Letting the tool tip subclass every control instead would send each
// message of those windows, the many of their creation included, through two more window procedures.)
void Win32Window::relayToToolTip(MSG& msg, bool ours) const
{
    if (!m_toolTip || msg.message < WM_MOUSEFIRST || msg.message > WM_MOUSELAST)
        return;
    if (!ours) {
        const auto isList = [&](const Control& c) { return c.combo && c.combo->list() == msg.hwnd; };
        if (std::none_of(m_controls.begin(), m_controls.end(), isList))
            return;
    }
    ::SendMessageW(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

RECT Win32Window::placeInWindow(HWND control) const
{
    RECT r{};
    ::GetWindowRect(control, &r); // a combo box's closed size, not its list's
    ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
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
        if (c.combo)
            c.combo->setToolTipWindow(m_toolTip);
        for (HWND part : {c.hwnd, c.combo ? c.combo->edit() : nullptr, c.combo ? c.combo->list() : nullptr}) {
            if (!part)
                continue;
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.uFlags = TTF_IDISHWND; // the mouse's moves come through relayToToolTip()
            tool.hwnd = m_hwnd;
            tool.uId = reinterpret_cast<UINT_PTR>(part);
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        // A disabled control gets no mouse input: the window does, over the control's place. This tool
        // (its rectangle set with the layout) shows the control's tip there, saying why it is disabled.
        if (c.hwnd && c.def.kind != ControlKind::Frame) {
            TTTOOLINFOW area{};
            area.cbSize = TTTOOLINFOW_V2_SIZE;
            area.uFlags = 0;
            area.hwnd = m_hwnd;
            area.uId = UINT_PTR(c.id);
            area.lpszText = LPSTR_TEXTCALLBACKW;
            area.rect = placeInWindow(c.hwnd); // the controls stand where they stay (see the constructor)
            ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&area));
        }
    }
}

void Win32Window::applyDpi(UINT dpi)
{
    m_dpi = dpi ? dpi : StandardDpi;
    // The controls take the new fonts before the old ones go.
    WindowFonts fonts(m_dpi);
    for (const Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.forControl(c.def)), TRUE);
        if (c.combo && wantsNarrowFont(c.def))
            c.combo->setNarrowMargins();
    }
    m_fonts = std::move(fonts);

    resizeToClient(m_hwnd, scaledClientSize(m_spec, m_dpi), windowStyle(m_spec), WindowExStyle, m_dpi);
    layoutControls();
}

void Win32Window::layoutControls()
{
    for (Control& c : m_controls) {
        if (!c.hwnd)
            continue;
        const RECT r = scaledGeometry(m_spec, c.def, m_dpi);
        if (c.combo)
            c.combo->place(r, m_dpi);
        else
            ::MoveWindow(c.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        if (m_toolTip && c.def.kind != ControlKind::Frame) {
            TTTOOLINFOW area{};
            area.cbSize = TTTOOLINFOW_V2_SIZE;
            area.hwnd = m_hwnd;
            area.uId = UINT_PTR(c.id);
            area.rect = placeInWindow(c.hwnd);
            ::SendMessageW(m_toolTip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&area));
        }
    }
}

int Win32Window::controlId(const FormSpec& def, const std::string& name)
{
    for (std::size_t i = 0; i < def.controls.size(); ++i)
        if (def.controls[i].name == name)
            return FirstControlId + int(i);
    return 0;
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
        if (c.hwnd == hwnd || (c.combo && c.combo->owns(hwnd)))
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
    return c ? m_fonts.forControl(c->def) : nullptr;
}

std::string Win32Window::currentToolTip(const std::string& name) const
{
    const Control* c = find(name);
    if (!c)
        return {};
    if (c->combo && c->combo->isDroppedDown()) {
        const int hovered = c->combo->hoveredItem();
        if (hovered >= 0 && hovered < int(c->itemTips.size()))
            return c->itemTips[size_t(hovered)];
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
    case WM_GETMINMAXINFO:
        // A window that can be resized never becomes smaller than its definition's client area.
        if (!m_spec.fixedSize && lParam) {
            const SIZE smallest =
                windowSizeForClient(scaledClientSize(m_spec, m_dpi), windowStyle(m_spec), WindowExStyle, m_dpi);
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize.x = smallest.cx;
            info->ptMinTrackSize.y = smallest.cy;
            return 0;
        }
        break;
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
        for (Control& c : m_controls) {
            c.hwnd = nullptr;
            if (c.combo)
                c.combo->forget();
            if (c.bar)
                c.bar->forget();
        }
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
        if (const std::string* command = m_menus.command(UINT(id)))
            if (m_events.commandEnabled(*command))
                raiseCommand(*command);
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
        if (c->combo)
            c->combo->onNotification(code);
        break;
    default:
        break;
    }
}

LRESULT Win32Window::onToolTipText(NMHDR* header)
{
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
    const Control* c = (info->uFlags & TTF_IDISHWND) ? findByHwnd(reinterpret_cast<HWND>(header->idFrom))
                                                     : findById(int(header->idFrom));
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
    const std::vector<MenuItemSpec>* items = MenuCommands::menuFor(m_spec, c ? &c->def.name : nullptr);
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
    const std::shared_ptr<bool> alive = m_alive;
    const UINT chosen = m_menus.run(m_hwnd, copy, at, m_events);
    if (!chosen || !*alive)
        return true;
    if (const std::string* command = m_menus.command(chosen)) {
        const std::string id = *command;
        raiseCommand(id);
    }
    return true;
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
        return c->bar ? narrow(c->bar->text()) : std::string();
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
        c->combo->setText(wide);
        break;
    case ControlKind::ListBox:
        break;
    case ControlKind::ProgressBar:
        c->bar->setText(wide);
        break;
    case ControlKind::TextBox:
        // The limit holds for the handlers' text too (EM_SETLIMITTEXT holds only for typing).
        ::SetWindowTextW(c->hwnd, limitedText(wide, c->def.maxLength).c_str());
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
    Control* c = find(control);
    if (!c || !c->hwnd)
        return;
    if (!enabled && m_hwnd) {
        // A disabled control loses the focus to nothing: the focus moves on to the next control first,
        // also the focus the window gives back when it is activated again.
        const auto holds = [&](HWND focus) { return focus && (focus == c->hwnd || ::IsChild(c->hwnd, focus)); };
        const HWND focus = ::GetFocus();
        if (holds(focus) || holds(m_lastFocus)) {
            HWND next = ::GetNextDlgTabItem(m_hwnd, c->hwnd, FALSE);
            if (next == c->hwnd)
                next = nullptr;
            if (holds(focus))
                ::SetFocus(next ? next : m_hwnd);
            if (holds(m_lastFocus))
                m_lastFocus = next;
        }
    }
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
        if (c->combo->addItem(wide))
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
    const LRESULT at = combo ? c->combo->insertItem(index, wide)
                             : ::SendMessageW(c->hwnd, LB_INSERTSTRING, WPARAM(index),
                                              reinterpret_cast<LPARAM>(wide.c_str()));
    if (at < 0)
        return;
    c->itemTips.insert(c->itemTips.begin() + std::min<size_t>(size_t(at), c->itemTips.size()), std::string());
}

void Win32Window::removeItem(const std::string& control, int index)
{
    Control* c = find(control);
    if (!c || !c->hwnd || index < 0 || index >= itemCount(control))
        return;
    Quiet quiet(m_quiet);
    if (c->def.kind == ControlKind::ComboBox) {
        c->combo->removeItem(index);
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
        c->combo->clear();
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
        return c->combo->listIndex();
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
        c->combo->setListIndex(index);
    } else if (c->def.kind == ControlKind::ListBox) {
        ::SendMessageW(c->hwnd, LB_SETCURSEL, WPARAM(index), 0);
    }
}

void Win32Window::setRange(const std::string& control, int minimum, int maximum)
{
    if (Control* c = find(control); c && c->hwnd && c->bar)
        c->bar->setRange(minimum, maximum);
}

void Win32Window::setValue(const std::string& control, int value)
{
    if (Control* c = find(control); c && c->hwnd && c->bar)
        c->bar->setValue(value);
}

int Win32Window::value(const std::string& control) const
{
    const Control* c = find(control);
    if (!c || !c->hwnd || !c->bar)
        return 0;
    return c->bar->value();
}

} // namespace morvandell::win32
