// The serial-port service over real pseudo-terminals: settings text, port numbers, open failures,
// draining on close, and a device that vanishes while the port is open.
#include "coresupport.h"

#include "serial/linesettings.h"
#include "serial/portdirectory.h"
#include "serial/serialservice.h"

#include <gtest/gtest.h>

#include "platform/files.h"

// The pseudo-terminal cases are POSIX only; on Windows tests/wine/serialport_test.cpp plays the line.
#ifndef _WIN32
#include "unix/lockfile.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

struct SettingsRow
{
    const char* name;
    const char* text;
    bool valid;
    int baud;
};

class SettingsText : public testing::TestWithParam<SettingsRow>
{};

TEST_P(SettingsText, isParsedStrictly)
{
    const SettingsRow& row = GetParam();
    std::string error;
    const auto parsed = LineSettings::parse(row.text, &error);
    ASSERT_EQ(parsed.has_value(), row.valid);
    if (row.valid) {
        EXPECT_EQ(parsed->baudRate, row.baud);
        EXPECT_EQ(LineSettings::parse(parsed->toString()), parsed);
    } else {
        EXPECT_FALSE(error.empty());
        auto loop = makeEventLoop();
        SerialService service(*loop, nullptr);
        EXPECT_FALSE(service.setSettings(row.text));
        EXPECT_EQ(service.lastError(), SerialError::InvalidSettings);
        EXPECT_EQ(service.settings(), LineSettings{}); // the old settings stay
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsText,
    testing::Values(SettingsRow{"updateSettings", "9600,n,8,1", true, 9600},
                    SettingsRow{"upperCaseParity", "19200,N,8,1", true, 19200},
                    SettingsRow{"evenParity7Bits2Stop", "4800,e,7,2", true, 4800},
                    SettingsRow{"oneAndAHalfStopBits", "9600,n,5,1.5", true, 9600},
                    SettingsRow{"leadingZerosBeyondNineDigits", "0000000009600,n,00000000008,1", true, 9600},
                    SettingsRow{"baudBeyondTheLargestNumber", "99999999999,n,8,1", false, 0},
                    SettingsRow{"threeFields", "9600,n,8", false, 0},
                    SettingsRow{"fiveFields", "9600,n,8,1,x", false, 0},
                    SettingsRow{"blankInAField", "9600, n,8,1", false, 0},
                    SettingsRow{"baudNotANumber", "fast,n,8,1", false, 0},
                    SettingsRow{"negativeBaud", "-9600,n,8,1", false, 0},
                    SettingsRow{"unknownParity", "9600,x,8,1", false, 0},
                    SettingsRow{"nineDataBits", "9600,n,9,1", false, 0},
                    SettingsRow{"threeStopBits", "9600,n,8,3", false, 0},
                    SettingsRow{"empty", "", false, 0}),
    [](const testing::TestParamInfo<SettingsRow>& info) { return std::string(info.param.name); });

struct ExplicitRow
{
    const char* name;
    const char* text;
    const char* mapped; // "n=device;..."
    bool problems;
};

class ExplicitPortNumbers : public testing::TestWithParam<ExplicitRow>
{};

TEST_P(ExplicitPortNumbers, areParsed)
{
    const ExplicitRow& row = GetParam();
    std::string error;
    const auto entries = PortDirectory::parseExplicit(row.text, &error);
    std::string got;
    for (const auto& [number, entry] : entries)
        got += (got.empty() ? "" : ";") + std::to_string(number) + "=" + entry.device;
    EXPECT_EQ(got, row.mapped);
    EXPECT_EQ(!error.empty(), row.problems);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExplicitPortNumbers,
    testing::Values(ExplicitRow{"twoPorts", "1=/dev/pts/3,5=/dev/ttyUSB0", "1=/dev/pts/3;5=/dev/ttyUSB0", false},
                    ExplicitRow{"blanksTolerated", " 2 = /dev/ttyS1 ", "2=/dev/ttyS1", false},
                    ExplicitRow{"numberAbove16Skipped", "17=/dev/x,3=/dev/y", "3=/dev/y", true},
                    ExplicitRow{"zeroSkipped", "0=/dev/x", "", true},
                    ExplicitRow{"noDeviceSkipped", "4=", "", true},
                    ExplicitRow{"notANumberSkipped", "a=/dev/x", "", true},
                    ExplicitRow{"windowsName", "3=COM23", "3=COM23", false},
                    ExplicitRow{"empty", "", "", false}),
    [](const testing::TestParamInfo<ExplicitRow>& info) { return std::string(info.param.name); });

TEST(SerialService, systemPortsSortAdaptersFirst)
{
    const auto sorted = PortDirectory::sortedSystemPorts(
        {"ttyS10", "ttyS2", "ttyACM1", "ttyUSB10", "rfcomm0", "ttyUSB2", "ttyACM0", "ttyS0"});
    EXPECT_EQ(sorted, (std::vector<std::string>{"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyACM1", "rfcomm0", "ttyS0",
                                                "ttyS2", "ttyS10"}));
}

#ifndef _WIN32
struct OpenFailureRow
{
    const char* name;
    const char* kind;
    int error;
};

class OpenFailures : public testing::TestWithParam<OpenFailureRow>
{};

// Holds a device open in another process, as another program would, until destroyed.
class OtherProgram
{
public:
    explicit OtherProgram(const std::string& device)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            auto loop = makeEventLoop();
            SerialService holder(*loop, directoryOf({{1, device}}));
            holder.setCommPort(1);
            const char ok = holder.open() ? 1 : 0;
            [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char ok = 0;
        m_holding = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~OtherProgram()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool holding() const { return m_holding; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    bool m_holding = false;
};

TEST_P(OpenFailures, carryTheirNumber)
{
    const OpenFailureRow& row = GetParam();
    const std::string kind = row.kind;
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    const std::string device = kind == "missing" ? "/dev/morvandell-no-such-device" : pty.slavePath();
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{3, device}}));
    std::unique_ptr<OtherProgram> other;
    if (kind == "busy") {
        other = std::make_unique<OtherProgram>(pty.slavePath());
        ASSERT_TRUE(other->holding());
    }
    service.setCommPort(kind == "unmapped" ? 4 : 3);
    SerialService second(*loop, directoryOf({{3, device}}));
    if (kind == "twice") {
        ASSERT_TRUE(service.open());
    }
    if (kind == "alsoHere") {
        second.setCommPort(3);
        ASSERT_TRUE(second.open());
    }
    std::unique_ptr<WithoutPermission> denied;
    if (kind == "denied")
        denied = std::make_unique<WithoutPermission>(device);
    EXPECT_FALSE(service.open());
    EXPECT_EQ(service.lastError(), row.error);
    EXPECT_FALSE(service.describeLastError().empty());
    if (kind == "busy" || kind == "alsoHere") {
        EXPECT_EQ(service.lastCause(), SerialService::Cause::Busy);
        EXPECT_NE(service.describeLastError().find("belegt"), std::string::npos) << service.describeLastError();
        EXPECT_FALSE(service.isOpen());
    }
    if (kind == "denied") {
        EXPECT_EQ(service.lastCause(), SerialService::Cause::NoPermission);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenFailures,
    testing::Values(OpenFailureRow{"numberNotInTheDirectory", "unmapped", SerialError::NoDevice},
                    OpenFailureRow{"deviceFileMissing", "missing", SerialError::NoDevice},
                    OpenFailureRow{"inUseByAnotherProgram", "busy", SerialError::Unavailable},
                    OpenFailureRow{"inUseByAnotherPortOfThisProgram", "alsoHere", SerialError::Unavailable},
                    OpenFailureRow{"noPermission", "denied", SerialError::Unavailable},
                    OpenFailureRow{"alreadyOpenHere", "twice", SerialError::AlreadyOpen}),
    [](const testing::TestParamInfo<OpenFailureRow>& info) { return std::string(info.param.name); });

TEST(SerialService, anotherProgramsLockFileIsRespectedAndAStaleOneIgnored)
{
    PtyPair pty;
    const std::string folder = tempFolder() + "/locks";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST, true);
    LockFile::setFolders({folder});
    const std::string lock = folder + "/" + LockFile::nameFor(pty.slavePath());
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);

    // A running process (our parent stands in for another program) holds it.
    writeTempFile("locks/" + LockFile::nameFor(pty.slavePath()), "     " + std::to_string(::getppid()) + "\n");
    EXPECT_FALSE(service.open());
    EXPECT_EQ(service.lastCause(), SerialService::Cause::Busy);

    // Its process is gone: the lock is stale, cleared, and ours is written while the port is open.
    writeTempFile("locks/" + LockFile::nameFor(pty.slavePath()), "999999999\n");
    ASSERT_TRUE(service.open());
    EXPECT_EQ(std::stoi(files::firstLine(lock)), ::getpid());
    service.close();
    EXPECT_FALSE(files::exists(lock));
    LockFile::setFolders({});
}

TEST(SerialService, bytesPassUnchangedAndCloseDrains)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.open());
    Bytes all;
    for (int b = 0; b < 256; ++b)
        all.push_back(Byte(b));
    EXPECT_TRUE(service.output(all));
    EXPECT_TRUE(service.output(all));
    service.close(); // at once: the bytes must still leave
    EXPECT_FALSE(service.isOpen());
    Bytes twice = all;
    append(twice, all);
    EXPECT_EQ(pty.readMaster(2000ms, 512), twice);

    EXPECT_FALSE(service.output(bytes("x")));
    EXPECT_EQ(service.lastError(), SerialError::NotOpen);
}

TEST(SerialService, theLineIsRawAtTheSpeedSet)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.setSettings("9600,n,8,1"));
    ASSERT_TRUE(service.open());
    termios t{};
    const int fd = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), tcflag_t(0));
    EXPECT_EQ(t.c_oflag & OPOST, tcflag_t(0));
}

TEST(SerialService, staleInputIsDiscardedOnOpen)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(pty.writeMaster(bytes("stale bytes")));
    runFor(*loop, 50ms);
    ASSERT_TRUE(service.open());
    int received = 0;
    service.received.connect([&] { ++received; });
    ASSERT_TRUE(pty.writeMaster(bytes("fresh")));
    Bytes got;
    EXPECT_TRUE(runUntil(
        *loop,
        [&] {
            append(got, service.input());
            return got.size() >= 5;
        },
        2000ms));
    EXPECT_GT(received, 0);
    EXPECT_EQ(got, bytes("fresh"));
}

TEST(SerialService, inputWakesTheLoopWithoutPolling)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.open());
    bool received = false;
    service.received.connect([&] { received = true; });
    ASSERT_TRUE(pty.writeMaster(bytes("x")));
    // One pass, with a deadline far away: the input itself ends the sleep.
    const auto start = EventLoop::Clock::now();
    loop->runOnce(start + 5s);
    EXPECT_TRUE(received);
    EXPECT_LT(EventLoop::Clock::now() - start, 1s);
}

TEST(SerialService, readingEverythingThatArrivedIsNoLossOfTheDevice)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.open());
    int lost = 0;
    service.deviceLost.connect([&](const std::string&) { ++lost; });
    Bytes got;
    for (const char* chunk : {"first", "second"}) {
        ASSERT_TRUE(pty.writeMaster(bytes(chunk)));
        EXPECT_TRUE(runUntil(
            *loop,
            [&] {
                append(got, service.input());
                return got.size() >= std::string(chunk).size();
            },
            2000ms));
        got.clear();
        runFor(*loop, 100ms);
        EXPECT_TRUE(service.isOpen()) << chunk << ": " << service.lastErrorText();
    }
    EXPECT_EQ(lost, 0);
    EXPECT_TRUE(service.output(bytes("still there")));
}

TEST(SerialService, closingAClosedPortDoesNothing)
{
    auto loop = makeEventLoop();
    SerialService service(*loop, nullptr);
    service.close();
    service.close();
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(service.lastError(), SerialError::None);
}

TEST(SerialService, changingTheNumberClosesTheOpenPort)
{
    PtyPair a, b;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, a.slavePath()}, {2, b.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.open());
    EXPECT_TRUE(service.output(bytes("to one")));
    service.setCommPort(1); // same number: stays open
    EXPECT_TRUE(service.isOpen());
    service.setCommPort(2);
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(a.readMaster(1000ms, 6), bytes("to one"));
    ASSERT_TRUE(service.open());
    EXPECT_EQ(service.devicePath(), b.slavePath());
}

TEST(SerialService, vanishedDeviceIsReportedOnceAndClosesThePort)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    ASSERT_TRUE(service.open());
    std::vector<std::string> lost;
    service.deviceLost.connect([&](const std::string& reason) { lost.push_back(reason); });
    pty.closeMaster(); // the cable is pulled
    EXPECT_TRUE(runUntil(*loop, [&] { return !lost.empty(); }, 3000ms));
    runFor(*loop, 300ms); // a storm of errors would show up as more notifications here
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_FALSE(service.isOpen());
    EXPECT_EQ(service.lastError(), SerialError::DeviceGone);
    EXPECT_EQ(lost[0], service.lastErrorText());
    EXPECT_NE(service.lastErrorText().find("getrennt"), std::string::npos) << service.lastErrorText();
    EXPECT_FALSE(service.output(bytes("x")));
}

TEST(SerialService, everyOpenAsksForLowLatencyAndARefusalIsNoFailure)
{
    PtyPair pty;
    auto loop = makeEventLoop();
    SerialService service(*loop, directoryOf({{1, pty.slavePath()}}));
    service.setCommPort(1);
    EXPECT_EQ(service.lowLatency(), LowLatency::Outcome::NotRequested);
    // A pseudo-terminal refuses the request; the open succeeds all the same.
    ASSERT_TRUE(service.open());
    EXPECT_EQ(service.lowLatency(), LowLatency::Outcome::Unsupported);
    service.close();

    std::vector<int> asked;
    LowLatency::setHook([&](int fd) {
        asked.push_back(fd);
        return LowLatency::Outcome::Set;
    });
    EXPECT_TRUE(service.open());
    service.close();
    EXPECT_TRUE(service.setSettings("9600,n,8,1") && service.open());
    LowLatency::setHook({});
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[0] >= 0 && asked[1] >= 0);
    EXPECT_EQ(service.lowLatency(), LowLatency::Outcome::Set);
}

#endif

} // namespace
