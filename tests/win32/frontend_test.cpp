// The Win32 front end on a window of its own: native controls at their twips and the window's DPI,
// fonts, styles and colours, the texts shown, a disabled button's tool tip. What the user's actions
// raise, menus, shortcuts and closing are rules of every front end: tests/contract.
#include "win32test.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace morvandell::win32 {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;
using ui::ControlKind;
using ui::ControlSpec;
using ui::FormSpec;

ControlSpec control(const std::string& name, ControlKind kind, const std::string& container, ui::Geometry g,
                    const std::string& text = {})
{
    ControlSpec c;
    c.name = name;
    c.kind = kind;
    c.container = container;
    c.geometry = g;
    c.text = text;
    return c;
}

FormSpec testForm()
{
    FormSpec def;
    def.name = "TestForm";
    def.caption = "Prüfung:";
    def.clientWidth = 4500;
    def.clientHeight = 3600;
    def.controls.push_back(control("Frame1", ControlKind::Frame, "", {120, 120, 4200, 1695}, "Seite #1"));
    def.controls.back().bold = true;
    def.controls.push_back(control("Combo1", ControlKind::ComboBox, "Frame1", {120, 240, 1500, 315}, "Bitte wählen...."));
    def.controls.push_back(control("Text1", ControlKind::TextBox, "Frame1", {1680, 240, 975, 285}));
    def.controls.back().maxLength = 8;
    def.controls.push_back(control("Combo2", ControlKind::ComboBox, "Frame1", {120, 600, 1500, 315}, "Port"));
    def.controls.push_back(control("Label1", ControlKind::Label, "Frame1", {1680, 600, 1455, 255}, "Standartansicht:"));
    def.controls.back().backColor = 0x00FF00;
    def.controls.push_back(control("Command1", ControlKind::Button, "", {120, 1920, 1335, 375}, "Connect"));
    def.controls.push_back(control("Command2", ControlKind::Button, "", {1560, 1920, 1335, 855}, "Einstellungen schreiben"));
    def.controls.back().wrap = true;
    def.controls.push_back(control("Command3", ControlKind::Button, "", {3000, 1920, 1335, 375}, "Reset"));
    def.controls.back().enabled = false;
    def.controls.push_back(control("List1", ControlKind::ListBox, "", {120, 2880, 2800, 645}));
    def.controls.back().bold = true;
    def.controls.push_back(control("ProgressBar1", ControlKind::ProgressBar, "", {3000, 2880, 1335, 375}));
    return def;
}

// What the window reported: nothing, while the handlers only set things.
class Recorder : public ui::FormEvents
{
public:
    void click(const std::string& c) override { events.push_back("click " + c); }
    void dropDown(const std::string& c) override { events.push_back("dropDown " + c); }
    void command(const std::string& id) override { events.push_back("command " + id); }

    std::vector<std::string> events;
};

class FrontEndTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        view = frontEnd.createWindow(testForm(), events);
        window = frontEnd.window("TestForm");
        ASSERT_NE(window, nullptr);
        view->addItem("Combo1", "Eins", "erstes");
        view->addItem("Combo1", "Zwei", "zweites");
        view->addItem("Combo1", "Drei");
        view->showWindow();
        pumpFor(frontEnd, 50ms);
    }
    HWND hwnd(const std::string& name) const { return window->control(name); }

    Win32FrontEnd frontEnd{1}; // the icon in the test's resources, as in the program's
    Recorder events;
    std::unique_ptr<ui::FormView> view;
    Win32Window* window = nullptr;
};

// --- geometry and fonts ------------------------------------------------------------------------------

struct Placement
{
    const char* control;
    RECT twips; // left, top, width, height in the client area (a frame's contents added to the frame's)
};

class GeometryTest : public FrontEndTest, public ::testing::WithParamInterface<UINT>
{};

TEST_P(GeometryTest, clientAreaAndEveryControlAreTheirTwipsScaledByTheWindowsDpi)
{
    const UINT dpi = GetParam();
    if (dpi != window->dpi()) {
        RECT suggested{10, 10, 600, 600};
        ::SendMessageW(window->handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    }
    auto px = [dpi](int twips) { return ::MulDiv(twips, int(dpi), 1440); };
    RECT client;
    ::GetClientRect(window->handle(), &client);
    EXPECT_EQ(client.right, px(4500));
    EXPECT_EQ(client.bottom, px(3600));

    const Placement table[] = {
        {"Frame1", {120, 120, 4200, 1695}},      {"Combo1", {240, 360, 1500, 315}},
        {"Text1", {1800, 360, 975, 285}},        {"Combo2", {240, 720, 1500, 315}},
        {"Label1", {1800, 720, 1455, 255}},      {"Command1", {120, 1920, 1335, 375}},
        {"Command2", {1560, 1920, 1335, 855}},   {"Command3", {3000, 1920, 1335, 375}},
        {"List1", {120, 2880, 2800, 645}},       {"ProgressBar1", {3000, 2880, 1335, 375}},
    };
    for (const Placement& p : table) {
        SCOPED_TRACE(p.control);
        RECT r;
        ::GetWindowRect(hwnd(p.control), &r);
        ::MapWindowPoints(nullptr, window->handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, px(p.twips.left));
        EXPECT_EQ(r.top, px(p.twips.top));
        EXPECT_EQ(r.right - r.left, px(p.twips.right));
        EXPECT_EQ(r.bottom - r.top, px(p.twips.bottom));
    }

    // 8.25 pt at the window's DPI; bold where the table says.
    for (const auto& [name, bold] : {std::pair{"Frame1", true}, {"List1", true}, {"Combo1", false}, {"Command1", false}}) {
        SCOPED_TRACE(name);
        const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd(name), WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        ASSERT_TRUE(::GetObjectW(font, sizeof lf, &lf));
        EXPECT_EQ(lf.lfHeight, -::MulDiv(825, int(dpi), 7200));
        EXPECT_EQ(lf.lfWeight, bold ? FW_BOLD : FW_NORMAL);
        if (dpi == 96) {
            EXPECT_STREQ(lf.lfFaceName, L"MS Sans Serif");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Dpi, GeometryTest, ::testing::Values(96u, 120u, 144u, 192u));

TEST_F(FrontEndTest, controlsStartAsTheirTableSays)
{
    EXPECT_EQ(view->caption(), "Prüfung:");
    EXPECT_NE(::SendMessageW(window->handle(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(window->handle(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(test::textOf(window->handle()), L"Prüfung:");
    EXPECT_EQ(view->text("Combo1"), "Bitte wählen....");
    EXPECT_EQ(view->text("Command2"), "Einstellungen schreiben");
    EXPECT_FALSE(::IsWindowEnabled(hwnd("Command3")));
    EXPECT_TRUE(::IsWindowEnabled(hwnd("Command1")));
    const LONG_PTR combo = ::GetWindowLongPtrW(hwnd("Combo1"), GWL_STYLE);
    EXPECT_EQ(combo & 3, CBS_DROPDOWN);
    EXPECT_FALSE(combo & CBS_SORT);
    EXPECT_FALSE(::GetWindowLongPtrW(hwnd("List1"), GWL_STYLE) & LBS_SORT);
    EXPECT_TRUE(::GetWindowLongPtrW(hwnd("Command2"), GWL_STYLE) & BS_MULTILINE);
    EXPECT_EQ(::GetWindowLongPtrW(hwnd("Frame1"), GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);

    // The label's back colour.
    const HDC dc = ::GetDC(hwnd("Label1"));
    ::SendMessageW(window->handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(hwnd("Label1")));
    EXPECT_EQ(::GetBkColor(dc), RGB(0, 0xFF, 0));
    ::ReleaseDC(hwnd("Label1"), dc);

    // The controls show the texts they are given (the texts' way back: tests/contract); a button shows
    // "&" as it is, not as the mark of an access key.
    view->setText("Label1", "Ω Ł €");
    EXPECT_EQ(test::textOf(hwnd("Label1")), L"Ω Ł €");
    view->setText("Command1", "A & B");
    EXPECT_EQ(test::textOf(hwnd("Command1")), L"A && B");
}

// A control's tool tip shows when the mouse rests on it, also while it is disabled (a disabled control
// says why); in an open list, the entry's own.
struct TipRow
{
    const char* name;
    bool enabled;
    bool inOpenList; // the mouse on the first entry of Combo1's open list, else on Command1
    const wchar_t* expected;
};

class ToolTipTest : public FrontEndTest, public ::testing::WithParamInterface<TipRow>
{};

TEST_P(ToolTipTest, showsWhereTheMouseRests)
{
    const TipRow& row = GetParam();
    view->setToolTip("Command1", "Während des Firmware-Updates nicht verfügbar.");
    view->setEnabled("Command1", row.enabled);
    // The window's tool tip control: a window of the thread's, owned by the window.
    std::vector<HWND> tips;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM found) {
            wchar_t name[64] = {};
            ::GetClassNameW(w, name, 64);
            if (std::wstring(name) == TOOLTIPS_CLASSW)
                reinterpret_cast<std::vector<HWND>*>(found)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&tips));
    HWND tip = nullptr;
    for (HWND t : tips)
        if (::GetWindow(t, GW_OWNER) == window->handle())
            tip = t;
    ASSERT_NE(tip, nullptr);
    test::focusWindow(window->handle(), nullptr);
    if (row.inOpenList) {
        ::SendMessageW(hwnd("Combo1"), CB_SHOWDROPDOWN, TRUE, 0);
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(::GetComboBoxInfo(hwnd("Combo1"), &info));
        RECT entry{};
        ::SendMessageW(info.hwndList, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&entry));
        test::moveMouse(info.hwndList, {(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2});
    } else {
        test::moveMouseOver(hwnd("Command1"));
    }
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return ::IsWindowVisible(tip) != FALSE; }, 3s)) << "no tool tip";
    EXPECT_EQ(test::textOf(tip), row.expected);
    ::SendMessageW(hwnd("Combo1"), CB_SHOWDROPDOWN, FALSE, 0);
}

INSTANTIATE_TEST_SUITE_P(Places, ToolTipTest,
                         ::testing::Values(TipRow{"enabled", true, false, L"Während des Firmware-Updates nicht verfügbar."},
                                           TipRow{"disabled", false, false, L"Während des Firmware-Updates nicht verfügbar."},
                                           TipRow{"openListEntry", true, true, L"erstes"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace morvandell::win32
