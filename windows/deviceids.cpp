#include "windows/deviceids.h"

#include "platform/text.h"

namespace morvandell::win {

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

// The four hex digits after `key` ("VID_") in an upper-case ID.
std::optional<std::uint16_t> idAfter(const std::string& id, const std::string& key)
{
    const std::size_t at = id.find(key);
    if (at == std::string::npos || at + key.size() + 4 > id.size())
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at + key.size(); i < at + key.size() + 4; ++i) {
        const char c = id[i];
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= unsigned(c - '0');
        else if (c >= 'A' && c <= 'F')
            value |= unsigned(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return std::uint16_t(value);
}

} // namespace

UsbIdentity usbIdentityOf(const std::vector<std::string>& instanceIds)
{
    UsbIdentity identity;
    std::string ftdiSerial;
    for (const std::string& raw : instanceIds) {
        const std::string id = upper(raw);
        const auto vendor = idAfter(id, "VID_");
        const auto product = idAfter(id, "PID_");
        if (!identity.vendorId && vendor && product) {
            identity.vendorId = vendor;
            identity.productId = product;
        }
        const std::vector<std::string> parts = text::split(raw, '\\');
        if (parts.size() != 3)
            continue;
        const std::string bus = upper(parts[0]);
        if (bus == "USB" && identity.serialNumber.empty() && vendor && !text::contains(id, "&MI_") &&
            !text::contains(parts[2], "&") && !parts[2].empty())
            identity.serialNumber = parts[2];
        if (bus == "FTDIBUS" && ftdiSerial.empty()) {
            const std::vector<std::string> fields = text::split(parts[1], '+');
            if (fields.size() == 3 && fields[2].size() > 1)
                ftdiSerial = fields[2].substr(0, fields[2].size() - 1); // without the interface's letter
        }
    }
    if (identity.serialNumber.empty())
        identity.serialNumber = ftdiSerial;
    return identity;
}

int comNumberOf(const std::string& portName)
{
    if (portName.size() < 4 || !text::equalsIgnoringAsciiCase(portName.substr(0, 3), "COM"))
        return 0;
    const std::string digits = portName.substr(3);
    if (digits.size() > 3 || digits[0] == '0')
        return 0;
    for (const char c : digits)
        if (c < '0' || c > '9')
            return 0;
    return int(text::toInteger(digits).value_or(0));
}

std::string serialChipName(std::uint16_t vendorId, std::uint16_t productId)
{
    struct Chip
    {
        std::uint16_t vendor;
        std::uint16_t product;
        const char* name;
    };
    static const Chip chips[] = {
        {0x0403, 0x6001, "FTDI FT232R"}, {0x0403, 0x6010, "FTDI FT2232"}, {0x0403, 0x6011, "FTDI FT4232"},
        {0x0403, 0x6014, "FTDI FT232H"}, {0x0403, 0x6015, "FTDI FT-X"},   {0x1a86, 0x7523, "CH340"},
        {0x1a86, 0x5523, "CH341"},       {0x1a86, 0x55d4, "CH9102"},      {0x10c4, 0xea60, "CP210x"},
        {0x067b, 0x2303, "PL2303"},      {0x067b, 0x23a3, "PL2303GC"},
    };
    for (const Chip& chip : chips)
        if (chip.vendor == vendorId && chip.product == productId)
            return chip.name;
    return {};
}

} // namespace morvandell::win
