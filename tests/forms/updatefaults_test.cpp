// Faults during a firmware update: the device vanishing at each stage, answers around the time limits,
// a port held by another program. The simulated display on a real line (a pseudo-terminal; COM3 under
// Wine).
#include "formtest.h"

#include "platform/text.h"
#include "serial/serialservice.h"
#include "updater/form2.h"

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

// Opens the update window on port 3 (typed at its prompt) and loads an image of `size` bytes.
Form2& openWithImage(ControlRig& rig, std::size_t size)
{
    rig.dialogs.promptAnswers = {"3"};
    Form2& f = *rig.openUpdateWindow();
    rig.dialogs.fileAnswers = {writeTempFile("fault" + std::to_string(size) + ".bin", firmwareImage(size))};
    rig.updateView().click("Command1");
    return f;
}

bool finished(const Form2& f)
{
    return text::startsWith(f.statusText(), "Fertig");
}

struct VanishRow
{
    const char* name;
    int closeAfterFrames;
    int closeAfterBlock;
    const char* told; // part of the message
};

using Vanishing = ::testing::TestWithParam<VanishRow>;

struct LimitRow
{
    const char* name;
    bool ready; // the ready byte is late, else one acknowledgement
    int delayMs;
    bool timesOut;
};

using TimeLimit = ::testing::TestWithParam<LimitRow>;

} // namespace

// A vanished device ends the update at once, not by a time limit: from the display closing its line to the
// end of the transfer takes well less than that limit.
TEST_P(Vanishing, endsTheUpdateAtOnce)
{
    const VanishRow& row = GetParam();
    SimulatorConfig config;
    config.closeAfterFrames = row.closeAfterFrames;
    config.closeAfterBlock = row.closeAfterBlock;
    ControlRig rig(config);
    Form2& f = openWithImage(rig, 100000);
    // The line was last seen open then (the device went later): an upper bound of the time since the loss.
    auto seenOpen = std::chrono::steady_clock::now();
    rig.every(10ms, [&] {
        if (rig.display().deviceClosed())
            return false;
        seenOpen = std::chrono::steady_clock::now();
        return true;
    });
    rig.updateView().click("Command2");
    EXPECT_LT(std::chrono::steady_clock::now() - seenOpen, 4000ms);
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    const auto& m = rig.dialogs.messages[0];
    EXPECT_TRUE(text::contains(m.text, row.told) && m.text != "Timeout") << m.text;
    EXPECT_EQ(m.icon, ui::Dialogs::Icon::Error);
    EXPECT_FALSE(finished(f));
    EXPECT_FALSE(f.serialPort().isOpen());
    EXPECT_TRUE(rig.updateView().isEnabled("Command2") && rig.updateView().isEnabled("Command5"));
    EXPECT_EQ(rig.display().blocksReceived(), std::max(0, row.closeAfterBlock));
}

INSTANTIATE_TEST_SUITE_P(UpdateFaults, Vanishing,
                         ::testing::Values(VanishRow{"duringTheReadyWait", 1, -1, "Com #3"},
                                           VanishRow{"atBlock500", -1, 500, "500 von 1016"}),
                         RowName());

TEST_P(TimeLimit, answersAroundIt)
{
    const LimitRow& row = GetParam();
    SimulatorConfig config;
    if (row.ready) {
        config.readyDelayMs = row.delayMs;
    } else {
        config.ackDelayMs = row.delayMs;
        config.ackDelayBlock = 3;
    }
    ControlRig rig(config);
    Form2& f = openWithImage(rig, 2000);
    rig.updateView().click("Command2");
    if (row.timesOut) {
        ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
        EXPECT_TRUE(text::startsWith(rig.dialogs.messages[0].text, "Timeout")) << rig.dialogs.allMessages();
        EXPECT_FALSE(finished(f));
        EXPECT_EQ(rig.display().blocksReceived(), row.ready ? 0 : 3);
    } else {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
        EXPECT_TRUE(rig.waitFor([&] { return f.statusText() == "Fertig."; }, 3s)) << f.statusText();
        EXPECT_EQ(rig.display().blocksReceived(), 1016);
    }
}

INSTANTIATE_TEST_SUITE_P(UpdateFaults, TimeLimit,
                         ::testing::Values(LimitRow{"readyByteJustUnder5s", true, 4000, false},
                                           LimitRow{"readyByteJustOver5s", true, 6000, true},
                                           LimitRow{"acknowledgementJustUnder5s", false, 4000, false},
                                           LimitRow{"acknowledgementJustOver5s", false, 6000, true}),
                         RowName());

TEST(UpdateFaults, portHeldByAnotherProgramAtStartUp)
{
    if (!portsCanBeHeld())
        GTEST_SKIP() << "this platform lets a second program open a port that one holds";
    ControlRig rig;
    SerialService other(rig.loop(), directoryOf({{1, rig.devicePath()}}));
    ASSERT_TRUE(other.open()); // another program holds the port
    rig.dialogs.promptAnswers = {"3"};
    Form2& f = *rig.openUpdateWindow();
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_TRUE(text::contains(rig.dialogs.messages[0].text, "belegt")) << rig.dialogs.allMessages();
    EXPECT_FALSE(f.serialPort().isOpen());
}
