// The live port list: devices plugged in and pulled out while the program runs, stable numbers,
// numbers still in use, and one number per device however it is named.
#include "coresupport.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/portdirectory.h"
#include "serial/portlist.h"
#include "serial/serialdevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

// Adapters named by a letter; the letter is their serial number, "A@3" plugs A in as ttyUSB3.
PortInfo adapter(const std::string& token)
{
    const std::string letter = token.substr(0, 1);
    const std::size_t at = token.find('@');
    const int tty = at != std::string::npos ? std::stoi(token.substr(at + 1)) : letter[0] - 'A';
    PortInfo port;
    port.device = "/nonexistent/ttyUSB" + std::to_string(tty);
    port.serialNumber = letter;
    port.vendorId = 0x1a86;
    port.productId = 0x7523;
    return port;
}

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    for (const std::string& w : text::split(s, ' '))
        if (!w.empty())
            out.push_back(w);
    return out;
}

struct MachineRow
{
    const char* name;
    const char* initial;
    // Steps separated by ';': "+A" plugs A in, "-A" pulls it out, "*3" means number 3 is selected or
    // open, "= A1 B2" is the list the next opening shows (letter and number).
    const char* steps;
};

class Machine : public testing::TestWithParam<MachineRow>
{};

TEST_P(Machine, listFollowsIt)
{
    const MachineRow& row = GetParam();
    auto machine = std::make_shared<std::map<std::string, PortInfo>>();
    for (const std::string& token : words(row.initial))
        (*machine)[token.substr(0, 1)] = adapter(token);
    const PortDirectory directory({}, [machine] {
        std::vector<PortInfo> ports;
        for (const auto& [letter, port] : *machine)
            ports.push_back(port);
        return ports;
    });

    for (const std::string& step : text::split(row.steps, ';')) {
        std::set<int> inUse;
        const std::size_t equals = step.find('=');
        for (const std::string& token : words(step.substr(0, equals))) {
            if (token[0] == '+')
                (*machine)[token.substr(1, 1)] = adapter(token.substr(1));
            else if (token[0] == '-')
                machine->erase(token.substr(1));
            else if (token[0] == '*')
                inUse.insert(std::stoi(token.substr(1)));
        }
        directory.refresh(inUse);
        if (equals == std::string::npos)
            continue;
        std::vector<std::string> shown;
        for (const int n : directory.listed(inUse))
            shown.push_back(directory.info(n).serialNumber + std::to_string(n));
        EXPECT_EQ(text::join(shown, " "), text::join(words(step.substr(equals + 1)), " ")) << step;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Machine,
    testing::Values(
        MachineRow{"pluggedInAfterStartUp", "A", "= A1; +B = A1 B2"},
        MachineRow{"pulledOut", "A B", "-A = B2; -B ="},
        MachineRow{"selectedAndPulledOutStays", "A B", "-A *1 = A1 B2; = B2"},
        MachineRow{"repluggedKeepsItsNumber", "A B", "-A = B2; +A@7 = A1 B2"},
        MachineRow{"newDeviceAvoidsAGoneOnesNumber", "A B", "-A; +C = B2 C3; +A = A1 B2 C3"},
        MachineRow{"numberInUseIsNeverHandedOn", "A B C D E F G H I J K L M N O P",
                   "-A *1; +Q *1 = A1 B2 C3 D4 E5 F6 G7 H8 I9 J10 K11 L12 M13 N14 O15 P16"},
        MachineRow{"goneNumberReusedWhenNothingElseIsFree", "A B C D E F G H I J K L M N O P",
                   "-A; +Q = Q1 B2 C3 D4 E5 F6 G7 H8 I9 J10 K11 L12 M13 N14 O15 P16; -Q +A = A1 B2 C3 D4 E5 F6 G7 "
                   "H8 I9 J10 K11 L12 M13 N14 O15 P16"}),
    [](const testing::TestParamInfo<MachineRow>& info) { return std::string(info.param.name); });

#ifndef _WIN32
TEST(PortDirectory, aLinkAndItsTargetGetOneNumber)
{
    const std::string dir = tempFolder() + "/link";
    fs::create_directories(dir);
    const std::string target = dir + "/ttyUSB0";
    const std::string link = dir + "/usb-FTDI_FT232R_A1-if00-port0";
    std::ofstream(target).put('\n');
    fs::create_symlink(target, link);
    PortInfo system;
    system.device = target;
    system.description = "FT232R USB UART";

    const PortDirectory directory({{5, link}}, [system] { return std::vector<PortInfo>{system}; });
    EXPECT_EQ(directory.listed(), std::vector<int>{5});
    EXPECT_EQ(directory.entry(5).device, link);
    EXPECT_NE(directory.toolTip(5).find(target), std::string::npos) << directory.toolTip(5);
    EXPECT_NE(directory.toolTip(5).find(system.description), std::string::npos) << directory.toolTip(5);
}
#endif

TEST(PortDirectory, aMappedPathIsOfferedOnceItExists)
{
    const std::string later = files::join(tempFolder(), "display");
    const PortDirectory directory({{2, later}}, [] { return std::vector<PortInfo>{}; });
    EXPECT_TRUE(directory.listed().empty());
    std::ofstream(files::toPath(later)).put('\n');
    directory.refresh();
    EXPECT_EQ(directory.listed(), std::vector<int>{2});
    EXPECT_TRUE(directory.history(2).firstSeen.has_value());
    EXPECT_FALSE(directory.history(2).atStartUp);
}

#ifndef _WIN32
TEST(PortDirectory, systemPortsComeFromSysfs)
{
    const fs::path r = tempFolder() + "/sysfs";
    const fs::path usb = r / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    fs::create_directories(r / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(r / "sys/devices/platform/serial8250/tty/ttyS1");
    for (const char* tty : {"ttyUSB0", "ttyS0", "ttyS1", "tty0"})
        fs::create_directories(r / "sys/class/tty" / tty);
    fs::create_directories(r / "dev/serial/by-id");
    auto write = [&](const fs::path& path, const std::string& line) { std::ofstream(path) << line << "\n"; };
    write(usb / "idVendor", "1a86");
    write(usb / "idProduct", "7523");
    write(usb / "product", "USB Serial");
    write(usb / "serial", "A50285BI");
    write(r / "sys/class/tty/ttyS0/type", "0");
    write(r / "sys/class/tty/ttyS1/type", "4");
    fs::create_symlink(usb / "1-1:1.0/ttyUSB0", r / "sys/class/tty/ttyUSB0/device");
    fs::create_symlink("/sys/bus/usb-serial/drivers/ch341-uart", usb / "1-1:1.0/ttyUSB0/driver");
    for (const char* tty : {"ttyS0", "ttyS1"})
        fs::create_symlink(r / "sys/devices/platform/serial8250/tty" / tty, r / "sys/class/tty" / tty / "device");
    fs::create_symlink("../../ttyUSB0", r / "dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");

    std::vector<std::string> found;
    for (const PortInfo& port : PortInfo::systemPorts(r.string())) {
        std::vector<std::string> parts;
        for (const std::string& part :
             {port.device, port.description, port.serialNumber, port.driver, port.byIdName})
            if (!part.empty())
                parts.push_back(part);
        found.push_back(text::join(parts, " "));
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{
                         "/dev/ttyS1", "/dev/ttyUSB0 USB Serial A50285BI ch341-uart usb-1a86_USB_Serial-if00-port0"}));
}
#endif

#ifndef _WIN32
// A driver that is slow to open: each open waits until the test lets it go, then opens the real device.
class SlowToOpen final : public SerialBackend
{
public:
    std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                       OpenFailure* failure) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_attempts;
            m_released.wait(lock, [this] { return m_free; });
        }
        return SerialBackend::system().open(device, settings, failure);
    }
    bool exists(const std::string& device) const override { return SerialBackend::system().exists(device); }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free = true;
        m_released.notify_all();
    }
    int attempts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_attempts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_free = false;
    int m_attempts = 0;
};

TEST(PortList, anOpenThatDoesNotReturnInTimeIsNotListedNorTriedAgainWhileItRuns)
{
    PtyPair first, slow, last;
    auto backend = std::make_shared<SlowToOpen>();
    const PortDirectory directory(std::map<int, PortDirectory::Entry>{
        {2, {first.slavePath(), "", nullptr}},
        {5, {slow.slavePath(), "", backend}},
        {9, {last.slavePath(), "", nullptr}}});
    const auto numbers = [&](const std::set<int>& kept) {
        std::vector<int> out;
        for (const PortList::Entry& entry : PortList::scan(directory, LineSettings(), kept, 0, 1000ms))
            out.push_back(entry.number);
        return out;
    };
    EXPECT_EQ(numbers({}), (std::vector<int>{2, 9}));
    EXPECT_EQ(numbers({5}), (std::vector<int>{2, 5, 9})); // selected: stays
    EXPECT_EQ(backend->attempts(), 1);
    backend->release();
    // Once the first attempt has ended, the port is tried and listed again.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (numbers({}) != std::vector<int>{2, 5, 9} && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(numbers({}), (std::vector<int>{2, 5, 9}));
}
#endif

} // namespace
