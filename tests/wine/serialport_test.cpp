// The Win32 serial port under Wine, on a pseudo-terminal whose far end the test plays (ptypeer.py):
// every byte both ways, the line settings as the driver sees them, stale input discarded, bytes written
// before a close still sent, the far end closing reported once as a lost device, and the open failures
// with their error numbers and messages.
#include "coresupport.h"
#include "linepeer.h"

#include "serial/serialservice.h"
#include "windows/serialport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <windows.h>

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

constexpr int Number = 3;

class WinePort : public testing::Test
{
protected:
    void SetUp() override
    {
        if (LinePeer::port().empty())
            GTEST_SKIP() << "run through tests/wine/ptypeer.py";
        ASSERT_TRUE(peer.open());
    }

    // The service's input until `count` bytes are there.
    Bytes inputOf(SerialService& service, std::size_t count, std::chrono::milliseconds limit = 3000ms)
    {
        Bytes got;
        runUntil(
            *loop,
            [&] {
                append(got, service.input());
                return got.size() >= count;
            },
            limit);
        return got;
    }

    std::unique_ptr<EventLoop> loop = makeEventLoop();
    LinePeer peer;
    std::shared_ptr<const PortDirectory> directory = directoryOf({{Number, LinePeer::port()}});
};

Bytes everyByteValue(int times)
{
    Bytes all;
    for (int t = 0; t < times; ++t)
        for (int b = 0; b < 256; ++b)
            all.push_back(Byte(b));
    return all;
}

TEST_F(WinePort, carriesEveryByteValueBothWaysUnchanged)
{
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.open()) << service.describeLastError();
    int notifications = 0;
    service.received.connect([&] { ++notifications; });

    const Bytes out = everyByteValue(2);
    ASSERT_TRUE(service.output(out));
    EXPECT_EQ(hexOf(peer.receive(3000ms, out.size(), loop.get())), hexOf(out));

    const Bytes in = everyByteValue(3);
    ASSERT_TRUE(peer.send(in));
    EXPECT_EQ(hexOf(inputOf(service, in.size())), hexOf(in));
    EXPECT_GE(notifications, 1);
}

struct SettingsRow
{
    const char* name;
    const char* settings;
    std::uint32_t baud;
    std::uint32_t frame; // CSTOPB | PARODD of the Linux termios
};

// Linux termios c_cflag bits. A pseudo-terminal keeps the stop bits and the parity's kind, but always
// reads 8 data bits without parity (its driver forces CS8 and clears PARENB).
constexpr std::uint32_t CSTOPB = 0x40, PARODD = 0x200;
constexpr std::uint32_t FrameBits = CSTOPB | PARODD;
constexpr std::uint32_t HardwareFlow = 0x80000000u; // CRTSCTS

class LineSettingsReachTheDriver : public WinePort, public testing::WithParamInterface<SettingsRow>
{};

TEST_P(LineSettingsReachTheDriver, asSet)
{
    const SettingsRow& row = GetParam();
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.setSettings(row.settings));
    ASSERT_TRUE(service.open()) << service.describeLastError();
    const auto state = LinePeer::lineState();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->inputBaud, row.baud);
    EXPECT_EQ(state->outputBaud, row.baud);
    EXPECT_EQ(state->cflag & FrameBits, row.frame);
    EXPECT_EQ(state->cflag & HardwareFlow, 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, LineSettingsReachTheDriver,
                         testing::Values(SettingsRow{"controlWindow", "19200,n,8,1", 19200, 0},
                                         SettingsRow{"update", "9600,n,8,1", 9600, 0},
                                         SettingsRow{"evenSevenTwo", "115200,e,7,2", 115200, CSTOPB},
                                         SettingsRow{"odd", "38400,o,8,1", 38400, PARODD}),
                         [](const auto& info) { return std::string(info.param.name); });

// Wine sets 38400 baud on a pseudo-terminal for speeds without a Linux constant; real drivers take 250000.
TEST_F(WinePort, aSpeedTheDriverDoesNotKeepIsRefusedRatherThanUsed)
{
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.setSettings("250000,n,8,1"));
    if (service.open()) {
        const auto state = LinePeer::lineState();
        ASSERT_TRUE(state);
        EXPECT_EQ(state->outputBaud, 250000u);
        return;
    }
    EXPECT_EQ(service.lastError(), SerialError::OpenFailed);
    EXPECT_EQ(service.lastCause(), OpenFailure::Cause::Settings);
    EXPECT_NE(service.describeLastError().find("Baudrate 250000 nicht möglich"), std::string::npos)
        << service.describeLastError();
}

TEST_F(WinePort, inputFromBeforeTheOpenIsDiscarded)
{
    ASSERT_TRUE(LinePeer::inject(bytes("stale")));
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.open()) << service.describeLastError();
    runFor(*loop, 300ms);
    ASSERT_TRUE(peer.send(bytes("fresh")));
    EXPECT_EQ(hexOf(inputOf(service, 5)), hexOf(bytes("fresh")));
    runFor(*loop, 100ms);
    EXPECT_TRUE(service.input().empty());
}

TEST_F(WinePort, anAnswerIsPassedOnWithoutWaitingForTheReadTimeLimit)
{
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.open()) << service.describeLastError();
    runFor(*loop, 300ms); // the port's reader is waiting on a quiet line now
    std::vector<std::chrono::steady_clock::duration> delays;
    for (int i = 0; i < 10; ++i) {
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(peer.send({0x06}));
        ASSERT_EQ(inputOf(service, 1), Bytes{0x06});
        delays.push_back(std::chrono::steady_clock::now() - sent);
        // and a write while the reader waits goes out at once
        ASSERT_TRUE(service.output({0x55}));
        EXPECT_EQ(peer.receive(1000ms, 1, loop.get()), Bytes{0x55});
        runFor(*loop, 20ms);
    }
    // Waiting for the reads' 200 ms limit would put the middle one near 100 ms; a busy machine delays a few.
    std::sort(delays.begin(), delays.end());
    EXPECT_LT(delays[delays.size() / 2], 50ms);
}

TEST_F(WinePort, bytesWrittenRightBeforeACloseStillLeave)
{
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.setSettings("9600,n,8,1"));
    ASSERT_TRUE(service.open()) << service.describeLastError();
    const Bytes image = everyByteValue(16);
    ASSERT_TRUE(service.output(image));
    service.close();
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(peer.receive(5000ms, image.size()).size(), image.size());
}

// A far end that takes nothing more (its buffer full): a write, a drain and a close each end within the
// line time of what they wait for plus the slack, with their own verdict, and the window that waits
// never hangs on the driver. The line runs fast, so that the line times stay short.
struct StuckRow
{
    const char* name;
    // "write": more than the line holds; "drain", "close": after a write it took; "closeWith...": after one
    // it did not take
    const char* step;
};

class StuckLine : public WinePort, public testing::WithParamInterface<StuckRow>
{};

TEST_P(StuckLine, endsInTimeWithItsOwnVerdict)
{
    const std::string step = GetParam().step;
    const LineSettings fast = *LineSettings::parse("460800,n,8,1");
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.setSettings(fast.toString()));
    ASSERT_TRUE(service.open()) << service.describeLastError();
    ASSERT_TRUE(LinePeer::hold(true));
    // Far more than a pseudo-terminal holds (some 14 kB); a block the line takes at once.
    const Bytes tooMuch(64 * 1024, 0x55);
    const Bytes block(128, 0xAA);
    const auto allowance = 1500ms; // a busy machine's delays on top of a time limit
    const auto timed = [](const std::function<bool()>& what, bool* result) {
        const auto start = std::chrono::steady_clock::now();
        *result = what();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    };
    bool ok = false;
    if (step == "write") {
        const auto took = timed([&] { return service.output(tooMuch); }, &ok);
        EXPECT_FALSE(ok) << "a write the driver did not take counts as sent";
        EXPECT_LE(took, fast.lineTime(tooMuch.size()) + SerialDevice::Slack + allowance);
        EXPECT_EQ(service.lastError(), SerialError::WriteFailed);
        EXPECT_NE(service.lastErrorText().find("Zeitüberschreitung"), std::string::npos) << service.lastErrorText();
        // The line takes bytes again: the next write is not blamed for the one before.
        ASSERT_TRUE(LinePeer::hold(false));
        peer.receive(1000ms, tooMuch.size(), loop.get()); // what the line held
        EXPECT_TRUE(service.output(block)) << service.describeLastError();
        EXPECT_EQ(hexOf(peer.receive(3000ms, block.size(), loop.get())), hexOf(block));
        return;
    }
    if (step == "closeWithAWriteOutstanding") {
        service.output(tooMuch); // what the driver has not taken stays outstanding with it
        const auto took = timed([&] { return service.close(), !service.isOpen(); }, &ok);
        EXPECT_LE(took, SerialDevice::Slack + allowance);
        return;
    }
    ASSERT_TRUE(service.output(block)) << service.describeLastError();
    const auto took =
        timed([&] { return step == "drain" ? service.drain() : (service.close(), !service.isOpen()); }, &ok);
    EXPECT_LE(took, fast.lineTime(block.size()) + SerialDevice::Slack + allowance);
    EXPECT_TRUE(ok) << service.describeLastError();
    ASSERT_TRUE(LinePeer::hold(false));
    EXPECT_EQ(hexOf(peer.receive(3000ms, block.size(), loop.get())), hexOf(block));
}

INSTANTIATE_TEST_SUITE_P(Rows, StuckLine,
                         testing::Values(StuckRow{"write", "write"}, StuckRow{"drain", "drain"},
                                         StuckRow{"close", "close"},
                                         StuckRow{"closeWithAWriteOutstanding", "closeWithAWriteOutstanding"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WinePort, theFarEndClosingIsReportedOnceAsALostDevice)
{
    SerialService service(*loop, directory);
    service.setCommPort(Number);
    ASSERT_TRUE(service.open()) << service.describeLastError();
    std::vector<std::string> losses;
    service.deviceLost.connect([&](const std::string& reason) { losses.push_back(reason); });
    ASSERT_TRUE(peer.send(bytes("last words")));
    EXPECT_EQ(inputOf(service, 10), bytes("last words"));

    peer.hangUp();
    ASSERT_TRUE(runUntil(
        *loop, [&] { return !losses.empty(); }, 5000ms));
    runFor(*loop, 500ms);
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_NE(losses[0].find("getrennt"), std::string::npos) << losses[0];
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(service.lastError(), SerialError::DeviceGone);
    EXPECT_FALSE(service.output(bytes("x")));
    EXPECT_EQ(service.lastError(), SerialError::NotOpen);
    EXPECT_EQ(service.lastErrorText(), "Gerät getrennt");

    // Its COM name is gone with it.
    EXPECT_FALSE(SerialBackend::system().exists(LinePeer::port()));
    EXPECT_FALSE(service.open());
    EXPECT_EQ(service.lastError(), SerialError::NoDevice);
}

TEST_F(WinePort, theMappedPortExistsAndAnUnmappedOneDoesNot)
{
    EXPECT_TRUE(SerialBackend::system().exists(LinePeer::port()));
    EXPECT_FALSE(SerialBackend::system().exists("COM29"));
    EXPECT_FALSE(SerialBackend::system().exists(""));
}

struct OpenFailureRow
{
    const char* name;
    unsigned long systemError; // 0: a real open of an unmapped port
    int number;                // SerialService error
    OpenFailure::Cause cause;
    const char* message;       // part of describeLastError()
};

class OpenFailuresAreReported : public testing::TestWithParam<OpenFailureRow>
{
protected:
    void TearDown() override { win::setOpenErrorHook({}); }
};

TEST_P(OpenFailuresAreReported, withNumberCauseAndMessage)
{
    const OpenFailureRow& row = GetParam();
    const std::string port = row.systemError ? "COM3" : "COM29";
    if (row.systemError)
        win::setOpenErrorHook([&](const std::string& name) { return name == port ? row.systemError : 0ul; });
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{5, port}}));
    service.setCommPort(5);
    EXPECT_FALSE(service.open());
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(service.lastError(), row.number);
    EXPECT_EQ(service.lastCause(), row.cause);
    const std::string message = service.describeLastError();
    EXPECT_NE(message.find(row.message), std::string::npos) << message;
    EXPECT_NE(message.find("Com #5"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenFailuresAreReported,
    testing::Values(
        OpenFailureRow{"notMapped", 0, SerialError::NoDevice, OpenFailure::Cause::Missing, "kein Gerät gefunden"},
        OpenFailureRow{"fileNotFound", ERROR_FILE_NOT_FOUND, SerialError::NoDevice, OpenFailure::Cause::Missing,
                       "nicht angeschlossen"},
        OpenFailureRow{"accessDenied", ERROR_ACCESS_DENIED, SerialError::Unavailable, OpenFailure::Cause::Busy,
                       "anderes Programm"},
        OpenFailureRow{"sharingViolation", ERROR_SHARING_VIOLATION, SerialError::Unavailable,
                       OpenFailure::Cause::Busy, "anderes Programm"},
        OpenFailureRow{"driverFailure", ERROR_GEN_FAILURE, SerialError::OpenFailed, OpenFailure::Cause::Other,
                       "Treiberfehler"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
