// The Qt front end's own part of the control window: its geometry, fonts and captions, and its menu at a
// right click. The handlers behind them are tested on the headless front end (tests/forms); what keys,
// wheel turns and clicks do to the lists, and how menus and shortcuts are reached, are rules of every
// front end (tests/contract).
#include "control/form1.h"
#include "testsupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <QApplication>
#include <QContextMenuEvent>

using namespace morvandell;
using namespace morvandell::test;

namespace {

void showActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

// The control window's widgets by name, as the tests use them.
struct Controls
{
    explicit Controls(Form1& form)
        : window(windowOf(form.view()))
    {
        const auto c = [&](const char* name) { return control(form, name); };
        Command1 = control<QPushButton>(form, "Command1");
        Command2 = control<QPushButton>(form, "Command2");
        Command3 = control<QPushButton>(form, "Command3");
        Command4 = control<QPushButton>(form, "Command4");
        Command5 = control<QPushButton>(form, "Command5");
        Command6 = control<QPushButton>(form, "Command6");
        Frame1 = control<QGroupBox>(form, "Frame1");
        Frame2 = control<QGroupBox>(form, "Frame2");
        Frame3 = control<QGroupBox>(form, "Frame3");
        Frame4 = control<QGroupBox>(form, "Frame4");
        Label1 = control<QLabel>(form, "Label1");
        List1 = control<QListWidget>(form, "List1");
        for (const char* name : {"Combo1", "Combo4", "Combo5", "Combo6", "Combo9", "Combo10", "Combo11", "Combo12",
                                 "Text1", "Text2", "Text5", "Text9", "Text12", "Text13", "Text16", "Text17"})
            widgets[name] = c(name);
    }
    QWidget* operator[](const char* name) const { return widgets.value(QString::fromLatin1(name)); }
    QWidget* window;
    QPushButton *Command1, *Command2, *Command3, *Command4, *Command5, *Command6;
    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4;
    QLabel* Label1;
    QListWidget* List1;
    QMap<QString, QWidget*> widgets;
};

} // namespace

class TestQtControls : public QObject
{
    Q_OBJECT
private slots:
    void theWindowStartsAsDescribedWithReadableCaptions();
    void aRightClickOnAFrameOpensTheWindowsMenu();
};

void TestQtControls::theWindowStartsAsDescribedWithReadableCaptions()
{
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Controls f(*form);
    QCOMPARE(f.window->size(), QSize(334, 422));
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Morvandell:"));
    // Twips / 15 within the control's container.
    const QList<std::pair<QWidget*, QRect>> places{
        {f.Command1, {8, 0, 321, 25}},   {f.Frame1, {8, 32, 225, 113}},    {f["Combo1"], {8, 16, 100, 21}},
        {f["Text1"], {112, 16, 65, 19}},    {f["Text5"], {184, 16, 33, 19}},     {f["Combo4"], {8, 88, 100, 21}},
        {f.Frame2, {8, 144, 225, 113}},  {f["Combo6"], {8, 16, 100, 21}},     {f["Text16"], {112, 16, 65, 19}},
        {f["Text12"], {184, 16, 33, 19}},   {f["Combo9"], {8, 88, 100, 21}},     {f["Text13"], {112, 88, 65, 19}},
        {f["Text9"], {184, 88, 33, 19}},    {f.Command2, {240, 40, 89, 217}}, {f.Frame4, {8, 256, 225, 65}},
        {f.Label1, {8, 16, 97, 17}},     {f["Combo10"], {112, 16, 105, 21}},  {f["Combo11"], {8, 40, 97, 21}},
        {f["Combo12"], {112, 40, 49, 21}},  {f["Text17"], {168, 40, 49, 19}},    {f.Command6, {240, 264, 89, 57}},
        {f.Frame3, {8, 320, 321, 97}},   {f["Combo5"], {8, 16, 65, 21}},      {f.Command3, {80, 16, 65, 25}},
        {f.Command5, {152, 16, 65, 25}}, {f.Command4, {224, 16, 89, 25}},  {f.List1, {8, 48, 305, 43}}};
    for (const auto& [w, rect] : places) {
        QVERIFY2(w->geometry() == rect, qPrintable(w->objectName()));
        QCOMPARE(w->font().pointSizeF(), 8.25);
        const bool bold = qobject_cast<QGroupBox*>(w) || w == f.List1;
        QVERIFY2(w->font().bold() == bold, qPrintable(w->objectName()));
    }
    QCOMPARE(f.Command1->toolTip(), QStringLiteral("Version.xml der verwendeten Firmware wählen!"));
    for (QWidget* disabled : std::initializer_list<QWidget*>{f["Combo11"], f["Combo12"], f["Text17"]})
        QVERIFY(!disabled->isEnabled());

    const auto fits = [](QWidget* w, const QString& text, int margin) {
        return w->fontMetrics().horizontalAdvance(text) + margin <= w->width();
    };
    for (QPushButton* b : {f.Command1, f.Command3, f.Command4, f.Command5})
        QVERIFY2(fits(b, b->text(), 8), qPrintable(b->text()));
    for (QPushButton* b : {f.Command2, f.Command6}) // these wrap: every word must fit
        for (const QString& word : b->text().split(QLatin1Char(' ')))
            QVERIFY2(fits(b, word, 8), qPrintable(word));
    QVERIFY(fits(f.Label1, f.Label1->text(), 0));
    for (QGroupBox* g : {f.Frame1, f.Frame2, f.Frame3, f.Frame4})
        QVERIFY2(fits(g, g->title(), 16), qPrintable(g->title()));
}

// A right click on a group box's free area opens the window's menu, each entry with its shortcut.
void TestQtControls::aRightClickOnAFrameOpensTheWindowsMenu()
{
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Controls f(*form);
    showActive(f.window);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), f.Frame4->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(f.Frame4, &event);
    auto* menu = f.window->findChild<QMenu*>();
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->actions().size(), 3);
    const QStringList entries{QStringLiteral("Profil speichern… Ctrl+S"),
                              QStringLiteral("Profil laden… Ctrl+O"), QStringLiteral("Hilfe F1")};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(menu->actions()[i]->text() + ' ' + menu->actions()[i]->shortcut().toString(), entries[i]);
    menu->actions()[0]->trigger(); // Cancel in the dialog: nothing happens
    QCOMPARE(w.dialogs.fileRequests.size(), size_t(1));
    QVERIFY(w.dialogs.messages.empty());
    menu->close();
}

QTEST_MAIN(TestQtControls)
#include "tst_qtcontrols.moc"
