// The rules every front end keeps (ui/model/formview.h), as rows tried on one front end through its
// driver (frontenddriver.h): this file is built once per front end (headless, Qt, Win32) with that front
// end's driver, and the rows are the same for all.
//
// A row is a script of steps separated by "|", run on a fresh window (contractForm(), or the update
// window's definition after "window Update"):
// - the user, through the driver: type CONTROL TEXT (over the field), press KEY (at the focus), shortcut
//   KEYS, focus CONTROL, click CONTROL, clickLine LIST N, wheel CONTROL, openList COMBO, clickEntry COMBO N
//   (in the open list), menu CONTROL|- N (the N-th entry of its menu, "-": the window's), closeBox,
//   resize WIDTH HEIGHT (twips);
// - the handlers, through FormView: setText, setListIndex, addItem, insertItem, removeItem, clearItems,
//   setEnabled (0/1), setFocus, setBusy (0/1), setRange, setValue, setCaption, setToolTip, setBackColor,
//   hideWindow, showWindow, release (the view let go of), entries COMBO N (N entries "Kanal i");
// - what the handlers answer: grey ID (commandEnabled false), refuseClose, fillOnDropDown (two entries),
//   waitOnClick BUTTON (disables it, waits 300 ms, enables it);
// - checks: ?events E, E... (all events so far; none when empty), ?clicks CONTROL N, ?text CONTROL TEXT,
//   ?index CONTROL N|any, ?count CONTROL N, ?focus CONTROL, ?during CONTROL (the focus while the click's
//   handler waited), ?shown COMBO N, ?busy 0/1, ?value BAR N, ?size WIDTH HEIGHT, ?visible 0/1.
#include "frontenddriver.h"

#include "loop/eventwait.h"
#include "updater/form2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace morvandell::contract {
namespace {

using namespace std::chrono_literals;
using ui::ControlKind;

// One driver for the whole program, let go of before the program ends (the toolkit outlives it).
std::unique_ptr<FrontEndDriver>& driverSlot()
{
    static std::unique_ptr<FrontEndDriver> d;
    return d;
}

FrontEndDriver& driver()
{
    if (!driverSlot())
        driverSlot() = makeDriver();
    return *driverSlot();
}

struct DriverEnvironment : ::testing::Environment
{
    void TearDown() override { driverSlot().reset(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new DriverEnvironment);

ui::ControlSpec control(const char* name, ControlKind kind, const char* container, ui::Geometry g, const char* text)
{
    ui::ControlSpec c;
    c.name = name;
    c.kind = kind;
    c.container = container;
    c.geometry = g;
    c.text = text;
    return c;
}

// Tab order: Combo1, Text1, Combo2, Command1, Command2, (Command3 disabled), List1.
ui::FormSpec contractForm()
{
    ui::FormSpec f;
    f.name = "Contract";
    f.caption = "Vertrag";
    f.clientWidth = 4500;
    f.clientHeight = 3600;
    f.controls = {
        control("Frame1", ControlKind::Frame, "", {120, 120, 4200, 1695}, "Seite #1"),
        control("Combo1", ControlKind::ComboBox, "Frame1", {120, 240, 1500, 315}, "Bitte wählen...."),
        control("Text1", ControlKind::TextBox, "Frame1", {1680, 240, 975, 285}, ""),
        control("Combo2", ControlKind::ComboBox, "Frame1", {120, 600, 1500, 315}, "Port"),
        control("Label1", ControlKind::Label, "Frame1", {1680, 600, 1455, 255}, "Standartansicht:"),
        control("Command1", ControlKind::Button, "", {120, 1920, 1335, 375}, "Connect"),
        control("Command2", ControlKind::Button, "", {1560, 1920, 1335, 375}, "Reset"),
        control("Command3", ControlKind::Button, "", {3000, 1920, 1335, 375}, "Firmwareupdate"),
        control("List1", ControlKind::ListBox, "", {120, 2400, 2800, 1095}, ""),
        control("ProgressBar1", ControlKind::ProgressBar, "", {3000, 2880, 1335, 375}, ""),
    };
    f.controls[2].maxLength = 8;
    f.controls[7].enabled = false;
    f.windowMenu = {{"open", "Profil öffnen…", "Ctrl+O"}, {"save", "Profil speichern…", "Ctrl+S"}};
    f.controlMenus = {{"List1", {{"copy", "Kopieren", "Ctrl+K"}}}};
    return f;
}

// A window of the front end under test, shown and active, and what it reported.
struct Window : ui::FormEvents
{
    explicit Window(const ui::FormSpec& def)
        : view(driver().frontEnd().createWindow(def, *this))
    {
        if (def.find("Combo1")) {
            for (const char* entry : {"Eins", "Zwei", "Drei"})
                view->addItem("Combo1", entry);
            for (const char* line : {"12:00:00 eins", "12:00:01 zwei", "12:00:02 drei"})
                view->addItem("List1", line);
        }
        driver().activate(*view);
        driver().settle(50ms);
    }

    void click(const std::string& c) override
    {
        events.push_back("click " + c);
        if (c != waitIn)
            return;
        view->setEnabled(c, false);
        EventWait(driver().frontEnd().loop()).waitUntil([] { return false; }, 300ms);
        during = driver().focused(*view);
        view->setEnabled(c, true);
    }
    void dropDown(const std::string& c) override
    {
        events.push_back("dropDown " + c);
        if (fillOnDropDown) {
            view->clearItems(c);
            view->addItem(c, "Com #1", "Demo-Display (simuliert)");
            view->addItem(c, "Com #3");
        }
    }
    void command(const std::string& id) override { events.push_back("command " + id); }
    bool commandEnabled(const std::string& id) const override { return id != greyed; }
    bool closeRequested() override
    {
        events.push_back("closeRequested");
        return allowClose;
    }
    void unload() override { events.push_back("unload"); }

    std::vector<std::string> events;
    std::string greyed, waitIn, during;
    bool allowClose = true;
    bool fillOnDropDown = false;
    std::unique_ptr<ui::FormView> view; // after what it reports to
};

std::string joined(const std::vector<std::string>& events)
{
    std::string all;
    for (const std::string& e : events)
        all += (all.empty() ? "" : ", ") + e;
    return all;
}

// A step's words: what it does, the control it does it to, and the text after the control.
struct Step
{
    FrontEndDriver& d;
    Window& w;
    std::vector<std::string> words;
    std::string all;  // everything after the verb
    std::string text; // everything after the control

    ui::FormView& v() const { return *w.view; }
    const std::string& c() const { return words.at(1); }
    int n(std::size_t i) const { return std::stoi(words.at(i)); }
    bool on() const { return words.back() == "1"; }
};

using Action = void (*)(Step&);
const std::map<std::string, Action> actions{
    // The user.
    {"type", [](Step& s) { s.d.typeOver(s.v(), s.c(), s.text); }},
    {"press", [](Step& s) { s.d.press(s.v(), s.c()); }},
    {"shortcut", [](Step& s) { s.d.shortcut(s.v(), s.c()); }},
    {"focus", [](Step& s) { s.d.focus(s.v(), s.c()); }},
    {"click", [](Step& s) { s.d.click(s.v(), s.c()); }},
    {"clickLine", [](Step& s) { s.d.clickLine(s.v(), s.c(), s.n(2)); }},
    {"clickEntry", [](Step& s) { s.d.clickEntry(s.v(), s.c(), s.n(2)); }},
    {"wheel", [](Step& s) { s.d.wheel(s.v(), s.c()); }},
    {"openList", [](Step& s) { s.d.openList(s.v(), s.c()); }},
    {"menu", [](Step& s) { s.d.chooseFromMenu(s.v(), s.c() == "-" ? "" : s.c(), s.n(2)); }},
    {"closeBox", [](Step& s) { s.d.closeBox(s.v()); }},
    {"resize", [](Step& s) { s.d.resize(s.v(), s.n(1), s.n(2)); }},
    // The handlers.
    {"setText", [](Step& s) { s.v().setText(s.c(), s.text); }},
    {"setListIndex", [](Step& s) { s.v().setListIndex(s.c(), s.n(2)); }},
    {"addItem", [](Step& s) { s.v().addItem(s.c(), s.text); }},
    {"insertItem", [](Step& s) { s.v().insertItem(s.c(), s.n(2), s.text.substr(s.words.at(2).size() + 1)); }},
    {"removeItem", [](Step& s) { s.v().removeItem(s.c(), s.n(2)); }},
    {"clearItems", [](Step& s) { s.v().clearItems(s.c()); }},
    {"entries",
     [](Step& s) {
         s.v().clearItems(s.c());
         for (int i = 1; i <= s.n(2); ++i)
             s.v().addItem(s.c(), "Kanal " + std::to_string(i));
     }},
    {"setEnabled", [](Step& s) { s.v().setEnabled(s.c(), s.on()); }},
    {"setFocus", [](Step& s) { s.v().setFocus(s.c()); }},
    {"setBusy", [](Step& s) { s.v().setBusy(s.on()); }},
    {"setRange", [](Step& s) { s.v().setRange(s.c(), s.n(2), s.n(3)); }},
    {"setValue", [](Step& s) { s.v().setValue(s.c(), s.n(2)); }},
    {"setCaption", [](Step& s) { s.v().setCaption(s.words.at(1) + " " + s.text); }},
    {"setToolTip", [](Step& s) { s.v().setToolTip(s.c(), s.text); }},
    {"setBackColor", [](Step& s) { s.v().setBackColor(s.c(), std::uint32_t(std::stoul(s.text, nullptr, 16))); }},
    {"hideWindow", [](Step& s) { s.v().hideWindow(); }},
    {"showWindow", [](Step& s) { s.v().showWindow(); }},
    {"release", [](Step& s) { s.w.view.reset(); }},
    // What the handlers answer.
    {"grey", [](Step& s) { s.w.greyed = s.c(); }},
    {"refuseClose", [](Step& s) { s.w.allowClose = false; }},
    {"fillOnDropDown", [](Step& s) { s.w.fillOnDropDown = true; }},
    {"waitOnClick", [](Step& s) { s.w.waitIn = s.c(); }},
    // Checks.
    {"?events", [](Step& s) { EXPECT_EQ(joined(s.w.events), s.all); }},
    {"?clicks",
     [](Step& s) {
         EXPECT_EQ(std::count(s.w.events.begin(), s.w.events.end(), "click " + s.c()), s.n(2)) << joined(s.w.events);
     }},
    {"?text", [](Step& s) { EXPECT_EQ(s.v().text(s.c()), s.text); }},
    {"?caption", [](Step& s) { EXPECT_EQ(s.v().caption(), s.all); }},
    {"?item", [](Step& s) { EXPECT_EQ(s.v().itemText(s.c(), s.n(2)), s.text.substr(s.words.at(2).size() + 1)); }},
    {"?index",
     [](Step& s) {
         const int chosen = s.v().listIndex(s.c());
         if (s.words.at(2) != "any")
             EXPECT_EQ(chosen, s.n(2));
         else if (chosen < 0)
             ADD_FAILURE() << s.c() << ": no entry chosen";
         else
             EXPECT_EQ(s.v().text(s.c()), s.v().itemText(s.c(), chosen));
     }},
    {"?count", [](Step& s) { EXPECT_EQ(s.v().itemCount(s.c()), s.n(2)); }},
    {"?focus", [](Step& s) { EXPECT_EQ(s.d.focused(s.v()), s.words.size() > 1 ? s.c() : ""); }},
    {"?during", [](Step& s) { EXPECT_EQ(s.w.during, s.c()); }},
    {"?shown", [](Step& s) { EXPECT_EQ(s.d.shownEntries(s.v(), s.c()), s.n(2)); }},
    {"?busy", [](Step& s) { EXPECT_EQ(s.d.busyCursor(s.v()), s.on()); }},
    {"?value", [](Step& s) { EXPECT_EQ(s.v().value(s.c()), s.n(2)); }},
    {"?size",
     [](Step& s) {
         EXPECT_NEAR(s.d.clientWidth(s.v()), s.n(1), 15);
         EXPECT_NEAR(s.d.clientHeight(s.v()), s.n(2), 15);
     }},
    {"?visible", [](Step& s) { EXPECT_EQ(s.v().isWindowVisible(), s.on()); }},
};

void run(const std::string& script)
{
    std::unique_ptr<Window> w;
    bool settled = false;
    std::istringstream steps(script);
    std::string step;
    while (std::getline(steps, step, '|')) {
        SCOPED_TRACE(step);
        std::istringstream in(step);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        const auto after = [&](std::size_t space) { return space == std::string::npos ? "" : step.substr(space + 1); };
        if (words.at(0) == "window") {
            w = std::make_unique<Window>(words.at(1) == "Update" ? Form2::definition() : contractForm());
            continue;
        }
        if (!w)
            w = std::make_unique<Window>(contractForm());
        const auto action = actions.find(words[0]);
        if (action == actions.end()) {
            ADD_FAILURE() << "no step " << words[0];
            continue;
        }
        const bool check = words[0][0] == '?';
        if (check && !settled)
            driver().settle(200ms); // what is on its way arrives first
        settled = check;
        Step s{driver(), *w, words, after(step.find(' ')), after(step.find(' ', step.find(' ') + 1))};
        action->second(s);
        if (!check && words[0].rfind("set", 0) != 0)
            driver().settle(60ms);
    }
}

struct Row
{
    const char* what;
    const char* script;
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << row.what;
}

class Contract : public ::testing::TestWithParam<Row>
{};

TEST_P(Contract, holds)
{
    run(GetParam().script);
}

// The opened list's rows count ui::DropDownEntries (16).
const Row rows[] = {
    // What the handlers do raises nothing.
    {"calls raise no event",
     "setText Combo1 Übertragen.|setText Text1 Öl|setText Label1 Bereit.|setText Command1 Connect|"
     "setText Frame1 Seite|setText ProgressBar1 1 von 1016|setCaption Firmwareupdate Com:3|setListIndex Combo1 2|"
     "setListIndex List1 1|insertItem Combo1 0 Null|removeItem Combo1 1|addItem Combo2 Com #1|clearItems List1|"
     "setFocus Combo1|setEnabled Combo1 0|setEnabled Command3 1|setToolTip Command1 Verbinden|"
     "setBackColor Label1 00FF00|setBusy 1|setBusy 0|setRange ProgressBar1 0 130050|"
     "setValue ProgressBar1 130049|hideWindow|showWindow|?events"},
    {"a view let go of raises nothing", "release|?events"},
    // Texts travel as UTF-8 both ways.
    {"texts unchanged",
     "setText Command1 Größe & Maß|?text Command1 Größe & Maß|setText Label1 Ω Ł €|?text Label1 Ω Ł €|"
     "setCaption Firmwareupdate Com:3 ü|?caption Firmwareupdate Com:3 ü|addItem List1 Übertragen.|"
     "?item List1 3 Übertragen."},
    // A combo box's edit field keeps its text when entries change.
    {"an empty list given entries", "addItem Combo2 Com #1|addItem Combo2 Com #3|?text Combo2 Port|?index Combo2 -1"},
    {"typed text, an entry added", "type Combo1 Vier|addItem Combo1 Vier|?text Combo1 Vier|?index Combo1 -1"},
    {"an entry inserted before the chosen one",
     "setListIndex Combo1 1|insertItem Combo1 0 Null|?text Combo1 Zwei|?index Combo1 2"},
    {"the chosen entry removed", "setListIndex Combo1 1|removeItem Combo1 1|?text Combo1 Zwei|?index Combo1 -1"},
    {"an entry before the chosen one removed",
     "setListIndex Combo1 2|removeItem Combo1 0|?text Combo1 Drei|?index Combo1 1"},
    {"typed text, the list cleared", "type Combo1 Warnung|clearItems Combo1|?text Combo1 Warnung|?count Combo1 0"},
    {"a chosen entry, the list cleared", "setListIndex Combo1 0|clearItems Combo1|?text Combo1 Eins|?index Combo1 -1"},
    {"deselected, the field empty", "setListIndex Combo1 1|setListIndex Combo1 -1|?text Combo1|?index Combo1 -1"},
    {"the entries brought up to date as the list opens",
     "fillOnDropDown|openList Combo2|?events dropDown Combo2|?shown Combo2 2|?text Combo2 Port|press Escape|"
     "?events dropDown Combo2|?index Combo2 -1|?text Combo2 Port"},
    // Only a choice picks an entry.
    {"an entry clicked in the open list",
     "openList Combo1|clickEntry Combo1 1|?clicks Combo1 1|?index Combo1 1|?text Combo1 Zwei"},
    {"the open list's keys", "openList Combo1|press Down|press Enter|?clicks Combo1 1|?index Combo1 any"},
    {"an arrow key in the closed list", "focus Combo1|press Down|?clicks Combo1 1|?index Combo1 0|?text Combo1 Eins"},
    {"the wheel with the focus", "focus Combo1|wheel Combo1|?clicks Combo1 1|?index Combo1 0|?text Combo1 Eins"},
    {"the wheel without the focus",
     "focus Text1|wheel Combo1|?clicks Combo1 0|?index Combo1 -1|?text Combo1 Bitte wählen...."},
    {"typed, Enter", "type Combo1 Zw|press Enter|?clicks Combo1 0|?index Combo1 -1|?text Combo1 Zw"},
    {"an entry's whole name typed, Enter",
     "type Combo1 Zwei|press Enter|?clicks Combo1 0|?index Combo1 -1|?text Combo1 Zwei"},
    {"typed, Tab", "type Combo1 Drei|press Tab|?clicks Combo1 0|?index Combo1 -1|?text Combo1 Drei"},
    {"typed, a click elsewhere", "type Combo1 Dr|click Command1|?events click Command1|?index Combo1 -1|?text Combo1 Dr"},
    {"typed, Enter in the open list",
     "type Combo1 Zw|press F4|press Enter|?clicks Combo1 0|?index Combo1 -1|?text Combo1 Zw"},
    {"chosen, typed over, Enter in the open list",
     "openList Combo1|clickEntry Combo1 0|type Combo1 Zw|press F4|press Enter|?clicks Combo1 1|?index Combo1 -1|"
     "?text Combo1 Zw"},
    {"typed, then an arrow key", "type Combo1 Zw|press Down|?clicks Combo1 1|?index Combo1 any"},
    {"a list box's line clicked", "clickLine List1 1|?events click List1|?index List1 1"},
    {"an arrow key in the list box", "focus List1|press Down|?events click List1|?index List1 any"},
    {"a button clicked", "click Command1|?events click Command1"},
    {"Space on the focused button", "focus Command1|press Space|?events click Command1"},
    {"a disabled button clicked", "click Command3|?events"},
    // A text box's maximum length.
    {"typed text cut", "type Text1 Oeldruck12|?text Text1 Oeldruck|type Text1 Öldruck123|?text Text1 Öldruck1"},
    {"set text cut",
     "setText Text1 Oeldruck12|?text Text1 Oeldruck|setText Text1 Größe über alles|?text Text1 Größe üb|"
     "setText Text1 RPM|?text Text1 RPM"},
    // Menus and shortcuts reach command() when it is enabled.
    {"Ctrl+S in a text box", "focus Text1|shortcut Ctrl+S|?events command save"},
    {"Ctrl+O in a combo box", "focus Combo1|shortcut Ctrl+O|?events command open"},
    {"a greyed command's shortcut", "grey save|focus Text1|shortcut Ctrl+S|?events"},
    {"keys no menu has", "focus Text1|shortcut Ctrl+Shift+S|?events"},
    {"a shortcut of the list's menu", "focus Text1|shortcut Ctrl+K|?events command copy"},
    {"the window's menu", "focus Command1|menu - 1|?events command save"},
    {"the list's own menu", "focus List1|menu List1 0|?events command copy"},
    // Closing.
    {"a refused close keeps the window",
     "setText Combo1 wieder|refuseClose|closeBox|?events closeRequested|?visible 1|?text Combo1 wieder"},
    {"an allowed close hides it, shown again as it was",
     "setText Combo1 wieder|closeBox|?events closeRequested, unload|?visible 0|showWindow|?visible 1|"
     "?text Combo1 wieder"},
    // The focus moves on when its control is disabled.
    {"the focused button disabled", "focus Command1|?focus Command1|setEnabled Command1 0|?focus Command2"},
    {"past the disabled ones", "focus Command1|setEnabled Command2 0|setEnabled Command1 0|?focus List1"},
    {"from the last control to the first", "focus List1|setEnabled List1 0|?focus Combo1"},
    {"a combo box whose field has it", "focus Combo1|?focus Combo1|setEnabled Combo1 0|?focus Text1"},
    {"another control disabled", "focus Text1|setEnabled Command1 0|?focus Text1"},
    {"a button disabled while its handler waits",
     "waitOnClick Command1|click Command1|?clicks Command1 1|?during Command2|?focus Command2"},
    // The opened list's height.
    {"a short list", "entries Combo1 3|openList Combo1|?shown Combo1 3|press Escape|?clicks Combo1 0"},
    {"a list as long as it shows", "entries Combo1 16|openList Combo1|?shown Combo1 16|press Escape|?clicks Combo1 0"},
    {"a long list", "entries Combo1 40|openList Combo1|?shown Combo1 16|press Escape|?clicks Combo1 0"},
    // The busy cursor.
    {"busy once", "setBusy 1|?busy 1|setBusy 0|?busy 0"},
    {"busy nested", "setBusy 1|setBusy 1|setBusy 0|?busy 1|setBusy 0|?busy 0"},
    // The progress bar's value stands within its range.
    {"a 32 bit range", "setRange ProgressBar1 0 130050|setValue ProgressBar1 130049|?value ProgressBar1 130049"},
    {"values beyond the range",
     "setRange ProgressBar1 0 100|setValue ProgressBar1 150|?value ProgressBar1 100|setValue ProgressBar1 -5|"
     "?value ProgressBar1 0"},
    {"a new range beyond the value",
     "setRange ProgressBar1 0 100|setValue ProgressBar1 90|setRange ProgressBar1 0 50|?value ProgressBar1 50|"
     "setRange ProgressBar1 60 70|?value ProgressBar1 60"},
    // The window's size.
    {"a fixed window keeps its size", "resize 6000 1500|?size 4500 3600"},
    {"the update window, no smaller than its definition, wider to Port Open",
     "window Update|resize 1500 900|?size 3960 1905|resize 6495 1905|?size 6495 1905"},
};

INSTANTIATE_TEST_SUITE_P(EveryFrontEnd, Contract, ::testing::ValuesIn(rows), [](const auto& info) {
    std::string name = info.param.what;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

} // namespace
} // namespace morvandell::contract
