#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::ui {

// A window described as data: its controls with the kinds, containers, twips geometry, initial texts
// and states of the window's control table. Each front end (Qt, Win32) turns a FormSpec into native
// controls; the handlers know the controls only by these names.
enum class ControlKind { Button, Frame, ComboBox, TextBox, Label, ListBox, ProgressBar };

// Positions and sizes in twips (15 twips are one pixel at 96 dpi), relative to the container's
// client area.
struct Geometry
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ControlSpec
{
    std::string name;      // "Command1", "Combo5", ...
    ControlKind kind = ControlKind::Label;
    std::string container; // the frame it sits in; empty: the window's client area
    Geometry geometry;
    std::string text;      // caption, or initial text
    std::string toolTip;
    int maxLength = 0;     // text boxes: at most this many characters, typed or set; 0 = no limit
    bool enabled = true;
    bool visible = true;
    bool bold = false;
    bool wrap = false;                   // buttons: the caption wraps onto several lines
    std::optional<std::uint32_t> backColor; // 0xRRGGBB; none: the system's colour
    bool sorted = false;                 // lists: never sorted unless a window says so
    std::string accessibleName;          // for assistive technology where no caption names the control
};

// An opened drop-down list shows this many entries at once (all of them when it has fewer), with a
// scroll bar for the rest: the whole port list, ports 1 to 16, without scrolling. Every front end.
constexpr int DropDownEntries = 16;

// An entry of a menu (the window's context menu, a control's context menu) or a keyboard shortcut.
struct MenuItemSpec
{
    std::string id;       // handed to FormEvents::command()
    std::string text;     // "Profil speichern…"
    std::string shortcut; // "Ctrl+S", or empty; works anywhere in the window, whichever menu has the entry
};

struct FormSpec
{
    std::string name;    // "Form1"
    std::string caption; // the initial window caption
    int clientWidth = 0; // twips
    int clientHeight = 0;
    // A window that is not of fixed size opens at its client size and can be made larger, never smaller.
    bool fixedSize = true;
    std::vector<ControlSpec> controls;
    // The window's context menu (right click on the client area outside controls that have their own);
    // its shortcuts work anywhere in the window.
    std::vector<MenuItemSpec> windowMenu;
    // Context menus of single controls: control name and entries.
    std::vector<std::pair<std::string, std::vector<MenuItemSpec>>> controlMenus;

    const ControlSpec* find(const std::string& control) const
    {
        for (const ControlSpec& c : controls)
            if (c.name == control)
                return &c;
        return nullptr;
    }
};

} // namespace morvandell::ui
