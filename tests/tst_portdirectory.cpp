// The live port list in the control window: rebuilt each time it drops down, the selected entry kept
// when its device goes. (The port directory itself is tested in tests/core/portdirectory_test.cpp.)
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "testsupport.h"
#include "ui/combobox.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace morvandell;
using namespace morvandell::test;

class TestPortDirectory : public QObject
{
    Q_OBJECT
private slots:
    void portListIsRebuiltWhenOpened();
};

void TestPortDirectory::portListIsRebuiltWhenOpened()
{
    // Two mapped links to pseudo-terminals; the second appears only after start-up.
    PtyPair first, second;
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("one")), two = dir.filePath(QStringLiteral("two"));
    QVERIFY(QFile::link(first.slavePath(), one));
    ScriptedDialogs dialogs;
    Form1 form(std::make_shared<const PortDirectory>(QMap<int, QString>{{1, one}, {2, two}},
                                                     [] { return QList<PortInfo>{}; }),
               &dialogs);
    auto entries = [&] {
        QStringList all;
        for (int i = 0; i < form.Combo5->count(); ++i)
            all << form.Combo5->itemText(i);
        return all.join(QLatin1Char(','));
    };
    QCOMPARE(entries(), QStringLiteral("Com #1"));

    QVERIFY(QFile::link(second.slavePath(), two));
    form.Combo5->showPopup();
    form.Combo5->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1,Com #2"));
    QCOMPARE(form.Combo5->text(), QStringLiteral("Port"));
    QVERIFY(form.Combo5->itemData(1, Qt::ToolTipRole).toString().contains(second.slavePath()));

    // The selected entry stays when its device goes; Connect says it is not there.
    pick(form.Combo5, 0);
    QVERIFY(QFile::remove(one));
    QVERIFY(QFile::remove(two));
    form.Combo5->showPopup();
    form.Combo5->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1"));
    QCOMPARE(form.Combo5->listIndex(), 0);
    form.Command3->click();
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY2(dialogs.messages[0].text.contains(QLatin1String("beim Programmstart")),
             qPrintable(dialogs.allMessages()));
}

QTEST_MAIN(TestPortDirectory)
#include "tst_portdirectory.moc"
