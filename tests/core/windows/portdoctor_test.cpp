// The port doctor's words on Windows, for machines the test makes up: a port in use, a port that is not
// there (with the ports that are, and USB adapters that have no COM port), and the FTDI latency timer in
// the report.
#include "serial/portdirectory.h"
#include "windows/portdoctor.h"

#include <gtest/gtest.h>

using namespace morvandell;

namespace {

win::WindowsPortDoctor::Facts facts(std::vector<win::PortlessAdapter> adapters,
                                    std::map<std::string, unsigned> latency = {})
{
    win::WindowsPortDoctor::Facts f;
    f.portlessAdapters = [adapters] { return adapters; };
    f.ftdiLatency = [latency](const std::string& port) -> std::optional<unsigned> {
        const auto it = latency.find(port);
        if (it == latency.end())
            return std::nullopt;
        return it->second;
    };
    return f;
}

std::shared_ptr<PortDirectory> machine(std::vector<PortInfo> ports)
{
    return std::make_shared<PortDirectory>(std::map<int, std::string>{}, [ports] { return ports; });
}

PortInfo port(const std::string& name, int number, const std::string& description = {})
{
    PortInfo p;
    p.device = name;
    p.preferredNumber = number;
    p.description = description;
    return p;
}

const win::PortlessAdapter Ch340WithoutDriver{"USB\\VID_1A86&PID_7523\\5&1&0&2", 0x1a86, 0x7523, "CH340", "USB-SERIAL",
                                              28};

struct Row
{
    const char* name;
    std::vector<PortInfo> ports;
    std::vector<win::PortlessAdapter> adapters;
    std::map<std::string, unsigned> latency;
    int number;                         // asked about
    std::string (*ask)(const win::WindowsPortDoctor&, const PortDirectory&, int);
    std::vector<std::string> mentions;  // every one in the text
    std::vector<std::string> notMentioned;
};

std::string busy(const win::WindowsPortDoctor& d, const PortDirectory& dir, int n)
{
    return d.busy(dir.entry(n).device);
}
std::string notThere(const win::WindowsPortDoctor& d, const PortDirectory& dir, int n)
{
    return d.notThere(dir, n);
}
std::string report(const win::WindowsPortDoctor& d, const PortDirectory& dir, int n)
{
    return d.report(dir, n);
}

class WindowsPortDoctor : public testing::TestWithParam<Row>
{};

TEST_P(WindowsPortDoctor, says)
{
    const Row& row = GetParam();
    const auto directory = machine(row.ports);
    const win::WindowsPortDoctor doctor(facts(row.adapters, row.latency));
    const std::string text = row.ask(doctor, *directory, row.number);
    for (const std::string& part : row.mentions)
        EXPECT_NE(text.find(part), std::string::npos) << "missing \"" << part << "\" in:\n" << text;
    for (const std::string& part : row.notMentioned)
        EXPECT_EQ(text.find(part), std::string::npos) << "unexpected \"" << part << "\" in:\n" << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WindowsPortDoctor,
    testing::Values(
        Row{"inUse", {port("COM3", 3)}, {}, {}, 3, busy, {"COM3 ist belegt", "anderes Programm", "Schließen Sie"}, {}},
        Row{"notThereNamesThePortsThatAre",
            {port("COM4", 4, "USB Serial Port")}, {}, {}, 2, notThere,
            {"Com #2 ist nicht angeschlossen", "Angeschlossen sind jetzt: COM4 (Com #4)", "Stecken Sie den Adapter"},
            {"keinen COM-Port"}},
        Row{"notThereWithoutAnyPort", {}, {}, {}, 5, notThere, {"Zur Zeit ist kein COM-Port angeschlossen"}, {}},
        Row{"adapterWithoutComPort", {}, {Ch340WithoutDriver}, {}, 3, notThere,
            {"Der Adapter CH340 (USB 1a86:7523) ist angeschlossen, hat aber keinen COM-Port", "Problemcode 28",
             "Treiber des Herstellers"},
            {}},
        Row{"reportWithSlowFtdiTimer", {port("COM3", 3, "USB Serial Port")}, {}, {{"COM3", 16}}, 3, report,
            {"Com #3: COM3 (USB Serial Port)", "FTDI-Latenz-Timer von COM3: 16 ms", "Latency Timer"}, {}},
        Row{"reportWithFastFtdiTimer", {port("COM3", 3)}, {}, {{"COM3", 1}}, 3, report,
            {"FTDI-Latenz-Timer von COM3: 1 ms (Antworten ohne Adapter-Verzögerung)"}, {"Latency Timer"}},
        Row{"reportOfEveryPort", {port("COM3", 3), port("COM23", 0)}, {Ch340WithoutDriver}, {}, 0, report,
            {"Com #3: COM3", ": COM23", "Der Adapter CH340"}, {"FTDI"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
