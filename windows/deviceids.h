#pragma once

// What Windows device instance IDs say about a USB serial adapter: "USB\VID_0403&PID_6001\A50285BI" is an
// FTDI FT232R with serial number A50285BI; "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000" its port (the
// driver's own bus, the serial number with the interface's letter); "USB\VID_1A86&PID_7523\5&1A2B3C&0&2"
// a CH340 without a serial number (Windows made that last part up: it has '&' in it).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::win {

struct UsbIdentity
{
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::string serialNumber;
};

// From a port's own instance ID and its parents' (nearest first): the first VID/PID found, the serial
// number of the USB device itself (or, failing that, of an FTDI driver's bus ID).
UsbIdentity usbIdentityOf(const std::vector<std::string>& instanceIds);

// 23 for "COM23" (any case); 0 for any other name.
int comNumberOf(const std::string& portName);

// USB serial chips by vendor and product id, for messages ("FTDI FT232R", "CH340"); empty when unknown.
std::string serialChipName(std::uint16_t vendorId, std::uint16_t productId);

} // namespace morvandell::win
