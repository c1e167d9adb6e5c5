// One whole working session in one process, as a user has it: connect, read the log definitions, assign
// every slot, write, change the default view, reset, then update the firmware and close both windows.
// Under the sanitizer build this is the leak check of a full session.
#include "ui/combobox.h"
#include "control/form1.h"
#include "serial/serialservice.h"
#include "testsupport.h"
#include "updater/form2.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void configureAndUpdate();
};

void TestSession::configureAndUpdate()
{
    ControlRig rig;
    Form1& f = *rig.form;
    f.show();
    QVERIFY(rig.connect());

    QByteArray xml = "<channels>\n";
    for (int i = 1; i <= 40; ++i)
        xml += "  <channel name=\"Ch" + QByteArray::number(i) + "\" channel=\"" +
               QByteArray::number(i + 100) + "\" unit=\"u" + QByteArray::number(i % 10) + "\" divider=\"" +
               QByteArray::number(i) + "\"/>\n";
    xml += "</channels>\n";
    rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("session.xml"), xml);
    f.Command1->click();
    for (int k = 1; k <= 8; ++k)
        pick(f.slotRows[k].list, k * 4);
    f.Command2->click();
    pick(f.Combo10, 2);
    f.Command6->click();
    f.Command5->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(rig.display().receivedFrames().size(), 1 + 9 + 1 + 1);
    QCOMPARE(rig.display().records().value(0x80).left(8), QByteArray("Ch33    "));
    QCOMPARE(quint8(rig.display().records().value(0x80).at(9)), quint8(133));

    f.Command4->click(); // takes over the connected port
    Form2* u = f.updateWindow();
    QVERIFY(u && u->isVisible() && u->serialPort().isOpen() && !f.serialPort().isOpen());
    QByteArray image(70000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i ^ (i >> 8));
    rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("session.bin"), image);
    u->Command1->click();
    u->Command2->click();
    QVERIFY(waitUntil([&] { return u->statusText() == QLatin1String("Fertig."); }, 3000));
    QCOMPARE(rig.display().receivedImage(), image + QByteArray(130048 - image.size(), char(0xFF)));

    u->Command3->click(); // Close
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please restart."));
    QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Hinweis"));
    QVERIFY(!u->isVisible());
    f.close();
    QVERIFY(!f.serialPort().isOpen());
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
