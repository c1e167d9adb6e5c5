// Faults during a firmware update: the device vanishing at each stage, answers around the time limits,
// a port held by another program. The simulated display answers from its own thread over a pty.
#include "control/form1.h"
#include "serial/serialservice.h"
#include "testsupport.h"
#include "updater/form2.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

namespace {

// Opens the update window on port 3 (typed at its prompt) and loads an image of `size` bytes.
Form2* openWithImage(ControlRig& rig, int size)
{
    rig.dialogs.promptAnswers << QStringLiteral("3");
    Form2* f = rig.openUpdateWindow();
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(i * 7 + 3);
    rig.dialogs.fileAnswers << writeTempFile(QStringLiteral("fault%1.bin").arg(size), image);
    control<QPushButton>(f->view(), "Command1")->click();
    return f;
}

} // namespace

class TestUpdateFaults : public QObject
{
    Q_OBJECT
private slots:
    void deviceVanishes_data();
    void deviceVanishes();
    void answersAroundTheTimeLimits_data();
    void answersAroundTheTimeLimits();
    void portHeldByAnotherProgramAtStartUp();
};

void TestUpdateFaults::deviceVanishes_data()
{
    QTest::addColumn<int>("closeAfterFrames");
    QTest::addColumn<int>("closeAfterBlock");
    QTest::addColumn<QString>("told"); // part of the message
    QTest::newRow("during the ready wait") << 1 << -1 << "Com #3";
    QTest::newRow("at block 500") << -1 << 500 << "500 von 1016";
}

void TestUpdateFaults::deviceVanishes()
{
    QFETCH(int, closeAfterFrames);
    QFETCH(int, closeAfterBlock);
    QFETCH(QString, told);
    SimulatorConfig config;
    config.closeAfterFrames = closeAfterFrames;
    config.closeAfterBlock = closeAfterBlock;
    ControlRig rig(config);
    Form2* f = openWithImage(rig, 100000);
    QElapsedTimer clock;
    clock.start();
    control<QPushButton>(f->view(), "Command2")->click();
    QVERIFY2(clock.elapsed() < 4000, "a vanished device ends the update at once, not by a time limit");
    QCOMPARE(rig.dialogs.messages.size(), 1);
    const auto& m = rig.dialogs.messages.first();
    QVERIFY2(m.text.contains(told) && m.text != QLatin1String("Timeout"), qPrintable(m.text));
    QCOMPARE(m.icon, Icon::Error);
    QVERIFY(!QString::fromStdString(f->statusText()).startsWith(QLatin1String("Fertig")));
    QVERIFY(!f->serialPort().isOpen());
    QVERIFY(f->view().isEnabled("Command2") && f->view().isEnabled("Command5"));
    QCOMPARE(rig.display().blocksReceived(), qMax(0, closeAfterBlock));
}

void TestUpdateFaults::answersAroundTheTimeLimits_data()
{
    QTest::addColumn<bool>("ready"); // the ready byte is late, else one acknowledgement
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("timesOut");
    QTest::newRow("ready byte just under 5 s") << true << 4000 << false;
    QTest::newRow("ready byte just over 5 s") << true << 6000 << true;
    QTest::newRow("acknowledgement just under 5 s") << false << 4000 << false;
    QTest::newRow("acknowledgement just over 5 s") << false << 6000 << true;
}

void TestUpdateFaults::answersAroundTheTimeLimits()
{
    QFETCH(bool, ready);
    QFETCH(int, delayMs);
    QFETCH(bool, timesOut);
    SimulatorConfig config;
    if (ready) {
        config.readyDelayMs = delayMs;
    } else {
        config.ackDelayMs = delayMs;
        config.ackDelayBlock = 3;
    }
    ControlRig rig(config);
    Form2* f = openWithImage(rig, 2000);
    control<QPushButton>(f->view(), "Command2")->click();
    if (timesOut) {
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QVERIFY2(rig.dialogs.messages[0].text.startsWith(QLatin1String("Timeout")),
                 qPrintable(rig.dialogs.allMessages()));
        QVERIFY(!QString::fromStdString(f->statusText()).startsWith(QLatin1String("Fertig")));
        QCOMPARE(rig.display().blocksReceived(), ready ? 0 : 3);
    } else {
        QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
        QVERIFY(waitUntil([&] { return f->statusText() == "Fertig."; }, 3000));
        QCOMPARE(rig.display().blocksReceived(), 1016);
    }
}

void TestUpdateFaults::portHeldByAnotherProgramAtStartUp()
{
    ControlRig rig;
    SerialService other(rig.frontEnd.loop(), directoryOf({{1, rig.devicePath()}}));
    QVERIFY(other.open()); // another program holds the port
    rig.dialogs.promptAnswers << QStringLiteral("3");
    Form2* f = rig.openUpdateWindow();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QVERIFY2(rig.dialogs.messages[0].text.contains(QLatin1String("belegt")),
             qPrintable(rig.dialogs.allMessages()));
    QVERIFY(!f->serialPort().isOpen());
}

QTEST_MAIN(TestUpdateFaults)
#include "tst_updatefaults.moc"
