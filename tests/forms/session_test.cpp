// One whole working session in one process, as a user has it: connect, read the log definitions, assign
// every slot, write, change the default view, reset, then update the firmware and close both windows;
// with the simulated display on a real line and with the demo display inside the program (--demo).
// Under the sanitizer build this is the leak check of a full session.
#include "formtest.h"

#include "updater/form2.h"

using namespace morvandell;
using namespace morvandell::test;

namespace {

// The session on a control window whose display sits at `port`.
void configureAndUpdate(FormRig& rig, const sim::DisplayLogic& display, const std::string& port)
{
    Form1& f = *rig.form;
    ASSERT_TRUE(rig.connect(port));
    EXPECT_EQ(rig.view().caption(), "Morvandell: V1.0");

    std::string xml = "<channels>\n";
    for (int i = 1; i <= 40; ++i)
        xml += "  <channel name=\"Ch" + std::to_string(i) + "\" channel=\"" + std::to_string(i + 100) +
               "\" unit=\"u" + std::to_string(i % 10) + "\" divider=\"" + std::to_string(i) + "\"/>\n";
    xml += "</channels>\n";
    rig.dialogs.fileAnswers = {writeTempFile("session.xml", xml)};
    rig.click("Command1");
    for (int k = 1; k <= 8; ++k)
        rig.pick(Form1::slotRows()[std::size_t(k)].list, k * 4);
    rig.click("Command2");
    rig.pick("Combo10", 2);
    rig.click("Command6");
    rig.click("Command5");
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    const auto frames = display.receivedFrames();
    ASSERT_EQ(frames.size(), 1u + 9 + 1 + 1); // connect, nine writes, the settings, reset
    // List position 4 is catalogue index 5.
    EXPECT_EQ(hexOf(frames[1]), hexOf(hex("55 01 00 10") + bytes("Ch5     ") + hex("00 69 05") + bytes("u5 ") +
                                      hex("00 00 00 0D")));
    const Bytes record = display.records().at(0x80);
    EXPECT_EQ(hexOf(slice(record, 0, 8)), hexOf(bytes("Ch33    ")));
    EXPECT_EQ(record.at(9), 133);

    rig.click("Command4"); // takes over the connected port
    Form2* u = f.updateWindow();
    ASSERT_TRUE(u && u->isWindowVisible() && u->serialPort().isOpen() && !f.serialPort().isOpen());
    EXPECT_EQ(rig.updateView().caption(), "Firmwareupdate Com:" + port.substr(5));
    const Bytes image = firmwareImage(70000);
    rig.dialogs.fileAnswers = {writeTempFile("session.bin", image)};
    rig.updateView().click("Command1");
    rig.updateView().click("Command2");
    EXPECT_TRUE(rig.waitFor([&] { return u->statusText() == "Fertig."; }, 3s)) << u->statusText();
    EXPECT_EQ(display.blocksReceived(), 1016);
    EXPECT_TRUE(display.receivedImage() == asTransferred(image)) << "the image differs";

    rig.updateView().click("Command3"); // Close
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages[0].text, "Please restart.");
    EXPECT_EQ(rig.dialogs.messages[0].title, "Hinweis");
    EXPECT_FALSE(u->isWindowVisible());
    EXPECT_TRUE(rig.view().close());
    EXPECT_FALSE(f.serialPort().isOpen());
    EXPECT_EQ(rig.frontEnd.quitRequests(), 1); // the last window closed
}

} // namespace

TEST(Session, configureAndUpdateTheSimulatedDisplay)
{
    ControlRig rig;
    configureAndUpdate(rig, rig.display(), "Com #3");
}

TEST(Session, configureAndUpdateTheDemoDisplay)
{
    sim::SimulatorConfig config = sim::DemoDisplay::demoConfig();
    config.pace9600 = false; // the image at once instead of in its 135 s of line time
    DemoRig rig(config);
    configureAndUpdate(rig, rig.display(), "Com #1");
}
