#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvandell::ui {

// What a window's handlers may do to its controls and to the window itself, by the names of the
// window's FormSpec. Each front end implements it over its native controls; everything here happens at
// once (no event is raised by these calls: setListIndex does not raise Click, setText no Change).
//
// Every front end keeps the same rules, here and in FormEvents; tests/contract tries each of them on
// every front end:
// - The calls below raise no event, and a view that its handlers let go of raises none either.
// - A combo box's edit field keeps its text when entries are added, inserted, removed or cleared.
// - Only a choice picks an entry (FormEvents::click): in the opened list with the mouse or the keys, with
//   the arrow keys in the closed list that has the focus, or with the wheel over the list that has the
//   focus. Typed text never picks one, whatever the user presses then (Enter, Tab, the opened list's
//   Enter) or wherever the user clicks; the wheel over a list without the focus does nothing.
// - A text box holds at most its maxLength characters, typed or set (setText cuts the rest).
// - An opened drop-down list shows DropDownEntries entries at once.
// - Disabling the control that has the keyboard focus moves the focus on to the next control in the
//   tab order that can take it (a handler that disables its own button while it waits leaves the
//   keyboard in the window).
// - A window that is not of fixed size cannot be made smaller than its definition's client size.
class FormView
{
public:
    virtual ~FormView() = default;

    // The window.
    virtual void setCaption(const std::string& caption) = 0;
    virtual std::string caption() const = 0;
    virtual void showWindow() = 0;  // shows (if hidden) and raises it
    virtual void hideWindow() = 0;
    virtual bool isWindowVisible() const = 0;

    // Every control.
    virtual std::string text(const std::string& control) const = 0;
    virtual void setText(const std::string& control, const std::string& text) = 0;
    virtual bool isEnabled(const std::string& control) const = 0;
    virtual void setEnabled(const std::string& control, bool enabled) = 0;
    virtual void setToolTip(const std::string& control, const std::string& toolTip) = 0;
    virtual void setFocus(const std::string& control) = 0;
    // Background colour (labels: the update window's green status line); none: the system's colour.
    virtual void setBackColor(const std::string& control, std::optional<std::uint32_t> rgb) = 0;
    virtual std::optional<std::uint32_t> backColor(const std::string& control) const = 0;
    // While a long step runs inside a handler (reading a large file): a busy cursor over the window.
    // Calls nest: the cursor is back to normal after as many setBusy(false) as setBusy(true).
    virtual void setBusy(bool busy) { (void)busy; }

    // Lists (combo boxes and list boxes). Entries are appended at the end unless inserted; a combo box's
    // edit field keeps its text when entries are added or removed. listIndex -1: nothing selected.
    virtual void addItem(const std::string& control, const std::string& text,
                         const std::string& toolTip = {}) = 0;
    virtual void insertItem(const std::string& control, int index, const std::string& text) = 0;
    virtual void removeItem(const std::string& control, int index) = 0;
    virtual void clearItems(const std::string& control) = 0;
    virtual int itemCount(const std::string& control) const = 0;
    virtual std::string itemText(const std::string& control, int index) const = 0;
    virtual int listIndex(const std::string& control) const = 0;
    // Selects an entry (its text becomes the combo box's text); -1 deselects.
    virtual void setListIndex(const std::string& control, int index) = 0;

    // Progress bars (32-bit range). A progress bar's text (text/setText) is the text shown on the bar.
    // A value outside the range stands at the nearer end (value() reads it so), and so does the value
    // that stands when a new range leaves it outside.
    virtual void setRange(const std::string& control, int minimum, int maximum) = 0;
    virtual void setValue(const std::string& control, int value) = 0;
    virtual int value(const std::string& control) const = 0;
};

// What a front end reports to a window's handlers. Each call comes from the event loop's thread; a
// handler may wait (EventWait) inside it, and events keep arriving meanwhile.
class FormEvents
{
public:
    virtual ~FormEvents() = default;

    // The window was created (controls as in its FormSpec), before it is first shown.
    virtual void load() {}
    // A button was clicked, or the user picked a list entry (mouse, keys, or the wheel with focus).
    virtual void click(const std::string& control) { (void)control; }
    // A combo box's list is about to drop down: the last moment to bring its entries up to date.
    virtual void dropDown(const std::string& control) { (void)control; }
    // A menu entry or its shortcut, by the id of its MenuItemSpec; only when commandEnabled allows it.
    virtual void command(const std::string& id) { (void)id; }
    // Whether a menu entry can be chosen now (greyed out otherwise).
    virtual bool commandEnabled(const std::string& id) const { (void)id; return true; }
    // The user closes the window (title bar, Alt+F4). True: the window may close now; false: it stays,
    // shown as it was (the handler may have asked a question and closes it later itself). A window that
    // closes is hidden, not destroyed: its FormView stays valid, and showWindow() shows it again.
    virtual bool closeRequested() { return true; }
    // The window is being destroyed (after a close that was allowed, or when the program ends). May come
    // more than once; handlers treat the second as nothing.
    virtual void unload() {}
};

} // namespace morvandell::ui
