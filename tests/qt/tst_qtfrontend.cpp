// What the Qt front end does with a window's definition and its view's calls, on the control window: the
// widgets carry the limits, entry tool tips and menus that the handlers' tests (tests/forms) check on the
// headless front end.
#include "control/form1.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;

class TestQtFrontEnd : public QObject
{
    Q_OBJECT
private slots:
    void theWidgetsCarryTheDefinitionAndTheView()
    {
        QtPty pty;
        Windows w;
        const auto form = w.makeForm(directoryOf(QMap<int, QString>{{3, pty.slavePath()}}));
        // Text boxes take at most their maxLength characters.
        QCOMPARE(control<QLineEdit>(*form, "Text1")->maxLength(), 8);
        QCOMPARE(control<QLineEdit>(*form, "Text5")->maxLength(), 3);
        QTest::keyClicks(control<QLineEdit>(*form, "Text16"), QStringLiteral("Drehzahl1"));
        QCOMPARE(control<QLineEdit>(*form, "Text16")->text(), QStringLiteral("Drehzahl"));
        // A port entry's tool tip names its device.
        ComboBox* ports = combo(*form, "Combo5");
        QCOMPARE(ports->count(), 1);
        QVERIFY2(ports->itemData(0, Qt::ToolTipRole).toString().contains(pty.slavePath()),
                 qPrintable(ports->itemData(0, Qt::ToolTipRole).toString()));
        // The log has a context menu of its own (the connection trace).
        QCOMPARE(control<QListWidget>(*form, "List1")->contextMenuPolicy(), Qt::CustomContextMenu);
    }
};

QTEST_MAIN(TestQtFrontEnd)
#include "tst_qtfrontend.moc"
