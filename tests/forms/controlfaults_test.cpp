// Faults on the control window's link: late, split and noisy answers, floods, bad log-definition files,
// and what the user sees.
#include "formtest.h"

#include "platform/files.h"
#include "platform/text.h"

#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using sim::SimulatorConfig;

namespace {

// Peak resident memory of this process so far, in KiB (-1: unknown).
long long peakRssKiB()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
#else
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (text::startsWith(line, "VmHWM:"))
            return text::toInteger(text::trimmed(text::replaceAll(line.substr(6), "kB", ""))).value_or(-1);
    return -1;
#endif
}

} // namespace

struct DeliveryRow
{
    const char* name;
    bool split;
    std::string noise;
    bool eeprom;
};

class AwkwardDelivery : public ::testing::TestWithParam<DeliveryRow>
{
};

TEST_P(AwkwardDelivery, writeSurvivesIt)
{
    const DeliveryRow& row = GetParam();
    SimulatorConfig config;
    config.splitBytes = row.split;
    config.noisePrefix = bytes(row.noise);
    if (row.eeprom)
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    rig.type("Text1", "RPM");
    rig.click("Command2");
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.display().receivedFrames().size(), 10u);
    EXPECT_EQ(rig.display().framesBeforeAnswer(), 0);
    EXPECT_EQ(hexOf(slice(rig.display().records().at(0x10), 0, 8)), hexOf(bytes("RPM     ")));
    // Every answer is logged once: identification + nine answers + "Commport: 3".
    ASSERT_EQ(rig.log().size(), 11u);
    if (row.eeprom) {
        EXPECT_TRUE(text::endsWith(rig.log().front(), "->  ReadEEProm @ 0x90")) << rig.log().front();
    }
}

INSTANTIATE_TEST_SUITE_P(ControlFaults, AwkwardDelivery,
                         ::testing::Values(DeliveryRow{"everyMessageByteByByte", true, {}, false},
                                           DeliveryRow{"noiseBeforeEveryMessage", false,
                                                       std::string("\x55\x00garbage\r\nU", 12), false},
                                           DeliveryRow{"noiseAndSingleBytes", true, "zz\r\nU", false},
                                           DeliveryRow{"answersAreEepromReadReports", false, {}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// An answer this long after the settings frame, and whether the wait gives up first.
class LateAnswer : public ::testing::TestWithParam<std::pair<int, bool>>
{
};

TEST_P(LateAnswer, aroundTheTimeLimit)
{
    const auto [delayMs, timesOut] = GetParam();
    SimulatorConfig config;
    config.answerDelayMs = delayMs;
    ControlRig rig(config);
    ASSERT_TRUE(rig.connect());
    rig.click("Command6");
    EXPECT_EQ(rig.dialogs.hasMessage("Timeout"), timesOut) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.dialogs.messages.size(), timesOut ? 1u : 0u) << rig.dialogs.allMessages();
    // The answer that comes too late is still logged, and nothing else goes out.
    EXPECT_TRUE(rig.waitFor([&] { return text::endsWith(rig.log().front(), " -> OK"); }, 2s))
        << rig.log().front();
    EXPECT_EQ(rig.display().receivedFrames().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(ControlFaults, LateAnswer,
                         ::testing::Values(std::pair{Form1::ReplyTimeoutMs - 600, false},
                                           std::pair{Form1::ReplyTimeoutMs + 600, true}),
                         [](const auto& info) {
                             return std::string(info.param.second ? "justOverTheLimit" : "justUnderTheLimit");
                         });

TEST(ControlFaults, noiseFloodKeepsMemoryBounded)
{
    ControlRig rig;
    ASSERT_TRUE(rig.connect());
    const long long before = peakRssKiB();
    ASSERT_GE(before, 0);
    Bytes noise(1024 * 1024, 'x');
    for (std::size_t i = 0; i < noise.size(); i += 97)
        noise[i] = 0x55; // many false starts
    for (int mb = 0; mb < 10; ++mb) {
        rig.sendRaw(noise);
        rig.runFor(20ms);
        ASSERT_LT(rig.form->rxBuffer.size(), 22u);
    }
    EXPECT_FALSE(rig.waitFor([&] { return rig.display().rawReceived().size() != 22; }, 100ms))
        << "the tool sent more than its connect frame";
    rig.runFor(500ms);
    const long long growth = peakRssKiB() - before;
    std::printf("peak memory grew by %lld KiB over a 10 MB noise flood\n", growth);
    // The connection trace keeps the newest 10 MB of lines by design; nothing else may grow. (Under
    // AddressSanitizer freed memory is held in quarantine, so the peak says nothing there.)
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(growth, 16 * 1024 + 2 * static_cast<long long>(TraceRecorder::DefaultLimit / 1024));
#endif
    EXPECT_LE(rig.form->trace().size(), TraceRecorder::DefaultLimit);
    EXPECT_LT(rig.form->rxBuffer.size(), 22u);

    // After the flood the display is understood again.
    rig.click("Command6");
    EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    EXPECT_EQ(rig.display().receivedFrames().size(), 2u);
}

struct BadFileRow
{
    const char* kind;
    int listed;
    const char* warning; // part of the one warning box; empty: no box
};

class BadLogDefinition : public ::testing::TestWithParam<BadFileRow>
{
};

TEST_P(BadLogDefinition, isReadWithinBounds)
{
    const BadFileRow& row = GetParam();
    const std::string kind = row.kind;
    std::string path;
    if (kind == "junk") {
        path = writeTempFile("junk.xml", firmwareImage(1 << 20)); // 1 MB of binary junk
    } else if (kind == "huge") {
        path = writeTempFile("huge.xml", Bytes{});
        std::ofstream file(files::toPath(path), std::ios::binary);
        const std::string block(1 << 20, 'j');
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(file.write(block.data(), std::streamsize(block.size())));
    } else {
        std::string content;
        const int count = kind == "many" ? 10000 : 20;
        for (int i = 1; i <= count; ++i)
            content += "<channel name=\"C" + std::to_string(i) + "\" channel=\"" +
                       std::to_string(kind == "range" ? -i : i % 256) + "\" divider=\"" +
                       (kind == "range" ? "300" : "1") + "\"/>\r\n";
        path = writeTempFile(kind + ".xml", content);
    }

    FormRig rig(directoryOf({}));
    Form1& form = *rig.form;
    HeadlessView& v = rig.view();
    rig.dialogs.fileAnswers = {path};
    rig.click("Command1");
    EXPECT_EQ(v.itemCount("Combo1"), row.listed);
    EXPECT_EQ(v.itemCount("Combo11"), row.listed);
    for (const int index : form.slotEntries(1))
        EXPECT_TRUE(index >= 1 && index <= 256) << index;
    EXPECT_TRUE(form.catalogueName[0].empty() && form.catalogueNumber[0] == 0 &&
                form.catalogueDivider[0] == 0);
    if (!*row.warning) {
        EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.allMessages();
    } else {
        ASSERT_EQ(rig.dialogs.messages.size(), 1u) << rig.dialogs.allMessages();
        EXPECT_EQ(rig.dialogs.messages[0].icon, ui::Dialogs::Icon::Warning);
        EXPECT_TRUE(text::contains(rig.dialogs.messages[0].text, row.warning))
            << rig.dialogs.messages[0].text;
    }
    if (kind == "range") {
        for (std::size_t i = 1; i <= 20; ++i)
            EXPECT_TRUE(form.catalogueNumber[i] == 0 && form.catalogueDivider[i] == 0) << i;
        rig.pick("Combo3", 4);
        EXPECT_EQ(form.slotChannel[3], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(ControlFaults, BadLogDefinition,
                         ::testing::Values(BadFileRow{"junk", 0, ""},
                                           BadFileRow{"huge", 0, "nur ihr Anfang wurde gelesen"},
                                           BadFileRow{"many", 256, "9744"},
                                           BadFileRow{"range", 20, "40 Werte"}),
                         [](const auto& info) { return std::string(info.param.kind); });
