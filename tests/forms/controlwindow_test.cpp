// The control window's reply wait at its edges and the message log's one action, with the display
// simulator's logic on a real line (a pseudo-terminal; COM3 under Wine).
#include "formtest.h"

#include "platform/text.h"
#include "ui/model/userguide.h"

#include <algorithm>

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

// Picking any line of the log clears it (the line the user picks: the second by mouse, the first when
// the Down key enters the list); new lines alone never do.
TEST(ControlWindow, pickingALogEntryClearsTheLog)
{
    for (const int line : {1, 0}) {
        FormRig rig(directoryOf({}));
        HeadlessView& v = rig.view();
        for (const char* text : {"one", "two", "three"})
            v.insertItem("List1", 0, text); // as the receiver logs
        rig.pick("List1", line);
        EXPECT_EQ(v.itemCount("List1"), 0) << line;
        v.insertItem("List1", 0, "new line");
        rig.runFor(20ms);
        EXPECT_EQ(v.itemCount("List1"), 1) << line;
    }
}

struct WaitRow
{
    const char* name;
    Bytes during;    // sent by the display 500 ms into Reset's wait
    bool deviceGoes; // the display's line closes on the reset frame
    bool resetTwice; // Reset again after the device went away
    std::chrono::milliseconds min, max;
    const char* message; // the one message box begins so; empty: none
};

class ReplyWait : public ::testing::TestWithParam<WaitRow>
{
};

TEST_P(ReplyWait, edgeCases)
{
    const WaitRow& row = GetParam();
    SimulatorConfig config;
    config.silent = !row.deviceGoes;
    config.closeAfterFrames = row.deviceGoes ? 2 : -1;
    ControlRig rig(config);
    Form1& form = *rig.form;
    HeadlessView& v = rig.view();
    ASSERT_TRUE(row.deviceGoes ? rig.connect() : rig.connectSilently());

    if (row.resetTwice) {
        rig.click("Command5");
        ASSERT_TRUE(rig.waitFor([&] { return !form.serialPort().isOpen(); }, 2s));
        rig.dialogs.messages.clear();
    }
    // Firmwareupdate is a sending button too: the update window would take the port over under the wait.
    bool updateDisabled = false;
    bool helpDisabled = false; // its message box would hold the wait up
    if (!row.deviceGoes) {
        rig.after(300ms, [&] {
            updateDisabled = !v.canUse("Command4");
            helpDisabled = !form.commandEnabled(ui::userguide::Command);
            if (!updateDisabled)
                rig.click("Command4");
        });
        rig.after(500ms, [&] { rig.sendRaw(row.during); });
    }
    const auto start = std::chrono::steady_clock::now();
    rig.click("Command5");
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(elapsed >= row.min && elapsed <= row.max) << elapsed.count();
    if (!*row.message) {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    } else {
        ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
        EXPECT_TRUE(text::startsWith(rig.dialogs.messages[0].text, row.message)) << rig.dialogs.allMessages();
    }
    if (row.deviceGoes) {
        // The cause is what happened to the line, never a stale text of an earlier call.
        EXPECT_FALSE(form.serialPort().isOpen());
        EXPECT_FALSE(text::contains(rig.dialogs.allMessages(), "ioctl")) << rig.dialogs.allMessages();
    } else {
        EXPECT_TRUE(updateDisabled);
        EXPECT_TRUE(helpDisabled);
        EXPECT_TRUE(form.commandEnabled(ui::userguide::Command));
        EXPECT_FALSE(form.updateWindow());
        EXPECT_TRUE(v.canUse("Command4"));
        const Bytes payload = slice(row.during, 4, 16);
        const std::string logged(payload.begin(), std::find(payload.begin(), payload.end(), Byte(0)));
        EXPECT_TRUE(text::endsWith(rig.log().front(), logged)) << rig.log().front();
    }
}

INSTANTIATE_TEST_SUITE_P(
    ControlWindow, ReplyWait,
    ::testing::Values(
        WaitRow{"identificationDoesNotEndTheWait", identification("V2"), false, false, 2900ms, 4500ms,
                "Timeout"},
        WaitRow{"anUnrelatedTextMessageEndsIt", textMessage("Hallo"), false, false, 400ms, 1500ms, ""},
        WaitRow{"deviceGoneDuringTheWait", {}, true, false, 0ms, 1500ms, "Verbindung zu Com #3 unterbrochen"},
        WaitRow{
            "resetAfterTheDeviceWentAway", {}, true, true, 0ms, 1500ms, "Senden an Com #3 fehlgeschlagen"}),
    [](const auto& info) { return std::string(info.param.name); });
