#pragma once

#include <optional>
#include <string>

namespace morvandell::win {

// The latency timer (ms) of the FTDI adapter behind a COM port, from the driver's registry values
// (...\Enum\FTDIBUS\<device>\<instance>\Device Parameters: PortName, LatencyTimer); nothing when the port
// is no FTDI adapter's or the value is not there. `enumKey` is below HKEY_LOCAL_MACHINE; tests point it
// at a tree of their own.
std::optional<unsigned> ftdiLatencyTimer(const std::string& port,
                                         const std::string& enumKey = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS");

// German, one line: what the timer means for the acknowledgement delay and where it is set.
std::string describeFtdiLatency(const std::string& port, unsigned milliseconds);

} // namespace morvandell::win
