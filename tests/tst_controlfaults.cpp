// Faults on the control window's link: late, split and noisy answers, floods, and what the user sees.
#include "control/combobox.h"
#include "control/form1.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

namespace {

// Peak resident memory of this process so far, in KiB.
qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

class TestControlFaults : public QObject
{
    Q_OBJECT
private slots:
    void writeSurvivesAwkwardDelivery_data();
    void writeSurvivesAwkwardDelivery();
    void lateAnswersAroundTheTimeLimit_data();
    void lateAnswersAroundTheTimeLimit();
    void noiseFloodKeepsMemoryBounded();
};

void TestControlFaults::writeSurvivesAwkwardDelivery_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("eeprom");
    QTest::newRow("every message byte by byte") << true << QByteArray() << false;
    QTest::newRow("noise before every message") << false << QByteArray("\x55\x00garbage\r\n\x55", 12) << false;
    QTest::newRow("noise and single bytes") << true << QByteArray("zz\r\nU") << false;
    QTest::newRow("answers are EEPROM read reports") << false << QByteArray() << true;
}

void TestControlFaults::writeSurvivesAwkwardDelivery()
{
    QFETCH(bool, split);
    QFETCH(QByteArray, noise);
    QFETCH(bool, eeprom);
    SimulatorConfig config;
    config.splitBytes = split;
    config.noisePrefix = noise;
    if (eeprom)
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    ControlRig rig(config);
    QVERIFY(rig.connect());
    rig.form->Text1->setText(QStringLiteral("RPM"));
    rig.form->Command2->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(rig.display().receivedFrames().size(), 10);
    QCOMPARE(rig.display().framesBeforeAnswer(), 0);
    QCOMPARE(rig.display().records().value(0x10).left(8), QByteArray("RPM     "));
    // Every answer is logged once: identification + nine answers + "Commport: 3".
    QCOMPARE(rig.form->List1->count(), 11);
    if (eeprom)
        QVERIFY(rig.form->List1->item(0)->text().endsWith(QLatin1String("->  ReadEEProm @ 0x90")));
}

void TestControlFaults::lateAnswersAroundTheTimeLimit_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("timesOut");
    QTest::newRow("just under the limit") << Form1::ReplyTimeoutMs - 600 << false;
    QTest::newRow("just over the limit") << Form1::ReplyTimeoutMs + 600 << true;
}

void TestControlFaults::lateAnswersAroundTheTimeLimit()
{
    QFETCH(int, delayMs);
    QFETCH(bool, timesOut);
    SimulatorConfig config;
    config.answerDelayMs = delayMs;
    ControlRig rig(config);
    QVERIFY(rig.connect());
    rig.form->Command6->click();
    QCOMPARE(rig.dialogs.hasMessage(QStringLiteral("Timeout")), timesOut);
    QCOMPARE(rig.dialogs.messages.size(), timesOut ? 1 : 0);
    // The answer that comes too late is still logged, and nothing else goes out.
    QVERIFY(waitUntil([&] { return rig.form->List1->item(0)->text().endsWith(QLatin1String(" -> OK")); }, 2000));
    QCOMPARE(rig.display().receivedFrames().size(), 2);
}

void TestControlFaults::noiseFloodKeepsMemoryBounded()
{
    ControlRig rig;
    QVERIFY(rig.connect());
    const qint64 before = peakRssKiB();
    QByteArray noise(1024 * 1024, 'x');
    for (int i = 0; i < noise.size(); i += 97)
        noise[i] = '\x55'; // many false starts
    for (int mb = 0; mb < 10; ++mb) {
        rig.sim.sendRaw(noise);
        QTest::qWait(20);
        QVERIFY(rig.form->rxBuffer.size() < 22);
    }
    QVERIFY(waitUntil([&] { return rig.display().rawReceived().size() == 22; }, 100)); // the tool sent nothing more
    QTest::qWait(500);
    const qint64 growth = peakRssKiB() - before;
    qInfo("peak memory grew by %lld KiB over a 10 MB noise flood", growth);
    QVERIFY2(growth < 16 * 1024, qPrintable(QString::number(growth)));
    QVERIFY(rig.form->rxBuffer.size() < 22);

    // After the flood the display is understood again.
    rig.form->Command6->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(rig.display().receivedFrames().size(), 2);
}

QTEST_MAIN(TestControlFaults)
#include "tst_controlfaults.moc"
