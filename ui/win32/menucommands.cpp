#include "ui/win32/menucommands.h"

#include "platform/text.h"
#include "ui/win32/controltext.h"
#include "windows/wide.h"

#include <algorithm>
#include <cctype>

namespace morvandell::win32 {

using ui::MenuItemSpec;

namespace {

constexpr UINT FirstCommandId = 0x7000;

// "Ctrl+S", "Ctrl+Shift+O", "F5", "Del": an accelerator entry; false when the text names no key.
bool parseShortcut(const std::string& shortcut, ACCEL& accel)
{
    accel = ACCEL{};
    accel.fVirt = FVIRTKEY;
    const std::vector<std::string> parts = text::split(shortcut, '+');
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string m = text::asciiLower(text::trimmed(parts[i]));
        if (m == "ctrl" || m == "strg")
            accel.fVirt |= FCONTROL;
        else if (m == "shift" || m == "umschalt")
            accel.fVirt |= FSHIFT;
        else if (m == "alt")
            accel.fVirt |= FALT;
        else
            return false;
    }
    const std::string key = text::trimmed(parts.back());
    const std::string lower = text::asciiLower(key);
    if (key.size() == 1 && std::isalnum(static_cast<unsigned char>(key[0]))) {
        accel.key = WORD(std::toupper(static_cast<unsigned char>(key[0])));
        return true;
    }
    if (lower.size() >= 2 && lower[0] == 'f') {
        const auto n = text::toInteger(lower.substr(1));
        if (n && *n >= 1 && *n <= 24) {
            accel.key = WORD(VK_F1 + *n - 1);
            return true;
        }
    }
    if (lower == "del" || lower == "delete" || lower == "entf") {
        accel.key = VK_DELETE;
        return true;
    }
    if (lower == "ins" || lower == "insert" || lower == "einfg") {
        accel.key = VK_INSERT;
        return true;
    }
    return false;
}

} // namespace

MenuCommands::~MenuCommands()
{
    if (m_accelerators)
        ::DestroyAcceleratorTable(m_accelerators);
}

void MenuCommands::build(const ui::FormSpec& def)
{
    std::vector<ACCEL> table;
    auto take = [&](const std::vector<MenuItemSpec>& items) {
        for (const MenuItemSpec& item : items) {
            if (item.id.empty())
                continue;
            auto known = std::find_if(m_commands.begin(), m_commands.end(),
                                      [&](const Command& c) { return c.id == item.id; });
            if (known == m_commands.end()) {
                m_commands.push_back({item.id, FirstCommandId + UINT(m_commands.size())});
                known = m_commands.end() - 1;
            }
            ACCEL accel;
            if (!item.shortcut.empty() && parseShortcut(item.shortcut, accel)) {
                accel.cmd = WORD(known->commandId);
                table.push_back(accel);
            }
        }
    };
    take(def.windowMenu);
    for (const auto& [control, items] : def.controlMenus)
        take(items);
    if (!table.empty())
        m_accelerators = ::CreateAcceleratorTableW(table.data(), int(table.size()));
}

bool MenuCommands::translate(HWND window, MSG& msg) const
{
    return m_accelerators && ::TranslateAcceleratorW(window, m_accelerators, &msg);
}

const std::string* MenuCommands::command(UINT commandId) const
{
    for (const Command& command : m_commands)
        if (command.commandId == commandId)
            return &command.id;
    return nullptr;
}

const std::vector<MenuItemSpec>* MenuCommands::menuFor(const ui::FormSpec& def, const std::string* control)
{
    const std::vector<MenuItemSpec>* items = nullptr;
    if (control) {
        for (const auto& [name, menu] : def.controlMenus)
            if (name == *control)
                items = &menu;
    }
    if (!items && !def.windowMenu.empty())
        items = &def.windowMenu;
    return items;
}

UINT MenuCommands::run(HWND owner, const std::vector<MenuItemSpec>& items, POINT at, ui::FormEvents& events) const
{
    HMENU menu = ::CreatePopupMenu();
    if (!menu)
        return 0;
    for (const MenuItemSpec& item : items) {
        if (item.text.empty()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT commandId = 0;
        for (const Command& command : m_commands)
            if (command.id == item.id)
                commandId = command.commandId;
        std::wstring label = escapeAmpersands(win::widen(item.text));
        if (!item.shortcut.empty())
            label += L"\t" + win::widen(item.shortcut);
        const UINT flags = MF_STRING | (events.commandEnabled(item.id) ? MF_ENABLED : MF_GRAYED);
        ::AppendMenuW(menu, flags, commandId, label.c_str());
    }
    const UINT chosen = UINT(::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0,
                                              owner, nullptr));
    ::DestroyMenu(menu);
    return chosen;
}

} // namespace morvandell::win32
