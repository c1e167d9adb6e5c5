#include "headlessfrontend.h"

#include "tests/core/support/coresupport.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace morvandell::test {

using ui::ControlKind;

// --- the front end -----------------------------------------------------------------------------------

HeadlessFrontEnd::HeadlessFrontEnd()
    : m_loop(makeEventLoop())
{}

HeadlessFrontEnd::~HeadlessFrontEnd()
{
    if (!m_windows.empty())
        ADD_FAILURE() << "a window outlives its front end: " << m_windows.front()->definition().name;
}

std::unique_ptr<ui::FormView> HeadlessFrontEnd::createWindow(const ui::FormSpec& def, ui::FormEvents& events)
{
    return std::make_unique<HeadlessView>(*this, def, events);
}

HeadlessView* HeadlessFrontEnd::window(const std::string& formName) const
{
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it)
        if ((*it)->definition().name == formName)
            return *it;
    return nullptr;
}

HeadlessView& HeadlessFrontEnd::viewOf(ui::FormView& view)
{
    return dynamic_cast<HeadlessView&>(view);
}

// --- the window: made from its definition --------------------------------------------------------------

HeadlessView::HeadlessView(HeadlessFrontEnd& frontEnd, const ui::FormSpec& def, ui::FormEvents& events)
    : m_frontEnd(frontEnd)
    , m_def(def)
    , m_events(events)
    , m_caption(def.caption)
{
    for (const ui::ControlSpec& d : m_def.controls) {
        Control c;
        c.def = &d;
        c.text = d.kind == ControlKind::ListBox ? std::string() : d.text;
        c.enabled = d.enabled;
        c.toolTip = d.toolTip;
        c.backColor = d.backColor;
        if (!m_controls.emplace(d.name, std::move(c)).second)
            ADD_FAILURE() << m_def.name << " defines " << d.name << " twice";
    }
    m_frontEnd.m_windows.push_back(this);
}

HeadlessView::~HeadlessView()
{
    auto& windows = m_frontEnd.m_windows;
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

HeadlessView::Control* HeadlessView::find(const std::string& name, const char* use)
{
    const auto it = m_controls.find(name);
    if (it != m_controls.end())
        return &it->second;
    ADD_FAILURE() << m_def.name << " has no control " << name << " (" << use << ")";
    return nullptr;
}

const HeadlessView::Control* HeadlessView::find(const std::string& name, const char* use) const
{
    return const_cast<HeadlessView*>(this)->find(name, use);
}

HeadlessView::Control* HeadlessView::list(const std::string& name, const char* use)
{
    Control* c = find(name, use);
    if (!c)
        return nullptr;
    if (c->def->kind != ControlKind::ComboBox && c->def->kind != ControlKind::ListBox) {
        ADD_FAILURE() << m_def.name << "." << name << " is not a list (" << use << ")";
        return nullptr;
    }
    return c;
}

const HeadlessView::Control* HeadlessView::list(const std::string& name, const char* use) const
{
    return const_cast<HeadlessView*>(this)->list(name, use);
}

// Text boxes and combo boxes' edit fields hold at most maxLength characters, typed or set.
std::string HeadlessView::limited(const Control& c, const std::string& text) const
{
    if (c.def->maxLength > 0 && text::length(text) > std::size_t(c.def->maxLength))
        return text::left(text, std::size_t(c.def->maxLength));
    return text;
}

// --- the user ---------------------------------------------------------------------------------------------

bool HeadlessView::reachable(const Control& c) const
{
    // A window that can be widened brings every control within reach.
    if (!m_def.fixedSize)
        return true;
    int left = c.def->geometry.left;
    int top = c.def->geometry.top;
    for (const ui::ControlSpec* in = m_def.find(c.def->container); in; in = m_def.find(in->container)) {
        left += in->geometry.left;
        top += in->geometry.top;
    }
    return left < m_def.clientWidth && top < m_def.clientHeight && left + c.def->geometry.width > 0 &&
           top + c.def->geometry.height > 0;
}

bool HeadlessView::canUse(const std::string& control) const
{
    const auto it = m_controls.find(control);
    if (it == m_controls.end())
        return false;
    const Control& c = it->second;
    return m_visible && c.def->visible && c.enabled && reachable(c);
}

bool HeadlessView::usable(const std::string& name, const char* action, Control** out)
{
    *out = find(name, action);
    if (!*out)
        return false;
    const Control& c = **out;
    const char* why = !m_visible        ? "its window is not shown"
                      : !c.def->visible ? "it is hidden"
                      : !c.enabled      ? "it is disabled"
                      : !reachable(c)   ? "it lies beyond the window's client area"
                                        : nullptr;
    if (why)
        ADD_FAILURE() << "a user cannot " << action << " " << m_def.name << "." << name << ": " << why;
    return !why;
}

bool HeadlessView::click(const std::string& control)
{
    Control* c = nullptr;
    if (!usable(control, "click", &c))
        return false;
    if (c->def->kind != ControlKind::Button) {
        ADD_FAILURE() << m_def.name << "." << control << " is not a button: pick in a list, type into a box";
        return false;
    }
    m_focus = control;
    m_events.click(control);
    return true;
}

bool HeadlessView::dropDown(const std::string& control)
{
    Control* c = nullptr;
    if (!usable(control, "open the list of", &c))
        return false;
    if (c->def->kind != ControlKind::ComboBox) {
        ADD_FAILURE() << m_def.name << "." << control << " has no list to drop down";
        return false;
    }
    m_focus = control;
    m_events.dropDown(control);
    return true;
}

bool HeadlessView::pick(const std::string& control, int index)
{
    Control* c = nullptr;
    if (!usable(control, "pick in", &c) || !list(control, "pick"))
        return false;
    if (c->def->kind == ControlKind::ComboBox && !dropDown(control))
        return false;
    c = find(control, "pick");
    if (index < 0 || index >= int(c->items.size())) {
        ADD_FAILURE() << m_def.name << "." << control << " has no entry " << index << " (" << c->items.size()
                      << " entries)";
        return false;
    }
    c->listIndex = index;
    if (c->def->kind == ControlKind::ComboBox)
        c->text = c->items[std::size_t(index)].text;
    m_focus = control;
    m_events.click(control);
    return true;
}

bool HeadlessView::pick(const std::string& control, const std::string& entry)
{
    Control* c = nullptr;
    if (!usable(control, "pick in", &c) || !list(control, "pick"))
        return false;
    if (c->def->kind == ControlKind::ComboBox && !dropDown(control))
        return false;
    c = find(control, "pick");
    const auto it =
        std::find_if(c->items.begin(), c->items.end(), [&](const Item& i) { return i.text == entry; });
    if (it == c->items.end()) {
        std::string all;
        for (const Item& i : c->items)
            all += (all.empty() ? "" : ", ") + i.text;
        ADD_FAILURE() << m_def.name << "." << control << " offers no \"" << entry << "\" (entries: " << all
                      << ")";
        return false;
    }
    const int index = int(it - c->items.begin());
    c->listIndex = index;
    if (c->def->kind == ControlKind::ComboBox)
        c->text = entry;
    m_focus = control;
    m_events.click(control);
    return true;
}

bool HeadlessView::type(const std::string& control, const std::string& typed)
{
    Control* c = nullptr;
    if (!usable(control, "type into", &c))
        return false;
    if (c->def->kind != ControlKind::TextBox && c->def->kind != ControlKind::ComboBox) {
        ADD_FAILURE() << m_def.name << "." << control << " takes no typing";
        return false;
    }
    m_focus = control;
    c->text = limited(*c, typed);
    if (c->def->kind == ControlKind::ComboBox)
        c->listIndex = -1;
    return true;
}

bool HeadlessView::focus(const std::string& control)
{
    Control* c = nullptr;
    if (!usable(control, "focus", &c))
        return false;
    switch (c->def->kind) {
    case ControlKind::Frame:
    case ControlKind::Label:
    case ControlKind::ProgressBar:
        ADD_FAILURE() << m_def.name << "." << control << " takes no focus";
        return false;
    default:
        m_focus = control;
        return true;
    }
}

std::vector<std::string> HeadlessView::menu(const std::string& control) const
{
    std::vector<std::string> ids;
    if (control.empty()) {
        for (const ui::MenuItemSpec& item : m_def.windowMenu)
            ids.push_back(item.id);
        return ids;
    }
    for (const auto& [name, items] : m_def.controlMenus)
        if (name == control)
            for (const ui::MenuItemSpec& item : items)
                ids.push_back(item.id);
    return ids;
}

bool HeadlessView::command(const std::string& id)
{
    bool offered = false;
    for (const ui::MenuItemSpec& item : m_def.windowMenu)
        offered = offered || item.id == id;
    for (const auto& [name, items] : m_def.controlMenus)
        for (const ui::MenuItemSpec& item : items)
            offered = offered || item.id == id;
    if (!offered) {
        ADD_FAILURE() << m_def.name << " offers no menu entry " << id;
        return false;
    }
    if (!m_visible) {
        ADD_FAILURE() << "a user cannot choose " << id << ": " << m_def.name << " is not shown";
        return false;
    }
    if (!m_events.commandEnabled(id))
        return false; // greyed out: nothing happens
    m_events.command(id);
    return true;
}

bool HeadlessView::close()
{
    if (!m_visible) {
        ADD_FAILURE() << "a user cannot close " << m_def.name << ": it is not shown";
        return false;
    }
    if (!m_events.closeRequested())
        return false;
    m_events.unload();
    m_visible = false;
    return true;
}

// --- what the user sees ----------------------------------------------------------------------------------

bool HeadlessView::isVisible(const std::string& control) const
{
    const Control* c = find(control, "isVisible");
    return c && c->def->visible;
}

std::string HeadlessView::toolTip(const std::string& control) const
{
    const Control* c = find(control, "toolTip");
    return c ? c->toolTip : std::string();
}

std::vector<std::string> HeadlessView::items(const std::string& control) const
{
    std::vector<std::string> out;
    if (const Control* c = list(control, "items"))
        for (const Item& i : c->items)
            out.push_back(i.text);
    return out;
}

std::string HeadlessView::itemToolTip(const std::string& control, int index) const
{
    const Control* c = list(control, "itemToolTip");
    if (!c || index < 0 || index >= int(c->items.size()))
        return {};
    return c->items[std::size_t(index)].toolTip;
}

int HeadlessView::maxLength(const std::string& control) const
{
    const Control* c = find(control, "maxLength");
    return c ? c->def->maxLength : 0;
}

int HeadlessView::minimum(const std::string& control) const
{
    const Control* c = find(control, "minimum");
    return c ? c->minimum : 0;
}

int HeadlessView::maximum(const std::string& control) const
{
    const Control* c = find(control, "maximum");
    return c ? c->maximum : 0;
}

// --- the handlers' side -----------------------------------------------------------------------------------

void HeadlessView::changed(const std::string& control)
{
    if (onChange)
        onChange(control);
}

std::string HeadlessView::text(const std::string& control) const
{
    const Control* c = find(control, "text");
    if (!c)
        return {};
    if (c->def->kind == ControlKind::ListBox)
        return c->listIndex >= 0 ? c->items[std::size_t(c->listIndex)].text : std::string();
    return c->text;
}

void HeadlessView::setText(const std::string& control, const std::string& text)
{
    Control* c = find(control, "setText");
    if (!c)
        return;
    if (c->def->kind == ControlKind::ListBox) {
        ADD_FAILURE() << m_def.name << "." << control << " is a list box: it has no text to set";
        return;
    }
    c->text = limited(*c, text);
    if (c->def->kind == ControlKind::ComboBox)
        c->listIndex = -1;
    changed(control);
}

bool HeadlessView::isEnabled(const std::string& control) const
{
    const Control* c = find(control, "isEnabled");
    return c && c->enabled;
}

void HeadlessView::setEnabled(const std::string& control, bool enabled)
{
    if (Control* c = find(control, "setEnabled")) {
        c->enabled = enabled;
        changed(control);
    }
}

void HeadlessView::setToolTip(const std::string& control, const std::string& toolTip)
{
    if (Control* c = find(control, "setToolTip"))
        c->toolTip = toolTip;
}

void HeadlessView::setFocus(const std::string& control)
{
    if (find(control, "setFocus"))
        m_focus = control;
}

void HeadlessView::setBackColor(const std::string& control, std::optional<std::uint32_t> rgb)
{
    if (Control* c = find(control, "setBackColor")) {
        c->backColor = rgb;
        changed(control);
    }
}

std::optional<std::uint32_t> HeadlessView::backColor(const std::string& control) const
{
    const Control* c = find(control, "backColor");
    return c ? c->backColor : std::nullopt;
}

void HeadlessView::setBusy(bool busy)
{
    if (busy)
        ++m_busy;
    else if (m_busy > 0)
        --m_busy;
    else
        ADD_FAILURE() << m_def.name << ": setBusy(false) without setBusy(true)";
}

// Entries never change a combo box's edit field; the selection follows its entry.
void HeadlessView::addItem(const std::string& control, const std::string& text, const std::string& toolTip)
{
    if (Control* c = list(control, "addItem"))
        c->items.push_back({text, toolTip});
}

void HeadlessView::insertItem(const std::string& control, int index, const std::string& text)
{
    Control* c = list(control, "insertItem");
    if (!c)
        return;
    index = std::clamp(index, 0, int(c->items.size()));
    c->items.insert(c->items.begin() + index, {text, {}});
    if (c->listIndex >= index)
        ++c->listIndex;
}

void HeadlessView::removeItem(const std::string& control, int index)
{
    Control* c = list(control, "removeItem");
    if (!c || index < 0 || index >= int(c->items.size()))
        return;
    c->items.erase(c->items.begin() + index);
    if (c->listIndex == index)
        c->listIndex = -1;
    else if (c->listIndex > index)
        --c->listIndex;
}

void HeadlessView::clearItems(const std::string& control)
{
    if (Control* c = list(control, "clearItems")) {
        c->items.clear();
        c->listIndex = -1;
    }
}

int HeadlessView::itemCount(const std::string& control) const
{
    const Control* c = list(control, "itemCount");
    return c ? int(c->items.size()) : 0;
}

std::string HeadlessView::itemText(const std::string& control, int index) const
{
    const Control* c = list(control, "itemText");
    if (!c || index < 0 || index >= int(c->items.size()))
        return {};
    return c->items[std::size_t(index)].text;
}

int HeadlessView::listIndex(const std::string& control) const
{
    const Control* c = list(control, "listIndex");
    return c ? c->listIndex : -1;
}

void HeadlessView::setListIndex(const std::string& control, int index)
{
    Control* c = list(control, "setListIndex");
    if (!c)
        return;
    if (index < 0 || index >= int(c->items.size()))
        index = -1;
    c->listIndex = index;
    // A combo box shows the chosen entry; deselected, its field is empty (as in both toolkits).
    if (c->def->kind == ControlKind::ComboBox)
        c->text = index >= 0 ? c->items[std::size_t(index)].text : std::string();
}

void HeadlessView::setRange(const std::string& control, int minimum, int maximum)
{
    Control* c = find(control, "setRange");
    if (!c)
        return;
    if (c->def->kind != ControlKind::ProgressBar) {
        ADD_FAILURE() << m_def.name << "." << control << " is not a progress bar";
        return;
    }
    c->minimum = minimum;
    c->maximum = maximum;
}

void HeadlessView::setValue(const std::string& control, int value)
{
    Control* c = find(control, "setValue");
    if (!c)
        return;
    if (c->def->kind != ControlKind::ProgressBar) {
        ADD_FAILURE() << m_def.name << "." << control << " is not a progress bar";
        return;
    }
    // The toolkits would show something else than asked (Qt ignores the value, Win32 clamps it).
    if (value < c->minimum || value > c->maximum)
        ADD_FAILURE() << m_def.name << "." << control << ": value " << value << " outside " << c->minimum
                      << ".." << c->maximum;
    c->value = value;
    changed(control);
}

int HeadlessView::value(const std::string& control) const
{
    const Control* c = find(control, "value");
    return c ? c->value : 0;
}

} // namespace morvandell::test
