// The Win32 front end on a window of its own: native controls at their twips, fonts, what the user's
// actions raise (and what they must not), menus and shortcuts, closing, and the dialogs.
#include "win32test.h"

#include "windows/wide.h"

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
    def.windowMenu = {{"open", "Profil öffnen…", "Ctrl+O"}, {"save", "Profil speichern…", "Ctrl+S"}};
    def.controlMenus = {{"List1", {{"copy", "Kopieren", ""}}}};
    return def;
}

// What the window reported, in order.
class Recorder : public ui::FormEvents
{
public:
    void click(const std::string& c) override { events.push_back("click " + c); }
    void dropDown(const std::string& c) override
    {
        events.push_back("dropDown " + c);
        if (onDropDown)
            onDropDown(c);
    }
    void command(const std::string& id) override { events.push_back("command " + id); }
    bool commandEnabled(const std::string& id) const override { return id != disabledCommand; }
    bool closeRequested() override
    {
        events.push_back("closeRequested");
        return allowClose;
    }
    void unload() override { events.push_back("unload"); }

    std::vector<std::string> events;
    std::function<void(const std::string&)> onDropDown;
    std::string disabledCommand;
    bool allowClose = true;
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
    bool hasEvent(const std::string& e) const
    {
        return std::find(events.events.begin(), events.events.end(), e) != events.events.end();
    }

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
    EXPECT_EQ(::SendMessageW(hwnd("Text1"), EM_GETLIMITTEXT, 0, 0), 8);
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

    // Entries stay in the order they came, the edit field keeps its text.
    ASSERT_EQ(view->itemCount("Combo1"), 3);
    EXPECT_EQ(view->itemText("Combo1", 0), "Eins");
    EXPECT_EQ(view->itemText("Combo1", 2), "Drei");
    EXPECT_EQ(view->listIndex("Combo1"), -1);
    EXPECT_TRUE(events.events.empty());
}

TEST_F(FrontEndTest, textsTravelAsUtf8BothWays)
{
    const std::string texts[] = {"Übertragen.", "Firmwareupdate Com:3", "Größe & Maß", "Ω Ł €"};
    for (const std::string& t : texts) {
        view->setText("Command1", t);
        EXPECT_EQ(view->text("Command1"), t);
        view->setText("Label1", t);
        EXPECT_EQ(test::textOf(hwnd("Label1")), win::widen(t));
        view->setCaption(t);
        EXPECT_EQ(view->caption(), t);
        view->addItem("List1", t);
        EXPECT_EQ(view->itemText("List1", view->itemCount("List1") - 1), t);
    }
    // A button shows "&" as it is, not as the mark of an access key.
    view->setText("Command1", "A & B");
    EXPECT_EQ(test::textOf(hwnd("Command1")), L"A && B");
}

// --- what the user's actions raise ---------------------------------------------------------------------

TEST_F(FrontEndTest, buttonsAndListsRaiseClickWhenEnabled)
{
    ::SendMessageW(hwnd("Command1"), BM_CLICK, 0, 0);
    ::SendMessageW(hwnd("Command3"), BM_CLICK, 0, 0); // disabled
    pumpFor(frontEnd, 50ms);
    EXPECT_EQ(events.events, std::vector<std::string>{"click Command1"});

    events.events.clear();
    view->addItem("List1", "12:00:00 eins");
    view->addItem("List1", "12:00:01 zwei");
    test::focusWindow(window->handle(), hwnd("List1"));
    test::clickAt(hwnd("List1"), POINT{10, 5});
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"click List1"});
    EXPECT_EQ(view->listIndex("List1"), 0);
}

// A control's tool tip shows when the mouse rests on it, also while it is disabled: a disabled control
// says why.
class ToolTipTest : public FrontEndTest, public ::testing::WithParamInterface<bool>
{};

TEST_P(ToolTipTest, aButtonsToolTipShowsEnabledOrNot)
{
    const bool enabled = GetParam();
    view->setToolTip("Command1", "Während des Firmware-Updates nicht verfügbar.");
    view->setEnabled("Command1", enabled);
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
    test::moveMouseOver(hwnd("Command1"));
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return ::IsWindowVisible(tip) != FALSE; }, 3s)) << "no tool tip";
    EXPECT_EQ(test::textOf(tip), L"Während des Firmware-Updates nicht verfügbar.");
}

INSTANTIATE_TEST_SUITE_P(States, ToolTipTest, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "enabled" : "disabled"); });

constexpr int AnyEntry = -2; // the entry the list moves to, whichever it is

struct ComboAction
{
    const char* what;
    std::function<void(FrontEndTest&, HWND combo)> act;
    bool picks;       // raises click
    int index;        // listIndex afterwards
    const char* text; // the edit field's text afterwards
};

class ComboPickTest : public FrontEndTest, public ::testing::WithParamInterface<ComboAction>
{};

TEST_P(ComboPickTest, onlyAChoiceInTheListIsAClick)
{
    const ComboAction& a = GetParam();
    const HWND combo = hwnd("Combo1");
    a.act(*this, combo);
    pumpFor(frontEnd, 300ms);
    EXPECT_EQ(hasEvent("click Combo1"), a.picks);
    EXPECT_EQ(std::count(events.events.begin(), events.events.end(), "click Combo1"), a.picks ? 1 : 0);
    if (a.index == AnyEntry) {
        ASSERT_GE(view->listIndex("Combo1"), 0);
        EXPECT_EQ(view->text("Combo1"), view->itemText("Combo1", view->listIndex("Combo1")));
    } else {
        EXPECT_EQ(view->listIndex("Combo1"), a.index);
        EXPECT_EQ(view->text("Combo1"), a.text);
    }
}

void selectAndConfirm(HWND combo, int index)
{
    // What the list reports when the user picks an entry with the mouse.
    ::SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
    ::SendMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELENDOK),
                   reinterpret_cast<LPARAM>(combo));
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ComboPickTest,
    ::testing::Values(
        ComboAction{"an entry picked", [](FrontEndTest&, HWND c) { selectAndConfirm(c, 1); }, true, 1, "Zwei"},
        ComboAction{"arrow key in the closed list",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), c);
                        test::pressKey(VK_DOWN);
                    },
                    true, 0, "Eins"},
        ComboAction{"wheel over the list with the focus",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), c);
                        test::turnWheelOver(c, -1);
                    },
                    true, 0, "Eins"},
        ComboAction{"wheel over the list without the focus",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), t.window->control("Text1"));
                        test::turnWheelOver(c, -1);
                    },
                    false, -1, "Bitte wählen...."},
        ComboAction{"text typed, Enter in the open list",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), c);
                        ::SetWindowTextW(c, L"");
                        test::typeText(L"Zw");
                        pumpFor(t.frontEnd, 100ms);
                        test::pressKey(VK_F4);
                        pumpFor(t.frontEnd, 100ms);
                        test::pressKey(VK_RETURN);
                    },
                    false, -1, "Zw"},
        ComboAction{"text typed, Tab",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), c);
                        ::SetWindowTextW(c, L"");
                        test::typeText(L"Drei");
                        pumpFor(t.frontEnd, 100ms);
                        test::pressKey(VK_TAB);
                    },
                    false, -1, "Drei"},
        ComboAction{"text typed, then an arrow key",
                    [](FrontEndTest& t, HWND c) {
                        test::focusWindow(t.window->handle(), c);
                        ::SetWindowTextW(c, L"");
                        test::typeText(L"Zw");
                        pumpFor(t.frontEnd, 100ms);
                        test::pressKey(VK_DOWN);
                    },
                    true, AnyEntry, ""}),
    [](const auto& info) {
        std::string name;
        for (const char c : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST_F(FrontEndTest, theListAsksForItsEntriesBeforeItDropsDown)
{
    events.onDropDown = [&](const std::string& c) {
        view->clearItems(c);
        view->addItem(c, "Com #1", "Demo-Display (simuliert)");
        view->addItem(c, "Com #3");
    };
    test::focusWindow(window->handle(), hwnd("Combo2"));
    test::pressKey(VK_F4);
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return ::SendMessageW(hwnd("Combo2"), CB_GETDROPPEDSTATE, 0, 0) != 0; }));
    EXPECT_EQ(events.events, std::vector<std::string>{"dropDown Combo2"});
    EXPECT_EQ(view->itemCount("Combo2"), 2);
    EXPECT_EQ(view->text("Combo2"), "Port"); // the edit field keeps its text
    test::pressKey(VK_ESCAPE);
    pumpFor(frontEnd, 100ms);
    EXPECT_FALSE(hasEvent("click Combo2"));
}

TEST_F(FrontEndTest, whatHandlersDoRaisesNothing)
{
    view->setListIndex("Combo1", 2);
    EXPECT_EQ(view->text("Combo1"), "Drei");
    EXPECT_EQ(view->listIndex("Combo1"), 2);
    view->insertItem("Combo1", 0, "Null");
    EXPECT_EQ(view->listIndex("Combo1"), 3); // the same entry
    view->removeItem("Combo1", 3);
    EXPECT_EQ(view->listIndex("Combo1"), -1);
    EXPECT_EQ(view->text("Combo1"), "Drei");
    view->setText("Combo1", "Warnung");
    view->clearItems("Combo1");
    EXPECT_EQ(view->text("Combo1"), "Warnung");
    EXPECT_EQ(view->itemCount("Combo1"), 0);
    view->setText("Text1", "Oeldruck");
    view->insertItem("List1", 0, "neu");
    view->setListIndex("List1", 0);
    view->setEnabled("Command1", false);
    view->setRange("ProgressBar1", 0, 130050);
    view->setValue("ProgressBar1", 130049);
    pumpFor(frontEnd, 100ms);
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(view->value("ProgressBar1"), 130049);
    EXPECT_EQ(::SendMessageW(hwnd("ProgressBar1"), PBM_GETRANGE, FALSE, 0), 130050);
    EXPECT_FALSE(view->isEnabled("Command1"));
}

TEST_F(FrontEndTest, typingStopsAtTheMaximumLength)
{
    test::focusWindow(window->handle(), hwnd("Text1"));
    test::typeText(L"Oeldruck12");
    pumpFor(frontEnd, 200ms);
    EXPECT_EQ(view->text("Text1"), "Oeldruck");
}

// --- menus, shortcuts, closing ------------------------------------------------------------------------

struct KeyRow
{
    WORD key;
    bool shift;
    const char* disabled; // a command that cannot be chosen now
    const char* expected; // the event, or "" for none
};

class ShortcutTest : public FrontEndTest, public ::testing::WithParamInterface<KeyRow>
{};

TEST_P(ShortcutTest, shortcutsOfTheWindowsMenuWorkAnywhereInIt)
{
    const KeyRow& row = GetParam();
    events.disabledCommand = row.disabled;
    test::focusWindow(window->handle(), hwnd("Text1"));
    test::pressKey(row.key, true, row.shift);
    pumpFor(frontEnd, 200ms);
    if (*row.expected) {
        EXPECT_EQ(events.events, std::vector<std::string>{row.expected});
    } else {
        EXPECT_TRUE(events.events.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, ShortcutTest,
                         ::testing::Values(KeyRow{'S', false, "", "command save"}, KeyRow{'O', false, "", "command open"},
                                           KeyRow{'S', false, "save", ""}, KeyRow{'S', true, "", ""}));

TEST_F(FrontEndTest, contextMenusOfferTheirEntries)
{
    // The window's menu from the keyboard (Shift+F10), its second entry chosen with the keys.
    test::focusWindow(window->handle(), hwnd("Command1"));
    test::pressKey(VK_F10, false, true);
    test::pressKey(VK_DOWN);
    test::pressKey(VK_DOWN);
    test::pressKey(VK_RETURN);
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"command save"});

    // The list's own menu.
    events.events.clear();
    test::focusWindow(window->handle(), hwnd("List1"));
    test::pressKey(VK_F10, false, true);
    test::pressKey(VK_DOWN);
    test::pressKey(VK_RETURN);
    ASSERT_TRUE(pumpUntil(frontEnd, [&] { return !events.events.empty(); }));
    EXPECT_EQ(events.events, std::vector<std::string>{"command copy"});
}

TEST_F(FrontEndTest, closingAsksTheHandlersAndHidesTheWindow)
{
    events.allowClose = false;
    ::SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events.events, std::vector<std::string>{"closeRequested"});
    EXPECT_TRUE(view->isWindowVisible());

    events.allowClose = true;
    events.events.clear();
    ::SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(events.events, (std::vector<std::string>{"closeRequested", "unload"}));
    EXPECT_FALSE(view->isWindowVisible());
    view->setText("Combo1", "wieder");
    view->showWindow();
    EXPECT_TRUE(view->isWindowVisible());
    EXPECT_EQ(view->text("Combo1"), "wieder");

    // A view let go of by its handlers raises nothing.
    Recorder other;
    auto second = frontEnd.createWindow(testForm(), other);
    second.reset();
    EXPECT_TRUE(other.events.empty());
}

} // namespace
} // namespace morvandell::win32
