#pragma once

// The window tests' support: the windows' handlers (control/, updater/form2) run on a headless front end,
// against the display simulator's logic on a real line, on every platform (Linux: a pseudo-terminal;
// Windows under Wine: COM3 through tests/wine/ptypeer.py). A test reads as the user's steps:
//
//   ControlRig rig;                                    // control window, display at "Com #3", shown
//   Form1& form = *rig.form;
//   rig.pick("Combo5", "Com #3");                      // drops the list down, picks, Click
//   rig.click("Command3");                             // runs the handler to its end (waits included)
//   EXPECT_TRUE(rig.waitFor([&] { return form.deviceFound == 1; }));
//   rig.dialogs.fileAnswers = {dataFile(EightChannels)};
//   rig.click("Command1");
//   rig.type("Text16", "Akku");
//   rig.after(1s, [&] { EXPECT_FALSE(rig.view().canUse("Command2")); });  // during the next wait
//   rig.click("Command2");
//   EXPECT_EQ(rig.display().receivedFrames().back(), settingsFrame(1));
//   EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
//
// - Rigs (formrigs.h): FormRig (any ports, or none; makeForm() again), ControlRig (the simulated display
//   at port 3, or at the numbers given; display(), sendRaw(), unplug()), DemoRig (the in-process demo
//   display as "Com #1"). Each owns a HeadlessFrontEnd, its ScriptedDialogs (`dialogs`) and the control
//   window (`form`); `view()` and `updateView()` are the two windows. Time passes only in the event
//   loop: waitFor(), runFor(), after().
// - HeadlessView (headlessfrontend.h): every control's state (text, enabled, tool tips, entries, list
//   index, colour, bar, focus, busy) and the user's actions click, pick, dropDown, type, focus, command,
//   close. An action a user could not do (disabled, hidden, out of reach, window not shown) fails the
//   test; canUse() asks without failing.
// - ScriptedDialogs (scripteddialogs.h): messages, file requests, prompts, questions recorded;
//   fileAnswers and promptAnswers queues (empty: Cancel); answer() for the open question; onMessage runs
//   while a message box is open.
// - Fixtures (fixtures.h): the log-definition files of tests/data, the frames the display receives,
//   the display's messages; hex()/hexOf()/bytes() of the core tests' support.
// - SpareLine and missingDevice() give ports with nothing behind them, for port lists.

#include "fixtures.h"
#include "formrigs.h"
#include "headlessfrontend.h"
#include "scripteddialogs.h"

#include <gtest/gtest.h>

#include <string>

namespace morvandell::test {

// Names a TEST_P row by its `name`: INSTANTIATE_TEST_SUITE_P(Form2, StartUp, ::testing::Values(...), RowName()).
struct RowName
{
    template<typename Info>
    std::string operator()(const Info& info) const
    {
        return info.param.name;
    }
};

} // namespace morvandell::test
