#include "ui/qt/qtformview.h"

#include "ui/qt/combobox.h"
#include "ui/qt/windowstyle.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <vector>

namespace morvandell::ui::qt {

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string s(const QString& q)
{
    return q.toStdString();
}

// Port-list-sized fields that must show their whole entry beside the arrow get the narrow cut.
constexpr int NarrowComboTwips = 1000;

} // namespace

struct QtFormView::Private
{
    FormEvents& events;
    QPointer<Window> window;
    std::map<std::string, QWidget*> controls;
    std::map<std::string, ControlKind> kinds;
    std::map<std::string, std::uint32_t> backColors;
    std::vector<std::pair<std::string, QAction*>> windowActions;
    std::map<std::string, QAction*> controlShortcuts; // entries of controls' menus that have a shortcut
    std::map<std::string, std::vector<MenuItemSpec>> controlMenus;
    int quiet = 0; // > 0 while a FormView call runs: what it changes raises no event
    bool destroying = false;
    int busy = 0;

    explicit Private(FormEvents& e)
        : events(e)
    {}

    bool forwarding() const { return quiet == 0 && !destroying; }

    struct Quiet
    {
        explicit Quiet(Private& p)
            : p(p)
        {
            ++p.quiet;
        }
        ~Quiet() { --p.quiet; }
        Private& p;
    };

    QWidget* find(const std::string& name) const
    {
        const auto it = controls.find(name);
        return it == controls.end() ? nullptr : it->second;
    }
    template<typename W> W* as(const std::string& name) const { return qobject_cast<W*>(find(name)); }

    void showMenu(QWidget* over, const QPoint& globalPos, const std::vector<MenuItemSpec>& items);
};

class QtFormView::Window final : public QWidget
{
public:
    explicit Window(QtFormView::Private& d)
        : d(d)
    {}

    QtFormView::Private& d;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (d.destroying) {
            event->accept();
            return;
        }
        if (!d.events.closeRequested()) {
            event->ignore();
            return;
        }
        event->accept();
        d.events.unload();
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (d.windowActions.empty()) {
            event->ignore();
            return;
        }
        std::vector<MenuItemSpec> none;
        d.showMenu(this, event->globalPos(), none);
        event->accept();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A right click on a list with a menu of its own opens that menu; it must not pick a line.
        if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
            static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
            return true;
        return QWidget::eventFilter(watched, event);
    }
};

void QtFormView::Private::showMenu(QWidget* over, const QPoint& globalPos, const std::vector<MenuItemSpec>& items)
{
    // Opened without a loop of its own: a wait that runs underneath keeps taking answers.
    auto* menu = new QMenu(over);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (items.empty()) {
        for (auto& [id, action] : windowActions) {
            action->setEnabled(events.commandEnabled(id));
            menu->addAction(action);
        }
    } else {
        for (const MenuItemSpec& item : items) {
            if (const auto shortcut = controlShortcuts.find(item.id); shortcut != controlShortcuts.end()) {
                shortcut->second->setEnabled(events.commandEnabled(item.id));
                menu->addAction(shortcut->second);
                continue;
            }
            QAction* action = menu->addAction(q(item.text));
            action->setEnabled(events.commandEnabled(item.id));
            const std::string id = item.id;
            QObject::connect(action, &QAction::triggered, menu, [this, id] {
                if (forwarding())
                    events.command(id);
            });
        }
    }
    menu->popup(globalPos);
}

QtFormView::QtFormView(const FormSpec& def, FormEvents& events)
    : d(std::make_unique<Private>(events))
{
    auto* w = new Window(*d);
    d->window = w;
    w->setObjectName(q(def.name));
    w->setWindowTitle(q(def.caption));
    w->setFont(windowFont());
    if (def.fixedSize) {
        w->setFixedSize(twips(def.clientWidth), twips(def.clientHeight));
    } else {
        w->resize(twips(def.clientWidth), twips(def.clientHeight));
        w->setMinimumSize(w->size());
    }
    const QFont bold = windowFont(true);
    const QFont regular = windowFont(false);

    // Created in the table's order, which is the tab order.
    for (const ControlSpec& c : def.controls) {
        QWidget* parent = c.container.empty() ? static_cast<QWidget*>(w) : d->find(c.container);
        if (!parent)
            parent = w;
        QWidget* widget = nullptr;
        const std::string name = c.name;
        switch (c.kind) {
        case ControlKind::Button: {
            QPushButton* b = c.wrap ? new WrapButton(parent) : new QPushButton(parent);
            b->setText(q(c.text));
            QObject::connect(b, &QPushButton::clicked, b, [this, name] {
                if (d->forwarding())
                    d->events.click(name);
            });
            widget = b;
            break;
        }
        case ControlKind::Frame: {
            auto* g = new QGroupBox(parent);
            g->setTitle(q(c.text));
            widget = g;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new ComboBox(parent);
            combo->setText(q(c.text));
            QObject::connect(combo, &ComboBox::clicked, combo, [this, name] {
                if (d->forwarding())
                    d->events.click(name);
            });
            QObject::connect(combo, &ComboBox::aboutToShowPopup, combo, [this, name] {
                if (d->forwarding())
                    d->events.dropDown(name);
            });
            widget = combo;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(parent);
            if (c.maxLength > 0)
                edit->setMaxLength(c.maxLength);
            edit->setText(q(c.text));
            widget = edit;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setText(q(c.text));
            widget = label;
            break;
        }
        case ControlKind::ListBox: {
            auto* list = new QListWidget(parent);
            list->setSortingEnabled(c.sorted);
            // The list's Click is a selection change: a pick with the mouse or the keys.
            QObject::connect(list, &QListWidget::itemSelectionChanged, list, [this, name, list] {
                if (d->forwarding() && !list->selectedItems().isEmpty())
                    d->events.click(name);
            });
            widget = list;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(true);
            bar->setAlignment(Qt::AlignCenter);
            bar->setFormat(q(c.text));
            widget = bar;
            break;
        }
        }
        widget->setObjectName(q(c.name));
        widget->setGeometry(twips(c.geometry.left), twips(c.geometry.top), twips(c.geometry.width),
                            twips(c.geometry.height));
        // Group captions bold, their contents regular unless they say otherwise.
        if (c.bold)
            widget->setFont(bold);
        else if (c.kind == ControlKind::ComboBox && c.geometry.width < NarrowComboTwips && c.enabled)
            widget->setFont(narrowWindowFont());
        else
            widget->setFont(regular);
        if (!c.toolTip.empty())
            widget->setToolTip(q(c.toolTip));
        if (!c.accessibleName.empty())
            widget->setAccessibleName(q(c.accessibleName));
        widget->setEnabled(c.enabled);
        widget->setVisible(c.visible);
        d->controls[c.name] = widget;
        d->kinds[c.name] = c.kind;
        if (c.backColor)
            setBackColor(c.name, c.backColor);
    }

    // Every shortcut works anywhere in the window, whichever menu shows its entry.
    const auto windowAction = [&](const MenuItemSpec& item) {
        auto* action = new QAction(q(item.text), w);
        action->setObjectName(q(item.id));
        if (!item.shortcut.empty()) {
            action->setShortcut(QKeySequence(q(item.shortcut)));
            action->setShortcutContext(Qt::WindowShortcut);
        }
        w->addAction(action);
        const std::string id = item.id;
        QObject::connect(action, &QAction::triggered, w, [this, id] {
            if (d->forwarding() && d->events.commandEnabled(id))
                d->events.command(id);
        });
        return action;
    };
    for (const MenuItemSpec& item : def.windowMenu)
        d->windowActions.emplace_back(item.id, windowAction(item));
    for (const auto& [controlName, items] : def.controlMenus)
        for (const MenuItemSpec& item : items)
            if (!item.shortcut.empty() && !d->controlShortcuts.count(item.id))
                d->controlShortcuts[item.id] = windowAction(item);
    for (const auto& [controlName, items] : def.controlMenus) {
        QWidget* widget = d->find(controlName);
        if (!widget)
            continue;
        d->controlMenus[controlName] = items;
        widget->setContextMenuPolicy(Qt::CustomContextMenu);
        QWidget* surface = widget;
        if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
            surface = view->viewport();
            surface->installEventFilter(w);
        }
        const std::string menuOf = controlName;
        QObject::connect(widget, &QWidget::customContextMenuRequested, widget,
                         [this, menuOf, surface](const QPoint& at) {
                             if (d->forwarding())
                                 d->showMenu(d->window, surface->mapToGlobal(at), d->controlMenus[menuOf]);
                         });
    }
}

QtFormView::~QtFormView()
{
    d->destroying = true;
    while (d->busy > 0) {
        QApplication::restoreOverrideCursor();
        --d->busy;
    }
    delete d->window.data();
}

QWidget* QtFormView::window() const
{
    return d->window;
}

QWidget* QtFormView::control(const std::string& name) const
{
    return d->find(name);
}

QAction* QtFormView::action(const std::string& id) const
{
    for (const auto& [actionId, a] : d->windowActions)
        if (actionId == id)
            return a;
    return nullptr;
}

// --- the window --------------------------------------------------------------------------------------

void QtFormView::setCaption(const std::string& caption)
{
    d->window->setWindowTitle(q(caption));
}

std::string QtFormView::caption() const
{
    return s(d->window->windowTitle());
}

void QtFormView::showWindow()
{
    Private::Quiet quiet(*d);
    QWidget* w = d->window;
    const bool wasVisible = w->isVisible();
    w->show();
    if (wasVisible) {
        // Already open somewhere behind or minimised: bring it forward.
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        w->raise();
    }
    w->activateWindow();
}

void QtFormView::hideWindow()
{
    Private::Quiet quiet(*d);
    d->window->hide();
}

bool QtFormView::isWindowVisible() const
{
    return d->window->isVisible();
}

// --- every control -----------------------------------------------------------------------------------

std::string QtFormView::text(const std::string& control) const
{
    QWidget* w = d->find(control);
    if (auto* b = qobject_cast<QPushButton*>(w))
        return s(b->text());
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return s(g->title());
    if (auto* c = qobject_cast<ComboBox*>(w))
        return s(c->text());
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return s(e->text());
    if (auto* l = qobject_cast<QLabel*>(w))
        return s(l->text());
    if (auto* list = qobject_cast<QListWidget*>(w))
        return list->currentItem() ? s(list->currentItem()->text()) : std::string();
    if (auto* bar = qobject_cast<QProgressBar*>(w))
        return s(bar->format());
    return {};
}

void QtFormView::setText(const std::string& control, const std::string& text)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* b = qobject_cast<QPushButton*>(w))
        b->setText(q(text));
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(q(text));
    else if (auto* c = qobject_cast<ComboBox*>(w))
        c->setText(q(text));
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(q(text));
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(q(text));
    else if (auto* bar = qobject_cast<QProgressBar*>(w))
        bar->setFormat(q(text));
}

bool QtFormView::isEnabled(const std::string& control) const
{
    QWidget* w = d->find(control);
    return w && w->isEnabled();
}

void QtFormView::setEnabled(const std::string& control, bool enabled)
{
    Private::Quiet quiet(*d);
    if (QWidget* w = d->find(control))
        w->setEnabled(enabled);
}

void QtFormView::setToolTip(const std::string& control, const std::string& toolTip)
{
    if (QWidget* w = d->find(control))
        w->setToolTip(q(toolTip));
}

void QtFormView::setFocus(const std::string& control)
{
    Private::Quiet quiet(*d);
    if (QWidget* w = d->find(control))
        w->setFocus(Qt::OtherFocusReason);
}

void QtFormView::setBackColor(const std::string& control, std::optional<std::uint32_t> rgb)
{
    QWidget* w = d->find(control);
    if (!w)
        return;
    if (rgb) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Window, QColor::fromRgb(QRgb(*rgb)));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
        d->backColors[control] = *rgb;
    } else {
        w->setAutoFillBackground(false);
        w->setPalette(QPalette());
        d->backColors.erase(control);
    }
}

std::optional<std::uint32_t> QtFormView::backColor(const std::string& control) const
{
    const auto it = d->backColors.find(control);
    if (it == d->backColors.end())
        return std::nullopt;
    return it->second;
}

void QtFormView::setBusy(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++d->busy;
    } else if (d->busy > 0) {
        QApplication::restoreOverrideCursor();
        --d->busy;
    }
}

// --- lists -------------------------------------------------------------------------------------------

void QtFormView::addItem(const std::string& control, const std::string& text, const std::string& toolTip)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* c = qobject_cast<ComboBox*>(w)) {
        c->appendItem(q(text));
        if (!toolTip.empty())
            c->setItemData(c->count() - 1, q(toolTip), Qt::ToolTipRole);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->addItem(q(text));
        if (!toolTip.empty())
            list->item(list->count() - 1)->setToolTip(q(toolTip));
    }
}

void QtFormView::insertItem(const std::string& control, int index, const std::string& text)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->insertItem(index, q(text));
    } else if (auto* c = qobject_cast<ComboBox*>(w)) {
        const int selected = c->listIndex();
        const QString shown = c->text();
        c->insertItem(index, q(text));
        c->setListIndex(selected >= index ? selected + 1 : selected);
        if (selected < 0)
            c->setText(shown);
    }
}

void QtFormView::removeItem(const std::string& control, int index)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        delete list->takeItem(index);
    } else if (auto* c = qobject_cast<ComboBox*>(w)) {
        const int selected = c->listIndex();
        const QString shown = c->text();
        c->removeItem(index);
        if (selected == index || selected < 0) {
            c->setText(shown);
        } else {
            c->setListIndex(selected > index ? selected - 1 : selected);
        }
    }
}

void QtFormView::clearItems(const std::string& control)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->clear();
    } else if (auto* c = qobject_cast<ComboBox*>(w)) {
        // The edit field keeps its text.
        const QString shown = c->text();
        c->clearList();
        c->setText(shown);
    }
}

int QtFormView::itemCount(const std::string& control) const
{
    QWidget* w = d->find(control);
    if (auto* list = qobject_cast<QListWidget*>(w))
        return list->count();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->count();
    return 0;
}

std::string QtFormView::itemText(const std::string& control, int index) const
{
    QWidget* w = d->find(control);
    if (auto* list = qobject_cast<QListWidget*>(w))
        return list->item(index) ? s(list->item(index)->text()) : std::string();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return s(c->itemText(index));
    return {};
}

int QtFormView::listIndex(const std::string& control) const
{
    QWidget* w = d->find(control);
    if (auto* c = qobject_cast<ComboBox*>(w))
        return c->listIndex();
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        const auto selected = list->selectedItems();
        return selected.isEmpty() ? -1 : list->row(selected.first());
    }
    return -1;
}

void QtFormView::setListIndex(const std::string& control, int index)
{
    Private::Quiet quiet(*d);
    QWidget* w = d->find(control);
    if (auto* c = qobject_cast<ComboBox*>(w))
        c->setListIndex(index);
    else if (auto* list = qobject_cast<QListWidget*>(w))
        list->setCurrentRow(index);
}

// --- progress bars -----------------------------------------------------------------------------------

// A value outside the range stands at the nearer end (QProgressBar would ignore it, or forget the value
// that stands when a new range leaves it outside).
void QtFormView::setRange(const std::string& control, int minimum, int maximum)
{
    if (auto* bar = d->as<QProgressBar>(control)) {
        const int standing = bar->value();
        bar->setRange(minimum, maximum);
        bar->setValue(std::clamp(standing, bar->minimum(), bar->maximum()));
    }
}

void QtFormView::setValue(const std::string& control, int value)
{
    if (auto* bar = d->as<QProgressBar>(control))
        bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}

int QtFormView::value(const std::string& control) const
{
    if (auto* bar = d->as<QProgressBar>(control))
        return bar->value();
    return 0;
}

} // namespace morvandell::ui::qt
