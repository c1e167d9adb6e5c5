#include "windows/portscan.h"

#include "platform/text.h"
#include "windows/deviceids.h"
#include "windows/serialport.h"
#include "windows/wide.h"

#include <algorithm>
#include <set>
#include <windows.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

namespace morvandell {

namespace win {

namespace {

std::string property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD which)
{
    wchar_t buffer[512];
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, which, &type, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), nullptr) ||
        type != REG_SZ)
        return {};
    buffer[std::size(buffer) - 1] = L'\0';
    return text::trimmed(narrow(buffer));
}

std::string instanceIdOf(DEVINST node)
{
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(node, buffer, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return narrow(buffer);
}

// The device's instance ID and its parents' up to the USB device (at most a few levels).
std::vector<std::string> instanceChain(DEVINST node)
{
    std::vector<std::string> chain;
    for (int level = 0; level < 5; ++level) {
        const std::string id = instanceIdOf(node);
        if (id.empty())
            break;
        chain.push_back(id);
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
            break;
        node = parent;
    }
    return chain;
}

std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t buffer[64] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    std::string name;
    if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ)
        name = narrow(buffer);
    ::RegCloseKey(key);
    return name;
}

template<typename Visit>
void forEachDevice(const GUID* deviceClass, const wchar_t* enumerator, DWORD flags, Visit visit)
{
    HDEVINFO set = ::SetupDiGetClassDevsW(deviceClass, enumerator, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index)
        visit(set, device);
    ::SetupDiDestroyDeviceInfoList(set);
}

} // namespace

std::vector<ScannedPort> scanPorts()
{
    std::vector<ScannedPort> ports;
    std::set<std::string> seen; // COM names, lower case
    forEachDevice(&GUID_DEVCLASS_PORTS, nullptr, DIGCF_PRESENT, [&](HDEVINFO set, SP_DEVINFO_DATA& device) {
        const std::string name = portNameOf(set, device);
        if (comNumberOf(name) == 0)
            return; // printer ports (LPT1) are in this class too
        ScannedPort port;
        port.info.device = name;
        port.info.description = property(set, device, SPDRP_DEVICEDESC);
        if (port.info.description.empty())
            port.info.description = property(set, device, SPDRP_FRIENDLYNAME);
        port.info.manufacturer = property(set, device, SPDRP_MFG);
        port.info.driver = property(set, device, SPDRP_SERVICE);
        port.instanceIds = instanceChain(device.DevInst);
        const UsbIdentity usb = usbIdentityOf(port.instanceIds);
        port.info.vendorId = usb.vendorId;
        port.info.productId = usb.productId;
        port.info.serialNumber = usb.serialNumber;
        if (seen.insert(text::asciiLower(name)).second)
            ports.push_back(std::move(port));
    });
    // What the serial drivers registered, for the ports SetupAPI has nothing on.
    for (const auto& [kernelName, name] : serialCommPorts()) {
        if (comNumberOf(name) == 0 || !seen.insert(text::asciiLower(name)).second)
            continue;
        ScannedPort port;
        port.info.device = name;
        port.info.driver = kernelName;
        ports.push_back(std::move(port));
    }
    for (ScannedPort& port : ports) {
        const int number = comNumberOf(port.info.device);
        port.info.preferredNumber = number <= 16 ? number : 0; // higher ones take a free number
    }
    std::stable_sort(ports.begin(), ports.end(), [](const ScannedPort& a, const ScannedPort& b) {
        return comNumberOf(a.info.device) < comNumberOf(b.info.device);
    });
    return ports;
}

std::vector<PortlessAdapter> portlessAdapters(const std::vector<ScannedPort>& ports)
{
    std::set<std::string> owners; // instance IDs that lead to a COM port, lower case
    for (const ScannedPort& port : ports)
        for (const std::string& id : port.instanceIds)
            owners.insert(text::asciiLower(id));
    std::vector<PortlessAdapter> adapters;
    forEachDevice(nullptr, L"USB", DIGCF_ALLCLASSES | DIGCF_PRESENT, [&](HDEVINFO set, SP_DEVINFO_DATA& device) {
        const std::string id = instanceIdOf(device.DevInst);
        const UsbIdentity usb = usbIdentityOf({id});
        if (!usb.vendorId || !usb.productId)
            return;
        const std::string chip = serialChipName(*usb.vendorId, *usb.productId);
        if (chip.empty() || owners.count(text::asciiLower(id)))
            return;
        PortlessAdapter adapter;
        adapter.instanceId = id;
        adapter.vendorId = *usb.vendorId;
        adapter.productId = *usb.productId;
        adapter.chip = chip;
        adapter.description = property(set, device, SPDRP_DEVICEDESC);
        ULONG status = 0;
        ULONG problem = 0;
        if (::CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS && (status & DN_HAS_PROBLEM))
            adapter.problem = unsigned(problem);
        adapters.push_back(std::move(adapter));
    });
    return adapters;
}

} // namespace win

std::string PortInfo::driverOf(const std::string& ttyName, const std::string&)
{
    for (const win::ScannedPort& port : win::scanPorts())
        if (text::equalsIgnoringAsciiCase(port.info.device, ttyName))
            return port.info.driver;
    return {};
}

std::vector<PortInfo> PortInfo::systemPorts(const std::string&)
{
    std::vector<PortInfo> ports;
    for (win::ScannedPort& port : win::scanPorts())
        ports.push_back(std::move(port.info));
    return ports;
}

} // namespace morvandell
