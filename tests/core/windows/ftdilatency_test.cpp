// The FTDI latency timer read from the driver's registry values (a tree of the test's own under HKLM) and
// how it is described.
#include "windows/ftdilatency.h"
#include "windows/wide.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace morvandell;

namespace {

const std::string Tree = "Software\\MorvandellTest\\FTDIBUS";

struct Instance
{
    const char* device;   // "VID_0403+PID_6001+A50285BIA"
    const char* portName; // nullptr: no PortName value
    int latency;          // < 0: no LatencyTimer value
};

void write(const Instance& instance)
{
    const std::wstring path = win::widen(Tree + "\\" + instance.device + "\\0000\\Device Parameters");
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (instance.portName) {
        const std::wstring name = win::widen(instance.portName);
        ::RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                         DWORD((name.size() + 1) * sizeof(wchar_t)));
    }
    if (instance.latency >= 0) {
        const DWORD value = DWORD(instance.latency);
        ::RegSetValueExW(key, L"LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    ::RegCloseKey(key);
}

struct Row
{
    const char* name;
    const char* port;
    std::optional<unsigned> expected;
};

class FtdiLatencyTimer : public testing::TestWithParam<Row>
{
protected:
    static void SetUpTestSuite()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, win::widen(Tree).c_str());
        write({"VID_0403+PID_6001+A50285BIA", "COM3", 16});
        write({"VID_0403+PID_6015+DN00XYZQA", "COM12", 1});
        write({"VID_0403+PID_6010+FT2232ABA", "COM7", -1});
        write({"VID_0403+PID_6010+FT2232ABB", nullptr, 2});
    }
    static void TearDownTestSuite() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, win::widen(Tree).c_str()); }
};

TEST_P(FtdiLatencyTimer, isReadForItsPort)
{
    EXPECT_EQ(win::ftdiLatencyTimer(GetParam().port, Tree), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FtdiLatencyTimer,
                         testing::Values(Row{"defaultTimer", "COM3", 16u}, Row{"lowered", "COM12", 1u},
                                         Row{"nameInOtherCase", "com3", 16u},
                                         Row{"noTimerValue", "COM7", std::nullopt},
                                         Row{"otherPort", "COM4", std::nullopt},
                                         Row{"prefixOfAnotherName", "COM1", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FtdiLatency, withoutTheDriversTreeNothingIsKnown)
{
    EXPECT_EQ(win::ftdiLatencyTimer("COM3", "Software\\MorvandellTest\\Nothing"), std::nullopt);
}

TEST(FtdiLatency, aSlowTimerIsDescribedWithWhereToChangeIt)
{
    const std::string slow = win::describeFtdiLatency("COM3", 16);
    EXPECT_NE(slow.find("16 ms"), std::string::npos) << slow;
    EXPECT_NE(slow.find("Latency Timer"), std::string::npos) << slow;
    const std::string fast = win::describeFtdiLatency("COM3", 1);
    EXPECT_NE(fast.find("ohne Adapter-Verzögerung"), std::string::npos) << fast;
}

} // namespace
