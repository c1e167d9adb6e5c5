// The widget-free writer against a display that the test plays on the other end of a pseudo-terminal:
// frames and their order, the verdict on each answer, the reply wait's time limit, a device that goes
// away; and the trace's bound.
#include "coresupport.h"

#include "platform/text.h"
#include "loop/eventwait.h"
#include "serial/serialservice.h"
#include "serial/tracerecorder.h"
#include "writer/displaywriter.h"
#include "writer/framebuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

#ifndef _WIN32 // a pseudo-terminal pair plays the line
// The display's side of the line, on the writer's own event loop: cuts the command frames out of what
// arrives at the master and answers each write frame as the display does.
class PlayedDisplay
{
public:
    struct Config
    {
        bool eepromAnswers = false; // answer with the EEPROM read report instead of the text "OK"
        bool silent = false;        // never answer
        bool splitBytes = false;    // send every answer byte by byte, 1 ms apart
        Bytes noisePrefix;          // bytes sent before every answer
        int closeAfterFrames = -1;  // hang up on receiving frame N (1-based), before answering
        int reportAddressShift = 0; // the report names the frame's address plus this
        int wrongAddress = -1;      // the report for this address carries byte wrongAt changed to wrongValue
        int wrongAt = 0;
        Byte wrongValue = 0;
    };

    PlayedDisplay(PtyPair& pty, EventLoop& loop, Config config)
        : m_pty(pty)
        , m_loop(loop)
        , m_config(std::move(config))
    {
        m_watch = m_loop.watch(m_pty.masterFd(), [this] { onReadable(); });
    }
    ~PlayedDisplay()
    {
        hangUp();
        if (m_timer)
            m_loop.cancelTimer(m_timer);
    }

    const std::vector<Bytes>& frames() const { return m_frames; }
    // Frames that arrived while the answer to the one before was still going out.
    int framesBeforeAnswer() const { return m_framesBeforeAnswer; }

private:
    void hangUp()
    {
        if (m_watch) {
            m_loop.unwatch(m_watch);
            m_watch = 0;
        }
    }

    void onReadable()
    {
        Byte buffer[4096];
        const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
        if (n <= 0) {
            hangUp();
            return;
        }
        append(m_in, buffer, std::size_t(n));
        while (m_watch && m_in.size() >= FrameBuilder::FrameSize) {
            if (m_in[0] != 0x55 || m_in[21] != 0x0D) { // begins no frame
                m_in.erase(m_in.begin());
                continue;
            }
            const Bytes frame = slice(m_in, 0, FrameBuilder::FrameSize);
            m_in.erase(m_in.begin(), m_in.begin() + FrameBuilder::FrameSize);
            handleFrame(frame);
        }
    }

    void handleFrame(const Bytes& frame)
    {
        if (!m_out.empty())
            ++m_framesBeforeAnswer;
        m_frames.push_back(frame);
        if (int(m_frames.size()) == m_config.closeAfterFrames) {
            hangUp();
            m_pty.closeMaster(); // the cable is pulled
            return;
        }
        if (m_config.silent || frame[1] != FrameBuilder::Write)
            return;
        const int address = frame[2] * 256 + frame[3] + m_config.reportAddressShift;
        Bytes answer = m_config.eepromAnswers ? Bytes{0x55, 0x02, Byte(address >> 8), Byte(address & 0xFF)}
                                              : Bytes{0x55, 0x00, 0x00, 0x00};
        Bytes record = slice(frame, 4, 16);
        if (address == m_config.wrongAddress)
            record.at(std::size_t(m_config.wrongAt)) = m_config.wrongValue;
        append(answer, m_config.eepromAnswers ? record : bytes(std::string("OK") + std::string(14, '\0')));
        append(answer, Bytes{0x0D, 0x0A});
        Bytes all = m_config.noisePrefix;
        append(all, answer);
        if (!m_config.splitBytes) {
            m_pty.writeMaster(all);
            return;
        }
        m_out.insert(m_out.end(), all.begin(), all.end());
        if (!m_timer)
            sendNextByte();
    }

    void sendNextByte()
    {
        m_timer = 0;
        if (m_out.empty())
            return;
        m_pty.writeMaster(Bytes{m_out.front()});
        m_out.pop_front();
        m_timer = m_loop.startTimer(1ms, [this] { sendNextByte(); });
    }

    PtyPair& m_pty;
    EventLoop& m_loop;
    Config m_config;
    int m_watch = 0;
    int m_timer = 0;
    Bytes m_in;
    std::deque<Byte> m_out; // answer bytes not sent yet
    std::vector<Bytes> m_frames;
    int m_framesBeforeAnswer = 0;
};

// The writer on a port to the played display, with the receiver wired as the windows wire it.
struct WriterRig
{
    explicit WriterRig(PlayedDisplay::Config config)
        : port(*loop, directoryOf({{3, pty.slavePath()}}))
        , display(pty, *loop, std::move(config))
        , writer(port, weiter, wait)
    {
        port.setCommPort(3);
        port.received.connect([this] { writer.receive(); });
        port.deviceLost.connect([this](const std::string&) { wait.abort(); });
    }

    PtyPair pty;
    std::unique_ptr<EventLoop> loop = makeEventLoop();
    SerialService port;
    PlayedDisplay display;
    std::optional<std::int16_t> weiter;
    EventWait wait{*loop};
    DisplayWriter writer;
};

struct OrderRow
{
    const char* name;
    bool eepromAnswers;
    bool splitAndNoisy;
};

class SlotDataGoesOutFrameByFrame : public testing::TestWithParam<OrderRow>
{};

TEST_P(SlotDataGoesOutFrameByFrame, eachAfterItsAnswer)
{
    const OrderRow& row = GetParam();
    PlayedDisplay::Config config;
    config.eepromAnswers = row.eepromAnswers;
    config.splitBytes = row.splitAndNoisy;
    if (row.splitAndNoisy)
        config.noisePrefix = Bytes{0x01, 0x0D, 0x0A};
    WriterRig rig(config);
    ASSERT_TRUE(rig.pty.isValid());
    ASSERT_TRUE(rig.port.open());

    // Each slot is asked for just before its frame: by then every earlier frame has been answered.
    std::vector<int> framesSeenWhenAsked;
    const auto slot = [&](int k) {
        framesSeenWhenAsked.push_back(int(rig.display.frames().size()));
        SlotSetting s;
        if (k == 2) {
            s.name = "RPM";
            s.number = 12;
            s.divider = 1;
            s.unit = "rpm";
        }
        return s;
    };
    EXPECT_EQ(rig.writer.writeSlotData(slot, [] { return std::uint8_t(3); }), DisplayWriter::Result::Answered);
    EXPECT_EQ(framesSeenWhenAsked, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(rig.weiter, std::optional<std::int16_t>(1));

    const std::vector<Bytes>& frames = rig.display.frames();
    ASSERT_EQ(frames.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(frames[i][3], Byte(0x10 * (i + 1))) << "frame " << i + 1;
    EXPECT_EQ(hexOf(frames[1]), "55 01 00 20 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00 00 0D");
    EXPECT_EQ(hexOf(frames[0]), "55 01 00 10 20 20 20 20 20 20 20 20 00 00 00 20 20 20 00 00 00 0D");
    EXPECT_EQ(hexOf(frames[8]), "55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
    EXPECT_EQ(rig.display.framesBeforeAnswer(), 0);
    EXPECT_EQ(rig.writer.frameName(), Bytes(8, ' '));
}

INSTANTIATE_TEST_SUITE_P(Rows, SlotDataGoesOutFrameByFrame,
                         testing::Values(OrderRow{"textAnswers", false, false},
                                         OrderRow{"eepromReportsAsAnswers", true, false},
                                         OrderRow{"answersByteByByteAfterNoise", false, true}),
                         [](const testing::TestParamInfo<OrderRow>& info) { return std::string(info.param.name); });

// Each answered write frame gets a verdict: a report of the same record verifies it, a report that
// differs is told field by field, a text answer or a report for another address proves nothing.
struct VerdictRow
{
    const char* name;
    PlayedDisplay::Config config;
    const char* kinds; // per frame: V verified, T text answer, O other address, D differs
    const char* slot3Line;
    const char* report;
};

class WriteVerdicts : public testing::TestWithParam<VerdictRow>
{};

TEST_P(WriteVerdicts, judgeEveryAnswer)
{
    const VerdictRow& row = GetParam();
    WriterRig rig(row.config);
    ASSERT_TRUE(rig.port.open());
    DisplayConfiguration configuration;
    configuration.defaultView = 3;
    configuration.slotSettings[3] = SlotSetting{"Oil_P", 7, 10, "Öl", "bar"};
    std::vector<std::uint16_t> given;
    rig.writer.verdictGiven.connect([&](const WriteVerdict& verdict) { given.push_back(verdict.address); });
    EXPECT_EQ(rig.writer.writeSlotData(configuration), DisplayWriter::Result::Answered);

    const std::vector<WriteVerdict>& verdicts = rig.writer.verdicts();
    ASSERT_EQ(verdicts.size(), 9u);
    std::string kinds;
    for (const WriteVerdict& verdict : verdicts)
        kinds += "VTOD"[int(verdict.kind)];
    EXPECT_EQ(kinds, row.kinds);
    EXPECT_EQ(given, (std::vector<std::uint16_t>{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90}));
    EXPECT_EQ(verdicts[2].line(), row.slot3Line);
    EXPECT_EQ(differenceReport(verdicts), row.report);

    // "Einstellungen schreiben" judges its one frame afresh.
    EXPECT_EQ(rig.writer.writeSettings(3), DisplayWriter::Result::Answered);
    ASSERT_EQ(rig.writer.verdicts().size(), 1u);
    EXPECT_EQ(rig.writer.verdicts()[0].kind, verdicts[8].kind);
}

PlayedDisplay::Config reports(int shift = 0, int wrongAddress = -1, int wrongAt = 0, Byte wrongValue = 0)
{
    PlayedDisplay::Config config;
    config.eepromAnswers = true;
    config.reportAddressShift = shift;
    config.wrongAddress = wrongAddress;
    config.wrongAt = wrongAt;
    config.wrongValue = wrongValue;
    return config;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WriteVerdicts,
    testing::Values(
        VerdictRow{"textAnswers", {}, "TTTTTTTTT", "Platz 3: nicht geprüft (Textantwort)", ""},
        VerdictRow{"reportsOfTheSameRecord", reports(), "VVVVVVVVV", "Platz 3: geprüft", ""},
        VerdictRow{"reportsForAnotherAddress", reports(0x10), "OOOOOOOOO",
                   "Platz 3: nicht geprüft (Bericht für Adresse 0x40)", ""},
        VerdictRow{"aNameByteThatIsNoText", reports(0, 0x30, 0, 0x0D), "VVDVVVVVV",
                   "Platz 3: abweichend gespeichert: gesendet Name „Öl      “, Kanal 7, Teiler 10, Einheit „bar“; "
                   "gespeichert Name „<0D>l      “, Kanal 7, Teiler 10, Einheit „bar“",
                   "Das Display hat nicht gespeichert, was gesendet wurde:\n\n"
                   "Platz 3\n"
                   "gesendet: Name „Öl      “, Kanal 7, Teiler 10, Einheit „bar“\n"
                   "gespeichert: Name „<0D>l      “, Kanal 7, Teiler 10, Einheit „bar“\n\n"
                   "Bitte erneut schreiben. Bleibt die Abweichung, das Verbindungsprotokoll speichern "
                   "(Rechtsklick auf das Protokoll) und dem Support schicken."},
        VerdictRow{"aSettingsFillerByte", reports(0, 0x90, 5, 0x01), "VVVVVVVVD", "Platz 3: geprüft",
                   "Das Display hat nicht gespeichert, was gesendet wurde:\n\n"
                   "Einstellungen\n"
                   "gesendet: Standardansicht 3, Füllbytes 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                   "gespeichert: Standardansicht 3, Füllbytes 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00\n\n"
                   "Bitte erneut schreiben. Bleibt die Abweichung, das Verbindungsprotokoll speichern "
                   "(Rechtsklick auf das Protokoll) und dem Support schicken."}),
    [](const testing::TestParamInfo<VerdictRow>& info) { return std::string(info.param.name); });

struct StopRow
{
    const char* name;
    bool silent;
    DisplayWriter::Result expected;
    std::size_t framesSent;
    std::chrono::milliseconds min;
    std::chrono::milliseconds max;
};

class AWriteStopsAtTheFrameThatIsNotAnswered : public testing::TestWithParam<StopRow>
{};

TEST_P(AWriteStopsAtTheFrameThatIsNotAnswered, inTime)
{
    const StopRow& row = GetParam();
    PlayedDisplay::Config config;
    config.silent = row.silent;
    if (!row.silent)
        config.closeAfterFrames = 3;
    WriterRig rig(config);
    ASSERT_TRUE(rig.port.open());

    const auto start = std::chrono::steady_clock::now();
    const auto result = rig.writer.writeSlotData(DisplayConfiguration{});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // A vanished device may also show as a refused write; never as a time-out.
    if (row.expected == DisplayWriter::Result::Aborted)
        EXPECT_TRUE(result == DisplayWriter::Result::Aborted || result == DisplayWriter::Result::WriteFailed)
            << int(result);
    else
        EXPECT_EQ(result, row.expected);
    EXPECT_TRUE(took >= row.min && took <= row.max) << took.count() << " ms";
    runFor(*rig.loop, 100ms);
    EXPECT_EQ(rig.display.frames().size(), row.framesSent);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AWriteStopsAtTheFrameThatIsNotAnswered,
    testing::Values(StopRow{"displayNeverAnswers", true, DisplayWriter::Result::TimedOut, 1, 2900ms, 4500ms},
                    StopRow{"deviceGoneAtTheThirdFrame", false, DisplayWriter::Result::Aborted, 3, 0ms, 2000ms}),
    [](const testing::TestParamInfo<StopRow>& info) { return std::string(info.param.name); });

#endif

TEST(DisplayWriter, traceKeepsTheNewestLinesWithinItsLimit)
{
    TraceRecorder trace(400);
    trace.setPort(3, "/dev/pts/9", "19200,n,8,1");
    for (int i = 0; i < 50; ++i)
        trace.record(TraceRecorder::Direction::Sent, Bytes{Byte(i)});
    trace.record(TraceRecorder::Direction::Received, hex("55 FD 56 31 0D 0A"));
    EXPECT_LE(trace.size(), 400u);
    const std::string all = trace.text();
    EXPECT_TRUE(text::contains(all, "Com #3, Gerät: /dev/pts/9, Einstellungen: 19200,n,8,1")) << all;
    EXPECT_TRUE(text::contains(all, "< 55 FD 56 31 0D 0A |U.V1..|")) << all;
    EXPECT_TRUE(text::contains(all, "> 31 |1|")) << all;
    EXPECT_FALSE(text::contains(all, "> 00 |.|")) << all; // the oldest lines went first
    EXPECT_TRUE(text::contains(all, "ältere Zeilen nicht mehr gespeichert")) << all;
}

} // namespace
