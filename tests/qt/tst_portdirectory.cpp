// The live port list in the control window: rebuilt each time it drops down, the selected entry kept
// when its device goes. (The port directory itself is tested in tests/core/portdirectory_test.cpp.)
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "testsupport.h"

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
    QVERIFY(QFile::link(QString::fromStdString(first.slavePath()), one));
    Windows w;
    const auto form = w.makeForm(std::make_shared<const PortDirectory>(
        std::map<int, std::string>{{1, one.toStdString()}, {2, two.toStdString()}},
        [] { return std::vector<PortInfo>{}; }));
    Form1& f = *form;
    ComboBox* list = combo(f, "Combo5");
    auto entries = [&] {
        QStringList all;
        for (int i = 0; i < list->count(); ++i)
            all << list->itemText(i);
        return all.join(QLatin1Char(','));
    };
    QCOMPARE(entries(), QStringLiteral("Com #1"));

    QVERIFY(QFile::link(QString::fromStdString(second.slavePath()), two));
    list->showPopup();
    list->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1,Com #2"));
    QCOMPARE(list->text(), QStringLiteral("Port"));
    QVERIFY(list->itemData(1, Qt::ToolTipRole).toString().contains(QString::fromStdString(second.slavePath())));

    // The selected entry stays when its device goes; Connect says it is not there.
    pick(list, 0);
    QVERIFY(QFile::remove(one));
    QVERIFY(QFile::remove(two));
    list->showPopup();
    list->hidePopup();
    QCOMPARE(entries(), QStringLiteral("Com #1"));
    QCOMPARE(list->listIndex(), 0);
    control<QPushButton>(f, "Command3")->click();
    QCOMPARE(w.dialogs.messages.size(), size_t(1));
    QVERIFY2(w.dialogs.hasMessage("beim Programmstart"), w.dialogs.allMessages().c_str());
}

QTEST_MAIN(TestPortDirectory)
#include "tst_portdirectory.moc"
