#pragma once

#include "ui/model/form.h"
#include "ui/model/formview.h"
#include "ui/win32/combobox.h"
#include "ui/win32/menucommands.h"
#include "ui/win32/progressbar.h"
#include "ui/win32/windowstyle.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::win32 {

using ui::ControlSpec;
using ui::FormEvents;
using ui::FormSpec;
using ui::FormView;
using ui::MenuItemSpec;

class Win32FrontEnd;

// A top-level window made from a FormSpec: native controls (BUTTON, group boxes, COMBOBOX, EDIT,
// LISTBOX, STATIC, the progress bar) placed at the definition's twips scaled by the window's DPI, in
// "MS Sans Serif" 8.25 pt. Every control is a child of the window itself (a frame is drawn beneath the
// controls it contains), so that one window procedure hears every notification. The user's actions go
// to the FormEvents; what the handlers do to the controls comes in through FormView. Combo boxes
// (ComboBox), progress bars (ProgressBar), the menus and shortcuts (MenuCommands) and the fonts
// (WindowFonts) keep their own state and ways.
class Win32Window final : public FormView
{
public:
    Win32Window(Win32FrontEnd& frontEnd, const FormSpec& def, FormEvents& events);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    const FormSpec& definition() const { return m_spec; }
    // The window; null once it has been destroyed (closed by the user).
    HWND handle() const { return m_hwnd; }
    // Why the window could not be created (GetLastError), when handle() was null from the start.
    DWORD creationError() const { return m_creationError; }
    // The native control of a control name; null when there is none.
    HWND control(const std::string& name) const;
    // The name of a native control (also of a combo box's edit field and list); empty when unknown.
    std::string controlName(HWND hwnd) const;
    UINT dpi() const { return m_dpi; }
    // The font of a control at the window's DPI: bold, regular, or (narrow combo boxes) condensed.
    HFONT font(const std::string& name) const;
    // The control id (GetDlgItem) of a control of a window made from def; 0 when there is none. Lets
    // another process find the controls.
    static int controlId(const FormSpec& def, const std::string& name);
    static constexpr const wchar_t* WindowClass = L"MorvandellForm";
    // The tool tip a control shows now (for combo boxes: the hovered entry's while the list is open).
    std::string currentToolTip(const std::string& name) const;

    // FormView
    void setCaption(const std::string& caption) override;
    std::string caption() const override;
    void showWindow() override;
    void hideWindow() override;
    bool isWindowVisible() const override;
    std::string text(const std::string& control) const override;
    void setText(const std::string& control, const std::string& text) override;
    bool isEnabled(const std::string& control) const override;
    void setEnabled(const std::string& control, bool enabled) override;
    void setToolTip(const std::string& control, const std::string& toolTip) override;
    void setFocus(const std::string& control) override;
    void setBackColor(const std::string& control, std::optional<std::uint32_t> rgb) override;
    std::optional<std::uint32_t> backColor(const std::string& control) const override;
    void setBusy(bool busy) override;
    void addItem(const std::string& control, const std::string& text, const std::string& toolTip = {}) override;
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
    struct Control
    {
        ControlSpec def;
        int id = 0;
        HWND hwnd = nullptr;
        std::unique_ptr<ComboBox> combo;  // combo boxes
        std::unique_ptr<ProgressBar> bar; // progress bars
        std::string toolTip;
        std::vector<std::string> itemTips;
        std::optional<std::uint32_t> backColor;
        HBRUSH brush = nullptr; // of the back colour
    };

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void createToolTips();
    // Passes a mouse message of the window, a control (`ours`) or an open list to the tool tip.
    void relayToToolTip(MSG& msg, bool ours) const;
    // A control's rectangle in the window's client area.
    RECT placeInWindow(HWND control) const;
    // Fonts, the window's size and the controls' places for a DPI (at the start, and when it changes).
    void applyDpi(UINT dpi);
    void layoutControls();
    void onCommand(WPARAM wParam, LPARAM lParam);
    bool onContextMenu(HWND target, LPARAM position);
    void raiseCommand(const std::string& id);
    LRESULT onToolTipText(NMHDR* header);
    void close();

    Control* find(const std::string& name);
    const Control* find(const std::string& name) const;
    Control* findById(int id);
    Control* findByHwnd(HWND hwnd);
    const Control* findByHwnd(HWND hwnd) const;

    Win32FrontEnd& m_frontEnd;
    FormSpec m_spec;
    FormEvents& m_events;
    HWND m_hwnd = nullptr;
    DWORD m_creationError = 0;
    HWND m_toolTip = nullptr;
    MenuCommands m_menus;
    WindowFonts m_fonts;
    UINT m_dpi = StandardDpi;
    std::vector<Control> m_controls;
    std::wstring m_toolTipBuffer;
    HWND m_lastFocus = nullptr;
    int m_quiet = 0;           // notifications of the window's own changes are not the user's
    bool m_destroying = false; // the owner lets go of the window: no more events
    int m_busy = 0;
    int m_filter = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace morvandell::win32
