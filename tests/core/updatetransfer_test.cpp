// The firmware transfer over a pseudo-terminal, the test playing the display: the normal update byte for
// byte (update frame at 19200 baud, then the image at 9600 8N1 in 1016 blocks of 128 bytes padded with
// 0xFF), the recovery update, and the endings without "Fertig": ready time-out, acknowledgement time-out,
// device gone, stopped. The port is wired to the transfer as the update window wires it.
#include "coresupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "updatedisplay.h"

#include "platform/files.h"
#include "serial/serialservice.h"
#include "updater/updatetransfer.h"

#include <fcntl.h>
#include <random>
#include <termios.h>
#include <unistd.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

#ifndef _WIN32

using Mode = UpdateProtocol::Mode;
using Result = UpdateTransfer::Result;

// The system's ports, with every write noted with the line settings the port was opened with (and the
// event character, which only Windows' drivers take).
class RecordingBackend final : public SerialBackend
{
public:
    struct Write
    {
        std::string settings;
        Bytes bytes;
    };

    std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                       OpenFailure* failure) override
    {
        std::unique_ptr<SerialDevice> real = SerialBackend::system().open(device, settings, failure);
        if (!real)
            return nullptr;
        std::string opened = settings.toString();
        if (settings.eventChar)
            opened += ", event character " + hexOf({*settings.eventChar});
        return std::make_unique<Device>(std::move(real), opened, writes);
    }
    bool exists(const std::string& device) const override { return SerialBackend::system().exists(device); }

    // Consecutive writes at the same settings are one entry.
    std::vector<Write> writes;

private:
    class Device final : public SerialDevice
    {
    public:
        Device(std::unique_ptr<SerialDevice> real, std::string settings, std::vector<Write>& writes)
            : m_real(std::move(real))
            , m_settings(std::move(settings))
            , m_writes(writes)
        {}
        WaitHandle readHandle() const override { return m_real->readHandle(); }
        bool takeInput(Bytes& out, std::string* reason) override { return m_real->takeInput(out, reason); }
        bool write(const Byte* data, std::size_t size, std::string* error) override
        {
            if (m_writes.empty() || m_writes.back().settings != m_settings)
                m_writes.push_back({m_settings, {}});
            append(m_writes.back().bytes, data, size);
            return m_real->write(data, size, error);
        }
        bool drain() override { return m_real->drain(); }
        bool waitForInput(std::chrono::milliseconds limit) override { return m_real->waitForInput(limit); }

    private:
        std::unique_ptr<SerialDevice> m_real;
        std::string m_settings;
        std::vector<Write>& m_writes;
    };
};

Bytes randomBytes(std::size_t size)
{
    Bytes out(size, 0);
    std::mt19937 random{std::uint32_t(size)};
    for (Byte& b : out)
        b = Byte(random() & 0xFF);
    return out;
}

// What reaches the display: the file's bytes up to the transfer's size, then 0xFF.
Bytes imageOnTheLine(const Bytes& file)
{
    Bytes out = slice(file, 0, UpdateProtocol::TransferSize);
    out.resize(UpdateProtocol::TransferSize, 0xFF);
    return out;
}

// The update window's port and receiver around a transfer, on port 3 (a pseudo-terminal), opened at the
// control window's 19200 baud as when the window took the port over.
struct Rig
{
    Rig()
        : port(*loop, std::make_shared<const PortDirectory>(std::map<int, PortDirectory::Entry>{
                          {3, PortDirectory::Entry{pty.slavePath(), "test display", recorder}}}))
        , transfer(port)
    {
        port.setCommPort(3);
        opened = port.open();
        // The window's receiver: the display's one-byte answers, the completion closes the port.
        port.received.connect([this] {
            for (const UpdateProtocol::Answer answer : UpdateProtocol::answersIn(port.input())) {
                answers.push_back(answer);
                if (answer == UpdateProtocol::Answer::Ready)
                    readyTimerAtReady = transfer.readyTimerActive();
                if (answer == UpdateProtocol::Answer::Complete)
                    port.close();
                transfer.take(answer);
            }
        });
        port.deviceLost.connect([this](const std::string&) { transfer.noteDeviceLost(); });
    }

    int count(UpdateProtocol::Answer answer) const
    {
        return int(std::count(answers.begin(), answers.end(), answer));
    }

    PtyPair pty;
    std::unique_ptr<EventLoop> loop = makeEventLoop();
    std::shared_ptr<RecordingBackend> recorder = std::make_shared<RecordingBackend>();
    SerialService port;
    UpdateTransfer transfer;
    bool opened = false;
    std::vector<UpdateProtocol::Answer> answers;
    bool readyTimerAtReady = false;
};

struct FullRow
{
    const char* name;
    Mode mode;
    std::size_t fileSize;
};

class FullTransfer : public testing::TestWithParam<FullRow>
{
};

TEST_P(FullTransfer, sendsEveryByteAtItsLineSettingsAndEndsWithTheCompletion)
{
    const FullRow& row = GetParam();
    const Bytes file = randomBytes(row.fileSize);
    const std::string path = writeTempFile(std::string(row.name) + ".bin", file);
    Rig rig;
    ASSERT_TRUE(rig.pty.isValid() && rig.opened);
    const int line = ::open(rig.pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK); // to look at it
    ASSERT_GE(line, 0);
    struct Progress
    {
        int blocks;
        int imagePos;
        std::string text;
    };
    std::vector<Progress> progress;
    bool timerWhileSending = false;
    rig.transfer.progress.connect([&](int blocks, int imagePos, const std::string& text) {
        progress.push_back({blocks, imagePos, text});
        timerWhileSending = timerWhileSending || rig.transfer.readyTimerActive();
    });
    // Something else of the program that needs the loop while the blocks go out.
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        rig.loop->startTimer(10ms, tick);
    };
    rig.loop->startTimer(10ms, tick);

    UpdateDisplay::Behaviour behaviour;
    behaviour.expectFrame = row.mode == Mode::Normal;
    UpdateDisplay display(rig.pty, behaviour);
    const auto start = EventLoop::Clock::now();
    const UpdateTransfer::Outcome outcome = rig.transfer.run(row.mode, path, std::int64_t(row.fileSize));
    const auto took = EventLoop::Clock::now() - start;

    EXPECT_EQ(outcome.result, Result::Finished) << outcome.message;
    EXPECT_EQ(outcome.message, "");
    EXPECT_FALSE(outcome.displayTouched);
    EXPECT_EQ(outcome.blocksSent, 1016);
    // The normal update does not wait for an answer to the last block, the recovery update does.
    EXPECT_EQ(outcome.blocksAcknowledged, row.mode == Mode::Normal ? 1015 : 1016);
    EXPECT_FALSE(rig.transfer.isRunning());
    EXPECT_TRUE(runUntil(
        *rig.loop, [&] { return rig.count(UpdateProtocol::Answer::Complete) == 1; }, 3000ms));
    EXPECT_FALSE(rig.port.isOpen()); // closed by the completion byte
    display.stop();

    // Byte for byte on the line, and at which settings each part left the port.
    const Bytes frame = UpdateProtocol::updateFrame();
    const Bytes image = imageOnTheLine(file);
    Bytes expected = row.mode == Mode::Normal ? frame : Bytes{};
    append(expected, image);
    const Bytes received = display.received();
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected)
        << "first difference at byte "
        << std::mismatch(received.begin(), received.end(), expected.begin()).first - received.begin();
    const std::vector<RecordingBackend::Write>& writes = rig.recorder->writes;
    ASSERT_EQ(writes.size(), row.mode == Mode::Normal ? 2u : 1u);
    if (row.mode == Mode::Normal) {
        EXPECT_EQ(writes[0].settings, "19200,n,8,1");
        EXPECT_EQ(hexOf(writes[0].bytes), hexOf(frame));
    }
    EXPECT_EQ(writes.back().settings, "9600,n,8,1, event character 06");
    EXPECT_TRUE(writes.back().bytes == image);
    termios t{};
    ASSERT_EQ(::tcgetattr(line, &t), 0);
    ::close(line);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));

    // The answers as the display sent them; Timer1 ran during the ready wait only.
    EXPECT_EQ(rig.count(UpdateProtocol::Answer::Ready), row.mode == Mode::Normal ? 1 : 0);
    EXPECT_EQ(rig.count(UpdateProtocol::Answer::Ack), 1015);
    EXPECT_EQ(rig.readyTimerAtReady, row.mode == Mode::Normal);
    EXPECT_FALSE(timerWhileSending); // stopped when the ready wait ended
    EXPECT_FALSE(rig.transfer.readyTimerActive());
    EXPECT_EQ(rig.transfer.readyTimerInterval(), 5000ms);

    // Progress from the first block to the last, at the screen's pace.
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front().blocks, 0);
    EXPECT_EQ(progress.front().imagePos, 1);
    EXPECT_EQ(progress.front().text, "0 % · Block 0/1016");
    EXPECT_EQ(progress.back().blocks, 1016);
    EXPECT_EQ(progress.back().imagePos, 130049);
    EXPECT_EQ(progress.back().text, "100 % · Block 1016/1016 · noch 0:00");
    EXPECT_LE(progress.size(), std::size_t(took / 100ms) + 2);
    EXPECT_GT(ticks, 0); // the loop ran while the blocks went out
}

INSTANTIATE_TEST_SUITE_P(Rows, FullTransfer,
                         testing::Values(FullRow{"normalFileOf200Bytes", Mode::Normal, 200},
                                         FullRow{"normalFileLongerThanTheTransfer", Mode::Normal, 130060},
                                         FullRow{"recoveryFileOf500Bytes", Mode::Recovery, 500}),
                         [](const testing::TestParamInfo<FullRow>& info) {
                             return std::string(info.param.name);
                         });

struct EndingRow
{
    const char* name;
    UpdateDisplay::Behaviour display;
    int stopAfterAcks; // above 0: the transfer is stopped when this many blocks are acknowledged
    Result result;
    const char* message; // the outcome's message before the advice
    int blocksSent;
    std::chrono::milliseconds atLeast;
    std::chrono::milliseconds atMost;
};

UpdateDisplay::Behaviour silentAfterTheFrame()
{
    UpdateDisplay::Behaviour b;
    b.answerReady = false;
    return b;
}

UpdateDisplay::Behaviour answeringUpTo(int blocks)
{
    UpdateDisplay::Behaviour b;
    b.answerUpTo = blocks;
    return b;
}

UpdateDisplay::Behaviour hangingUpAfter(int block)
{
    UpdateDisplay::Behaviour b;
    b.hangUpAfter = block;
    return b;
}

class Ending : public testing::TestWithParam<EndingRow>
{
};

TEST_P(Ending, saysWhatHappenedAndTheWayBack)
{
    const EndingRow& row = GetParam();
    const std::string path = writeTempFile("ending.bin", randomBytes(50000));
    Rig rig;
    ASSERT_TRUE(rig.pty.isValid() && rig.opened);
    if (row.stopAfterAcks > 0) {
        rig.port.received.connect([&] {
            if (rig.count(UpdateProtocol::Answer::Ack) == row.stopAfterAcks)
                rig.transfer.cancel();
        });
    }
    UpdateDisplay display(rig.pty, row.display);
    const auto start = EventLoop::Clock::now();
    const UpdateTransfer::Outcome outcome = rig.transfer.run(Mode::Normal, path, 50000);
    const auto took = EventLoop::Clock::now() - start;

    EXPECT_EQ(outcome.result, row.result) << outcome.message;
    EXPECT_EQ(outcome.message, std::string(row.message) + "\n\n" + UpdateTransfer::recoveryAdvice());
    EXPECT_TRUE(outcome.displayTouched);
    EXPECT_EQ(outcome.blocksSent, row.blocksSent);
    EXPECT_GE(took, row.atLeast);
    EXPECT_LE(took, row.atMost);
    EXPECT_FALSE(rig.transfer.isRunning());
    EXPECT_FALSE(rig.transfer.readyTimerActive());
    runFor(*rig.loop, 100ms);
    display.stop();
    // Nothing goes out after the end.
    EXPECT_EQ(display.received().size(), 22u + 128u * std::size_t(row.blocksSent));
    if (row.result == Result::ReadyTimeout) {
        EXPECT_TRUE(rig.port.isOpen()); // at 9600 baud, for a recovery update
        EXPECT_EQ(rig.port.settings().toString(), "9600,n,8,1");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Ending,
    testing::Values(
        // Timer1 ends the wait after 5000 ms, not the wait's own guard a second later.
        EndingRow{"readyTimeout", silentAfterTheFrame(), 0, Result::ReadyTimeout, "Timeout", 0, 5000ms,
                  5900ms},
        EndingRow{"acknowledgementTimeout", answeringUpTo(30), 0, Result::AckTimeout,
                  "Timeout\n\nDas Display hat Block 31 von 1016 nicht innerhalb von 5 s bestätigt.\n"
                  "31 von 1016 Blöcken wurden gesendet, 30 davon bestätigt.",
                  31, 5000ms, 8000ms},
        EndingRow{"deviceGone", hangingUpAfter(30), 0, Result::DeviceLost,
                  "Die Verbindung zum Display an Com #3 ist abgebrochen (Gerät getrennt?).\n"
                  "30 von 1016 Blöcken wurden gesendet, 29 davon bestätigt.",
                  30, 0ms, 4000ms},
        EndingRow{"stopped", UpdateDisplay::Behaviour{}, 20, Result::Cancelled,
                  "Das Update wurde beendet.\n20 von 1016 Blöcken wurden gesendet, 20 davon bestätigt.", 20,
                  0ms, 4000ms}),
    [](const testing::TestParamInfo<EndingRow>& info) { return std::string(info.param.name); });

TEST(UpdateTransfer, aMissingFileIsRefusedBeforeTheDisplayIsTouched)
{
    Rig rig;
    ASSERT_TRUE(rig.pty.isValid() && rig.opened);
    const std::string path = files::join(tempFolder(), "fehlt.bin");
    const UpdateTransfer::Outcome outcome = rig.transfer.run(Mode::Normal, path, 1000);
    EXPECT_EQ(outcome.result, Result::FileFailed);
    EXPECT_EQ(outcome.message, "Die Firmware-Datei „" + path + "“ existiert nicht mehr.\n\n" +
                                   UpdateTransfer::untouchedNote());
    EXPECT_FALSE(outcome.displayTouched);
    EXPECT_TRUE(rig.recorder->writes.empty());
}

#endif

} // namespace
