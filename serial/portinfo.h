#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvandell {

class SerialBackend;

// What the system knows about one serial device: where it is, what it is, and who drives it.
struct PortInfo
{
    std::string device;       // name handed to the backend: a path (may be a link), "COM3", the demo's name
    std::string description;  // product text, e.g. "USB2.0-Serial"
    std::string manufacturer; // e.g. "FTDI"
    std::string serialNumber; // the adapter's own serial number, empty when it has none
    std::string driver;       // kernel driver from sysfs ("ch341-uart"), or the Windows service ("FTDIBUS")
    std::string byIdName;     // its name under /dev/serial/by-id, when there is one
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    // The number this device is offered under when it is free (Windows: COMn is "Com #n" up to 16).
    int preferredNumber = 0;
    // Opens this device; empty for the operating system's ports.
    std::shared_ptr<SerialBackend> backend;

    // The device path with every link resolved; the name itself when it does not resolve (yet, or at all).
    std::string resolvedPath() const;
    // What names this device across unplugging: its serial number, else its by-id name, else its path.
    std::string identity() const;
    // One line per known fact, for the port list's tool tip.
    std::string toolTip() const;
    // The backend that opens it.
    SerialBackend& opener() const;

    // The machine's serial ports with description, USB ids and driver (unix/: sysfs under `root`;
    // windows/: the registry and SetupAPI, `root` unused).
    static std::vector<PortInfo> systemPorts(const std::string& root = "/");
    // The kernel driver of a tty from sysfs (`root`/sys/class/tty/<name>/device/driver), or empty.
    static std::string driverOf(const std::string& ttyName, const std::string& root = "/");
};

// "0403" for 0x0403.
std::string hex4(std::uint16_t value);

} // namespace morvandell
