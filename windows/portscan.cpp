#include "serial/portinfo.h"
namespace morvandell {
std::string PortInfo::driverOf(const std::string&, const std::string&) { return {}; }
std::vector<PortInfo> PortInfo::systemPorts(const std::string&) { return {}; }
} // namespace morvandell
