// Windows' COM ports: what instance IDs say about an adapter, COM names, and the port list from the
// system's registry of serial ports: COM1 to COM16 under their own number, higher ones under a free
// number with their COM name in the tool tip, MORVANDELL_PORTS naming a high one explicitly.
#include "serial/portdirectory.h"
#include "serial/serialdevice.h"
#include "windows/deviceids.h"
#include "windows/portscan.h"
#include "windows/wide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>

using namespace morvandell;

namespace {

struct IdentityRow
{
    const char* name;
    std::vector<std::string> chain;
    std::optional<std::uint16_t> vendor;
    std::optional<std::uint16_t> product;
    const char* serial;
};

class UsbIdentity : public testing::TestWithParam<IdentityRow>
{};

TEST_P(UsbIdentity, comesFromTheInstanceIds)
{
    const IdentityRow& row = GetParam();
    const win::UsbIdentity identity = win::usbIdentityOf(row.chain);
    EXPECT_EQ(identity.vendorId, row.vendor);
    EXPECT_EQ(identity.productId, row.product);
    EXPECT_EQ(identity.serialNumber, row.serial);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UsbIdentity,
    testing::Values(
        IdentityRow{"ftdiThroughItsBus",
                    {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI"},
                    0x0403, 0x6001, "A50285BI"},
        IdentityRow{"ftdiBusOnly", {"FTDIBUS\\VID_0403+PID_6015+DN00XYZQA\\0000"}, 0x0403, 0x6015, "DN00XYZQ"},
        IdentityRow{"ch340WithoutSerial", {"USB\\VID_1A86&PID_7523\\5&1A2B3C4D&0&2"}, 0x1a86, 0x7523, ""},
        IdentityRow{"cdcInterfaceOfACompositeDevice",
                    {"USB\\VID_2341&PID_0043&MI_00\\6&12345678&0&0000", "USB\\VID_2341&PID_0043\\75830333238351F0B0A1"},
                    0x2341, 0x0043, "75830333238351F0B0A1"},
        IdentityRow{"lowerCaseIds", {"usb\\vid_10c4&pid_ea60\\0001"}, 0x10c4, 0xea60, "0001"},
        IdentityRow{"builtInPort", {"ACPI\\PNP0501\\0"}, std::nullopt, std::nullopt, ""},
        IdentityRow{"brokenHexDigits", {"USB\\VID_04G3&PID_6001\\X"}, std::nullopt, std::nullopt, ""},
        IdentityRow{"nothing", {}, std::nullopt, std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameRow
{
    const char* name;
    int number;
};

class ComNumber : public testing::TestWithParam<NameRow>
{};

TEST_P(ComNumber, ofAPortName)
{
    EXPECT_EQ(win::comNumberOf(GetParam().name), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Rows, ComNumber,
                         testing::Values(NameRow{"COM3", 3}, NameRow{"com23", 23}, NameRow{"COM256", 256},
                                         NameRow{"COM", 0}, NameRow{"COM03", 0}, NameRow{"COM3x", 0},
                                         NameRow{"LPT1", 0}, NameRow{"\\\\.\\COM3", 0}),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

// Two ports in the system's registry of serial ports, for as long as the test runs.
class RegisteredPorts : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                    REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
        set(L"\\Device\\MorvandellTest0", L"COM23");
        set(L"\\Device\\MorvandellTest1", L"COM6");
    }
    void TearDown() override
    {
        for (const wchar_t* name : {L"\\Device\\MorvandellTest0", L"\\Device\\MorvandellTest1"})
            ::RegDeleteValueW(m_key, name);
        ::RegCloseKey(m_key);
        ::SetEnvironmentVariableW(L"MORVANDELL_PORTS", nullptr);
    }
    void set(const wchar_t* name, const wchar_t* port)
    {
        ::RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                         DWORD((wcslen(port) + 1) * sizeof(wchar_t)));
    }
    HKEY m_key = nullptr;
};

TEST_F(RegisteredPorts, areListedByNumberWithTheirOwnNumberUpTo16)
{
    const std::vector<win::ScannedPort> ports = win::scanPorts();
    auto find = [&](const std::string& name) {
        return std::find_if(ports.begin(), ports.end(), [&](const auto& p) { return p.info.device == name; });
    };
    ASSERT_NE(find("COM6"), ports.end());
    ASSERT_NE(find("COM23"), ports.end());
    EXPECT_LT(find("COM6"), find("COM23"));
    EXPECT_EQ(find("COM6")->info.preferredNumber, 6);
    EXPECT_EQ(find("COM23")->info.preferredNumber, 0);
    EXPECT_EQ(find("COM23")->info.driver, "\\Device\\MorvandellTest0");
    EXPECT_TRUE(SerialBackend::system().exists("COM23"));
    EXPECT_TRUE(SerialBackend::system().exists("com6"));
}

TEST_F(RegisteredPorts, aHighComNumberIsOfferedUnderAFreeNumberNamingIt)
{
    const PortDirectory directory({}, [] { return PortInfo::systemPorts(); });
    EXPECT_TRUE(directory.isPresent(6));
    EXPECT_EQ(directory.entry(6).device, "COM6");
    int high = 0;
    for (const int n : directory.listed())
        if (directory.entry(n).device == "COM23")
            high = n;
    ASSERT_GE(high, PortDirectory::FirstPort);
    ASSERT_LE(high, PortDirectory::LastPort);
    EXPECT_NE(high, 6);
    const std::string tip = directory.toolTip(high);
    EXPECT_EQ(tip.substr(0, tip.find('\n')), "COM23") << tip;
}

TEST_F(RegisteredPorts, theEnvironmentNamesAHighPortForANumber)
{
    ::SetEnvironmentVariableW(L"MORVANDELL_PORTS", L"3=COM23");
    const auto directory = PortDirectory::fromSystem();
    EXPECT_EQ(directory->entry(3).device, "COM23");
    EXPECT_TRUE(directory->isPresent(3));
    for (const int n : directory->listed()) {
        if (n != 3) {
            EXPECT_NE(directory->entry(n).device, "COM23") << "also under " << n;
        }
    }
}

} // namespace
