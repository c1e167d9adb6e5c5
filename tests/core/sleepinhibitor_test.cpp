// The sleep inhibitor against a fake logind on a private bus: asked without blocking, held from the
// answer until release, never held after a release that came first, silent without logind or without
// a bus, and held by a transfer from its start to its end.
#include "coresupport.h"

#include "updater/sleepinhibitor.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "fakelogind.h"
#include "updatedisplay.h"

#include "platform/files.h"
#include "serial/serialservice.h"
#include "updater/firmwareimage.h"
#include "updater/updatetransfer.h"

#include <filesystem>

#include <cstdlib>
#include <thread>
#endif

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

#ifndef _WIN32

constexpr auto Request = "sleep:idle|Morvandell|Firmware-Update läuft|block";

// The bus daemon closes its own copy of a descriptor it passed on a moment after it has passed it.
bool givenBack(const FakeLogind& logind)
{
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (logind.held() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    return logind.held() == 0;
}

TEST(SleepInhibitor, isHeldFromLogindsAnswerUntilRelease)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.isValid());
    auto loop = makeEventLoop();
    SleepInhibitor inhibitor(*loop);
    std::vector<bool> changes;
    inhibitor.heldChanged.connect([&](bool held) { changes.push_back(held); });

    inhibitor.acquire();
    inhibitor.acquire(); // wanted already: no second request
    EXPECT_TRUE(inhibitor.isWanted());
    EXPECT_FALSE(inhibitor.isHeld()); // the answer comes through the loop
    ASSERT_TRUE(runUntil(
        *loop, [&] { return inhibitor.isHeld(); }, 5000ms));
    EXPECT_EQ(logind.held(), 1);
    runFor(*loop, 100ms);
    EXPECT_EQ(logind.requests(), std::vector<std::string>{Request});

    inhibitor.release();
    EXPECT_FALSE(inhibitor.isWanted());
    EXPECT_FALSE(inhibitor.isHeld());
    EXPECT_TRUE(givenBack(logind));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    inhibitor.acquire(); // asked again after a release
    ASSERT_TRUE(runUntil(
        *loop, [&] { return inhibitor.isHeld(); }, 5000ms));
    EXPECT_EQ(logind.requests().size(), 2u);
}

TEST(SleepInhibitor, aReleaseBeforeTheAnswerLeavesNothingHeld)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.isValid());
    auto loop = makeEventLoop();
    SleepInhibitor inhibitor(*loop);
    int changes = 0;
    inhibitor.heldChanged.connect([&](bool) { ++changes; });
    inhibitor.acquire();
    inhibitor.release();
    runFor(*loop, 500ms);
    EXPECT_FALSE(inhibitor.isHeld());
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(givenBack(logind)); // an answer that came anyway was dropped with its descriptor
}

TEST(SleepInhibitor, destroyedWhileHeldGivesItBack)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.isValid());
    auto loop = makeEventLoop();
    {
        SleepInhibitor inhibitor(*loop);
        inhibitor.acquire();
        ASSERT_TRUE(runUntil(
            *loop, [&] { return inhibitor.isHeld(); }, 5000ms));
    }
    EXPECT_TRUE(givenBack(logind));
    runFor(*loop, 50ms); // nothing of it is left in the loop
}

struct SilentRow
{
    const char* name;
    bool bus; // false: the system bus's address leads nowhere
};

class WithoutLogind : public testing::TestWithParam<SilentRow>
{
};

TEST_P(WithoutLogind, nothingIsHeldAndNothingSaid)
{
    std::unique_ptr<FakeLogind> busOnly;
    if (GetParam().bus) {
        busOnly = std::make_unique<FakeLogind>(false);
        ASSERT_TRUE(busOnly->isValid());
    } else {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/morvandell-test-bus", 1);
    }
    auto loop = makeEventLoop();
    testing::internal::CaptureStderr();
    {
        SleepInhibitor inhibitor(*loop);
        int changes = 0;
        inhibitor.heldChanged.connect([&](bool) { ++changes; });
        const auto start = EventLoop::Clock::now();
        inhibitor.acquire();
        EXPECT_LT(EventLoop::Clock::now() - start, 500ms); // never blocks
        runFor(*loop, 500ms);
        EXPECT_TRUE(inhibitor.isWanted());
        EXPECT_FALSE(inhibitor.isHeld());
        inhibitor.release();
        EXPECT_EQ(changes, 0);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (!GetParam().bus)
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

INSTANTIATE_TEST_SUITE_P(Rows, WithoutLogind,
                         testing::Values(SilentRow{"noSystemBus", false},
                                         SilentRow{"busWithoutLogind", true}),
                         [](const testing::TestParamInfo<SilentRow>& info) {
                             return std::string(info.param.name);
                         });

struct TransferRow
{
    const char* name;
    bool fileThere; // false: the transfer refuses before it sends anything
};

class TransferHolding : public testing::TestWithParam<TransferRow>
{
};

TEST_P(TransferHolding, theTransferHoldsItFromStartToEnd)
{
    FakeLogind logind;
    ASSERT_TRUE(logind.isValid());
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    const std::string path = writeTempFile("inhibit.bin", Bytes(5000, 0x42));
    auto loop = makeEventLoop();
    SerialService port(*loop, directoryOf({{3, pty.slavePath()}}));
    port.setCommPort(3);
    ASSERT_TRUE(port.setSettings(UpdateProtocol::UpdateSettings) && port.open());
    UpdateTransfer transfer(port);
    bool seenHeld = false;
    port.received.connect([&] {
        seenHeld = seenHeld || (transfer.sleepInhibitor().isHeld() && logind.held() == 1);
        for (const UpdateProtocol::Answer answer : UpdateProtocol::answersIn(port.input()))
            transfer.take(answer);
        if (transfer.blocksSent() >= 30 && seenHeld)
            transfer.cancel();
    });
    UpdateDisplay::Behaviour display;
    display.expectFrame = false;
    display.answerDelay = 2ms; // time for the bus's answer to come while blocks go out
    UpdateDisplay playing(pty, display);

    std::string error;
    const std::optional<FirmwareImage> image = FirmwareImage::load(path, &error);
    ASSERT_TRUE(image) << error;
    if (!GetParam().fileThere)
        std::filesystem::remove(files::toPath(path));
    const UpdateTransfer::Outcome outcome = transfer.run(UpdateProtocol::Mode::Recovery, *image);
    EXPECT_EQ(outcome.result,
              GetParam().fileThere ? UpdateTransfer::Result::Cancelled : UpdateTransfer::Result::FileFailed)
        << outcome.message;
    EXPECT_EQ(seenHeld, GetParam().fileThere);
    EXPECT_FALSE(transfer.sleepInhibitor().isWanted());
    EXPECT_FALSE(transfer.sleepInhibitor().isHeld());
    runFor(*loop, 200ms); // a late answer to a refused transfer is dropped
    EXPECT_TRUE(givenBack(logind));
}

INSTANTIATE_TEST_SUITE_P(Rows, TransferHolding,
                         testing::Values(TransferRow{"stopped", true}, TransferRow{"fileGone", false}),
                         [](const testing::TestParamInfo<TransferRow>& info) {
                             return std::string(info.param.name);
                         });

#else

TEST(SleepInhibitor, isHeldFromAcquireUntilRelease)
{
    auto loop = makeEventLoop();
    SleepInhibitor inhibitor(*loop);
    std::vector<bool> changes;
    inhibitor.heldChanged.connect([&](bool held) { changes.push_back(held); });
    inhibitor.acquire();
    EXPECT_TRUE(inhibitor.isWanted());
    EXPECT_TRUE(inhibitor.isHeld());
    inhibitor.release();
    EXPECT_FALSE(inhibitor.isHeld());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

#endif

} // namespace
