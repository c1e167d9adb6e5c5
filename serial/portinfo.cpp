#include "serial/portinfo.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialdevice.h"

namespace morvandell {

std::string hex4(std::uint16_t value)
{
    static const char* const digits = "0123456789abcdef";
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i) {
        out[std::size_t(i)] = digits[value & 0xF];
        value = std::uint16_t(value >> 4);
    }
    return out;
}

std::string PortInfo::resolvedPath() const
{
    if (backend)
        return device;
    const std::string canonical = files::canonicalPath(device);
    return canonical.empty() ? device : canonical;
}

std::string PortInfo::identity() const
{
    if (!serialNumber.empty())
        return "serial:" + (vendorId ? hex4(*vendorId) : std::string()) + ":" +
               (productId ? hex4(*productId) : std::string()) + ":" + serialNumber;
    if (!byIdName.empty())
        return "by-id:" + byIdName;
    return "path:" + resolvedPath();
}

std::string PortInfo::toolTip() const
{
    std::vector<std::string> lines;
    const std::string resolved = resolvedPath();
    lines.push_back(resolved == device ? device : device + " → " + resolved);
    if (!description.empty())
        lines.push_back(description);
    if (!manufacturer.empty())
        lines.push_back("Hersteller: " + manufacturer);
    if (vendorId && productId)
        lines.push_back("USB " + hex4(*vendorId) + ":" + hex4(*productId));
    if (!serialNumber.empty())
        lines.push_back("Seriennummer: " + serialNumber);
    if (!driver.empty())
        lines.push_back("Treiber: " + driver);
    return text::join(lines, "\n");
}

SerialBackend& PortInfo::opener() const
{
    return backend ? *backend : SerialBackend::system();
}

} // namespace morvandell
