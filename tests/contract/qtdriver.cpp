// The user of the Qt front end: Qt Test's mouse and key events and wheel events on the widgets, on the
// offscreen platform.
#include "frontenddriver.h"

#include "ui/qt/combobox.h"
#include "ui/qt/qtformview.h"
#include "ui/qt/qtfrontend.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QListWidget>
#include <QMenu>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QWheelEvent>

namespace morvandell::contract {
namespace {

using ui::qt::ComboBox;

ui::qt::QtFormView& qt(ui::FormView& view)
{
    return ui::qt::QtFrontEnd::qtView(view);
}

template<typename W = QWidget> W* widget(ui::FormView& view, const std::string& control)
{
    auto* w = qobject_cast<W*>(qt(view).control(control));
    if (!w)
        ADD_FAILURE() << "no such control " << control;
    return w;
}

// What takes the keys now: the open list, else the window's focus.
QWidget* keyTarget(ui::FormView& view)
{
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup->findChild<QAbstractItemView*>() ? popup->findChild<QAbstractItemView*>() : popup;
    QWidget* focus = qt(view).window()->focusWidget();
    return focus ? focus : qt(view).window();
}

class QtDriver final : public FrontEndDriver
{
public:
    ui::FrontEnd& frontEnd() override { return m_frontEnd; }
    void settle(std::chrono::milliseconds time) override { QTest::qWait(int(time.count())); }
    void activate(ui::FormView& view) override
    {
        view.showWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(qt(view).window()));
    }

    void click(ui::FormView& view, const std::string& control) override
    {
        if (QWidget* w = widget(view, control))
            QTest::mouseClick(w, Qt::LeftButton);
    }
    void clickLine(ui::FormView& view, const std::string& list, int line) override
    {
        if (auto* w = widget<QListWidget>(view, list))
            QTest::mouseClick(w->viewport(), Qt::LeftButton, {}, w->visualItemRect(w->item(line)).center());
    }
    void focus(ui::FormView& view, const std::string& control) override
    {
        if (QWidget* w = widget(view, control))
            w->setFocus(Qt::OtherFocusReason);
    }
    void typeOver(ui::FormView& view, const std::string& control, const std::string& text) override
    {
        focus(view, control);
        QTest::keyClick(keyTarget(view), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(keyTarget(view), QString::fromStdString(text));
    }
    void press(ui::FormView& view, const Key& key) override
    {
        shortcut(view, key == "Enter" ? "Return" : key == "Escape" ? "Esc" : key);
    }
    void shortcut(ui::FormView& view, const std::string& keys) override
    {
        const QKeySequence sequence(QString::fromStdString(keys));
        EXPECT_EQ(sequence.count(), 1) << keys;
        const QKeyCombination k = sequence[0];
        QTest::keyClick(keyTarget(view), k.key(), k.keyboardModifiers());
    }
    void wheel(ui::FormView& view, const std::string& control) override
    {
        QWidget* w = widget(view, control);
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &event);
    }
    void openList(ui::FormView& view, const std::string& combo) override
    {
        auto* c = widget<ComboBox>(view, combo);
        QStyleOptionComboBox option;
        option.initFrom(c);
        option.editable = true;
        option.subControls = QStyle::SC_All;
        const QRect arrow = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, c);
        QTest::mouseClick(c, Qt::LeftButton, {}, arrow.center());
        EXPECT_TRUE(c->view()->isVisible()) << combo << ": the arrow did not open the list";
    }
    void clickEntry(ui::FormView& view, const std::string& combo, int index) override
    {
        auto* c = widget<ComboBox>(view, combo);
        QTest::qWait(QApplication::doubleClickInterval() + 50); // else the release counts as the opening click's
        const QRect entry = c->view()->visualRect(c->model()->index(index, 0));
        QTest::mouseClick(c->view()->viewport(), Qt::LeftButton, {}, entry.center());
    }
    void chooseFromMenu(ui::FormView& view, const std::string& control, int entry) override
    {
        QWidget* over = control.empty() ? keyTarget(view) : widget(view, control);
        QContextMenuEvent event(QContextMenuEvent::Keyboard, over->rect().center(),
                                over->mapToGlobal(over->rect().center()));
        QApplication::sendEvent(over, &event);
        if (!QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }, 500)) {
            ADD_FAILURE() << "no menu opened";
            return;
        }
        for (int i = 0; i <= entry; ++i)
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
    }
    void closeBox(ui::FormView& view) override { qt(view).window()->close(); }
    void resize(ui::FormView& view, int width, int height) override
    {
        qt(view).window()->resize(width / 15, height / 15);
    }

    std::string focused(ui::FormView& view) override
    {
        for (QWidget* w = qt(view).window()->focusWidget(); w; w = w->parentWidget())
            if (qt(view).control(w->objectName().toStdString()) == w)
                return w->objectName().toStdString();
        return {};
    }
    int shownEntries(ui::FormView& view, const std::string& combo) override
    {
        auto* c = widget<ComboBox>(view, combo);
        int whole = 0;
        for (int i = 0; c->view()->isVisible() && i < c->count(); ++i)
            whole += c->view()->viewport()->rect().contains(c->view()->visualRect(c->model()->index(i, 0)));
        return whole;
    }
    bool busyCursor(ui::FormView&) override
    {
        return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    }
    int clientWidth(ui::FormView& view) override { return qt(view).window()->width() * 15; }
    int clientHeight(ui::FormView& view) override { return qt(view).window()->height() * 15; }

private:
    ui::qt::QtFrontEnd m_frontEnd;
};

} // namespace

std::unique_ptr<FrontEndDriver> makeDriver()
{
    return std::make_unique<QtDriver>();
}

} // namespace morvandell::contract

// The application lives as long as the tests; the driver goes before it (the tests' environment).
int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
