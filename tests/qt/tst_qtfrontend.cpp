// What the Qt front end does with a window's definition and its view's calls: the widgets carry the
// entry tool tips, menus, places, tab order and fonts that the handlers' tests (tests/forms) check on
// the headless front end, and a disabled button's tool tip shows. The limits of text boxes are rules of
// every front end: tests/contract.
#include "control/form1.h"
#include "testsupport.h"
#include "updater/form2.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include <algorithm>

using namespace morvandell;
using namespace morvandell::test;

class TestQtFrontEnd : public QObject
{
    Q_OBJECT
private slots:
    void theWidgetsCarryTheDefinitionAndTheView()
    {
        PtyPair pty;
        Windows w;
        const auto form = w.makeForm(directoryOf(QMap<int, QString>{{3, QString::fromStdString(pty.slavePath())}}));
        // A port entry's tool tip names its device.
        ComboBox* ports = combo(*form, "Combo5");
        QCOMPARE(ports->count(), 1);
        QVERIFY2(ports->itemData(0, Qt::ToolTipRole).toString().contains(QString::fromStdString(pty.slavePath())),
                 qPrintable(ports->itemData(0, Qt::ToolTipRole).toString()));
        // The log has a context menu of its own (the connection trace).
        QCOMPARE(control<QListWidget>(*form, "List1")->contextMenuPolicy(), Qt::CustomContextMenu);
        // A disabled button still shows its tool tip: it says why it is disabled.
        form->view().setToolTip("Command2", Form1::UnavailableDuringUpdate);
        form->view().setEnabled("Command2", false);
        windowOf(form->view())->show();
        QWidget* button = control(*form, "Command2");
        QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &hover);
        QTRY_COMPARE(QToolTip::text(), QString::fromUtf8(Form1::UnavailableDuringUpdate));
    }

    void theUpdateWindowIsPlacedAsItsTableSaysWithReadableCaptions()
    {
        PtyPair pty;
        Windows w;
        const auto form = w.makeForm(directoryOf(QMap<int, QString>{{3, QString::fromStdString(pty.slavePath())}}));
        control<QPushButton>(*form, "Command4")->click(); // the port prompt cancelled
        Form2* f = form->updateWindow();
        QWidget* window = windowOf(f->view());
        QVERIFY(window->isWindow() && window->isVisible() && !window->isModal());
        QCOMPARE(window->size(), QSize(264, 127));
        const auto button = [f](const char* name) { return control<QPushButton>(f->view(), name); };
        QProgressBar* bar = control<QProgressBar>(f->view(), "ProgressBar1");
        QLabel* status = control<QLabel>(f->view(), "Label1");
        const QList<std::pair<QWidget*, QRect>> places{
            {button("Command1"), {8, 8, 121, 25}},   {button("Command2"), {8, 40, 121, 25}},
            {button("Command3"), {136, 8, 121, 25}}, {button("Command4"), {288, 8, 121, 25}},
            {button("Command5"), {136, 40, 121, 25}}, {status, {8, 72, 121, 17}},
            {bar, {8, 96, 249, 25}}};
        QList<QWidget*> chain;
        for (QWidget* w = button("Command1"); chain.size() < places.size(); w = w->nextInFocusChain())
            if (std::any_of(places.begin(), places.end(), [w](auto& p) { return p.first == w; }))
                chain << w;
        for (int i = 0; i < places.size(); ++i) {
            QCOMPARE(chain[i], places[i].first); // tab order as listed
            QCOMPARE(places[i].first->geometry(), places[i].second);
            QCOMPARE(places[i].first->font().pointSizeF(), 8.25);
        }
        const auto fits = [](QWidget* w, const QString& text) {
            return w->fontMetrics().horizontalAdvance(text) + 8 <= w->width();
        };
        for (const char* name : {"Command1", "Command2", "Command3", "Command4", "Command5"})
            QVERIFY2(fits(button(name), button(name)->text()), name);
        QVERIFY(fits(status, QStringLiteral("Übertragen.")));
        QVERIFY(fits(bar, QStringLiteral("100 % · Block 1016/1016 · noch 10:00")));
    }
};

QTEST_MAIN(TestQtFrontEnd)
#include "tst_qtfrontend.moc"
