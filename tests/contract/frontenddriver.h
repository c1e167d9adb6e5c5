#pragma once

// The user of one front end, for the rules every front end keeps (contract_test.cpp). Each front end
// has a driver that does what a user does the front end's native way (Qt: Qt Test's mouse, key and
// wheel events on the widgets; Win32: SendInput and the controls' own messages, in this process;
// headless: HeadlessView's actions) and reads back what the user sees. A new front end starts with a
// driver and passes the suite.

#include "ui/model/formview.h"
#include "ui/model/frontend.h"

#include <chrono>
#include <memory>
#include <string>

namespace morvandell::contract {

// Keys at the focus: "Tab", "Enter", "Escape", "Down", "Space", "F4".
using Key = std::string;

class FrontEndDriver
{
public:
    virtual ~FrontEndDriver() = default;

    virtual ui::FrontEnd& frontEnd() = 0;
    // Lets the front end handle what is on its way (input, posted notifications) for that long.
    virtual void settle(std::chrono::milliseconds time) = 0;
    // Shows the window and makes it the active one, ready for the keyboard.
    virtual void activate(ui::FormView& view) = 0;

    // The user, on a shown window made by frontEnd(): the mouse's left button on a control, on a list
    // box's line, on a combo box's arrow (its list opens) and on an entry of the open list; the keyboard
    // focus put on a control; a field's whole text typed over; a key or keys like "Ctrl+S" at the focus
    // (into the open list, when one is open); the wheel turned one notch down over a control (the focus
    // stays); the entry-th entry of a control's context menu (empty: the window's) chosen from the
    // keyboard; the window's close box; its frame dragged to a client area that large (twips).
    virtual void click(ui::FormView& view, const std::string& control) = 0;
    virtual void clickLine(ui::FormView& view, const std::string& list, int line) = 0;
    virtual void openList(ui::FormView& view, const std::string& combo) = 0;
    virtual void clickEntry(ui::FormView& view, const std::string& combo, int index) = 0;
    virtual void focus(ui::FormView& view, const std::string& control) = 0;
    virtual void typeOver(ui::FormView& view, const std::string& control, const std::string& text) = 0;
    virtual void press(ui::FormView& view, const Key& key) = 0;
    virtual void shortcut(ui::FormView& view, const std::string& keys) = 0;
    virtual void wheel(ui::FormView& view, const std::string& control) = 0;
    virtual void chooseFromMenu(ui::FormView& view, const std::string& control, int entry) = 0;
    virtual void closeBox(ui::FormView& view) = 0;
    virtual void resize(ui::FormView& view, int width, int height) = 0;

    // What the user sees: the control with the keyboard focus (a combo box also when its edit field has
    // it; empty: none), how many entries the open list shows at once, whether the mouse over the window
    // shows the busy cursor, the client area (twips).
    virtual std::string focused(ui::FormView& view) = 0;
    virtual int shownEntries(ui::FormView& view, const std::string& combo) = 0;
    virtual bool busyCursor(ui::FormView& view) = 0;
    virtual int clientWidth(ui::FormView& view) = 0;
    virtual int clientHeight(ui::FormView& view) = 0;
};

// The driver of the front end this program is built for.
std::unique_ptr<FrontEndDriver> makeDriver();

} // namespace morvandell::contract
