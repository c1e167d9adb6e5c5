#include "ui/win32/combobox.h"

#include "ui/win32/controltext.h"
#include "ui/win32/guieventloop.h"
#include "ui/win32/quiet.h"
#include "ui/win32/windowstyle.h"
#include "windows/wide.h"

#include <commctrl.h>

namespace morvandell::win32 {

namespace {

// The open list's height: DropDownEntries lines of the windows' font (13 pixels at 96 dpi) and its
// border. The common controls 6 size the list by CB_SETMINVISIBLE instead: the same count.
constexpr int DropDownHeight = ui::DropDownEntries * 13 + 2;

} // namespace

ComboBox::ComboBox(HWND box, const ui::ControlSpec& def, UINT_PTR id, ui::FormEvents& events, GuiEventLoop& loop,
                   int& quiet, std::weak_ptr<bool> alive)
    : m_box(box)
    , m_id(id)
    , m_name(def.name)
    , m_events(events)
    , m_loop(loop)
    , m_quiet(quiet)
    , m_alive(std::move(alive))
{
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (::GetComboBoxInfo(m_box, &info)) {
        m_edit = info.hwndItem;
        m_list = info.hwndList;
    }
    if (def.maxLength > 0)
        ::SendMessageW(m_box, CB_LIMITTEXT, WPARAM(def.maxLength), 0);
    ::SendMessageW(m_box, CB_SETMINVISIBLE, ui::DropDownEntries, 0);
    ::SetWindowTextW(m_box, win::widen(def.text).c_str());
}

void ComboBox::listen()
{
    for (HWND part : {m_box, m_edit, m_list})
        if (part)
            ::SetWindowSubclass(part, subclassProc, m_id, reinterpret_cast<DWORD_PTR>(this));
}

void ComboBox::detach()
{
    for (HWND part : {m_box, m_edit, m_list})
        if (part)
            ::RemoveWindowSubclass(part, subclassProc, m_id);
    forget();
}

void ComboBox::forget()
{
    m_box = m_edit = m_list = m_toolTip = nullptr;
}

void ComboBox::onNotification(int code)
{
    switch (code) {
    case CBN_DROPDOWN: {
        m_hoveredItem = -1;
        const std::string name = m_name;
        m_events.dropDown(name);
        break;
    }
    case CBN_EDITCHANGE:
        m_typed = true;
        m_listIndex = -1;
        m_typedText = windowText(m_box);
        break;
    case CBN_SELCHANGE:
        // With the list closed, the arrow keys (or the wheel, with the focus) choose at once.
        if (!::SendMessageW(m_box, CB_GETDROPPEDSTATE, 0, 0))
            schedulePick();
        break;
    case CBN_SELENDOK:
        schedulePick();
        break;
    case CBN_CLOSEUP:
        m_hoveredItem = -1;
        break;
    default:
        break;
    }
}

void ComboBox::schedulePick()
{
    const std::weak_ptr<bool> alive = m_alive;
    if (m_typed) {
        // Typed text chooses nothing, whatever entry the list matched it with; it stays as typed.
        const std::wstring typed = m_typedText;
        m_loop.post([this, alive, typed] {
            const auto a = alive.lock();
            if (!a || !*a || !m_box || !m_typed)
                return;
            if (windowText(m_box) != typed) {
                Quiet quiet(m_quiet);
                ::SetWindowTextW(m_box, typed.c_str());
            }
            m_listIndex = -1;
        });
        return;
    }
    if (m_pickPending)
        return;
    m_pickPending = true;
    m_loop.post([this, alive] {
        const auto a = alive.lock();
        if (!a || !*a || !m_box)
            return;
        m_pickPending = false;
        const int index = int(::SendMessageW(m_box, CB_GETCURSEL, 0, 0));
        if (index < 0)
            return;
        m_listIndex = index;
        const std::string name = m_name;
        m_events.click(name);
    });
}

LRESULT CALLBACK ComboBox::subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR data)
{
    if (auto* self = reinterpret_cast<ComboBox*>(data))
        return self->onMessage(hwnd, message, wParam, lParam, id);
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT ComboBox::onMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id)
{
    switch (message) {
    case WM_MOUSEWHEEL:
        if (hwnd != m_list) {
            // Scrolling past a list changes nothing: the wheel chooses only in the list that has the
            // keyboard focus.
            const HWND focus = ::GetFocus();
            if (focus != m_box && focus != m_edit)
                return 0;
            m_typed = false;
            // The edit field would keep the wheel to itself: the combo box turns it into a choice.
            if (hwnd == m_edit)
                return ::SendMessageW(m_box, WM_MOUSEWHEEL, wParam, lParam);
        }
        break;
    case WM_KEYDOWN:
        if (hwnd == m_list) {
            switch (wParam) {
            case VK_UP:
            case VK_DOWN:
            case VK_PRIOR:
            case VK_NEXT:
            case VK_HOME:
            case VK_END:
                m_typed = false; // moving through the entries is choosing
                break;
            default:
                break;
            }
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        if (hwnd == m_list)
            m_typed = false;
        break;
    case WM_MOUSEMOVE:
        if (hwnd == m_list) {
            const LRESULT hit = ::SendMessageW(hwnd, LB_ITEMFROMPOINT, 0, lParam);
            const int item = HIWORD(hit) ? -1 : int(LOWORD(hit));
            if (item != m_hoveredItem) {
                m_hoveredItem = item;
                if (m_toolTip)
                    ::SendMessageW(m_toolTip, TTM_POP, 0, 0); // the next tip is the new entry's
            }
        }
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, subclassProc, id);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

RECT ComboBox::withList(const RECT& closed, UINT dpi)
{
    // A drop-down combo box's height is its list's: the closed box gets its height from its edit field,
    // fitted below.
    RECT box = closed;
    box.bottom += scale(DropDownHeight * 15, dpi);
    return box;
}

void ComboBox::place(const RECT& closed, UINT dpi)
{
    const RECT box = withList(closed, dpi);
    ::MoveWindow(m_box, box.left, box.top, box.right - box.left, box.bottom - box.top, TRUE);
    fit(closed);
}

// A closed drop-down combo box is as tall as its edit field makes it: the field's height is set until the
// box has the height of the table. The field height a box reports need not be the one it was given
// (Wine adds its padding), so each step goes by the height measured.
void ComboBox::fitHeight(int height)
{
    LRESULT field = ::SendMessageW(m_box, CB_GETITEMHEIGHT, WPARAM(-1), 0);
    if (field == CB_ERR)
        return;
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT box;
        ::GetWindowRect(m_box, &box);
        const int actual = box.bottom - box.top;
        if (actual == height || field + height - actual < 1)
            return;
        field += height - actual;
        ::SendMessageW(m_box, CB_SETITEMHEIGHT, WPARAM(-1), field);
    }
}

void ComboBox::setNarrowMargins()
{
    if (m_edit)
        ::SendMessageW(m_edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(1, 1));
}

void ComboBox::setText(const std::wstring& text)
{
    ::SetWindowTextW(m_box, text.c_str());
    m_listIndex = -1;
    m_typed = false;
}

bool ComboBox::addItem(const std::wstring& text)
{
    return ::SendMessageW(m_box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())) >= 0;
}

LRESULT ComboBox::insertItem(int index, const std::wstring& text)
{
    const LRESULT at = ::SendMessageW(m_box, CB_INSERTSTRING, WPARAM(index), reinterpret_cast<LPARAM>(text.c_str()));
    if (at >= 0 && m_listIndex >= index)
        ++m_listIndex;
    return at;
}

void ComboBox::removeItem(int index)
{
    const std::wstring shown = windowText(m_box);
    ::SendMessageW(m_box, CB_DELETESTRING, WPARAM(index), 0);
    if (windowText(m_box) != shown)
        ::SetWindowTextW(m_box, shown.c_str());
    if (m_listIndex == index)
        m_listIndex = -1;
    else if (m_listIndex > index)
        --m_listIndex;
}

void ComboBox::clear()
{
    const std::wstring shown = windowText(m_box);
    ::SendMessageW(m_box, CB_RESETCONTENT, 0, 0);
    ::SetWindowTextW(m_box, shown.c_str()); // the edit field keeps its text
    m_listIndex = -1;
    m_hoveredItem = -1;
}

void ComboBox::setListIndex(int index)
{
    ::SendMessageW(m_box, CB_SETCURSEL, WPARAM(index), 0); // -1 empties the edit field too
    m_listIndex = index;
    m_typed = false;
}

} // namespace morvandell::win32
