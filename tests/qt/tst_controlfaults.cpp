// Faults on the control window's link: late, split and noisy answers, floods, and what the user sees.
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
    void badLogDefinitionFiles_data();
    void badLogDefinitionFiles();
};

void TestControlFaults::writeSurvivesAwkwardDelivery_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("eeprom");
    QTest::newRow("every message byte by byte") << true << QByteArray() << false;
    QTest::newRow("noise before every message")
        << false << QByteArray("\x55\x00garbage\r\n\x55", 12) << false;
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
    config.noisePrefix = bytes(noise);
    if (eeprom)
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    ControlRig rig(config);
    QVERIFY(rig.connect());
    control<QLineEdit>(*rig.form, "Text1")->setText(QStringLiteral("RPM"));
    control<QPushButton>(*rig.form, "Command2")->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(int(rig.display().receivedFrames().size()), 10);
    QCOMPARE(rig.display().framesBeforeAnswer(), 0);
    QCOMPARE(qbytes(rig.display().records()[0x10]).left(8), QByteArray("RPM     "));
    // Every answer is logged once: identification + nine answers + "Commport: 3".
    QListWidget* log = control<QListWidget>(*rig.form, "List1");
    QCOMPARE(log->count(), 11);
    if (eeprom)
        QVERIFY(log->item(0)->text().endsWith(QLatin1String("->  ReadEEProm @ 0x90")));
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
    control<QPushButton>(*rig.form, "Command6")->click();
    QCOMPARE(rig.dialogs.hasMessage(QStringLiteral("Timeout")), timesOut);
    QCOMPARE(rig.dialogs.messages.size(), timesOut ? 1 : 0);
    // The answer that comes too late is still logged, and nothing else goes out.
    QListWidget* log = control<QListWidget>(*rig.form, "List1");
    QVERIFY(waitUntil([&] { return log->item(0)->text().endsWith(QLatin1String(" -> OK")); }, 2000));
    QCOMPARE(int(rig.display().receivedFrames().size()), 2);
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
        rig.sendRaw(noise);
        QTest::qWait(20);
        QVERIFY(rig.form->rxBuffer.size() < 22);
    }
    QVERIFY(waitUntil([&] { return rig.display().rawReceived().size() == 22; },
                      100)); // the tool sent nothing more
    QTest::qWait(500);
    const qint64 growth = peakRssKiB() - before;
    qInfo("peak memory grew by %lld KiB over a 10 MB noise flood", growth);
    // The connection trace keeps the newest 10 MB of lines by design; nothing else may grow. (Under
    // AddressSanitizer freed memory is held in quarantine, so the peak says nothing there.)
#if !defined(__SANITIZE_ADDRESS__)
    QVERIFY2(growth < qint64(16 * 1024 + 2 * TraceRecorder::DefaultLimit / 1024), qPrintable(QString::number(growth)));
#endif
    QVERIFY(rig.form->trace().size() <= TraceRecorder::DefaultLimit);
    QVERIFY(rig.form->rxBuffer.size() < 22);

    // After the flood the display is understood again.
    control<QPushButton>(*rig.form, "Command6")->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    QCOMPARE(int(rig.display().receivedFrames().size()), 2);
}

void TestControlFaults::badLogDefinitionFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QString>("warning"); // part of the one warning box, empty: no box
    QTest::newRow("binary junk") << "junk" << 0 << QString();
    QTest::newRow("100 MB without a line end") << "huge" << 0 << "nur ihr Anfang wurde gelesen";
    QTest::newRow("10,000 channels") << "many" << 256 << "9744";
    QTest::newRow("every value out of range") << "range" << 20 << "40 Werte";
}

void TestControlFaults::badLogDefinitionFiles()
{
    QFETCH(QString, kind);
    QFETCH(int, listed);
    QFETCH(QString, warning);
    QString path;
    if (kind == "junk") {
        QByteArray junk(1 << 20, '\0');
        quint32 x = 12345;
        for (char& c : junk) {
            x = x * 1103515245u + 12345u;
            c = char(x >> 24);
        }
        path = writeTempFile(QStringLiteral("junk.xml"), junk);
    } else if (kind == "huge") {
        path = writeTempFile(QStringLiteral("huge.xml"), QByteArray());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 20, 'j');
        for (int i = 0; i < 100; ++i)
            QCOMPARE(file.write(block), qint64(block.size()));
    } else {
        QByteArray text;
        const int count = kind == "many" ? 10000 : 20;
        for (int i = 1; i <= count; ++i)
            text += "<channel name=\"C" + QByteArray::number(i) + "\" channel=\"" +
                    (kind == "range" ? QByteArray::number(-i) : QByteArray::number(i % 256)) +
                    "\" divider=\"" + (kind == "range" ? "300" : "1") + "\"/>\r\n";
        path = writeTempFile(kind + QStringLiteral(".xml"), text);
    }

    Windows w;
    ScriptedDialogs& dialogs = w.dialogs;
    const auto made = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& form = *made;
    dialogs.fileAnswers = {path};
    control<QPushButton>(form, "Command1")->click();
    QCOMPARE(combo(form, "Combo1")->count(), listed);
    QCOMPARE(combo(form, "Combo11")->count(), listed);
    for (int i = 0; i < combo(form, "Combo1")->count(); ++i) {
        const int index = form.slotEntries(1).at(std::size_t(i));
        QVERIFY(index >= 1 && index <= 256);
    }
    QVERIFY(form.catalogueName[0].empty() && form.catalogueNumber[0] == 0 && form.catalogueDivider[0] == 0);
    if (warning.isEmpty()) {
        QVERIFY2(dialogs.messages.isEmpty(), qPrintable(dialogs.allMessages()));
    } else {
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].icon, Icon::Warning);
        QVERIFY2(dialogs.messages[0].text.contains(warning), qPrintable(dialogs.messages[0].text));
    }
    if (kind == "range") {
        for (int i = 1; i <= 20; ++i)
            QVERIFY(form.catalogueNumber[std::size_t(i)] == 0 && form.catalogueDivider[std::size_t(i)] == 0);
        pick(combo(form, "Combo3"), 4);
        QCOMPARE(form.slotChannel[3], 0);
    }
}

QTEST_MAIN(TestControlFaults)
#include "tst_controlfaults.moc"
