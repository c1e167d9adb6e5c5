// The control window end to end: its handlers on the headless front end, the display simulator's logic
// on a real line (a pseudo-terminal; COM3 under Wine), and the demo display inside the program.
#include "formtest.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialservice.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

bool endsWith(const std::string& s, const std::string& end)
{
    return text::endsWith(s, end);
}

std::vector<std::string> frames(const ControlRig& rig)
{
    std::vector<std::string> out;
    for (const Bytes& f : rig.display().receivedFrames())
        out.push_back(hexOf(f));
    return out;
}

// The bytes of a connection trace's lines in one direction ('>' sent, '<' received), as one hex text:
// a read may deliver a message in pieces.
std::string traced(const std::string& trace, char direction)
{
    std::string all;
    for (const std::string& line : text::split(trace, '\n')) {
        const auto at = line.find(std::string(" ") + direction + " ");
        const auto bar = line.find(" |");
        if (line.empty() || line[0] == '#' || at == std::string::npos || bar == std::string::npos || bar < at)
            continue;
        all += (all.empty() ? "" : " ") + line.substr(at + 3, bar - at - 3);
    }
    return all;
}

} // namespace

TEST(Form1, startUpFillsTheLists)
{
    FormRig rig(directoryOf({}));
    Form1& f = *rig.form;
    HeadlessView& v = rig.view();
    EXPECT_EQ(v.caption(), "Morvandell:");
    EXPECT_EQ(v.itemCount("Combo5"), 0);
    EXPECT_EQ(v.text("Combo5"), "Port");
    EXPECT_EQ(v.items("Combo10"),
              (std::vector<std::string>{"Seite #1 : 1-4", "Seite #2 : 5-8", "Seite #3 : 1-8"}));
    EXPECT_EQ(v.text("Combo10"), "Seite #1 : 1-4");
    EXPECT_EQ(v.listIndex("Combo10"), 0);
    EXPECT_EQ(v.items("Combo12"), (std::vector<std::string>{"na", "=>", "<="}));
    EXPECT_EQ(v.text("Combo12"), "na");
    EXPECT_EQ(v.text("Text17"), "0");
    EXPECT_EQ(v.text("Combo11"), "Warnung");
    for (const char* disabled : {"Combo11", "Combo12", "Text17"})
        EXPECT_FALSE(v.canUse(disabled)) << disabled;
    EXPECT_EQ(v.text("Combo1"), "Bitte wählen....");
    EXPECT_TRUE(!f.weiter && !f.deviceFound && !f.comport);
    // Slot 5 is Text16/Text12, slot 8 Text13/Text9.
    EXPECT_EQ(std::string(Form1::slotRows()[5].name) + Form1::slotRows()[5].unit, "Text16Text12");
    EXPECT_EQ(std::string(Form1::slotRows()[8].name) + Form1::slotRows()[8].unit, "Text13Text9");
    // A name box takes eight characters, a unit box three, whatever is typed.
    rig.type("Text1", "Drehzahl1");
    rig.type("Text5", "U/min");
    EXPECT_EQ(v.text("Text1") + "|" + v.text("Text5"), "Drehzahl|U/m");
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

// One letter per port 1, 2, 3...: f free, m missing, b busy (held by another program), p no permission;
// g free, then selected and gone; o free, then selected and connected. A port above 16 is never scanned.
// The start-up list and the list as it drops down afterwards, each entry with the note of its tool tip.
struct ScanRow
{
    const char* name;
    const char* ports;
    std::vector<std::string> startUp;
    std::vector<std::string> dropDown;
};

class PortScan : public ::testing::TestWithParam<ScanRow>
{
};

TEST_P(PortScan, judgesEachPortByItselfAtStartUpAndAtEveryDropDown)
{
    const ScanRow& row = GetParam();
    const std::string ports = row.ports;
    if (!portsCanBeHeld() && ports.find('b') != std::string::npos)
        GTEST_SKIP() << "this platform lets a second program open a port that one holds";
#ifdef _WIN32
    if (ports.find_first_of("pg") != std::string::npos)
        GTEST_SKIP() << "no permission and a vanishing device are made with the file system's means";
#endif
    FormRig rig;
    std::vector<std::unique_ptr<SpareLine>> lines;
    std::vector<std::unique_ptr<SerialService>> holders;
#ifndef _WIN32
    std::vector<std::unique_ptr<WithoutPermission>> denied;
#endif
    std::map<int, PortDirectory::Entry> entries;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        lines.push_back(std::make_unique<SpareLine>());
        std::string device = ports[i] == 'm' ? missingDevice(int(i)) : lines.back()->device();
#ifndef _WIN32
        if (ports[i] == 'g') {
            const std::string link = tempFolder() + "/" + row.name + std::to_string(i);
            ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
            device = link;
        }
        if (ports[i] == 'p')
            denied.push_back(std::make_unique<WithoutPermission>(device));
#endif
        entries[int(i) + 1] = {device, "adapter " + std::to_string(i + 1), nullptr};
        if (ports[i] == 'b') {
            holders.push_back(std::make_unique<SerialService>(rig.loop(), directoryOf({{1, device}})));
            ASSERT_TRUE(holders.back()->open());
        }
    }
    SpareLine beyond;
    entries[17] = {beyond.device(), "", nullptr};
    Form1& f = rig.makeForm(std::make_shared<const PortDirectory>(entries));
    HeadlessView& v = rig.view();
    const auto shown = [&] {
        std::vector<std::string> all;
        for (int i = 0; i < v.itemCount("Combo5"); ++i) {
            const std::string tip = v.itemToolTip("Combo5", i);
            const int n = f.portEntries().at(std::size_t(i));
            if (tip.find(entries[n].device) == std::string::npos)
                return std::vector<std::string>{"tool tip without the device: " + tip};
            std::string entry = v.items("Combo5").at(std::size_t(i));
            for (const char* note : {"(belegt)", "(keine Berechtigung)"})
                if (tip.find(note) != std::string::npos)
                    entry += std::string(" ") + note;
            if (tip.find("Gerät nicht angeschlossen") != std::string::npos)
                entry += " (nicht angeschlossen)";
            all.push_back(entry);
        }
        return all;
    };
    EXPECT_EQ(shown(), row.startUp);
    EXPECT_EQ(v.text("Combo5"), "Port");
    EXPECT_EQ(v.listIndex("Combo5"), -1);
    EXPECT_FALSE(f.serialPort().isOpen());

    const std::size_t chosen = ports.find_first_of("go");
    if (chosen != std::string::npos) {
        const std::string entry = "Com #" + std::to_string(chosen + 1);
        ASSERT_TRUE(rig.pick("Combo5", entry));
        if (ports[chosen] == 'o') {
            rig.click("Command3");
            EXPECT_TRUE(f.serialPort().isOpen());
        } else {
            ASSERT_EQ(::unlink(entries[int(chosen) + 1].device.c_str()), 0);
        }
    }
    ASSERT_TRUE(v.dropDown("Combo5"));
    EXPECT_EQ(shown(), row.dropDown);
    if (chosen != std::string::npos) {
        EXPECT_EQ(v.text("Combo5"), "Com #" + std::to_string(chosen + 1));
    }
    EXPECT_EQ(f.serialPort().isOpen(), chosen != std::string::npos && ports[chosen] == 'o');
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

INSTANTIATE_TEST_SUITE_P(
    Form1, PortScan,
    ::testing::Values(ScanRow{"freeAfterMissing", "mf", {"Com #2"}, {"Com #2"}},
                      ScanRow{"missingAfterBusy", "bmf", {"Com #1 (belegt)", "Com #3"},
                              {"Com #1 (belegt)", "Com #3"}},
                      ScanRow{"freePortsOnly", "ff", {"Com #1", "Com #2"}, {"Com #1", "Com #2"}},
                      ScanRow{"busyFirst", "bf", {"Com #1 (belegt)", "Com #2"}, {"Com #1 (belegt)", "Com #2"}},
                      ScanRow{"nothingThere", "mm", {}, {}},
                      ScanRow{"noPermission", "pf", {"Com #1 (keine Berechtigung)", "Com #2"},
                              {"Com #1 (keine Berechtigung)", "Com #2"}},
                      ScanRow{"selectedThenGone", "fg", {"Com #1", "Com #2"},
                              {"Com #1", "Com #2 (nicht angeschlossen)"}},
                      ScanRow{"openPort", "fo", {"Com #1", "Com #2"}, {"Com #1", "Com #2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Form1, choosingAPortLogsItAtTheEnd)
{
    std::vector<std::unique_ptr<SpareLine>> lines;
    std::map<int, PortDirectory::Entry> entries;
    for (int n = 1; n <= 12; ++n) {
        lines.push_back(std::make_unique<SpareLine>());
        entries[n] = {lines.back()->device(), "adapter", nullptr};
    }
    FormRig rig(std::make_shared<const PortDirectory>(entries));
    rig.view().insertItem("List1", 0, "receiver line"); // as the receiver logs
    rig.pick("Combo5", "Com #12");
    EXPECT_EQ(rig.form->serialPort().commPort(), 12);
    EXPECT_EQ(rig.log().back(), "Commport: 12");
    EXPECT_EQ(rig.log().front(), "receiver line");
    EXPECT_FALSE(rig.form->serialPort().isOpen());
}

TEST(Form1, connectIdentifiesTheDisplay)
{
    SimulatorConfig config;
    config.firmware = asciiBytes("V2.34");
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    Form1& f = *rig.form;
    EXPECT_EQ(rig.view().caption(), "Morvandell: V2.34");
    EXPECT_PRED2(endsWith, rig.log().front(), "->  online Firmware: V2.34");
    EXPECT_EQ(f.comport, std::optional<std::int16_t>(3));
    EXPECT_TRUE(f.serialPort().isOpen());
    // Opened with LF as its event character (an FTDI adapter on Windows then passes each message on at once).
    EXPECT_EQ(f.serialPort().settings().eventChar, std::optional<std::uint8_t>(0x0A));
    EXPECT_EQ(hexOf(rig.display().rawReceived()), hexOf(connectFrame()));
    EXPECT_FALSE(f.weiter); // identification does not release a writer
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();

    // Connect again: the open port stays open and a second frame goes out.
    rig.click("Command3");
    EXPECT_TRUE(rig.waitFor([&] { return rig.display().rawReceived().size() == 44; }, 2s));
}

TEST(Form1, connectWithoutAPortAsksForOne)
{
    ControlRig rig;
    rig.type("Combo5", "Com #3"); // typed, not picked
    rig.click("Command3");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(rig.dialogs.messages[0].text, "Bitte Comport wählen");
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::None);
    EXPECT_FALSE(rig.form->comport);
    EXPECT_FALSE(rig.form->serialPort().isOpen());
}

TEST(Form1, connectToABusyPortSaysSo)
{
    if (!portsCanBeHeld())
        GTEST_SKIP() << "this platform lets a second program open a port that one holds";
    ControlRig rig;
    SerialService other(rig.loop(), directoryOf({{1, rig.devicePath()}}));
    ASSERT_TRUE(other.open()); // another program holds the port
    rig.pick("Combo5", "Com #3");
    rig.click("Command3");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    const auto& m = rig.dialogs.messages[0];
    EXPECT_EQ(m.title, "Error");
    EXPECT_EQ(m.icon, ui::Dialogs::Icon::Error);
    EXPECT_TRUE(text::contains(m.text, "Com #3") && text::contains(m.text, "belegt")) << m.text;
    EXPECT_FALSE(rig.form->comport);
    EXPECT_FALSE(rig.form->serialPort().isOpen());
}

class IdentifiedDisplay : public ::testing::TestWithParam<const char*>
{
};

TEST_P(IdentifiedDisplay, isNeededByEveryCommand)
{
    SimulatorConfig config;
    config.firmware.clear();
    ControlRig rig(config);
    rig.pick("Combo5", "Com #3");
    ASSERT_TRUE(rig.form->serialPort().open());
    rig.click(GetParam());
    rig.runFor(200ms);
    EXPECT_TRUE(rig.display().rawReceived().empty());
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

INSTANTIATE_TEST_SUITE_P(Form1, IdentifiedDisplay, ::testing::Values("Command2", "Command6", "Command5"),
                         [](const auto& info) { return std::string(info.param); });

TEST(Form1, configuresTheDisplayEndToEnd)
{
    SimulatorConfig config;
    config.answerDelayMs = 30; // a display that takes its time: the next frame must wait for the answer
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    Form1& f = *rig.form;
    HeadlessView& v = rig.view();

    rig.dialogs.fileAnswers = {dataFile(EightChannels)};
    rig.click("Command1");
    ASSERT_EQ(rig.dialogs.fileRequests.size(), 1u);
    const auto& request = rig.dialogs.fileRequests[0];
    EXPECT_EQ(request.title, "Open");
    EXPECT_EQ(request.filter, "XML Files (*.XML)");
    EXPECT_EQ(request.folder, files::homeFolder()); // the Windows folder does not exist here
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    for (const char* list :
         {"Combo1", "Combo2", "Combo3", "Combo4", "Combo6", "Combo7", "Combo8", "Combo9"}) {
        EXPECT_EQ(v.items(list), eightChannelNames()) << list;
        EXPECT_EQ(v.text(list), "Bitte wählen...") << list;
    }
    EXPECT_EQ(v.items("Combo11"), eightChannelNames());

    // Slot k gets the channel at list position 8 - k: every slot differs, and positions no longer
    // equal catalogue index - 1 (two lines without a name take indices).
    for (int k = 1; k <= 8; ++k)
        rig.pick(Form1::slotRows()[std::size_t(k)].list, 8 - k);
    EXPECT_EQ(v.text("Text1") + "|" + v.text("Text5"), "Speed|kmh");
    EXPECT_EQ(v.text("Text16") + "|" + v.text("Text12"), "Batt|V"); // slot 5
    EXPECT_EQ(v.text("Text13") + "|" + v.text("Text9"), "RPM|rpm"); // slot 8
    EXPECT_EQ(v.text("Text14"), "Oil_P");                           // slot 7
    EXPECT_EQ(f.slotChannel[7], 13);
    EXPECT_EQ(f.slotDivider[7], 10);
    EXPECT_EQ(v.text("Text15") + "|" + v.text("Text11"), "Coolant_|deg"); // slot 6: cut to 8 and 3
    EXPECT_EQ(f.slotDivider[6], 2);                                       // 2.5 rounds half to even

    rig.type("Text16", "Akku"); // the user's own label for slot 5
    rig.click("Command2");
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    const auto sent = frames(rig);
    ASSERT_EQ(sent.size(), 10u); // connect + nine writes
    EXPECT_EQ(rig.display().framesBeforeAnswer(), 0);
    const auto records = rig.display().records();
    for (std::size_t i = 0; i < 9; ++i) {
        const Bytes& expected = reversedPicksFrames()[i];
        EXPECT_EQ(sent[i + 1], hexOf(expected)) << "frame " << i + 1;
        EXPECT_EQ(hexOf(records.at(int(0x10 * (i + 1)))), hexOf(slice(expected, 4, 16)));
    }
    EXPECT_EQ(rig.log().size(), 1u + 9 + 1); // identification, nine answers, "Commport: 3"
    EXPECT_PRED2(endsWith, rig.log().front(), " -> OK");
    EXPECT_EQ(f.weiter, std::optional<std::int16_t>(1));
    EXPECT_EQ(f.frameName, bytes("RPM     "));
    EXPECT_TRUE(v.canUse("Command2") && v.canUse("Command3"));
}

// The default view's list position before Settings write (-1: typed, nothing selected; -2: as loaded)
// and the byte that goes out.
class DefaultView : public ::testing::TestWithParam<std::pair<int, int>>
{
};

TEST_P(DefaultView, isWhatTheSettingsWriteSends)
{
    const auto [position, byte] = GetParam();
    ControlRig rig;
    ASSERT_TRUE(rig.connect());
    if (position >= 0)
        rig.pick("Combo10", position);
    else if (position == -1)
        rig.type("Combo10", "2");
    rig.click("Command6");
    const auto sent = frames(rig);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], hexOf(settingsFrame(Byte(byte))));
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

INSTANTIATE_TEST_SUITE_P(Form1, DefaultView,
                         ::testing::Values(std::pair{-2, 1}, std::pair{1, 2}, std::pair{2, 3},
                                           std::pair{-1, 0}),
                         [](const auto& info) {
                             const int position = info.param.first;
                             return position == -2   ? std::string("asLoaded")
                                    : position == -1 ? std::string("typedNothingSelected")
                                                     : "page" + std::to_string(position + 1);
                         });

TEST(Form1, resetSendsItsFrameAndWaits)
{
    SimulatorConfig config;
    config.resetText = asciiBytes("Neustart");
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    rig.click("Command5");
    const auto sent = frames(rig);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], hexOf(resetFrame()));
    EXPECT_PRED2(endsWith, rig.log().front(), " -> Neustart");
    EXPECT_EQ(rig.form->weiter, std::optional<std::int16_t>(1));
}

TEST(Form1, silentDisplayTimesOutAndStopsTheWrite)
{
    SimulatorConfig config;
    config.silent = true;
    ControlRig rig(config);
    ASSERT_TRUE(rig.connectSilently());
    HeadlessView& v = rig.view();

    bool disabledDuringWait = false;
    bool othersUsable = false;
    rig.after(1s, [&] {
        // A second write must not interleave: the sending buttons cannot be clicked.
        disabledDuringWait = !v.canUse("Command2") && !v.canUse("Command3") && !v.canUse("Command5") &&
                             !v.canUse("Command6") && !v.canUse("Command4");
        othersUsable = v.canUse("Command1") && v.canUse("Combo1");
    });
    const auto start = std::chrono::steady_clock::now();
    rig.click("Command2");
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(elapsed >= 2900ms && elapsed < 4500ms) << elapsed.count();
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(rig.dialogs.messages[0].text, "Timeout");
    EXPECT_EQ(rig.dialogs.messages[0].title, "Error");
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Error);
    rig.runFor(200ms);
    EXPECT_EQ(rig.display().receivedFrames().size(), 2u); // connect and the first slot, nothing more
    EXPECT_TRUE(disabledDuringWait);
    EXPECT_TRUE(othersUsable);
    EXPECT_TRUE(v.canUse("Command2"));
    EXPECT_TRUE(rig.form->serialPort().isOpen());
}

TEST(Form1, deviceGoneDuringWriteEndsItAtOnce)
{
    SimulatorConfig config;
    config.closeAfterFrames = 5; // connect + four slot frames, then the cable is pulled
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    const auto start = std::chrono::steady_clock::now();
    rig.click("Command2");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(rig.display().receivedFrames().size(), 5u);
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_TRUE(rig.dialogs.hasMessage("Verbindung")) << rig.dialogs.allMessages();
    EXPECT_FALSE(rig.dialogs.hasMessage("Timeout"));
    EXPECT_FALSE(rig.form->serialPort().isOpen());
    EXPECT_TRUE(rig.view().canUse("Command2"));
    EXPECT_EQ(rig.form->deviceFound, std::optional<std::int16_t>(1)); // nothing resets it
}

// After a write: a record that the display reports stored otherwise than sent is told in one message,
// with both values; a verified write, or one answered by text, shows nothing more than before.
struct VerifiedRow
{
    const char* name;
    const char* button;
    bool reports;    // the display answers with EEPROM read reports
    int wrongRecord; // the record address it stores otherwise, -1 none
    std::size_t frames;
    const char* message; // empty: none
};

class VerifiedWrites : public ::testing::TestWithParam<VerifiedRow>
{
};

TEST_P(VerifiedWrites, tellEveryRecordStoredOtherwise)
{
    const VerifiedRow& row = GetParam();
    SimulatorConfig config;
    if (row.reports)
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    config.wrongRecordAddress = row.wrongRecord;
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    const std::size_t logged = rig.log().size();
    rig.click(row.button);

    // A difference does not stop the write (the display answered every frame); the log is as always.
    EXPECT_EQ(rig.display().receivedFrames().size(), 1 + row.frames);
    EXPECT_EQ(rig.log().size(), logged + row.frames);
    EXPECT_PRED2(endsWith, rig.log().front(), row.reports ? "->  ReadEEProm @ 0x90" : " -> OK");
    if (std::string(row.message).empty()) {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        return;
    }
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages[0].text,
              std::string("Das Display hat nicht gespeichert, was gesendet wurde:\n\n") + row.message +
                  "\n\nBitte erneut schreiben. Bleibt die Abweichung, das Verbindungsprotokoll speichern "
                  "(Rechtsklick auf das Protokoll) und dem Support schicken.");
    EXPECT_EQ(rig.dialogs.messages[0].title, "Error");
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Error);
}

INSTANTIATE_TEST_SUITE_P(
    Form1, VerifiedWrites,
    ::testing::Values(
        VerifiedRow{"everyRecordVerified", "Command2", true, -1, 9, ""},
        VerifiedRow{"answeredByText", "Command2", false, 0x30, 9, ""},
        VerifiedRow{"slot3StoredOtherwise", "Command2", true, 0x30, 9,
                    "Platz 3\n"
                    "gesendet: Name „        “, Kanal 0, Teiler 0, Einheit „   “\n"
                    "gespeichert: Name „!       “, Kanal 0, Teiler 0, Einheit „   “"},
        VerifiedRow{"settingsStoredOtherwise", "Command6", true, 0x90, 1,
                    "Einstellungen\ngesendet: Standardansicht 1\ngespeichert: Standardansicht 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Form1, closingTheWindowEndsAWait)
{
    SimulatorConfig config;
    config.silent = true;
    ControlRig rig(config);
    ASSERT_TRUE(rig.connectSilently());
    rig.after(300ms, [&] { EXPECT_TRUE(rig.view().close()); });
    const auto start = std::chrono::steady_clock::now();
    rig.click("Command5");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    EXPECT_FALSE(rig.form->serialPort().isOpen());
    EXPECT_FALSE(rig.view().isWindowVisible());
    EXPECT_EQ(rig.frontEnd.quitRequests(), 1); // the last window closed
}

TEST(Form1, readerKeepsTheListsWhenNothingIsRead)
{
    FormRig rig(directoryOf({}));
    Form1& f = *rig.form;
    rig.click("Command1"); // Cancel before any file was chosen
    EXPECT_EQ(rig.view().itemCount("Combo1"), 0);
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();

    rig.dialogs.fileAnswers = {dataFile(EightChannelsLf)};
    rig.click("Command1");
    EXPECT_EQ(rig.view().itemCount("Combo1"), 8); // LF line ends read as lines
    EXPECT_EQ(f.catalogueNumber[3], 13);

    // Cancel now reads the remembered file again: same lists, Combo11 grows.
    rig.click("Command1");
    EXPECT_EQ(rig.view().itemCount("Combo1"), 8);
    EXPECT_EQ(rig.view().itemCount("Combo11"), 16);
}

TEST(Form1, readerReportsAnUnreadableFile)
{
    FormRig rig(directoryOf({}));
    Form1& f = *rig.form;
    rig.dialogs.fileAnswers = {dataFile(EightChannels)};
    rig.click("Command1");
    rig.pick("Combo2", 0);
    EXPECT_EQ(f.slotChannel[2], 12);

    rig.dialogs.fileAnswers = {files::join(files::join(tempFolder(), "nicht da"), "Version.xml")};
    rig.click("Command1");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Error);
    EXPECT_TRUE(rig.dialogs.hasMessage("Version.xml")) << rig.dialogs.allMessages();
    EXPECT_EQ(f.catalogueName[2], "RPM");         // catalogue kept
    EXPECT_EQ(rig.view().itemCount("Combo2"), 8); // lists given back
    EXPECT_EQ(f.slotChannel[2], 12);
}

TEST(Form1, readerBoundsTheListsAndWarns)
{
    // 300 channels, one with a divider out of range, and one line that repeats its name 2000 times.
    std::string file = "<channel";
    for (int i = 0; i < 2000; ++i)
        file += " name=\"R" + std::to_string(i) + "\"";
    file += "\n";
    for (int i = 1; i <= 300; ++i)
        file += "<channel name=\"C" + std::to_string(i) + "\" channel=\"" + std::to_string(i % 256) +
                "\" divider=\"" + (i == 7 ? "300" : "1") + "\"/>\n";
    FormRig rig(directoryOf({}));
    Form1& f = *rig.form;
    rig.dialogs.fileAnswers = {writeTempFile("big.xml", file)};
    rig.click("Command1");
    EXPECT_EQ(rig.view().itemCount("Combo1"), 1024);
    EXPECT_EQ(rig.view().itemCount("Combo11"), 1024);
    ASSERT_EQ(rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Warning);
    const std::string& warning = rig.dialogs.messages[0].text;
    EXPECT_TRUE(text::contains(warning, "45") && text::contains(warning, "C7: divider = 300")) << warning;
    EXPECT_EQ(f.catalogueName[256], "C255");
    EXPECT_EQ(f.catalogueDivider[8], 0); // C7 at index 8: divider 300 stored as 0, not 44
}

TEST(Form1, logMenuSavesTheConnectionTrace)
{
    ControlRig rig;
    ASSERT_TRUE(rig.connect());
    rig.click("Command5"); // reset and its answer
    EXPECT_EQ(rig.view().menu("List1"), std::vector<std::string>{Form1::SaveTraceCommand});

    rig.dialogs.fileAnswers = {std::nullopt}; // Cancel writes nothing
    EXPECT_TRUE(rig.command(Form1::SaveTraceCommand));
    const std::string path = writeTempFile("trace.txt", "old");
    rig.dialogs.fileAnswers = {path};
    EXPECT_TRUE(rig.command(Form1::SaveTraceCommand));
    ASSERT_EQ(rig.dialogs.fileRequests.size(), 2u);
    EXPECT_TRUE(rig.dialogs.fileRequests[1].save);
    std::string error;
    const auto saved = files::readAll(path, 1 << 20, &error);
    ASSERT_TRUE(saved) << error;
    const std::string trace(charsOf(*saved));
    EXPECT_TRUE(text::startsWith(trace, "Morvandell-Verbindungsprotokoll, Format 2\n")) << trace;
    EXPECT_TRUE(text::contains(trace, "Gerät: " + rig.devicePath() + ", Einstellungen: 19200,n,8,1"))
        << trace;
    EXPECT_EQ(traced(trace, '>'), hexOf(connectFrame() + resetFrame())) << trace;
    EXPECT_EQ(traced(trace, '<'), hexOf(identification("V1.0") + textMessage("Reset"))) << trace;
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}

TEST(Form1, theDemoDisplayIsOfferedAsComOne)
{
    DemoRig rig;
    HeadlessView& v = rig.view();
    ASSERT_GE(v.itemCount("Combo5"), 1);
    EXPECT_EQ(v.itemText("Combo5", 0), "Com #1");
    EXPECT_TRUE(text::contains(v.itemToolTip("Combo5", 0), "Demo-Display")) << v.itemToolTip("Combo5", 0);
    ASSERT_TRUE(rig.connect("Com #1"));
    EXPECT_TRUE(text::startsWith(v.caption(), "Morvandell: ")) << v.caption();
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
}
