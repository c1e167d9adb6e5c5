// One whole working session in one process, as a user has it: connect, read the log definitions, assign
// every slot, write, change the default view, reset, then update the firmware and close both windows.
// Under the sanitizer build this is the leak check of a full session.
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
    windowOf(f.view())->show();
    QVERIFY(rig.connect());
    const auto click = [](ui::FormView& view, const char* name) { control<QPushButton>(view, name)->click(); };

    QByteArray xml = "<channels>\n";
    for (int i = 1; i <= 40; ++i)
        xml += "  <channel name=\"Ch" + QByteArray::number(i) + "\" channel=\"" +
               QByteArray::number(i + 100) + "\" unit=\"u" + QByteArray::number(i % 10) + "\" divider=\"" +
               QByteArray::number(i) + "\"/>\n";
    xml += "</channels>\n";
    rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("session.xml"), xml);
    click(f.view(), "Command1");
    for (int k = 1; k <= 8; ++k)
        pick(combo(f, Form1::slotRows()[std::size_t(k)].list), k * 4);
    click(f.view(), "Command2");
    pick(combo(f, "Combo10"), 2);
    click(f.view(), "Command6");
    click(f.view(), "Command5");
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(int(rig.display().receivedFrames().size()), 1 + 9 + 1 + 1);
    const QByteArray record = qbytes(rig.display().records()[0x80]);
    QCOMPARE(record.left(8), QByteArray("Ch33    "));
    QCOMPARE(quint8(record.at(9)), quint8(133));

    click(f.view(), "Command4"); // takes over the connected port
    Form2* u = f.updateWindow();
    QVERIFY(u && u->isWindowVisible() && u->serialPort().isOpen() && !f.serialPort().isOpen());
    QByteArray image(70000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i ^ (i >> 8));
    rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("session.bin"), image);
    click(u->view(), "Command1");
    click(u->view(), "Command2");
    QVERIFY(waitUntil([&] { return u->statusText() == "Fertig."; }, 3000));
    QCOMPARE(qbytes(rig.display().receivedImage()), image + QByteArray(130048 - image.size(), char(0xFF)));

    click(u->view(), "Command3"); // Close
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Please restart."));
    QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Hinweis"));
    QVERIFY(!u->isWindowVisible());
    windowOf(f.view())->close();
    QVERIFY(!f.serialPort().isOpen());
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
