// Faults during a firmware update: answers around the time limits, a port held by another program (the
// device vanishing: form2_test). The simulated display on a real line (a pseudo-terminal; COM3 under
// Wine).
#include "formtest.h"

#include "platform/text.h"
#include "serial/serialservice.h"
#include "updater/form2.h"

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

struct LimitRow
{
    const char* name;
    bool ready; // the ready byte is late, else one acknowledgement
    int delayMs;
    bool timesOut;
};

using TimeLimit = ::testing::TestWithParam<LimitRow>;

} // namespace

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
    rig.dialogs.promptAnswers = {"3"}; // the port typed at the update window's prompt
    Form2& f = *rig.openUpdateWindow();
    rig.dialogs.fileAnswers = {writeTempFile("fault.bin", firmwareImage(2000))};
    rig.updateView().click("Command1");
    rig.updateView().click("Command2");
    if (row.timesOut) {
        ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
        EXPECT_TRUE(text::startsWith(rig.dialogs.messages[0].text, "Timeout")) << rig.dialogs.allMessages();
        EXPECT_FALSE(text::startsWith(f.statusText(), "Fertig"));
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
