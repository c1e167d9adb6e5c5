#pragma once

#include "ui/model/form.h"
#include "ui/model/formview.h"

#include <windows.h>

#include <memory>
#include <string>

namespace morvandell::win32 {

class GuiEventLoop;

// A drop-down list with an edit field (a native COMBOBOX with CBS_DROPDOWN), as the windows use them:
// the user's pick is told to the events as click(name), once the combo box has filled its edit field,
// whether made in the opened list (mouse or keys) or with the arrow keys or the wheel while the closed
// list has the keyboard focus. Typing never selects anything: typed text stays as typed and leaves the
// list with no entry chosen (listIndex() -1), whatever entry the list matched it with. The wheel over a
// list without the focus does nothing to it. Its edit field and list are subclassed for that; the
// window hands it the notifications of the box.
class ComboBox final
{
public:
    // box: the created control; id: its control id. quiet: the window's counter of its own changes
    // (see Quiet); alive: the window's life, which ends the picks still on their way.
    ComboBox(HWND box, const ui::ControlSpec& def, UINT_PTR id, ui::FormEvents& events, GuiEventLoop& loop,
             int& quiet, std::weak_ptr<bool> alive);
    ComboBox(const ComboBox&) = delete;
    ComboBox& operator=(const ComboBox&) = delete;

    // From now on the user's input to the box, its edit field and its list goes through this object:
    // called once the box is set up (until then every message of its setting up would pass here too).
    void listen();
    // Undoes the subclassing and lets go of the native windows (the window is about to destroy them).
    void detach();
    // The native windows are gone (destroyed by the system).
    void forget();

    HWND edit() const { return m_edit; }
    HWND list() const { return m_list; }
    // Whether hwnd is the box, its edit field or its list.
    bool owns(HWND hwnd) const { return hwnd && (hwnd == m_box || hwnd == m_edit || hwnd == m_list); }
    // The window's tool tip, closed when the mouse moves to another entry of the open list.
    void setToolTipWindow(HWND toolTip) { m_toolTip = toolTip; }

    // A notification (CBN_*) of the box.
    void onNotification(int code);

    // The box's window rectangle for a closed box at `closed`: the list drops below it.
    static RECT withList(const RECT& closed, UINT dpi);
    // Places the closed box; its list drops below it.
    void place(const RECT& closed, UINT dpi);
    // Fits the height of a box that already stands at withList(closed) to `closed`.
    void fit(const RECT& closed) { fitHeight(closed.bottom - closed.top); }
    // The condensed cut wants the edit field's margins narrow.
    void setNarrowMargins();

    bool isDroppedDown() const { return m_list && ::IsWindowVisible(m_list); }
    // The entry under the mouse in the open list, -1 when none.
    int hoveredItem() const { return m_hoveredItem; }

    void setText(const std::wstring& text);
    // False when the list did not take the entry.
    bool addItem(const std::wstring& text);
    // The position the entry got, negative when the list did not take it.
    LRESULT insertItem(int index, const std::wstring& text);
    void removeItem(int index);
    // Removes every entry; the edit field keeps its text.
    void clear();
    // The entry the user (or a handler) chose, -1 when none.
    int listIndex() const { return m_listIndex; }
    void setListIndex(int index);

private:
    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    LRESULT onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id);
    // The box fills its edit field after it has told of the choice: the handler hears of it once the box
    // is done, from the loop.
    void schedulePick();
    void fitHeight(int height);

    HWND m_box = nullptr;
    HWND m_edit = nullptr;
    HWND m_list = nullptr;
    HWND m_toolTip = nullptr;
    UINT_PTR m_id = 0;
    std::string m_name;
    ui::FormEvents& m_events;
    GuiEventLoop& m_loop;
    int& m_quiet;
    std::weak_ptr<bool> m_alive;
    int m_listIndex = -1;
    bool m_typed = false; // text typed since the last choice
    std::wstring m_typedText;
    bool m_pickPending = false;
    int m_hoveredItem = -1;
};

} // namespace morvandell::win32
