#pragma once

// The machine's COM ports: SetupAPI's Ports class for what each one is (description, manufacturer,
// driver, USB ids and serial number through its parents' instance IDs), HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// for the ports SetupAPI does not know (virtual ports, Wine).

#include "serial/portinfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morvandell::win {

struct ScannedPort
{
    PortInfo info;
    std::vector<std::string> instanceIds; // its device's and its parents', nearest first
};

// Every COM port there is now, by number.
std::vector<ScannedPort> scanPorts();

// A USB serial adapter that is plugged in but has no COM port (its driver missing or failing).
struct PortlessAdapter
{
    std::string instanceId;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string chip;        // "CH340"
    std::string description; // what Windows calls it, when it says
    unsigned problem = 0;    // the device manager's problem code, 0 when none
};

// The known serial chips on USB that none of `ports` belongs to.
std::vector<PortlessAdapter> portlessAdapters(const std::vector<ScannedPort>& ports);

} // namespace morvandell::win
