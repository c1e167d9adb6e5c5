#include "serial/portdoctor.h"
namespace morvandell {
namespace {
class Plain final : public PortDoctor
{
public:
    std::string noPermission(const std::string& d) const override { return d + ": keine Berechtigung."; }
    std::string busy(const std::string& d) const override { return d + " ist belegt."; }
    std::string notThere(const PortDirectory&, int) const override { return "Das Gerät ist nicht angeschlossen."; }
    std::string report(const PortDirectory&, int) const override { return {}; }
};
} // namespace
std::unique_ptr<PortDoctor> PortDoctor::system() { return std::make_unique<Plain>(); }
} // namespace morvandell
