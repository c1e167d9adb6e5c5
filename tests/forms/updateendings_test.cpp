// How a firmware transfer ends: the message for every way it ends without "Fertig.", the focus on the way
// back, and the machine kept awake from start to end, as the system sees it: on Linux logind (a fake one
// on a private bus), on Windows the thread's execution state.
#include "formtest.h"

#include "platform/files.h"
#include "platform/text.h"
#include "updater/form2.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "fakelogind.h"
#endif

#include <filesystem>

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

bool contains(const std::string& s, const std::string& part)
{
    return text::contains(s, part);
}

#ifdef _WIN32
// The thread's execution state, read by setting it again as it was.
EXECUTION_STATE executionState()
{
    const EXECUTION_STATE state = ::SetThreadExecutionState(ES_CONTINUOUS);
    if (state & ES_CONTINUOUS)
        ::SetThreadExecutionState(state);
    return state;
}
#endif

struct EndingRow
{
    const char* name;
    void (*configure)(SimulatorConfig&);
    const char* during;  // at block 20: "cancel", "shorten" the file; before the update: "delete" it
    const char* message; // empty: "Fertig"
    bool touched;        // the way back is shown and focused
};

class Ending : public ::testing::TestWithParam<EndingRow>
{
public:
#ifndef _WIN32
    // The program's system bus is a private one with a fake logind on it.
    static void SetUpTestSuite() { logind = new FakeLogind; }
    static void TearDownTestSuite()
    {
        delete logind;
        logind = nullptr;
    }
    static inline FakeLogind* logind = nullptr;
#endif

    // Inhibitors the system holds for the program now.
    static int held()
    {
#ifdef _WIN32
        return executionState() == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) ? 1 : 0;
#else
        return logind->held();
#endif
    }
};

} // namespace

TEST_P(Ending, saysWhatHappenedAndTheMachineMayRestAfterwards)
{
    const EndingRow& row = GetParam();
    const std::string during = row.during;
#ifndef _WIN32
    ASSERT_TRUE(logind->isValid());
#endif
    SimulatorConfig config;
    row.configure(config);
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    Form2& f = *rig.openUpdateWindow();
    HeadlessView& v = rig.updateView();
    const std::string path = writeTempFile("ending.bin", Bytes(50000, 'x'));
    rig.dialogs.fileAnswers = {path};
    v.click("Command1");
    EXPECT_PRED2(contains, v.toolTip("Command1"), "ending.bin\n50000 Bytes\nSHA-256 ");
    std::error_code ec;
    if (during == "delete")
        std::filesystem::remove(files::toPath(path), ec);
    const SleepInhibitor& inhibitor = f.transfer().sleepInhibitor();
    bool seenHeld = false;
    bool watching = true;
    rig.every(20ms, [&] {
        seenHeld = seenHeld || (inhibitor.isHeld() && held() == 1);
        return watching;
    });
    bool done = false;
    v.onChange = [&](const std::string& control) {
        if (control != "ProgressBar1" || v.value("ProgressBar1") < 20 * 128 || done)
            return;
        done = true;
        if (during == "cancel")
            f.transfer().cancel();
        else if (during == "shorten")
            std::filesystem::resize_file(files::toPath(path), 1000, ec);
    };
    v.click("Command2");
    watching = false;
    v.onChange = nullptr;
    EXPECT_FALSE(ec) << ec.message();

    EXPECT_EQ(seenHeld, during != "delete"); // a refusal ends before the answer
    EXPECT_TRUE(rig.waitFor([&] { return held() == 0; }, 2s));
    EXPECT_TRUE(!inhibitor.isWanted() && !inhibitor.isHeld());
#ifndef _WIN32
    EXPECT_TRUE(!seenHeld || logind->requests().back() == "sleep:idle|Morvandell|Firmware-Update läuft|block")
        << logind->requests().back();
#endif
    if (!*row.message) {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        return;
    }
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    const std::string& message = rig.dialogs.messages[0].text;
    EXPECT_PRED2(contains, message, row.message);
    EXPECT_TRUE(text::endsWith(message, row.touched ? UpdateTransfer::recoveryAdvice()
                                                    : UpdateTransfer::untouchedNote()))
        << message;
    EXPECT_EQ(v.focused() == "Command5", row.touched);
    EXPECT_FALSE(text::startsWith(f.statusText(), "Fertig"));
    EXPECT_FALSE(f.statusIsGreen());
}

INSTANTIATE_TEST_SUITE_P(
    UpdateEndings, Ending,
    ::testing::Values(
        EndingRow{"finished", [](SimulatorConfig&) {}, "", "", false},
        EndingRow{"noReadyByte", [](SimulatorConfig& c) { c.noReady = true; }, "", "Timeout", true},
        EndingRow{"acknowledgementsStop", [](SimulatorConfig& c) { c.stopAckAfterBlock = 30; }, "",
                  "Block 31 von 1016", true},
        EndingRow{"deviceGone", [](SimulatorConfig& c) { c.closeAfterBlock = 30; }, "", "abgebrochen", true},
        // Slow enough for progress reports before the end.
        EndingRow{"stopped", [](SimulatorConfig& c) { c.ackDelayMs = 2; }, "cancel", "Das Update wurde beendet",
                  true},
        EndingRow{"fileShortenedAfterTheUpdateFrame", [](SimulatorConfig& c) { c.ackDelayMs = 2; }, "shorten",
                  "kürzer geworden", true},
        EndingRow{"fileGoneBeforeTheUpdateFrame", [](SimulatorConfig&) {}, "delete", "existiert nicht mehr",
                  false}),
    RowName());
