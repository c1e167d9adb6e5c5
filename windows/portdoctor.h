#pragma once

// The port doctor on Windows. What it knows of the machine comes through Facts, so that tests can give
// it any machine: USB serial adapters without a COM port, FTDI latency timers.

#include "serial/portdoctor.h"
#include "windows/portscan.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::win {

class WindowsPortDoctor final : public PortDoctor
{
public:
    struct Facts
    {
        std::function<std::vector<PortlessAdapter>()> portlessAdapters;
        std::function<std::optional<unsigned>(const std::string& port)> ftdiLatency;
    };
    // The machine's (SetupAPI, the FTDI driver's registry values).
    static Facts systemFacts();

    explicit WindowsPortDoctor(Facts facts = systemFacts());

    std::string noPermission(const std::string& device) const override;
    std::string busy(const std::string& device) const override;
    std::string notThere(const PortDirectory& directory, int number) const override;
    std::string report(const PortDirectory& directory, int number = 0) const override;

private:
    std::vector<std::string> adapterLines() const;
    Facts m_facts;
};

} // namespace morvandell::win
