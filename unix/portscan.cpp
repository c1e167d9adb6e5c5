// The machine's serial ports, straight from sysfs: a tty with a device behind it is a serial port,
// except built-in UARTs that report no hardware (type 0). Much cheaper than asking udev for every tty.
#include "platform/files.h"
#include "platform/text.h"
#include "serial/portinfo.h"

#include <map>

namespace morvandell {

std::string PortInfo::driverOf(const std::string& ttyName, const std::string& root)
{
    const std::string target = files::linkTarget(files::join(root, "sys/class/tty/" + ttyName + "/device/driver"));
    return target.empty() ? std::string() : files::fileName(target);
}

namespace {

std::optional<std::uint16_t> hexId(const std::string& text)
{
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= unsigned(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return std::uint16_t(value);
}

} // namespace

std::vector<PortInfo> PortInfo::systemPorts(const std::string& root)
{
    std::vector<PortInfo> ports;
    std::map<std::string, std::string> byId; // device name -> its /dev/serial/by-id name
    const std::string byIdFolder = files::join(root, "dev/serial/by-id");
    for (const std::string& link : files::list(byIdFolder))
        byId[files::fileName(files::linkTarget(files::join(byIdFolder, link)))] = link;

    const std::string ttys = files::join(root, "sys/class/tty");
    for (const std::string& name : files::list(ttys)) {
        const std::string tty = files::join(ttys, name);
        const std::string device = files::join(tty, "device");
        if (!files::exists(device))
            continue;
        if (text::startsWith(name, "ttyS") && files::firstLine(files::join(tty, "type"), 256) == "0")
            continue;
        PortInfo port;
        port.device = "/dev/" + name;
        port.driver = driverOf(name, root);
        if (const auto it = byId.find(name); it != byId.end())
            port.byIdName = it->second;
        // The USB device is the first folder above the interface that has USB ids.
        std::string up = files::canonicalPath(device);
        for (int level = 0; level < 4 && !up.empty() && up != "/"; ++level, up = files::parentPath(up)) {
            const std::string vendor = files::firstLine(files::join(up, "idVendor"), 256);
            if (vendor.empty())
                continue;
            const auto v = hexId(vendor);
            const auto p = hexId(files::firstLine(files::join(up, "idProduct"), 256));
            if (v && p) {
                port.vendorId = v;
                port.productId = p;
            }
            port.description = files::firstLine(files::join(up, "product"), 256);
            port.manufacturer = files::firstLine(files::join(up, "manufacturer"), 256);
            port.serialNumber = files::firstLine(files::join(up, "serial"), 256);
            break;
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

} // namespace morvandell
