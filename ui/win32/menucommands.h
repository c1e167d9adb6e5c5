#pragma once

#include "ui/model/form.h"
#include "ui/model/formview.h"

#include <windows.h>

#include <string>
#include <vector>

namespace morvandell::win32 {

// A window's commands: every entry of its context menus gets a command id, and their shortcuts
// ("Ctrl+S", "F5", "Entf") make its accelerator table. Menus show the shortcut beside the entry and
// grey out what the window's events do not enable.
class MenuCommands final
{
public:
    MenuCommands() = default;
    ~MenuCommands();
    MenuCommands(const MenuCommands&) = delete;
    MenuCommands& operator=(const MenuCommands&) = delete;

    // The commands of the window's menu and its controls' menus.
    void build(const ui::FormSpec& def);
    // Turns a shortcut in msg into its command for window; true when it did.
    bool translate(HWND window, MSG& msg) const;
    // The command of a menu entry's or shortcut's command id; null when there is none.
    const std::string* command(UINT commandId) const;

    // The context menu of a control (null: of the window itself): its own, else the window's; null
    // when there is none.
    static const std::vector<ui::MenuItemSpec>* menuFor(const ui::FormSpec& def, const std::string* control);
    // Shows items as a pop-up menu at a point on the screen until the user chooses or leaves it; the
    // chosen entry's command id, 0 for none. Touches nothing of this object once the menu is open (the
    // window may be gone when it closes).
    UINT run(HWND owner, const std::vector<ui::MenuItemSpec>& items, POINT at, ui::FormEvents& events) const;

private:
    struct Command
    {
        std::string id;
        UINT commandId;
    };

    std::vector<Command> m_commands;
    HACCEL m_accelerators = nullptr;
};

} // namespace morvandell::win32
