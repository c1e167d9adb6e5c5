// The control window end to end: a real pseudo-terminal with the display simulator on the other side.
#include "control/form1.h"
#include "serial/serialservice.h"
#include "simulator/demodisplay.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace morvandell;
using namespace morvandell::test;
using morvandell::sim::SimulatorConfig;

namespace {

QStringList items(const ComboBox* list)
{
    if (!list)
        return {};
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

using Rig = ControlRig;

// Widgets of the control window by name.
QPushButton* button(Form1& f, const char* name)
{
    return control<QPushButton>(f, name);
}
QLineEdit* edit(Form1& f, const char* name)
{
    return control<QLineEdit>(f, name);
}
QListWidget* log(Form1& f)
{
    return control<QListWidget>(f, "List1");
}

const char* const LogDefinition =
    "<?xml version=\"1.0\"?>\r\n"
    "<channels>\r\n" // takes index 1, no name
    "\t<channel name=\"RPM\" channel = \"12\" unit=\"rpm\" divider=\"1\" storage=\"u16\"/>\r\n"  // 2
    "\t<channel name=\"Oil_P\" channel=\"13\" unit=\"bar\" divider=\"10\" storage=\"s16\"/>\r\n" // 3
    "<!-- channel comment -->\r\n"                                                               // 4, no name
    "\t<channel name=\"Coolant_Temperature\" channel=\"85\" unit=\"degC\" divider=\"2.5\"/>\r\n" // 5
    "\t<channel name=\"Batt\" channel=\"7\" unit=\"V\" divider=\"100\"/>\r\n"                    // 6
    "\t<channel name=\"MAP\" channel=\"200\" unit=\"kPa\" divider=\"1\"/>\r\n"                   // 7
    "\t<channel name=\"\xC4"
    "GT\" channel=\"33\" unit=\"\xB0"
    "C\" divider=\"1\"/>\r\n"                                                    // 8
    "\t<channel name=\"Lambda\" channel=\"55\" unit=\"l\" divider=\"100\"/>\r\n" // 9
    "\t<channel name=\"Speed\" channel=\"90\" unit=\"kmh\" divider=\"3\"/>\r\n"  // 10
    "</channels>\r\n";

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
    void startUpFillsTheLists();
    void portScanJudgesEachPortByItself_data();
    void portScanJudgesEachPortByItself();
    void choosingAPortLogsItAtTheEnd();
    void connectIdentifiesTheDisplay();
    void connectWithoutAPortAsksForOne();
    void connectToABusyPortSaysSo();
    void commandsNeedAnIdentifiedDisplay_data();
    void commandsNeedAnIdentifiedDisplay();
    void configuresTheDisplayEndToEnd();
    void settingsWriteSendsTheDefaultView_data();
    void settingsWriteSendsTheDefaultView();
    void resetSendsItsFrameAndWaits();
    void silentDisplayTimesOutAndStopsTheWrite();
    void deviceGoneDuringWriteEndsItAtOnce();
    void closingTheWindowEndsAWait();
    void readerKeepsTheListsWhenNothingIsRead();
    void readerReportsAnUnreadableFile();
    void readerBoundsTheListsAndWarns();
    void logMenuSavesTheConnectionTrace();
    void theDemoDisplayIsOfferedAsComOne();
};

void TestForm1::startUpFillsTheLists()
{
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& f = *form;
    QCOMPARE(caption(f.view()), QStringLiteral("Morvandell:"));
    QCOMPARE(combo(f, "Combo5")->count(), 0);
    QCOMPARE(combo(f, "Combo5")->text(), QStringLiteral("Port"));
    QCOMPARE(items(combo(f, "Combo10")), QStringList({"Seite #1 : 1-4", "Seite #2 : 5-8", "Seite #3 : 1-8"}));
    QCOMPARE(combo(f, "Combo10")->text(), QStringLiteral("Seite #1 : 1-4"));
    QCOMPARE(combo(f, "Combo10")->listIndex(), 0);
    QCOMPARE(items(combo(f, "Combo12")), QStringList({"na", "=>", "<="}));
    QCOMPARE(combo(f, "Combo12")->text(), QStringLiteral("na"));
    QCOMPARE(edit(f, "Text17")->text(), QStringLiteral("0"));
    QCOMPARE(combo(f, "Combo11")->text(), QStringLiteral("Warnung"));
    QVERIFY(!combo(f, "Combo11")->isEnabled() && !combo(f, "Combo12")->isEnabled() &&
            !edit(f, "Text17")->isEnabled());
    QCOMPARE(combo(f, "Combo1")->text(), QStringLiteral("Bitte wählen...."));
    QVERIFY(!f.weiter && !f.deviceFound && !f.comport);
    // Slot 5 is Text16/Text12, slot 8 Text13/Text9.
    QCOMPARE(QString::fromLatin1(Form1::slotRows()[5].name), QStringLiteral("Text16"));
    QCOMPARE(QString::fromLatin1(Form1::slotRows()[5].unit), QStringLiteral("Text12"));
    QCOMPARE(QString::fromLatin1(Form1::slotRows()[8].name), QStringLiteral("Text13"));
    QCOMPARE(QString::fromLatin1(Form1::slotRows()[8].unit), QStringLiteral("Text9"));
    QCOMPARE(edit(f, "Text1")->maxLength(), 8);
    QCOMPARE(edit(f, "Text5")->maxLength(), 3);
    QVERIFY(w.dialogs.messages.isEmpty());
}

void TestForm1::portScanJudgesEachPortByItself_data()
{
    // One letter per port 1, 2, 3...: f free, m missing, b busy, p no permission; g free, then selected
    // and gone; o free, then selected and connected. A port above 16 is never scanned. The start-up list
    // and the list as it drops down afterwards, each entry with the note its tool tip gives.
    QTest::addColumn<QString>("ports");
    QTest::addColumn<QStringList>("startUp");
    QTest::addColumn<QStringList>("dropDown");
    QTest::newRow("free after missing") << "mf" << QStringList{"Com #2"} << QStringList{"Com #2"};
    QTest::newRow("missing after busy") << "bmf" << QStringList{"Com #1 (belegt)", "Com #3"}
                                        << QStringList{"Com #1 (belegt)", "Com #3"};
    QTest::newRow("free ports only") << "ff" << QStringList{"Com #1", "Com #2"} << QStringList{"Com #1", "Com #2"};
    QTest::newRow("busy first") << "bf" << QStringList{"Com #1 (belegt)", "Com #2"}
                                << QStringList{"Com #1 (belegt)", "Com #2"};
    QTest::newRow("nothing there") << "mm" << QStringList{} << QStringList{};
    QTest::newRow("no permission") << "pf" << QStringList{"Com #1 (keine Berechtigung)", "Com #2"}
                                   << QStringList{"Com #1 (keine Berechtigung)", "Com #2"};
    QTest::newRow("selected, then gone") << "fg" << QStringList{"Com #1", "Com #2"}
                                         << QStringList{"Com #1", "Com #2 (nicht angeschlossen)"};
    QTest::newRow("open port") << "fo" << QStringList{"Com #1", "Com #2"} << QStringList{"Com #1", "Com #2"};
}

void TestForm1::portScanJudgesEachPortByItself()
{
    QFETCH(QString, ports);
    QFETCH(QStringList, startUp);
    QFETCH(QStringList, dropDown);
    Windows w;
    std::vector<std::unique_ptr<QtPty>> ptys;
    std::vector<std::unique_ptr<SerialService>> holders; // another program holding the port
    std::vector<std::shared_ptr<void>> denied;
    QTemporaryDir links;
    QMap<int, PortDirectory::Entry> entries;
    for (int i = 0; i < ports.size(); ++i) {
        ptys.push_back(std::make_unique<QtPty>());
        QString device = ptys.back()->slavePath();
        if (ports[i] == 'm')
            device = QStringLiteral("/dev/morvandell-missing-%1").arg(i);
        if (ports[i] == 'g') {
            device = links.filePath(QStringLiteral("port%1").arg(i));
            QVERIFY(QFile::link(ptys.back()->slavePath(), device));
        }
        entries.insert(i + 1, {device.toStdString(), "adapter " + std::to_string(i + 1), nullptr});
        if (ports[i] == 'b') {
            holders.push_back(std::make_unique<SerialService>(w.frontEnd.loop(), directoryOf({{1, device}})));
            QVERIFY(holders.back()->open());
        }
        if (ports[i] == 'p')
            denied.push_back(withoutPermission(device));
    }
    QtPty beyond;
    entries.insert(17, {beyond.slavePath().toStdString(), "", nullptr});
    const auto form = w.makeForm(directoryOf(entries));
    Form1& f = *form;
    ComboBox* list = combo(f, "Combo5");
    const auto shown = [&] {
        QStringList all;
        for (int i = 0; i < list->count(); ++i) {
            const QString tip = list->itemData(i, Qt::ToolTipRole).toString();
            const int n = f.portEntries().at(std::size_t(i));
            if (!tip.contains(QString::fromStdString(entries[n].device)))
                return QStringList{"tool tip without the device: " + tip};
            QString entry = list->itemText(i);
            for (const char* note : {"(belegt)", "(keine Berechtigung)"})
                if (tip.contains(QLatin1String(note)))
                    entry += QLatin1Char(' ') + QLatin1String(note);
            if (tip.contains(QStringLiteral("Gerät nicht angeschlossen")))
                entry += QLatin1String(" (nicht angeschlossen)");
            all << entry;
        }
        return all;
    };
    QCOMPARE(shown(), startUp);
    QCOMPARE(list->text(), QStringLiteral("Port"));
    QCOMPARE(list->listIndex(), -1);
    QVERIFY(!f.serialPort().isOpen());

    const int chosen = int(std::max(ports.indexOf(QLatin1Char('g')), ports.indexOf(QLatin1Char('o'))));
    if (chosen >= 0) {
        pick(list, list->findText(QStringLiteral("Com #%1").arg(chosen + 1)));
        if (ports[chosen] == 'o') {
            control<QPushButton>(f, "Command3")->click();
            QVERIFY(f.serialPort().isOpen());
        } else {
            QVERIFY(QFile::remove(QString::fromStdString(entries[chosen + 1].device)));
        }
    }
    list->showPopup();
    list->hidePopup();
    QCOMPARE(shown(), dropDown);
    if (chosen >= 0)
        QCOMPARE(list->text(), QStringLiteral("Com #%1").arg(chosen + 1));
    QCOMPARE(f.serialPort().isOpen(), chosen >= 0 && ports[chosen] == 'o');
    QVERIFY2(w.dialogs.messages.isEmpty(), qPrintable(w.dialogs.allMessages()));
}

void TestForm1::choosingAPortLogsItAtTheEnd()
{
    std::vector<std::unique_ptr<QtPty>> ptys(12);
    QMap<int, QString> devices;
    for (int i = 0; i < 12; ++i) {
        ptys[i] = std::make_unique<QtPty>();
        devices.insert(i + 1, ptys[i]->slavePath());
    }
    Windows w;
    const auto form = w.makeForm(directoryOf(devices));
    Form1& f = *form;
    log(f)->addItem(QStringLiteral("receiver line"));
    pick(combo(f, "Combo5"), combo(f, "Combo5")->findText(QStringLiteral("Com #12")));
    QCOMPARE(f.serialPort().commPort(), 12);
    QCOMPARE(log(f)->item(log(f)->count() - 1)->text(), QStringLiteral("Commport: 12"));
    QCOMPARE(log(f)->item(0)->text(), QStringLiteral("receiver line"));
    QVERIFY(!f.serialPort().isOpen());
}

void TestForm1::connectIdentifiesTheDisplay()
{
    SimulatorConfig config;
    config.firmware = asciiBytes("V2.34");
    Rig rig(config);
    QVERIFY(rig.connect());
    Form1& f = *rig.form;
    QCOMPARE(caption(f.view()), QStringLiteral("Morvandell: V2.34"));
    QVERIFY(log(f)->item(0)->text().endsWith(QLatin1String("->  online Firmware: V2.34")));
    QCOMPARE(f.comport, std::optional<std::int16_t>(3));
    QVERIFY(f.serialPort().isOpen());
    // Opened with LF as its event character (an FTDI adapter on Windows then passes each message on at once).
    QCOMPARE(f.serialPort().settings().eventChar, std::optional<std::uint8_t>(0x0A));
    QCOMPARE(qbytes(rig.display().rawReceived()),
             hex("55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));
    QVERIFY(!f.weiter); // identification does not release a writer
    QVERIFY(rig.dialogs.messages.isEmpty());

    // Connect again: the open port stays open and a second frame goes out.
    button(f, "Command3")->click();
    QVERIFY(waitUntil([&] { return rig.display().rawReceived().size() == 44; }, 2000));
}

void TestForm1::connectWithoutAPortAsksForOne()
{
    Rig rig;
    combo(*rig.form, "Combo5")->setText(QStringLiteral("Com #3")); // typed, not picked
    button(*rig.form, "Command3")->click();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Bitte Comport wählen"));
    QCOMPARE(rig.dialogs.messages[0].icon, Icon::None);
    QVERIFY(!rig.form->comport);
    QVERIFY(!rig.form->serialPort().isOpen());
}

void TestForm1::connectToABusyPortSaysSo()
{
    Rig rig;
    SerialService other(rig.frontEnd.loop(), directoryOf({{1, rig.devicePath()}}));
    QVERIFY(other.open()); // another program holds the port
    pick(combo(*rig.form, "Combo5"), 0);
    button(*rig.form, "Command3")->click();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(rig.dialogs.messages[0].icon, Icon::Error);
    QVERIFY2(rig.dialogs.messages[0].text.contains(QLatin1String("Com #3")) &&
                 rig.dialogs.messages[0].text.contains(QLatin1String("belegt")),
             qPrintable(rig.dialogs.messages[0].text));
    QVERIFY(!rig.form->comport);
    QVERIFY(!rig.form->serialPort().isOpen());
}

void TestForm1::commandsNeedAnIdentifiedDisplay_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Daten schreiben") << "Command2";
    QTest::newRow("Einstellungen schreiben") << "Command6";
    QTest::newRow("Reset") << "Command5";
}

void TestForm1::commandsNeedAnIdentifiedDisplay()
{
    QFETCH(QString, button);
    SimulatorConfig config;
    config.firmware.clear();
    Rig rig(config);
    pick(combo(*rig.form, "Combo5"), 0);
    QVERIFY(rig.form->serialPort().open());
    control<QPushButton>(*rig.form, button.toLatin1().constData())->click();
    QTest::qWait(200);
    QVERIFY(rig.display().rawReceived().empty());
    QVERIFY(rig.dialogs.messages.isEmpty());
}

void TestForm1::configuresTheDisplayEndToEnd()
{
    SimulatorConfig config;
    config.answerDelayMs = 30; // a display that takes its time: the next frame must wait for the answer
    Rig rig(config);
    QVERIFY(rig.connect());
    Form1& f = *rig.form;

    const QString file = writeTempFile(QStringLiteral("Version_1.xml"), LogDefinition);
    rig.dialogs.fileAnswers = {file};
    button(f, "Command1")->click();
    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    QCOMPARE(rig.dialogs.fileRequests[0].title, QStringLiteral("Open"));
    QCOMPARE(rig.dialogs.fileRequests[0].filter, QStringLiteral("XML Files (*.XML)"));
    QCOMPARE(rig.dialogs.fileRequests[0].folder, QDir::homePath()); // the Windows folder does not exist here
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));

    const QStringList names{"RPM",    "Oil_P", "Coolant_Temperature", "Batt", "MAP", QString::fromUtf8("ÄGT"),
                            "Lambda", "Speed"};
    for (const char* list : {"Combo1", "Combo2", "Combo3", "Combo4", "Combo6", "Combo7", "Combo8", "Combo9"}) {
        QCOMPARE(items(combo(f, list)), names);
        QCOMPARE(combo(f, list)->text(), QStringLiteral("Bitte wählen..."));
    }
    QCOMPARE(items(combo(f, "Combo11")), names);

    // Slot k gets the channel at list position 8 - k: every slot differs, and positions no longer
    // equal catalogue index - 1 (two lines without a name take indices).
    for (int k = 1; k <= 8; ++k)
        pick(combo(f, Form1::slotRows()[std::size_t(k)].list), 8 - k);
    QCOMPARE(edit(f, "Text1")->text(), QStringLiteral("Speed"));
    QCOMPARE(edit(f, "Text5")->text(), QStringLiteral("kmh"));
    QCOMPARE(edit(f, "Text16")->text(), QStringLiteral("Batt")); // slot 5
    QCOMPARE(edit(f, "Text12")->text(), QStringLiteral("V"));
    QCOMPARE(edit(f, "Text13")->text(), QStringLiteral("RPM")); // slot 8
    QCOMPARE(edit(f, "Text9")->text(), QStringLiteral("rpm"));
    QCOMPARE(edit(f, "Text14")->text(), QStringLiteral("Oil_P")); // slot 7
    QCOMPARE(f.slotChannel[7], 13);
    QCOMPARE(f.slotDivider[7], 10);
    QCOMPARE(edit(f, "Text15")->text(), QStringLiteral("Coolant_")); // slot 6: cut to 8
    QCOMPARE(edit(f, "Text11")->text(), QStringLiteral("deg"));
    QCOMPARE(f.slotDivider[6], 2); // 2.5 rounds half to even

    edit(f, "Text16")->setText(QStringLiteral("Akku")); // the user's own label for slot 5

    button(f, "Command2")->click();
    QVERIFY2(rig.dialogs.messages.isEmpty(), qPrintable(rig.dialogs.allMessages()));
    const QList<QByteArray> frames = qframes(rig.display().receivedFrames());
    QCOMPARE(frames.size(), 10); // connect + nine writes
    QCOMPARE(rig.display().framesBeforeAnswer(), 0);
    const QList<QByteArray> expected{
        hex("55 01 00 10") + "Speed   " + hex("00 5A 03") + "kmh" + hex("00 00 00 0D"),
        hex("55 01 00 20") + "Lambda  " + hex("00 37 64") + "l  " + hex("00 00 00 0D"),
        hex("55 01 00 30") + "\xC4GT     " + hex("00 21 01") +
            "\xB0"
            "C " +
            hex("00 00 00 0D"),
        hex("55 01 00 40") + "MAP     " + hex("00 C8 01") + "kPa" + hex("00 00 00 0D"),
        hex("55 01 00 50") + "Akku    " + hex("00 07 64") + "V  " + hex("00 00 00 0D"),
        hex("55 01 00 60") + "Coolant_" + hex("00 55 02") + "deg" + hex("00 00 00 0D"),
        hex("55 01 00 70") + "Oil_P   " + hex("00 0D 0A") + "bar" + hex("00 00 00 0D"),
        hex("55 01 00 80") + "RPM     " + hex("00 0C 01") + "rpm" + hex("00 00 00 0D"),
        hex("55 01 00 90 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"),
    };
    const auto records = rig.display().records();
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(frames[i + 1].toHex(' '), expected[i].toHex(' '));
        QCOMPARE(qbytes(records.at(0x10 * (i + 1))), expected[i].mid(4, 16));
    }
    QCOMPARE(log(f)->count(), 1 + 9 + 1); // identification, nine answers, "Commport: 3"
    QVERIFY(log(f)->item(0)->text().endsWith(QLatin1String(" -> OK")));
    QCOMPARE(f.weiter, std::optional<std::int16_t>(1));
    QCOMPARE(qbytes(f.frameName), QByteArray("RPM     "));
    QVERIFY(button(f, "Command2")->isEnabled() && button(f, "Command3")->isEnabled());
}

void TestForm1::settingsWriteSendsTheDefaultView_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("byte");
    QTest::newRow("as loaded") << -2 << 1;
    QTest::newRow("page 2") << 1 << 2;
    QTest::newRow("page 3") << 2 << 3;
    QTest::newRow("typed, nothing selected") << -1 << 0;
}

void TestForm1::settingsWriteSendsTheDefaultView()
{
    QFETCH(int, position);
    QFETCH(int, byte);
    Rig rig;
    QVERIFY(rig.connect());
    if (position >= 0)
        pick(combo(*rig.form, "Combo10"), position);
    else if (position == -1)
        combo(*rig.form, "Combo10")->setText(QStringLiteral("2"));
    button(*rig.form, "Command6")->click();
    const auto frames = qframes(rig.display().receivedFrames());
    QCOMPARE(frames.size(), 2);
    QByteArray expected = hex("55 01 00 90 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    expected[4] = static_cast<char>(byte);
    QCOMPARE(frames[1].toHex(' '), expected.toHex(' '));
    QVERIFY(rig.dialogs.messages.isEmpty());
}

void TestForm1::resetSendsItsFrameAndWaits()
{
    SimulatorConfig config;
    config.resetText = asciiBytes("Neustart");
    Rig rig(config);
    QVERIFY(rig.connect());
    button(*rig.form, "Command5")->click();
    const auto frames = qframes(rig.display().receivedFrames());
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[1].toHex(' '),
             hex("55 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D").toHex(' '));
    QVERIFY(log(*rig.form)->item(0)->text().endsWith(QLatin1String(" -> Neustart")));
    QCOMPARE(rig.form->weiter, std::optional<std::int16_t>(1));
}

void TestForm1::silentDisplayTimesOutAndStopsTheWrite()
{
    SimulatorConfig config;
    config.silent = true;
    Rig rig(config);
    Form1& f = *rig.form;
    pick(combo(f, "Combo5"), 0);
    button(f, "Command3")->click();
    rig.sendRaw(identification("V1")); // it identifies itself, then never answers again
    QVERIFY(waitUntil([&] { return f.deviceFound == 1; }, 2000));

    bool disabledDuringWait = false;
    bool othersUsable = false;
    QTimer::singleShot(1000, [&] {
        disabledDuringWait = !button(f, "Command2")->isEnabled() && !button(f, "Command3")->isEnabled() &&
                             !button(f, "Command5")->isEnabled() && !button(f, "Command6")->isEnabled() &&
                             !button(f, "Command4")->isEnabled();
        othersUsable = button(f, "Command1")->isEnabled() && combo(f, "Combo1")->isEnabled();
        button(f, "Command2")->click(); // disabled: a second write must not interleave
    });
    QElapsedTimer clock;
    clock.start();
    button(f, "Command2")->click();
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 2900 && elapsed < 4500, qPrintable(QString::number(elapsed)));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Timeout"));
    QCOMPARE(rig.dialogs.messages[0].title, QStringLiteral("Error"));
    QCOMPARE(rig.dialogs.messages[0].icon, Icon::Error);
    QTest::qWait(200);
    QCOMPARE(int(rig.display().receivedFrames().size()), 2); // connect and the first slot, nothing more
    QVERIFY(disabledDuringWait);
    QVERIFY(othersUsable);
    QVERIFY(button(f, "Command2")->isEnabled());
    QVERIFY(f.serialPort().isOpen());
}

void TestForm1::deviceGoneDuringWriteEndsItAtOnce()
{
    SimulatorConfig config;
    config.closeAfterFrames = 5; // connect + four slot frames, then the cable is pulled
    Rig rig(config);
    QVERIFY(rig.connect());
    QElapsedTimer clock;
    clock.start();
    button(*rig.form, "Command2")->click();
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(int(rig.display().receivedFrames().size()), 5);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QVERIFY2(rig.dialogs.messages[0].text.contains(QLatin1String("Verbindung")),
             qPrintable(rig.dialogs.allMessages()));
    QVERIFY(!rig.dialogs.hasMessage(QStringLiteral("Timeout")));
    QVERIFY(!rig.form->serialPort().isOpen());
    QVERIFY(button(*rig.form, "Command2")->isEnabled());
    QCOMPARE(rig.form->deviceFound, std::optional<std::int16_t>(1)); // nothing resets it
}

void TestForm1::closingTheWindowEndsAWait()
{
    SimulatorConfig config;
    config.silent = true;
    Rig rig(config);
    Form1& f = *rig.form;
    pick(combo(f, "Combo5"), 0);
    button(f, "Command3")->click();
    rig.sendRaw(identification("V1"));
    QVERIFY(waitUntil([&] { return f.deviceFound == 1; }, 2000));
    QWidget* window = windowOf(f.view());
    window->show();
    QTimer::singleShot(300, window, [window] { window->close(); });
    QElapsedTimer clock;
    clock.start();
    button(f, "Command5")->click();
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig.dialogs.messages.isEmpty());
    QVERIFY(!f.serialPort().isOpen());
}

void TestForm1::readerKeepsTheListsWhenNothingIsRead()
{
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& f = *form;
    button(f, "Command1")->click(); // Cancel before any file was chosen
    QCOMPARE(combo(f, "Combo1")->count(), 0);
    QVERIFY(w.dialogs.messages.isEmpty());

    const QString lf =
        writeTempFile(QStringLiteral("lf.xml"), QByteArray(LogDefinition).replace("\r\n", "\n"));
    w.dialogs.fileAnswers = {lf};
    button(f, "Command1")->click();
    QCOMPARE(combo(f, "Combo1")->count(), 8); // LF line ends read as lines
    QCOMPARE(f.catalogueNumber[3], 13);

    // Cancel now reads the remembered file again: same lists, Combo11 grows.
    button(f, "Command1")->click();
    QCOMPARE(combo(f, "Combo1")->count(), 8);
    QCOMPARE(combo(f, "Combo11")->count(), 16);
}

void TestForm1::readerReportsAnUnreadableFile()
{
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& f = *form;
    w.dialogs.fileAnswers = {writeTempFile(QStringLiteral("first.xml"), LogDefinition)};
    button(f, "Command1")->click();
    pick(combo(f, "Combo2"), 0);
    QCOMPARE(f.slotChannel[2], 12);

    w.dialogs.fileAnswers = {QStringLiteral("/nonexistent/morvandell/Version.xml")};
    button(f, "Command1")->click();
    QCOMPARE(w.dialogs.messages.size(), 1);
    QCOMPARE(w.dialogs.messages[0].icon, Icon::Error);
    QVERIFY(w.dialogs.messages[0].text.contains(QLatin1String("Version.xml")));
    QCOMPARE(QString::fromStdString(f.catalogueName[2]), QStringLiteral("RPM")); // catalogue kept
    QCOMPARE(items(combo(f, "Combo2")).size(), 8);                               // lists given back
    QCOMPARE(f.slotChannel[2], 12);
}

void TestForm1::readerBoundsTheListsAndWarns()
{
    // 300 channels, one with a divider out of range, and one line that repeats its name 2000 times.
    QByteArray file;
    for (int i = 1; i <= 300; ++i)
        file += "<channel name=\"C" + QByteArray::number(i) + "\" channel=\"" + QByteArray::number(i % 256) +
                "\" divider=\"" + (i == 7 ? "300" : "1") + "\"/>\n";
    QByteArray repeated = "<channel";
    for (int i = 0; i < 2000; ++i)
        repeated += " name=\"R" + QByteArray::number(i) + "\"";
    file = repeated + "\n" + file;
    Windows w;
    const auto form = w.makeForm(directoryOf(QMap<int, QString>{}));
    Form1& f = *form;
    w.dialogs.fileAnswers = {writeTempFile(QStringLiteral("big.xml"), file)};
    button(f, "Command1")->click();
    QCOMPARE(combo(f, "Combo1")->count(), 1024);
    QCOMPARE(combo(f, "Combo11")->count(), 1024);
    QCOMPARE(w.dialogs.messages.size(), 1);
    QCOMPARE(w.dialogs.messages[0].icon, Icon::Warning);
    const QString text = w.dialogs.messages[0].text;
    QVERIFY2(text.contains(QLatin1String("45")) && text.contains(QLatin1String("C7: divider = 300")),
             qPrintable(text));
    QCOMPARE(QString::fromStdString(f.catalogueName[256]), QStringLiteral("C255"));
    QCOMPARE(f.catalogueDivider[8], 0); // C7 at index 8: divider 300 stored as 0, not 44
}

void TestForm1::logMenuSavesTheConnectionTrace()
{
    test::ControlRig rig;
    QVERIFY(rig.connect());
    button(*rig.form, "Command5")->click(); // reset and its answer
    QCOMPARE(log(*rig.form)->contextMenuPolicy(), Qt::CustomContextMenu);

    rig.dialogs.fileAnswers << std::nullopt; // Cancel writes nothing
    rig.form->command(Form1::SaveTraceCommand);
    const QString path = test::writeTempFile(QStringLiteral("trace.txt"), "old");
    rig.dialogs.fileAnswers << path;
    rig.form->command(Form1::SaveTraceCommand);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.contains(QStringLiteral("Gerät: %1, Einstellungen: 19200,n,8,1").arg(rig.devicePath())),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("> 55 05 00 00 00")));
    QVERIFY(text.contains(QStringLiteral("> 55 FF 00 00 00")));
    QVERIFY(text.contains(QStringLiteral("< 55 FD ")));
    QVERIFY(rig.dialogs.messages.isEmpty());
}

void TestForm1::theDemoDisplayIsOfferedAsComOne()
{
    Windows w;
    std::map<int, PortDirectory::Entry> demo{{sim::DemoDisplay::PortNumber, sim::DemoDisplay::portEntry()}};
    const auto form = w.makeForm(PortDirectory::fromSystem(std::move(demo)));
    Form1& f = *form;
    ComboBox* ports = combo(f, "Combo5");
    QVERIFY(ports->count() >= 1);
    QCOMPARE(ports->itemText(0), QStringLiteral("Com #1"));
    QVERIFY2(ports->itemData(0, Qt::ToolTipRole).toString().contains(QLatin1String("Demo-Display")),
             qPrintable(ports->itemData(0, Qt::ToolTipRole).toString()));
    pick(ports, 0);
    button(f, "Command3")->click();
    QVERIFY(waitUntil([&] { return f.deviceFound == 1; }, 3000));
    QVERIFY(caption(f.view()).startsWith(QLatin1String("Morvandell: ")));
    QVERIFY(w.dialogs.messages.isEmpty());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
