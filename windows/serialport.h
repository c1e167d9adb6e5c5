#pragma once

// The Win32 serial port's parts that tests reach: how a port name becomes a device path, what a system
// error means for an open, and a seam to make an open fail as another program's port would (Wine gives no
// exclusive access, so "in use" cannot be produced there for real).

#include "serial/serialdevice.h"

#include <functional>
#include <string>

namespace morvandell::win {

// "COM3" -> "\\.\COM3" (needed from COM10 on, harmless below); a path that has a backslash stays as it is.
std::string devicePathOf(const std::string& port);

// The open failure for a CreateFile error on `port`.
OpenFailure openFailureFor(const std::string& port, unsigned long error);

// Why a port that was open is gone, for the error that showed it.
std::string lostReasonFor(unsigned long error);

// Called before each open with the port name; a non-zero return is taken as CreateFile's error.
// An empty function restores real opens.
using OpenErrorHook = std::function<unsigned long(const std::string& port)>;
void setOpenErrorHook(OpenErrorHook hook);

// The COM port names the system lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, as (kernel device,
// port name) pairs in the registry's order.
std::vector<std::pair<std::string, std::string>> serialCommPorts();

} // namespace morvandell::win
