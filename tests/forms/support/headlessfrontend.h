#pragma once

#include "scripteddialogs.h"

#include "ui/model/form.h"
#include "ui/model/formview.h"
#include "ui/model/frontend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::test {

class HeadlessView;

// A front end without a screen: windows are HeadlessViews kept in memory, the event loop is the one
// the platform's tools run (poll() on POSIX, the Windows wait loop), the dialogs are scripted. It stands
// where the widgets stand and decides nothing a window's handlers decide.
class HeadlessFrontEnd final : public ui::FrontEnd
{
public:
    HeadlessFrontEnd();
    ~HeadlessFrontEnd() override;
    HeadlessFrontEnd(const HeadlessFrontEnd&) = delete;
    HeadlessFrontEnd& operator=(const HeadlessFrontEnd&) = delete;

    std::unique_ptr<ui::FormView> createWindow(const ui::FormSpec& def, ui::FormEvents& events) override;
    EventLoop& loop() override { return *m_loop; }
    ScriptedDialogs& dialogs() override { return m_dialogs; }
    // Recorded only: the test decides when it is over.
    void quit() override { ++m_quitRequests; }
    int quitRequests() const { return m_quitRequests; }

    // The newest window of that definition name that exists now (null when none).
    HeadlessView* window(const std::string& formName) const;
    // The headless view behind a window of this front end.
    static HeadlessView& viewOf(ui::FormView& view);

private:
    friend class HeadlessView;
    std::unique_ptr<EventLoop> m_loop;
    ScriptedDialogs m_dialogs;
    std::vector<HeadlessView*> m_windows;
    int m_quitRequests = 0;
};

// A window in memory, made from its FormSpec: every control's state as the handlers set it, and the
// user's actions on it. The FormView calls raise no events. The user's actions check what a user could
// do: a control that is disabled, hidden, out of reach (beyond a fixed-size window's client area) or in
// a hidden window cannot be clicked, picked or typed into; such an attempt fails the test.
class HeadlessView final : public ui::FormView
{
public:
    HeadlessView(HeadlessFrontEnd& frontEnd, const ui::FormSpec& def, ui::FormEvents& events);
    ~HeadlessView() override;
    HeadlessView(const HeadlessView&) = delete;
    HeadlessView& operator=(const HeadlessView&) = delete;

    const ui::FormSpec& definition() const { return m_def; }

    // --- the user ---
    // Clicks a button (its Click runs to its end, waits included, before this returns).
    bool click(const std::string& control);
    // Picks an entry in a list as a user does: a combo box drops down first (its DropDown runs, the
    // entries may change), then the entry is chosen (index and text), then Click. By position or by the
    // entry's text (looked up after the drop-down).
    bool pick(const std::string& control, int index);
    bool pick(const std::string& control, const std::string& entry);
    // Opens a combo box's list (DropDown) without choosing.
    bool dropDown(const std::string& control);
    // Types into a text box or a combo box's edit field, over its whole text: at most maxLength
    // characters are taken; a combo box then has no entry selected (typing never chooses). No event.
    bool type(const std::string& control, const std::string& text);
    // Puts the keyboard focus on a control (Tab, or a click that does nothing else).
    bool focus(const std::string& control);
    // A menu entry or its shortcut (window menu or a control's context menu): carried out when the
    // window's commandEnabled allows it; false when it is greyed out. An id no menu offers fails.
    bool command(const std::string& id);
    // The close box: closeRequested decides; a window that may close is hidden, then unloaded. True
    // when it closed.
    bool close();
    // Whether a user could click, pick in or type into the control now (no failure when not).
    bool canUse(const std::string& control) const;

    // --- what the user sees, beyond FormView ---
    bool isVisible(const std::string& control) const;
    std::string toolTip(const std::string& control) const;
    std::vector<std::string> items(const std::string& control) const;
    std::string itemToolTip(const std::string& control, int index) const;
    int maxLength(const std::string& control) const;
    int minimum(const std::string& control) const;
    int maximum(const std::string& control) const;
    // The control with the keyboard focus (empty: none).
    std::string focused() const { return m_focus; }
    bool isBusy() const { return m_busy > 0; }
    // The ids of a control's context menu, or with no control of the window's menu.
    std::vector<std::string> menu(const std::string& control = {}) const;

    // Runs each time a handler has set a control's text, value, colour or enabled state (its name): the
    // test sees the window at that moment, as a user watching it would, whatever the machine's load.
    std::function<void(const std::string& control)> onChange;

    // --- ui::FormView (the handlers' side) ---
    void setCaption(const std::string& caption) override { m_caption = caption; }
    std::string caption() const override { return m_caption; }
    void showWindow() override { m_visible = true; }
    void hideWindow() override { m_visible = false; }
    bool isWindowVisible() const override { return m_visible; }

    std::string text(const std::string& control) const override;
    void setText(const std::string& control, const std::string& text) override;
    bool isEnabled(const std::string& control) const override;
    void setEnabled(const std::string& control, bool enabled) override;
    void setToolTip(const std::string& control, const std::string& toolTip) override;
    void setFocus(const std::string& control) override;
    void setBackColor(const std::string& control, std::optional<std::uint32_t> rgb) override;
    std::optional<std::uint32_t> backColor(const std::string& control) const override;
    void setBusy(bool busy) override;

    void addItem(const std::string& control, const std::string& text,
                 const std::string& toolTip = {}) override;
    void insertItem(const std::string& control, int index, const std::string& text) override;
    void removeItem(const std::string& control, int index) override;
    void clearItems(const std::string& control) override;
    int itemCount(const std::string& control) const override;
    std::string itemText(const std::string& control, int index) const override;
    int listIndex(const std::string& control) const override;
    void setListIndex(const std::string& control, int index) override;

    void setRange(const std::string& control, int minimum, int maximum) override;
    void setValue(const std::string& control, int value) override;
    int value(const std::string& control) const override;

private:
    struct Item
    {
        std::string text;
        std::string toolTip;
    };
    struct Control
    {
        const ui::ControlSpec* def = nullptr;
        std::string text;
        bool enabled = true;
        std::string toolTip;
        std::optional<std::uint32_t> backColor;
        std::vector<Item> items;
        int listIndex = -1;
        int minimum = 0;
        int maximum = 100;
        int value = 0;
    };

    Control* find(const std::string& name, const char* use);
    const Control* find(const std::string& name, const char* use) const;
    Control* list(const std::string& name, const char* use);
    const Control* list(const std::string& name, const char* use) const;
    bool reachable(const Control& c) const;
    bool usable(const std::string& name, const char* action, Control** out);
    std::string limited(const Control& c, const std::string& text) const;
    void changed(const std::string& control);

    HeadlessFrontEnd& m_frontEnd;
    ui::FormSpec m_def;
    ui::FormEvents& m_events;
    std::map<std::string, Control> m_controls;
    std::string m_caption;
    bool m_visible = false;
    std::string m_focus;
    int m_busy = 0;
};

} // namespace morvandell::test
