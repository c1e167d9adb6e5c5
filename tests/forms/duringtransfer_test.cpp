// The two windows while the update window sends the firmware, end to end on the headless front end
// with the display simulator's logic on a real line (a pseudo-terminal; COM3 under Wine): the control
// window holds nothing up, a "Ja" to stopping that meets the transfer's end still closes the window, and
// a file that changed since loading is refused before anything is sent.
#include "formtest.h"

#include "platform/text.h"
#include "serial/linesettings.h"
#include "updater/form2.h"

#include <atomic>
#include <mutex>
#include <thread>

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

using Clock = std::chrono::steady_clock;

// When each block arrived at the display, watched from a thread of the test's own (not the event loop
// the windows run in).
class Arrivals
{
public:
    explicit Arrivals(const sim::DisplayLogic& display)
        : m_thread([this, &display] {
            int seen = 0;
            while (!m_stop) {
                const int now = display.blocksReceived();
                if (now != seen) {
                    seen = now;
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_times.push_back(Clock::now());
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        })
    {}
    ~Arrivals() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // The longest time between two arrivals.
    std::chrono::milliseconds longestGap() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Clock::duration longest{};
        for (std::size_t i = 1; i < m_times.size(); ++i)
            longest = std::max(longest, m_times[i] - m_times[i - 1]);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }

private:
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_times;
    std::thread m_thread;
};

// The update window open on port 3 (taken over from the connected control window, or typed at its
// prompt for a display already in its update mode) with an image of `size` bytes loaded.
Form2* openWithImage(ControlRig& rig, const std::string& name, std::size_t size, bool takeOver = true)
{
    if (takeOver && !rig.connect())
        return nullptr;
    if (!takeOver)
        rig.dialogs.promptAnswers = {"3"};
    Form2* f = rig.openUpdateWindow();
    if (!f)
        return nullptr;
    rig.dialogs.fileAnswers = {writeTempFile(name, firmwareImage(size))};
    return rig.updateView().click("Command1") && f->image() ? f : nullptr;
}

} // namespace

TEST(DuringATransfer, theControlWindowAsksNothingWaitsForNothingAndSaysWhy)
{
    SimulatorConfig config;
    config.ackDelayMs = 2; // a transfer of a few seconds
    ControlRig rig(config);
    Form2* f = openWithImage(rig, "waehrend.bin", 100000);
    ASSERT_NE(f, nullptr) << rig.dialogs.allMessages();
    const std::size_t fileRequests = rig.dialogs.fileRequests.size();
    int waits = 0;
    rig.form->replyWait.waitingChanged.connect([&](bool waiting) { waits += waiting ? 1 : 0; });

    // While the blocks go out: every button of the control window a user can press is pressed, every
    // command tried; the others say why they cannot be pressed.
    std::vector<std::string> unusable;
    std::vector<std::string> commandsCarriedOut;
    bool transferring = false;
    std::size_t messagesMeanwhile = 0;
    rig.after(500ms, [&] {
        transferring = f->isTransferring();
        HeadlessView& v = rig.view();
        for (const ui::ControlSpec& c : v.definition().controls) {
            if (c.kind != ui::ControlKind::Button && c.name != "Combo5")
                continue;
            if (v.canUse(c.name))
                v.click(c.name);
            else
                unusable.push_back(c.name + ": " + v.toolTip(c.name));
        }
        for (const char* id : {Form1::SaveProfileCommand, Form1::LoadProfileCommand, Form1::SaveTraceCommand})
            if (v.command(id))
                commandsCarriedOut.push_back(id);
        // The blocks go on a while longer; then the transfer is stopped (its end is not the point here).
        rig.after(1000ms, [&] {
            messagesMeanwhile = rig.dialogs.messages.size();
            f->transfer().cancel();
        });
    });
    Arrivals arrivals(rig.display());
    ASSERT_TRUE(rig.updateView().click("Command2"));
    arrivals.stop();

    ASSERT_TRUE(transferring);
    const std::string why = Form1::UnavailableDuringUpdate;
    EXPECT_EQ(unusable, (std::vector<std::string>{"Command1: " + why, "Command2: " + why, "Command6: " + why,
                                                  "Combo5: " + why, "Command3: " + why, "Command5: " + why}));
    EXPECT_TRUE(commandsCarriedOut.empty());
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(rig.dialogs.fileRequests.size(), fileRequests);
    EXPECT_TRUE(rig.dialogs.prompts.empty() && rig.dialogs.questions.empty());
    EXPECT_EQ(messagesMeanwhile, 0u) << rig.dialogs.allMessages();
    // The blocks kept coming at the screen's pace (100 ms) and a block's line time at 9600 baud, with
    // an allowance for a busy machine (a reply wait would have held them for its 3 s).
    const auto lineTime = LineSettings::parse("9600,n,8,1")->lineTime(128);
    EXPECT_LE(arrivals.longestGap(), UpdateTransfer::ProgressInterval + lineTime + 1500ms);

    // Afterwards everything is as before, the design's tool tip included.
    for (const char* button : {"Combo5", "Command1", "Command2", "Command3", "Command5", "Command6"})
        EXPECT_TRUE(rig.view().canUse(button)) << button;
    const int port = rig.view().listIndex("Combo5");
    ASSERT_GE(port, 0);
    EXPECT_EQ(rig.view().toolTip("Combo5"), rig.view().itemToolTip("Combo5", port)); // the port's device
    EXPECT_EQ(rig.view().toolTip("Command1"), "Version.xml der verwendeten Firmware wählen!");
    EXPECT_EQ(rig.view().toolTip("Command2"), "");
    EXPECT_TRUE(rig.view().command(Form1::SaveTraceCommand));
}

TEST(DuringATransfer, aJaThatMeetsTheEndClosesTheWindowWithoutAStop)
{
    SimulatorConfig config;
    config.ackDelayMs = 1;
    ControlRig rig(config);
    Form2* f = openWithImage(rig, "ende.bin", 100000);
    ASSERT_NE(f, nullptr) << rig.dialogs.allMessages();
    bool asked = false;
    bool answered = false;
    f->transfer().progress.connect([&](int blocks, int, const std::string&) {
        if (blocks >= 300 && !asked) {
            asked = true;
            rig.after(0ms, [&] { EXPECT_FALSE(rig.updateView().close()); }); // asks instead
        }
        // The user's "Ja" is taken as the last block goes out: the answer arrives after the end.
        if (blocks == 1016 && rig.dialogs.questionOpen())
            answered = rig.dialogs.answer(true);
    });
    ASSERT_TRUE(rig.updateView().click("Command2"));
    ASSERT_TRUE(answered);
    EXPECT_TRUE(rig.waitFor([&] { return !rig.updateView().isWindowVisible(); }, 2s));
    EXPECT_TRUE(rig.waitFor([&] { return rig.display().blocksReceived() == 1016; }, 2s)); // nothing stopped
    EXPECT_EQ(rig.dialogs.allMessages(), "[Hinweis] Please restart.");
    EXPECT_TRUE(rig.view().isWindowVisible());
}

struct ChangedRow
{
    const char* name;
    bool recovery;
};

class ChangedSinceLoading : public testing::TestWithParam<ChangedRow>
{};

TEST_P(ChangedSinceLoading, isRefusedAndNothingIsSent)
{
    SimulatorConfig config;
    config.recovery = GetParam().recovery;
    ControlRig rig(config);
    const std::string name = std::string(GetParam().name) + ".bin";
    Form2* f = openWithImage(rig, name, 50000, !GetParam().recovery);
    ASSERT_NE(f, nullptr) << rig.dialogs.allMessages();
    Bytes other = firmwareImage(50000); // other bytes of the same length
    for (Byte& b : other)
        b ^= 0xFF;
    writeTempFile(name, other);
    ASSERT_TRUE(rig.updateView().click(GetParam().recovery ? "Command5" : "Command2"));
    ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
    const std::string& text = rig.dialogs.messages[0].text;
    EXPECT_NE(text.find(name), std::string::npos) << text;
    EXPECT_NE(text.find("anderer Inhalt"), std::string::npos) << text;
    EXPECT_NE(text.find("Es wurde nichts gesendet"), std::string::npos) << text;
    EXPECT_TRUE(text::endsWith(text, UpdateTransfer::untouchedNote())) << text;
    rig.runFor(300ms);
    EXPECT_EQ(rig.display().receivedFrames().size(), GetParam().recovery ? 0u : 1u); // Connect's frame only
    EXPECT_EQ(rig.display().blocksReceived(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ChangedSinceLoading,
                         testing::Values(ChangedRow{"normal", false}, ChangedRow{"recovery", true}),
                         [](const testing::TestParamInfo<ChangedRow>& info) { return std::string(info.param.name); });
