// The update window end to end: its handlers and the control window's on the headless front end, the
// display simulator's logic on a real line (a pseudo-terminal; COM3 under Wine).
#include "formtest.h"

#include "platform/files.h"
#include "platform/text.h"
#include "ui/model/userguide.h"
#include "updater/form2.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;
using Clock = std::chrono::steady_clock;

namespace {

bool contains(const std::string& s, const std::string& part)
{
    return text::contains(s, part);
}

std::int64_t msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether this process holds the file open.
bool heldOpen(const std::string& path)
{
#ifdef _WIN32
    // An open that shares nothing fails while any other handle is open on the file.
    const HANDLE h = ::CreateFileW(files::toPath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(h);
    return false;
#else
    const std::string wanted = files::canonicalPath(path);
    for (const std::string& fd : files::list("/proc/self/fd"))
        if (files::linkTarget(files::join("/proc/self/fd", fd)) == wanted)
            return true;
    return false;
#endif
}

// Enabled state of Load File, Update - Normal, Port Open, Update - Recovery.
std::string buttonStates(const HeadlessView& v)
{
    std::string s;
    for (const char* b : {"Command1", "Command2", "Command4", "Command5"})
        s += v.isEnabled(b) ? '1' : '0';
    return s;
}

// Opens the update window on port 3 (taken over from the connected control window, or typed at the
// prompt) and loads the file.
Form2& openAndLoad(ControlRig& rig, const std::string& path, bool takeOver = false)
{
    if (!takeOver)
        rig.dialogs.promptAnswers = {"3"};
    else
        EXPECT_TRUE(rig.connect());
    Form2& f = *rig.openUpdateWindow();
    EXPECT_EQ(rig.updateView().caption(), "Firmwareupdate Com:3");
    rig.dialogs.fileAnswers = {path};
    rig.updateView().click("Command1");
    return f;
}

std::string imageFile(const std::string& name, std::size_t size)
{
    return writeTempFile(name, firmwareImage(size));
}

} // namespace

TEST(Form2, startsAsDescribed)
{
    ControlRig rig;
    Form2& f = *rig.openUpdateWindow(); // prompt cancelled: Load File is disabled too
    HeadlessView& v = rig.updateView();
    EXPECT_TRUE(v.isWindowVisible() && rig.view().isWindowVisible());
    EXPECT_EQ(v.caption(), "Firmwareupdate");
    EXPECT_EQ(UpdateTransfer::readyTimerInterval(), 5000ms);
    EXPECT_EQ(v.minimum("ProgressBar1"), 0);
    EXPECT_EQ(v.maximum("ProgressBar1"), 130050);
    EXPECT_EQ(buttonStates(v), "0010");
    EXPECT_EQ(v.text("Label1"), "Status");
    // Port Open lies beyond the right edge: the window widens to reach it. (Places, tab order and fonts:
    // the front ends' own tests.)
    EXPECT_TRUE(v.canUse("Command4"));
    EXPECT_FALSE(f.hasPort());
}

struct StartRow
{
    const char* name;
    bool connected;
    std::optional<std::string> answer;
    const char* caption;
    int baud; // 0: port closed
    const char* message;
    bool hasPort; // also: Load File enabled
};

using StartUp = ::testing::TestWithParam<StartRow>;

TEST_P(StartUp, takesOverThePortOrAsksForOne)
{
    const StartRow& row = GetParam();
    ControlRig rig;
    ASSERT_TRUE(!row.connected || (rig.connect() && rig.form->serialPort().isOpen()));
    if (row.answer)
        rig.dialogs.promptAnswers = {*row.answer};
    Form2& f = *rig.openUpdateWindow();
    EXPECT_EQ(rig.dialogs.prompts.size(), row.connected ? 0u : 1u);
    EXPECT_EQ(rig.updateView().caption(), row.caption);
    EXPECT_EQ(f.serialPort().isOpen() ? f.serialPort().settings().baudRate : 0, row.baud);
    EXPECT_EQ(rig.updateView().isEnabled("Command1"), row.hasPort); // no port chosen disables Load File
    EXPECT_EQ(f.hasPort(), row.hasPort);
    EXPECT_FALSE(rig.form->serialPort().isOpen());
    EXPECT_TRUE(!*row.message || rig.dialogs.hasMessage(row.message)) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages.size(), *row.message ? 1u : 0u) << rig.dialogs.allMessages();
}

INSTANTIATE_TEST_SUITE_P(
    Form2, StartUp,
    ::testing::Values(StartRow{"controlWindowConnected", true, {}, "Firmwareupdate Com:3", 19200, "", true},
                      StartRow{"promptAnswered3", false, "3", "Firmwareupdate Com:3", 9600, "", true},
                      StartRow{"promptAnsweredAsTheListShowsIt", false, "Com #3", "Firmwareupdate Com:3", 9600, "",
                               true},
                      StartRow{"promptCancelled", false, {}, "Firmwareupdate", 0, "", false},
                      StartRow{"prompt17", false, "17", "Firmwareupdate", 0, "„17“ ist keine Portnummer", false},
                      StartRow{"promptDrei", false, "drei", "Firmwareupdate", 0, "keine Portnummer", false},
                      StartRow{"portWithoutDevice", false, "5", "Firmwareupdate Com:5", 0, "Com #5", true}),
    RowName());

TEST(Form2, anInvalidPortAnswerSendsNothingWhateverIsClicked)
{
    // The display also sits at port 1, the port number a service starts with.
    ControlRig rig({}, {1, 3});
    rig.dialogs.promptAnswers = {"17"};
    Form2& f = *rig.openUpdateWindow();
    EXPECT_EQ(buttonStates(rig.updateView()), "0010");
    rig.dialogs.fileAnswers = {imageFile("noport.bin", 300)};
    f.Command1_Click(); // whatever the order of clicks, enabled or not
    f.Command5_Click();
    f.Command2_Click();
    rig.runFor(200ms);
    EXPECT_TRUE(rig.display().rawReceived().empty());
    EXPECT_FALSE(f.serialPort().isOpen());
    ASSERT_EQ(rig.dialogs.messages.size(), 3u) << rig.dialogs.allMessages();
    EXPECT_PRED2(contains, rig.dialogs.messages[1].text, "kein Port gewählt");
    EXPECT_EQ(rig.dialogs.messages[2].text, rig.dialogs.messages[1].text);
}

TEST(Form2, closingAsksForARestartAndTheNextOpeningStartsAgain)
{
    ControlRig rig;
    Form2& f = openAndLoad(rig, imageFile("close.bin", 300), true);
    bool portClosedAtMessage = false;
    rig.dialogs.onMessage = [&](const auto&) { portClosedAtMessage = !f.serialPort().isOpen(); };
    EXPECT_TRUE(rig.updateView().close()); // the close box; the Close button calls the same
    EXPECT_EQ(rig.dialogs.allMessages(), "[Hinweis] Please restart.");
    EXPECT_EQ(rig.dialogs.messages.at(0).icon, ui::Dialogs::Icon::None);
    EXPECT_TRUE(portClosedAtMessage && !f.isWindowVisible() && !f.isLoaded());
    EXPECT_FALSE(rig.form->serialPort().isOpen());
    EXPECT_TRUE(rig.view().isWindowVisible());

    rig.dialogs.onMessage = nullptr;
    EXPECT_EQ(rig.openUpdateWindow(), &f);
    EXPECT_TRUE(f.isLoaded() && f.serialPort().isOpen());
    EXPECT_EQ(buttonStates(rig.updateView()), "1010");
    EXPECT_FALSE(f.imageLength);
}

struct LoadRow
{
    const char* name;
    const char* answer; // a file name; empty: Cancel
    int size;           // -1: the name does not exist
    const char* message;
};

using LoadFile = ::testing::TestWithParam<LoadRow>;

TEST_P(LoadFile, recordsTheFileOrKeepsThePreviousOne)
{
    const LoadRow& row = GetParam();
    ControlRig rig;
    const std::string first = imageFile("first.bin", 700);
    Form2& f = openAndLoad(rig, first);
    const std::string chosen = files::join(tempFolder(), row.answer);
    const bool taken = row.size >= 0 && *row.answer;
    ASSERT_TRUE(!taken || writeTempFile(row.answer, Bytes(std::size_t(row.size), 0x11)) == chosen);
    rig.dialogs.fileAnswers = {*row.answer ? std::optional(chosen) : std::nullopt};
    rig.updateView().click("Command1");
    const auto& request = rig.dialogs.fileRequests.back();
    EXPECT_EQ(request.title + "|" + request.folder + "|" + request.filter,
              "Open|" + files::programFolder() + "|Binary Files (*.bin)");
    EXPECT_EQ(f.imagePath, taken ? chosen : first);
    EXPECT_EQ(f.imageLength, std::optional<std::int64_t>(taken ? row.size : 700));
    EXPECT_EQ(buttonStates(rig.updateView()), "1111");
    EXPECT_TRUE(!*row.message || rig.dialogs.hasMessage(row.message)) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages.size(), *row.message ? 1u : 0u) << rig.dialogs.allMessages();
    EXPECT_FALSE(files::exists(files::join(tempFolder(), "missing.bin")));
}

INSTANTIATE_TEST_SUITE_P(Form2, LoadFile,
                         ::testing::Values(LoadRow{"bytes130084", "a.bin", 130084, ""},
                                           LoadRow{"bytes130085WarningOnly", "b.BIN", 130085, "Datei zu groß!"},
                                           LoadRow{"cancel", "", 700, ""},
                                           LoadRow{"aNameThatDoesNotExist", "missing.bin", -1, "missing.bin"}),
                         RowName());

struct UpdateRow
{
    const char* name;
    bool recovery;
    bool coalesce;
    std::size_t size;
    bool ackOnly; // a lone 0x06 after the last block, no completion byte
};

using Update = ::testing::TestWithParam<UpdateRow>;

TEST_P(Update, sendsTheWholeImageAndEndsFinished)
{
    const UpdateRow& row = GetParam();
    SimulatorConfig config;
    config.recovery = row.recovery; // the display already waits in its update mode
    config.coalesceFinal = row.coalesce;
    config.finalAckOnly = row.ackOnly;
    ControlRig rig(config);
    const Bytes image = firmwareImage(row.size);
    const std::string path = writeTempFile("image" + std::to_string(row.size) + ".bin", image);
    Form2& f = openAndLoad(rig, path, !row.recovery);
    HeadlessView& v = rig.updateView();
    std::string statesDuringTransfer;
    std::string statuses; // each status text shown, in order
    v.onChange = [&](const std::string& control) {
        if (control == "Label1")
            statuses += v.text("Label1") + "|";
        if (control == "ProgressBar1" && v.value("ProgressBar1") > 128 && statesDuringTransfer.empty())
            statesDuringTransfer = buttonStates(v) + (heldOpen(path) ? "+file" : "");
    };
    v.click(row.recovery ? "Command5" : "Command2");
    v.onChange = nullptr;
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    EXPECT_EQ(statesDuringTransfer, "0000"); // the bytes come from memory, not the file
    EXPECT_PRED2(contains, statuses, row.recovery ? "Warte....|Übertragen." : "Warte....|Bereit.|Übertragen.");
    // The normal update says "Fertig" when its last block is out; the completion byte says "Fertig.";
    // the recovery update's "Fertig" leaves the background as it was.
    const bool completion = !row.ackOnly;
#ifdef _WIN32
    // Wine's serial reads may hand over the acknowledgement and the completion byte, written together,
    // one by one: the recovery update ends on the first, the second follows.
    const bool split = row.recovery && row.coalesce && f.statusText() == "Fertig";
#else
    const bool split = false;
#endif
    EXPECT_EQ(f.statusText(), row.recovery && completion && !split ? "Fertig." : "Fertig");
    EXPECT_EQ(f.statusIsGreen(), completion && !split);
    EXPECT_TRUE(!completion || rig.waitFor([&] { return f.statusText() == "Fertig."; }, 3s)) << f.statusText();
    EXPECT_TRUE(f.statusIsGreen() == completion && f.serialPort().isOpen() == !completion);
    EXPECT_FALSE(heldOpen(path));
    EXPECT_EQ(f.serialPort().settings().baudRate, 9600);
    EXPECT_EQ(rig.display().blocksReceived(), 1016);
    EXPECT_TRUE(rig.display().receivedImage() == asTransferred(image)) << "the image differs";
    EXPECT_EQ(v.value("ProgressBar1"), 130049);
    EXPECT_PRED2(contains, v.text("ProgressBar1"), "Block 1016/1016");
    EXPECT_EQ(buttonStates(v), "1111");
    const auto frames = rig.display().receivedFrames();
    EXPECT_EQ(frames.empty() ? std::string() : hexOf(frames.back()), row.recovery ? "" : hexOf(updateFrame()));

    // Closed now: the user is asked to restart; the control window stays.
    EXPECT_TRUE(v.close());
    EXPECT_EQ(rig.dialogs.allMessages(), "[Hinweis] Please restart.");
    EXPECT_EQ(rig.dialogs.messages.at(0).icon, ui::Dialogs::Icon::None);
    EXPECT_TRUE(!v.isWindowVisible() && rig.view().isWindowVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Form2, Update,
    ::testing::Values(UpdateRow{"normal100kB", false, false, 100000, false},
                      UpdateRow{"normalAckAndCompletionInOneRead", false, true, 500, false},
                      UpdateRow{"recoveryCompletionAloneAfterTheLastBlock", true, false, 100000, false},
                      UpdateRow{"recoveryAckAndCompletionInOneRead", true, true, 500, false},
                      UpdateRow{"recoveryALoneAckAfterTheLastBlock", true, false, 500, true}),
    RowName());

struct SilenceRow
{
    const char* name;
    bool recovery;
    int lastAck; // -2: no ready byte
    int attempts;
};

using Silence = ::testing::TestWithParam<SilenceRow>;

TEST_P(Silence, endsInTimeout)
{
    const SilenceRow& row = GetParam();
    SimulatorConfig config;
    config.recovery = row.recovery;
    config.noReady = row.lastAck == -2;
    config.stopAckAfterBlock = row.lastAck;
    ControlRig rig(config);
    Form2& f = openAndLoad(rig, imageFile("timeout.bin", 4000));
    HeadlessView& v = rig.updateView();
    for (int attempt = 1; attempt <= row.attempts; ++attempt) {
        // Every attempt gets its own 5 s, counted from the display's last answer (or from the start).
        Clock::time_point lastAnswer = Clock::now();
        v.onChange = [&](const std::string& control) {
            if (control == "Label1" && v.text("Label1") != "Timeout")
                lastAnswer = Clock::now();
        };
        v.click(row.recovery ? "Command5" : "Command2");
        v.onChange = nullptr;
        const auto silent = msSince(lastAnswer);
        EXPECT_TRUE(silent >= 5000 && silent < 7000) << silent << " ms";
        ASSERT_EQ(rig.dialogs.messages.size(), std::size_t(attempt)) << rig.dialogs.allMessages();
        const auto& m = rig.dialogs.messages.back();
        EXPECT_EQ(m.title, "Error");
        EXPECT_EQ(m.icon, ui::Dialogs::Icon::Error);
        EXPECT_TRUE(row.lastAck == -2 ? text::startsWith(m.text, "Timeout\n\n")
                                      : text::startsWith(m.text, "Timeout") &&
                                            contains(m.text, std::to_string(row.lastAck + 1)))
            << m.text;
        EXPECT_EQ(f.statusText(), "Timeout");
        EXPECT_FALSE(f.statusIsGreen());
        EXPECT_EQ(f.serialPort().settings().baudRate, 9600);
        EXPECT_FALSE(f.transfer().readyTimerActive());
        EXPECT_EQ(buttonStates(v), "1111");
    }
    EXPECT_EQ(rig.display().blocksReceived(), std::max(0, row.lastAck + 1));
    EXPECT_EQ(rig.display().bytesBeforeReady(), 0);
}

INSTANTIATE_TEST_SUITE_P(Form2, Silence,
                         ::testing::Values(SilenceRow{"noReadyByteTwice", false, -2, 2},
                                           SilenceRow{"normalAcknowledgementsStopAfterBlock5", false, 5, 1},
                                           SilenceRow{"recoveryAcknowledgementsStopAfterBlock1015", true, 1015, 1}),
                         RowName());

struct VanishRow
{
    const char* name;
    bool recovery;
    int closeAfterFrames;
    int closeAfterBlock;
    const char* told; // part of the message
    const char* bar;
};

using Vanishing = ::testing::TestWithParam<VanishRow>;

// A vanished device ends the update at once, not by a time limit, with one message.
TEST_P(Vanishing, deviceIsReportedWithTheBlocksSent)
{
    const VanishRow& row = GetParam();
    SimulatorConfig config;
    config.recovery = row.recovery;
    config.closeAfterFrames = row.closeAfterFrames;
    config.closeAfterBlock = row.closeAfterBlock;
    ControlRig rig(config);
    Form2& f = openAndLoad(rig, imageFile("unplug.bin", 100000));
    HeadlessView& v = rig.updateView();
    auto seenOpen = Clock::now(); // the device went later
    rig.every(10ms, [&] {
        if (rig.display().deviceClosed())
            return false;
        seenOpen = Clock::now();
        return true;
    });
    v.click(row.recovery ? "Command5" : "Command2");
    EXPECT_LT(msSince(seenOpen), 2000) << "the loss ends the transfer at once";
    rig.runFor(50ms); // a second report would come now
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    const auto& m = rig.dialogs.messages[0];
    EXPECT_TRUE(contains(m.text, row.told) && m.text != "Timeout") << m.text;
    EXPECT_EQ(m.icon, ui::Dialogs::Icon::Error);
    EXPECT_EQ(v.text("ProgressBar1"), row.bar);
    EXPECT_FALSE(f.serialPort().isOpen());
    EXPECT_FALSE(text::startsWith(f.statusText(), "Fertig"));
    EXPECT_EQ(buttonStates(v), "1111");
    EXPECT_EQ(rig.display().blocksReceived(), std::max(0, row.closeAfterBlock));
}

INSTANTIATE_TEST_SUITE_P(
    Form2, Vanishing,
    ::testing::Values(
        VanishRow{"normalAtBlock7", false, -1, 7, "7 von 1016 Blöcken", "0 % · Block 7/1016 · abgebrochen"},
        VanishRow{"recoveryAtBlock7", true, -1, 7, "7 von 1016 Blöcken", "0 % · Block 7/1016 · abgebrochen"},
        VanishRow{"duringTheReadyWait", false, 1, -1, "Com #3", "0 % · Block 0/1016 · abgebrochen"},
        VanishRow{"atBlock500", false, -1, 500, "500 von 1016", "49 % · Block 500/1016 · abgebrochen"}),
    RowName());

using ChangedFile = ::testing::TestWithParam<int>;

// The image file deleted (-1) or cut to some bytes after loading.
TEST_P(ChangedFile, stopsTheUpdateBeforeTheDisplayIsSwitched)
{
    const int nowBytes = GetParam();
    ControlRig rig;
    const std::string path = imageFile("changed" + std::to_string(nowBytes + 1) + ".bin", 50000);
    openAndLoad(rig, path, true);
    std::error_code ec;
    if (nowBytes < 0)
        std::filesystem::remove(files::toPath(path), ec);
    else
        std::filesystem::resize_file(files::toPath(path), std::uintmax_t(nowBytes), ec);
    ASSERT_FALSE(ec) << ec.message();
    rig.updateView().click("Command2");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_PRED2(contains, rig.dialogs.messages[0].text, files::fileName(path));
    rig.runFor(300ms);
    EXPECT_EQ(rig.display().receivedFrames().size(), 1u); // the connect frame only
    EXPECT_EQ(rig.display().blocksReceived(), 0);
    EXPECT_EQ(buttonStates(rig.updateView()), "1111");
}

INSTANTIATE_TEST_SUITE_P(Form2, ChangedFile, ::testing::Values(-1, 1000),
                         [](const auto& info) { return std::string(info.param < 0 ? "deleted" : "truncated"); });

struct RefusalRow
{
    const char* name;
    bool recovery;
    bool withFile;
    const char* message;
};

using Refusal = ::testing::TestWithParam<RefusalRow>;

TEST_P(Refusal, anUpdateWithoutFileOrOnAClosedPortSendsNothing)
{
    const RefusalRow& row = GetParam();
    ControlRig rig({}, {3, 14});
    Form2& f = *rig.openUpdateWindow(); // prompt cancelled
    HeadlessView& v = rig.updateView();
    v.click("Command4"); // Port Open: port 14, update buttons on even without a file
    EXPECT_TRUE(f.serialPort().isOpen() && f.serialPort().commPort() == 14);
    EXPECT_EQ(f.statusText() + buttonStates(v), "Warte....0111");
    if (row.withFile) {
        f.imagePath = imageFile("refused.bin", 100);
        f.imageLength = 100;
        f.serialPort().close();
    }
    v.click(row.recovery ? "Command5" : "Command2");
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_PRED2(contains, rig.dialogs.messages[0].text, row.message);
    EXPECT_EQ(buttonStates(v), "0111");
    rig.runFor(100ms);
    EXPECT_TRUE(rig.display().rawReceived().empty());
}

INSTANTIATE_TEST_SUITE_P(Form2, Refusal,
                         ::testing::Values(RefusalRow{"normalNoFile", false, false, "keine Firmware-Datei"},
                                           RefusalRow{"recoveryNoFile", true, false, "keine Firmware-Datei"},
                                           RefusalRow{"normalPortClosed", false, true, "nicht geöffnet"}),
                         RowName());

TEST(Form2, aFailedTransferAfterAFinishedOneShowsItsOwnEnd)
{
    ControlRig rig;
    Form2& f = openAndLoad(rig, imageFile("twice.bin", 1000), true);
    HeadlessView& v = rig.updateView();
    v.click("Command2");
    ASSERT_TRUE(rig.waitFor([&] { return f.statusText() == "Fertig."; }, 3s)) << f.statusText();
    EXPECT_TRUE(f.statusIsGreen());
    EXPECT_EQ(v.value("ProgressBar1"), 130049);
    // The display is back in its normal mode: a recovery update gets no acknowledgement.
    v.click("Command5");
    EXPECT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_EQ(f.statusText(), "Timeout");
    EXPECT_FALSE(f.statusIsGreen());
    EXPECT_EQ(v.value("ProgressBar1"), 129);
    EXPECT_EQ(v.text("ProgressBar1"), "0 % · Block 1/1016 · abgebrochen");
    EXPECT_EQ(v.focused(), "Command5");
}

struct ClosingRow
{
    const char* name;
    bool controlWindow; // closed: the control window, else the update window
    bool stop;          // the answer
};

using ClosingDuringATransfer = ::testing::TestWithParam<ClosingRow>;

// The display takes its time over block 20's acknowledgement; the question comes then. The answer comes
// once blocks went on arriving under it: "Ja" after a few, "Nein" after 200 (or when it stood longer than
// the acknowledgement time limit); never with a gap as long as that limit, however fast the machine is.
TEST_P(ClosingDuringATransfer, asksAndNeverStallsIt)
{
    const ClosingRow& row = GetParam();
    SimulatorConfig config;
    config.ackDelayBlock = 20;
    config.ackDelayMs = 300;
    ControlRig rig(config);
    const Bytes image = firmwareImage(100000);
    const std::string path = writeTempFile("closing.bin", image);
    Form2& f = openAndLoad(rig, path, true);
    HeadlessView& closed = row.controlWindow ? rig.view() : rig.updateView();

    int blocksWhenAsked = -1;
    int blocksAtAnswer = -1;
    bool helpDisabled = false;
    std::int64_t longestGap = 0;
    rig.every(10ms, [&] {
        if (!f.isTransferring())
            return rig.display().blocksReceived() == 0; // not begun yet, or over
        if (rig.display().blocksReceived() < 20)
            return true;
        blocksWhenAsked = rig.display().blocksReceived();
        // In both windows: its message box would hold the transfer up.
        helpDisabled = !f.commandEnabled(ui::userguide::Command) && !rig.form->commandEnabled(ui::userguide::Command);
        EXPECT_FALSE(closed.close()); // asks instead
        const auto asked = Clock::now();
        rig.every(10ms, [&, asked, blocks = blocksWhenAsked, moved = asked]() mutable {
            if (!rig.dialogs.questionOpen())
                return false;
            if (rig.display().blocksReceived() != blocks) {
                blocks = rig.display().blocksReceived();
                moved = Clock::now();
            }
            longestGap = std::max<std::int64_t>(longestGap, msSince(moved));
            if (blocks < blocksWhenAsked + (row.stop ? 5 : 200) &&
                msSince(asked) < UpdateTransfer::AckTimeout.count() + 500)
                return true;
            blocksAtAnswer = blocks;
            EXPECT_TRUE(rig.dialogs.answer(row.stop));
            return false;
        });
        return false;
    });
    std::string atMessage;
    rig.dialogs.onMessage = [&](const auto&) {
        atMessage = std::string("port ") + (f.serialPort().isOpen() ? "1" : "0") + " file " +
                    (heldOpen(path) ? "1" : "0");
    };
    rig.updateView().click("Command2");
    EXPECT_TRUE(helpDisabled);
    EXPECT_TRUE(f.commandEnabled(ui::userguide::Command));
    ASSERT_EQ(rig.dialogs.questions.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_PRED2(contains, rig.dialogs.questions[0].text, "Update - Recovery");
    EXPECT_PRED2(contains, rig.dialogs.questions[0].text, " von 1016");
    EXPECT_FALSE(rig.dialogs.questionOpen());
    EXPECT_GE(blocksWhenAsked, 20);
    EXPECT_GT(blocksAtAnswer, blocksWhenAsked) << "the transfer stalled under the question";
    EXPECT_LT(longestGap, UpdateTransfer::AckTimeout.count());
    if (!row.stop) {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        EXPECT_TRUE(rig.waitFor([&] { return f.statusText() == "Fertig."; }, 3s)) << f.statusText();
        EXPECT_TRUE(rig.display().receivedImage() == asTransferred(image)) << "the image differs";
        EXPECT_TRUE(closed.isWindowVisible() && f.isLoaded());
        return;
    }
    EXPECT_EQ(atMessage, "port 0 file 0");
    EXPECT_FALSE(closed.isWindowVisible());
    EXPECT_FALSE(f.isTransferring());
    EXPECT_EQ(f.isLoaded(), row.controlWindow); // the update window stays with its advice
    EXPECT_PRED2(contains, rig.dialogs.allMessages(),
                 row.controlWindow ? "Update - Recovery" : "[Hinweis] Please restart.");
    // The blocks written before the stop arrive; nothing more goes out.
    const int sent = f.transfer().blocksSent();
    EXPECT_TRUE(rig.waitFor([&] { return rig.display().blocksReceived() == sent; }, 2s));
    rig.runFor(200ms);
    EXPECT_EQ(rig.display().blocksReceived(), sent);
    EXPECT_TRUE(sent >= 20 && sent < 1016) << sent;
}

INSTANTIATE_TEST_SUITE_P(Form2, ClosingDuringATransfer,
                         ::testing::Values(ClosingRow{"updateWindowNein", false, false},
                                           ClosingRow{"updateWindowJa", false, true},
                                           ClosingRow{"controlWindowNein", true, false},
                                           ClosingRow{"controlWindowJa", true, true}),
                         RowName());
