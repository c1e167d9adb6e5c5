// The user of the Win32 front end, in this process on Wine's virtual desktop: SendInput for the mouse
// and the keys (tests/win32/win32test.h), a control's own message where a user's step has no keys
// (selecting a field's whole text).
#include "frontenddriver.h"

#include "win32test.h"

#include "ui/win32/win32frontend.h"
#include "ui/win32/win32window.h"
#include "windows/wide.h"

#include <gtest/gtest.h>

#include <map>

namespace morvandell::contract {
namespace {

using namespace std::chrono_literals;
namespace t = win32::test;

win32::Win32Window& native(ui::FormView& view)
{
    return dynamic_cast<win32::Win32Window&>(view);
}

HWND hwndOf(ui::FormView& view, const std::string& control)
{
    const HWND h = native(view).control(control);
    EXPECT_TRUE(h) << "no such control " << control;
    return h;
}

HWND listOf(HWND combo)
{
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    return ::GetComboBoxInfo(combo, &info) ? info.hwndList : nullptr;
}

// The middle of a list's line (of a list box, or of a combo box's open list).
POINT lineCentre(HWND list, int line)
{
    RECT r{};
    ::SendMessageW(list, LB_GETITEMRECT, WPARAM(line), reinterpret_cast<LPARAM>(&r));
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class Win32Driver final : public FrontEndDriver
{
public:
    ui::FrontEnd& frontEnd() override { return m_frontEnd; }
    void settle(std::chrono::milliseconds time) override { t::pumpFor(m_frontEnd, time); }
    void activate(ui::FormView& view) override
    {
        view.showWindow();
        const HWND window = native(view).handle();
        t::focusWindow(window, nullptr);
        EXPECT_TRUE(t::pumpUntil(m_frontEnd, [&] { return ::GetForegroundWindow() == window; }, 2s));
        ::SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0); // the focus on the first control
    }

    void click(ui::FormView& view, const std::string& control) override
    {
        RECT r;
        ::GetClientRect(hwndOf(view, control), &r);
        t::clickAt(hwndOf(view, control), POINT{r.right / 2, r.bottom / 2});
    }
    void clickLine(ui::FormView& view, const std::string& list, int line) override
    {
        t::clickAt(hwndOf(view, list), lineCentre(hwndOf(view, list), line));
    }
    void focus(ui::FormView& view, const std::string& control) override
    {
        t::focusWindow(native(view).handle(), hwndOf(view, control));
    }
    void typeOver(ui::FormView& view, const std::string& control, const std::string& text) override
    {
        focus(view, control);
        const bool combo = native(view).definition().find(control)->kind == ui::ControlKind::ComboBox;
        ::SendMessageW(hwndOf(view, control), combo ? CB_SETEDITSEL : EM_SETSEL, 0, combo ? MAKELPARAM(0, -1) : -1);
        t::typeText(win::widen(text));
        settle(50ms);
    }
    void press(ui::FormView&, const Key& key) override
    {
        static const std::map<std::string, WORD> keys{{"Tab", VK_TAB},   {"Enter", VK_RETURN}, {"Escape", VK_ESCAPE},
                                                      {"Down", VK_DOWN}, {"Up", VK_UP},        {"Space", VK_SPACE},
                                                      {"F4", VK_F4}};
        EXPECT_TRUE(keys.count(key)) << key;
        if (keys.count(key))
            t::pressKey(keys.at(key));
    }
    void shortcut(ui::FormView&, const std::string& keys) override
    {
        // "Ctrl+S", "Ctrl+Shift+S": modifiers, then one letter.
        const bool control = keys.find("Ctrl+") != std::string::npos;
        const bool shift = keys.find("Shift+") != std::string::npos;
        t::pressKey(WORD(std::toupper(static_cast<unsigned char>(keys.back()))), control, shift);
    }
    void wheel(ui::FormView& view, const std::string& control) override { t::turnWheelOver(hwndOf(view, control), -1); }
    void openList(ui::FormView& view, const std::string& combo) override
    {
        const HWND h = hwndOf(view, combo);
        RECT r;
        ::GetClientRect(h, &r);
        t::clickAt(h, POINT{r.right - ::GetSystemMetrics(SM_CXVSCROLL) / 2, r.bottom / 2});
        EXPECT_TRUE(t::pumpUntil(m_frontEnd, [&] { return ::SendMessageW(h, CB_GETDROPPEDSTATE, 0, 0) != 0; }, 2s))
            << combo << ": the arrow did not open the list";
    }
    void clickEntry(ui::FormView& view, const std::string& combo, int index) override
    {
        const HWND list = listOf(hwndOf(view, combo));
        t::clickAt(list, lineCentre(list, index));
    }
    void chooseFromMenu(ui::FormView& view, const std::string& control, int entry) override
    {
        if (!control.empty())
            focus(view, control);
        t::pressKey(VK_F10, false, true);
        for (int i = 0; i <= entry; ++i)
            t::pressKey(VK_DOWN);
        t::pressKey(VK_RETURN);
    }
    void closeBox(ui::FormView& view) override { ::PostMessageW(native(view).handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }
    void resize(ui::FormView& view, int width, int height) override
    {
        const HWND window = native(view).handle();
        const DWORD style = DWORD(::GetWindowLongPtrW(window, GWL_STYLE));
        if (!(style & WS_THICKFRAME))
            return; // no frame to drag
        const int dpi = int(native(view).dpi());
        RECT r{0, 0, ::MulDiv(width, dpi, 1440), ::MulDiv(height, dpi, 1440)};
        ::AdjustWindowRectEx(&r, style, FALSE, DWORD(::GetWindowLongPtrW(window, GWL_EXSTYLE)));
        ::SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    }

    std::string focused(ui::FormView& view) override
    {
        const HWND focus = ::GetFocus();
        return focus && ::IsChild(native(view).handle(), focus) ? native(view).controlName(focus) : std::string();
    }
    int shownEntries(ui::FormView& view, const std::string& combo) override
    {
        const HWND list = listOf(hwndOf(view, combo));
        RECT client{};
        ::GetClientRect(list, &client);
        int whole = 0;
        for (int i = 0, n = int(::SendMessageW(list, LB_GETCOUNT, 0, 0)); ::IsWindowVisible(list) && i < n; ++i) {
            RECT r{};
            ::SendMessageW(list, LB_GETITEMRECT, WPARAM(i), reinterpret_cast<LPARAM>(&r));
            whole += r.top >= client.top && r.bottom <= client.bottom && r.bottom > r.top;
        }
        return whole;
    }
    bool busyCursor(ui::FormView& view) override
    {
        // The mouse moved over the window: the window says which cursor it shows.
        t::moveMouse(native(view).handle(), POINT{4, 4});
        settle(50ms);
        return ::GetCursor() == ::LoadCursorW(nullptr, IDC_WAIT);
    }
    int clientWidth(ui::FormView& view) override { return client(view).right * 1440 / int(native(view).dpi()); }
    int clientHeight(ui::FormView& view) override { return client(view).bottom * 1440 / int(native(view).dpi()); }

private:
    static RECT client(ui::FormView& view)
    {
        RECT r{};
        ::GetClientRect(native(view).handle(), &r);
        return r;
    }

    win32::Win32FrontEnd m_frontEnd{1}; // the icon in the test's resources, as in the program's
};

} // namespace

std::unique_ptr<FrontEndDriver> makeDriver()
{
    return std::make_unique<Win32Driver>();
}

} // namespace morvandell::contract
