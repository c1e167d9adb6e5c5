// The display simulator over a real pseudo-terminal: the core's serial-port service on an event loop in
// the test's thread plays the tool, the simulator answers from its own thread. Also the program
// morvandell-sim itself: its options, exit codes and link.
#include "coresupport.h"

#include "platform/files.h"
#include "serial/serialservice.h"
#include "simulator/simulatorthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;
using morvandell::sim::SimulatorConfig;
using morvandell::sim::SimulatorThread;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BlockSize = 128;
constexpr int BlockCount = 1016;

Bytes leftJustified(Bytes b, std::size_t width, Byte fill)
{
    b.resize(width, fill);
    return b;
}

Bytes commandFrame(int code, int address = 0, const Bytes& record = {})
{
    Bytes f{0x55, Byte(code), Byte(address >> 8), Byte(address & 0xFF)};
    append(f, leftJustified(record, 16, 0));
    f.push_back(0);
    f.push_back('\r');
    return f;
}

Bytes deviceMessage(int type, const Bytes& payload, int address = 0)
{
    Bytes m{0x55, Byte(type), Byte(address >> 8), Byte(address & 0xFF)};
    append(m, leftJustified(payload, 16, 0));
    m.push_back('\r');
    m.push_back('\n');
    return m;
}

Bytes deviceMessage(int type, const char* payload, int address = 0)
{
    return deviceMessage(type, bytes(payload), address);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    append(a, b);
    return a;
}

// A slot record as the tool builds it: name (8), 0, channel, divider, unit (3), 0, 0.
Bytes slotRecord(const std::string& name, int channel, int divider, const std::string& unit)
{
    Bytes r = leftJustified(slice(bytes(name), 0, 8), 8, ' ');
    r.push_back(0);
    r.push_back(Byte(channel));
    r.push_back(Byte(divider));
    append(r, leftJustified(slice(bytes(unit), 0, 3), 3, ' '));
    r.push_back(0);
    r.push_back(0);
    return r;
}

Bytes testImage()
{
    Bytes image(std::size_t(BlockSize) * BlockCount);
    std::uint32_t x = 12345;
    for (Byte& c : image) {
        x = x * 1103515245u + 12345u;
        c = Byte(x >> 16);
    }
    return image;
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Received
{
    Bytes bytes;
    long long firstMs = -1; // arrival of the first and last piece, measured from the call
    long long lastMs = -1;
};

// The tool's end of the line: the serial-port service on an event loop of this thread.
class ToolPort
{
public:
    explicit ToolPort(const std::string& device)
        : m_loop(makeEventLoop())
        , m_service(*m_loop, directoryOf({{1, device}}))
    {
        m_service.setCommPort(1);
        m_service.received.connect([this] {
            const Bytes piece = m_service.input();
            if (!piece.empty())
                m_pieces.push_back({Clock::now(), piece});
        });
        m_service.deviceLost.connect([this](const std::string&) { m_lost = true; });
    }

    bool open(int baud = 19200)
    {
        return m_service.setSettings(std::to_string(baud) + ",n,8,1") && m_service.open();
    }
    void close() { m_service.close(); }
    bool send(const Bytes& bytes)
    {
        const bool sent = m_service.output(bytes);
        if (!sent)
            ADD_FAILURE() << m_service.describeLastError();
        return sent;
    }

    // Reads until n bytes have arrived or the time runs out; returns whatever came.
    Received read(std::size_t n, std::chrono::milliseconds limit)
    {
        Received r;
        const auto start = Clock::now();
        runUntil(*m_loop, [&] { return buffered() >= n; }, limit);
        for (const Piece& p : m_pieces) {
            const long long at = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(p.time - start).count());
            if (r.firstMs < 0)
                r.firstMs = at;
            r.lastMs = at;
            append(r.bytes, p.bytes);
        }
        m_pieces.clear();
        return r;
    }
    // Everything that arrives within `time`.
    Bytes readFor(std::chrono::milliseconds time) { return read(SIZE_MAX, time).bytes; }

    bool lost() const { return m_lost; }
    EventLoop& loop() { return *m_loop; }
    SerialService& service() { return m_service; }

private:
    std::size_t buffered() const
    {
        std::size_t n = 0;
        for (const Piece& p : m_pieces)
            n += p.bytes.size();
        return n;
    }
    struct Piece
    {
        Clock::time_point time;
        Bytes bytes;
    };
    std::unique_ptr<EventLoop> m_loop;
    SerialService m_service;
    std::vector<Piece> m_pieces;
    bool m_lost = false;
};

// The simulator in its thread and the tool's end of the line. Connect to the display's notifications
// before open().
struct Rig
{
    explicit Rig(const SimulatorConfig& config)
        : sim(config)
    {}

    bool open(int baud = 19200)
    {
        std::string error;
        if (!sim.start(&error)) {
            ADD_FAILURE() << "simulator: " << error;
            return false;
        }
        port = std::make_unique<ToolPort>(sim.devicePath());
        return port->open(baud);
    }
    sim::DisplayLogic& display() { return sim.display(); }

    SimulatorThread sim;
    std::unique_ptr<ToolPort> port;
};

template<typename Row>
std::string rowName(const testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

// Failure messages name the row instead of dumping its bytes.
#define PRINTS_ITS_NAME(Row)                                                                                 \
    [[maybe_unused]] void PrintTo(const Row& row, std::ostream* out)                                       \
    {                                                                                                      \
        *out << row.name;                                                                                  \
    }

SimulatorConfig configWith(const std::function<void(SimulatorConfig&)>& change)
{
    SimulatorConfig config;
    change(config);
    return config;
}

// --- identification -----------------------------------------------------------------------------------

struct IdentificationRow
{
    const char* name;
    Bytes firmware;
    Bytes payload;
};
PRINTS_ITS_NAME(IdentificationRow)

class Identification : public testing::TestWithParam<IdentificationRow>
{};

TEST_P(Identification, answersTheConnectFrame)
{
    const IdentificationRow& row = GetParam();
    SimulatorConfig config;
    config.firmware = row.firmware;
    Rig rig(config);
    ASSERT_TRUE(rig.open());

    ASSERT_TRUE(rig.port->send(commandFrame(5)));
    Bytes expected{0x55, 0xFD, 0, 0};
    append(expected, row.payload);
    append(expected, bytes("\r\n"));
    ASSERT_EQ(expected.size(), 22u);
    EXPECT_EQ(hexOf(rig.port->read(22, 2000ms).bytes), hexOf(expected));
    EXPECT_EQ(rig.port->readFor(50ms), Bytes());
    EXPECT_EQ(rig.display().receivedFrames(), std::vector<Bytes>{commandFrame(5)});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Identification,
    testing::Values(IdentificationRow{"shortTextPaddedWithZeros", bytes("V1.2"), bytes("V1.2") + Bytes(12, 0)},
                    IdentificationRow{"cutTo16Bytes", bytes("Morvandell FW 2.01b"), bytes("Morvandell FW 2.")},
                    IdentificationRow{"empty", Bytes(), Bytes(16, 0)}),
    rowName<IdentificationRow>);

// --- control answers ----------------------------------------------------------------------------------

struct ControlRow
{
    const char* name;
    SimulatorConfig config;
    Bytes input;
    Bytes answer;
    int frames;  // frames the display must have taken
    int address; // record that must be kept, -1 for none
    Bytes record;
    int minSpreadMs; // least time between first and last answer byte
};
PRINTS_ITS_NAME(ControlRow)

class ControlAnswers : public testing::TestWithParam<ControlRow>
{};

TEST_P(ControlAnswers, areAsConfigured)
{
    const ControlRow& row = GetParam();
    Rig rig(row.config);
    ASSERT_TRUE(rig.open());
    ASSERT_TRUE(rig.port->send(row.input));
    const auto sent = Clock::now();

    if (row.answer.empty()) {
        EXPECT_EQ(hexOf(rig.port->readFor(150ms)), "");
    } else {
        const Received got = rig.port->read(row.answer.size(), 2000ms);
        EXPECT_EQ(hexOf(got.bytes), hexOf(row.answer));
        EXPECT_GE(got.lastMs - got.firstMs, row.minSpreadMs);
        EXPECT_GE(msSince(sent), row.config.answerDelayMs);
        EXPECT_EQ(hexOf(rig.port->readFor(50ms)), "");
    }

    const auto frames = rig.display().receivedFrames();
    ASSERT_EQ(int(frames.size()), row.frames);
    EXPECT_EQ(frames.back(), slice(row.input, row.input.size() - 22));
    EXPECT_EQ(rig.display().rawReceived(), row.input);
    if (row.address >= 0) {
        EXPECT_EQ(rig.display().records(), (std::map<int, Bytes>{{row.address, row.record}}));
    } else {
        EXPECT_TRUE(rig.display().records().empty());
    }
    EXPECT_EQ(rig.display().framesBeforeAnswer(), 0);
}

const Bytes rpm = slotRecord("RPM", 12, 1, "rpm");
// Channel 13 and divider 0x55 put a CR and a frame start inside the record.
const Bytes tricky = slotRecord("MAP", 0x0D, 0x55, "kPa");

INSTANTIATE_TEST_SUITE_P(
    Rows, ControlAnswers,
    testing::Values(
        ControlRow{"writeTextAnswer", {}, commandFrame(1, 0x10, rpm), deviceMessage(0, "OK"), 1, 0x10, rpm, 0},
        ControlRow{"writeEepromReportEchoesAddressAndRecord",
                   configWith([](auto& c) { c.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport; }),
                   commandFrame(1, 0x0130, rpm), deviceMessage(2, rpm, 0x0130), 1, 0x0130, rpm, 0},
        ControlRow{"writeWrongRecordStoredAndReported", configWith([](auto& c) {
                       c.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
                       c.wrongRecordAddress = 0x30;
                   }),
                   commandFrame(1, 0x30, rpm), deviceMessage(2, slotRecord("SPM", 12, 1, "rpm"), 0x30), 1, 0x30,
                   slotRecord("SPM", 12, 1, "rpm"), 0},
        ControlRow{"writeConfiguredText", configWith([](auto& c) { c.answerText = bytes("Write SDram"); }),
                   commandFrame(1, 0x90, Bytes{0x02}), deviceMessage(0, "Write SDram"), 1, 0x90,
                   Bytes{0x02} + Bytes(15, 0), 0},
        ControlRow{"writeCrAnd0x55InsideTheRecord", {}, commandFrame(1, 0x20, tricky), deviceMessage(0, "OK"), 1,
                   0x20, tricky, 0},
        ControlRow{"garbageBeforeAFrameIsSkipped", {}, Bytes{0x13, 0x55, 0x00, '\r', 0x55} + commandFrame(1, 0x30, rpm),
                   deviceMessage(0, "OK"), 1, 0x30, rpm, 0},
        ControlRow{"resetResetText", {}, commandFrame(255), deviceMessage(0, "Reset"), 1, -1, {}, 0},
        ControlRow{"unknownCodeRecordedNotAnswered", {}, commandFrame(7), {}, 1, -1, {}, 0},
        ControlRow{"silentRecordKeptNoAnswer", configWith([](auto& c) { c.silent = true; }),
                   commandFrame(1, 0x40, rpm), {}, 1, 0x40, rpm, 0},
        ControlRow{"splitSameBytesSpreadOut", configWith([](auto& c) { c.splitBytes = true; }),
                   commandFrame(1, 0x50, rpm), deviceMessage(0, "OK"), 1, 0x50, rpm, 15},
        ControlRow{"noiseBeforeTheMessage", configWith([](auto& c) { c.noisePrefix = Bytes{'\r', '\n', 0x55}; }),
                   commandFrame(255), Bytes{'\r', '\n', 0x55} + deviceMessage(0, "Reset"), 1, -1, {}, 0},
        ControlRow{"delayedAnswer", configWith([](auto& c) { c.answerDelayMs = 80; }), commandFrame(5),
                   deviceMessage(0xFD, "V1.0"), 1, -1, {}, 0},
        ControlRow{"delayedAnswerToOneFrameOnly", configWith([](auto& c) {
                       c.answerDelayMs = 80;
                       c.answerDelayFrame = 2;
                   }),
                   commandFrame(1, 0x10, rpm) + commandFrame(255), deviceMessage(0, "OK") + deviceMessage(0, "Reset"),
                   2, 0x10, rpm, 60},
        ControlRow{"lostAnswerRecordKept", configWith([](auto& c) { c.loseAnswerFrame = 1; }),
                   commandFrame(1, 0x10, rpm) + commandFrame(255), deviceMessage(0, "Reset"), 2, 0x10, rpm, 0}),
    rowName<ControlRow>);

// --- answer order -------------------------------------------------------------------------------------

struct OrderRow
{
    const char* name;
    bool waitForEachAnswer;
    bool split;
    int framesBeforeAnswer;
};
PRINTS_ITS_NAME(OrderRow)

class AnswerOrder : public testing::TestWithParam<OrderRow>
{};

TEST_P(AnswerOrder, followsTheFrames)
{
    const OrderRow& row = GetParam();
    SimulatorConfig config;
    config.answerDelayMs = 40;
    config.splitBytes = row.split;
    config.answerText = bytes("first");
    config.resetText = bytes("second");
    Rig rig(config);
    ASSERT_TRUE(rig.open());

    const std::vector<Bytes> frames{commandFrame(1, 0x10, bytes("A")), commandFrame(255),
                                    commandFrame(1, 0x20, bytes("B"))};
    const std::vector<Bytes> answers{deviceMessage(0, "first"), deviceMessage(0, "second"),
                                     deviceMessage(0, "first")};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(rig.port->send(frames[i]));
        if (row.waitForEachAnswer) {
            EXPECT_EQ(hexOf(rig.port->read(22, 2000ms).bytes), hexOf(answers[i]));
        }
    }
    // Answers keep the order of the frames, however close together the frames came.
    if (!row.waitForEachAnswer) {
        EXPECT_EQ(hexOf(rig.port->read(66, 3000ms).bytes), hexOf(answers[0] + answers[1] + answers[2]));
    }
    EXPECT_EQ(rig.display().framesBeforeAnswer(), row.framesBeforeAnswer);
}

INSTANTIATE_TEST_SUITE_P(Rows, AnswerOrder,
                         testing::Values(OrderRow{"waitsForEachAnswer", true, false, 0},
                                         OrderRow{"backToBack", false, false, 2},
                                         OrderRow{"backToBackSplitAnswers", false, true, 2}),
                         rowName<OrderRow>);

// --- records and the line -----------------------------------------------------------------------------

TEST(Simulator, recordDumpListsTheLastRecordOfEachAddressInOrder)
{
    Rig rig(SimulatorConfig{});
    ASSERT_TRUE(rig.open());
    const std::vector<std::pair<int, Bytes>> writes{{0x20, slotRecord("Old", 1, 1, "x")},
                                                    {0x10, slotRecord("RPM", 12, 1, "rpm")},
                                                    {0xA0, Bytes(16, 0xFF)},
                                                    {0x20, slotRecord("TPS", 9, 10, "%")}};
    for (const auto& [address, record] : writes) {
        ASSERT_TRUE(rig.port->send(commandFrame(1, address, record)));
        EXPECT_EQ(hexOf(rig.port->read(22, 2000ms).bytes), hexOf(deviceMessage(0, "OK")));
    }
    EXPECT_EQ(rig.display().dumpRecords(), "0x0010: 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00\n"
                                           "0x0020: 54 50 53 20 20 20 20 20 00 09 0A 25 20 20 00 00\n"
                                           "0x00A0: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
}

// The tool closes and reopens its port (the update does so at every start); the display must stay
// reachable, also through a symbolic link as the command-line program's --link makes.
TEST(Simulator, portReopenedAndReachedThroughASymbolicLink)
{
    Rig rig(SimulatorConfig{});
    ASSERT_TRUE(rig.open());
    for (int i = 0; i < 3; ++i) {
        rig.port->close();
        ASSERT_TRUE(rig.port->open(i % 2 ? 19200 : 9600)) << rig.port->service().describeLastError();
        ASSERT_TRUE(rig.port->send(commandFrame(5)));
        EXPECT_EQ(hexOf(rig.port->read(22, 2000ms).bytes), hexOf(deviceMessage(0xFD, "V1.0")));
    }
    rig.port->close();

    const std::string link = tempFolder() + "/display-link";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(rig.sim.devicePath().c_str(), link.c_str()), 0);
    ToolPort viaLink(link);
    ASSERT_TRUE(viaLink.open(19200)) << viaLink.service().describeLastError();
    ASSERT_TRUE(viaLink.send(commandFrame(5)));
    EXPECT_EQ(hexOf(viaLink.read(22, 2000ms).bytes), hexOf(deviceMessage(0xFD, "V1.0")));
    EXPECT_EQ(rig.display().receivedFrames().size(), 4u);
    viaLink.close();
    ::unlink(link.c_str());
}

// --- the device vanishes ------------------------------------------------------------------------------

struct VanishRow
{
    const char* name;
    SimulatorConfig config;
    int framesToSend;
    int blocksToSend;
    bool byRequest;
    Bytes answers; // everything the tool gets before the device vanishes
};
PRINTS_ITS_NAME(VanishRow)

class DeviceVanishes : public testing::TestWithParam<VanishRow>
{};

TEST_P(DeviceVanishes, andTheToolsSideFails)
{
    const VanishRow& row = GetParam();
    Rig rig(row.config);
    ASSERT_TRUE(rig.open());
    // Which pseudo-terminal this is: once it is gone, the system may give its number to another
    // program's new one (tests run side by side), which is then another device under the same name.
    struct stat ours {};
    ASSERT_EQ(::stat(rig.sim.devicePath().c_str(), &ours), 0);
    const auto sameDevice = [&] {
        struct stat now {};
        return ::stat(rig.sim.devicePath().c_str(), &now) == 0 && now.st_rdev == ours.st_rdev &&
               now.st_ctim.tv_sec == ours.st_ctim.tv_sec && now.st_ctim.tv_nsec == ours.st_ctim.tv_nsec;
    };
    Bytes got;
    for (int i = 0; i < row.framesToSend; ++i) {
        ASSERT_TRUE(rig.port->send(commandFrame(5)));
        append(got, rig.port->readFor(60ms));
    }
    for (int b = 0; b < row.blocksToSend; ++b) {
        ASSERT_TRUE(rig.port->send(Bytes(BlockSize, Byte(b))));
        append(got, rig.port->readFor(60ms));
    }
    if (row.byRequest)
        rig.sim.closeDevice();
    EXPECT_EQ(hexOf(got), hexOf(row.answers));
    EXPECT_TRUE(runUntil(rig.port->loop(), [&] { return rig.display().deviceClosed(); }, 2000ms));

    // The tool's side of the line fails instead of waiting for ever, and the device is gone for good.
    EXPECT_TRUE(runUntil(rig.port->loop(), [&] { return rig.port->lost(); }, 500ms));
    EXPECT_EQ(rig.port->service().lastError(), SerialError::DeviceGone);
    EXPECT_FALSE(rig.port->service().isOpen());
    EXPECT_TRUE(runUntil(rig.port->loop(), [&] { return !sameDevice(); }, 2000ms));
    if (files::exists(rig.sim.devicePath()))
        return; // the number already belongs to another program's pseudo-terminal
    ToolPort again(rig.sim.devicePath());
    EXPECT_FALSE(again.open());
    EXPECT_EQ(again.service().lastError(), SerialError::NoDevice) << again.service().lastErrorText();
    EXPECT_EQ(again.service().lastCause(), SerialService::Cause::Missing);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceVanishes,
    testing::Values(VanishRow{"onFrame2", configWith([](auto& c) { c.closeAfterFrames = 2; }), 2, 0, false,
                              deviceMessage(0xFD, "V1.0")},
                    VanishRow{"afterBlock3",
                              configWith([](auto& c) {
                                  c.recovery = true;
                                  c.closeAfterBlock = 3;
                              }),
                              0, 3, false, Bytes{0x06, 0x06}},
                    VanishRow{"closeDevice", {}, 1, 0, true, deviceMessage(0xFD, "V1.0")}),
    rowName<VanishRow>);

// --- update mode --------------------------------------------------------------------------------------

struct ReadyRow
{
    const char* name;
    bool noReady;
    Bytes early; // bytes the tool sends too soon, right after the frame
};
PRINTS_ITS_NAME(ReadyRow)

class ReadyByte : public testing::TestWithParam<ReadyRow>
{};

TEST_P(ReadyByte, followsTheUpdateFrame)
{
    const ReadyRow& row = GetParam();
    SimulatorConfig config;
    config.readyDelayMs = 100;
    config.noReady = row.noReady;
    Rig rig(config);
    ASSERT_TRUE(rig.open());

    ASSERT_TRUE(rig.port->send(commandFrame(4) + row.early));
    const auto sent = Clock::now();
    // The tool switches its line to 9600 baud in between.
    rig.port->close();
    ASSERT_TRUE(rig.port->open(9600));
    EXPECT_TRUE(runUntil(rig.port->loop(), [&] { return rig.display().inUpdateMode(); }, 1000ms));

    if (row.noReady) {
        EXPECT_EQ(hexOf(rig.port->readFor(300ms)), "");
    } else {
        EXPECT_EQ(hexOf(rig.port->read(1, 2000ms).bytes), "05");
        EXPECT_GE(msSince(sent), 95);
    }
    EXPECT_EQ(rig.display().bytesBeforeReady(), int(row.early.size()));
    EXPECT_EQ(rig.display().receivedFrames().size(), 1u);
    EXPECT_EQ(rig.display().blocksReceived(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReadyByte,
                         testing::Values(ReadyRow{"readyByteAfterTheDelay", false, {}},
                                         ReadyRow{"bytesBeforeReadyAreIgnored", false, Bytes(10, 0x55)},
                                         ReadyRow{"noReadyByte", true, {}}),
                         rowName<ReadyRow>);

struct TransferRow
{
    const char* name;
    SimulatorConfig config;
    int blocks;       // blocks the tool sends; each but the last must get 0x06
    Bytes lastAnswer; // what follows the last block sent
    bool finished;
};
PRINTS_ITS_NAME(TransferRow)

class UpdateTransfer : public testing::TestWithParam<TransferRow>
{};

std::string imageOutPath()
{
    return tempFolder() + "/simulator_image.bin";
}

TEST_P(UpdateTransfer, takesTheBlocks)
{
    const TransferRow& row = GetParam();
    SimulatorConfig config = row.config;
    if (!config.imageOut.empty()) {
        config.imageOut = imageOutPath();
        ::unlink(config.imageOut.c_str());
    }
    Rig rig(config);
    // The notifications come from the simulator's thread.
    std::atomic<int> finishedSignals{0};
    std::atomic<int> blockSignals{0};
    std::atomic<int> lastBlockSignalled{0};
    rig.display().updateFinished.connect([&] { ++finishedSignals; });
    rig.display().blockReceived.connect([&](int block) {
        ++blockSignals;
        lastBlockSignalled = block;
    });
    ASSERT_TRUE(rig.open(9600));

    if (!config.recovery) {
        ASSERT_TRUE(rig.port->send(commandFrame(4)));
        ASSERT_EQ(hexOf(rig.port->read(1, 2000ms).bytes), "05");
    }
    EXPECT_TRUE(rig.display().inUpdateMode());

    const Bytes image = testImage();
    for (int b = 1; b <= row.blocks; ++b) {
        ASSERT_TRUE(rig.port->send(slice(image, std::size_t(b - 1) * BlockSize, BlockSize)));
        if (b < row.blocks) {
            const Bytes ack = rig.port->read(1, 2000ms).bytes;
            ASSERT_EQ(hexOf(ack), "06") << "block " << b;
        }
    }
    if (row.lastAnswer.empty()) {
        EXPECT_EQ(hexOf(rig.port->readFor(150ms)), "");
    } else {
        EXPECT_EQ(hexOf(rig.port->read(row.lastAnswer.size(), 2000ms).bytes), hexOf(row.lastAnswer));
    }

    EXPECT_EQ(rig.display().blocksReceived(), row.blocks);
    EXPECT_TRUE(rig.display().receivedImage() == slice(image, 0, std::size_t(row.blocks) * BlockSize));
    runUntil(rig.port->loop(), [&] { return finishedSignals.load() == (row.finished ? 1 : 0); }, 1000ms);
    EXPECT_EQ(finishedSignals.load(), row.finished ? 1 : 0);
    EXPECT_EQ(blockSignals.load(), row.blocks);
    EXPECT_EQ(lastBlockSignalled.load(), row.blocks);
    EXPECT_EQ(rig.display().inUpdateMode(), !row.finished);
    EXPECT_EQ(rig.display().receivedFrames().size(), config.recovery ? 0u : 1u);

    if (!config.imageOut.empty()) {
        std::string error;
        const auto written = files::readAll(config.imageOut, 1 << 20, &error);
        ASSERT_TRUE(written) << error;
        EXPECT_TRUE(*written == image);
        ::unlink(config.imageOut.c_str());
    }
    if (row.finished) {
        // Back in control mode.
        ASSERT_TRUE(rig.port->send(commandFrame(5)));
        EXPECT_EQ(hexOf(rig.port->read(22, 2000ms).bytes), hexOf(deviceMessage(0xFD, "V1.0")));
    }
}

SimulatorConfig normalTransfer()
{
    SimulatorConfig c;
    c.readyDelayMs = 20;
    c.imageOut = "set by the test";
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateTransfer,
    testing::Values(TransferRow{"normal", normalTransfer(), BlockCount, Bytes{0x07}, true},
                    TransferRow{"coalescedFinalAnswer", configWith([](auto& c) {
                                    c = normalTransfer();
                                    c.coalesceFinal = true;
                                    c.imageOut.clear();
                                }),
                                BlockCount, Bytes{0x06, 0x07}, true},
                    TransferRow{"recovery", configWith([](auto& c) { c.recovery = true; }), BlockCount, Bytes{0x07},
                                true},
                    TransferRow{"acknowledgesBlocks1To3Only", configWith([](auto& c) {
                                    c = normalTransfer();
                                    c.stopAckAfterBlock = 3;
                                    c.imageOut.clear();
                                }),
                                4, Bytes(), false},
                    TransferRow{"noCompletionByte", configWith([](auto& c) {
                                    c.recovery = true;
                                    c.stopAckAfterBlock = BlockCount - 1;
                                }),
                                BlockCount, Bytes(), true}),
    rowName<TransferRow>);

struct TimingRow
{
    const char* name;
    bool pace;
    int ackDelayMs;
    int minMs; // least time from writing a block to its acknowledgement
    int maxMs;
};
PRINTS_ITS_NAME(TimingRow)

class BlockTiming : public testing::TestWithParam<TimingRow>
{};

TEST_P(BlockTiming, followsTheLineAndTheAckDelay)
{
    const TimingRow& row = GetParam();
    SimulatorConfig config;
    config.recovery = true;
    config.pace9600 = row.pace;
    config.ackDelayMs = row.ackDelayMs;
    Rig rig(config);
    ASSERT_TRUE(rig.open(9600));

    // Twice: the line clock starts afresh when the tool waited for the acknowledgement.
    for (int b = 0; b < 2; ++b) {
        const auto start = Clock::now();
        ASSERT_TRUE(rig.port->send(Bytes(BlockSize, 0xA5)));
        ASSERT_EQ(hexOf(rig.port->read(1, 2000ms).bytes), "06");
        const long long ms = msSince(start);
        EXPECT_TRUE(ms >= row.minMs && ms <= row.maxMs) << "acknowledged after " << ms << " ms";
    }
    EXPECT_EQ(rig.display().blocksReceived(), 2);
}

// 128 bytes of 10 bits at 9600 baud take 133.3 ms.
INSTANTIATE_TEST_SUITE_P(Rows, BlockTiming,
                         testing::Values(TimingRow{"noPacing", false, 0, 0, 60},
                                         TimingRow{"at9600Baud", true, 0, 133, 250},
                                         TimingRow{"ackDelay", false, 50, 50, 150},
                                         TimingRow{"at9600BaudPlusAckDelay", true, 50, 183, 300}),
                         rowName<TimingRow>);

} // namespace
