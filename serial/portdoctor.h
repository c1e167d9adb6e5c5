#pragma once

#include <memory>
#include <string>

namespace morvandell {

class PortDirectory;

// Finds out why a serial port cannot be opened and what the user can do about it, from what the system
// shows (unix/: the file system; windows/: the registry and the device manager's data). It needs no
// administrator rights and changes nothing. Every text is German and may span several lines.
class PortDoctor
{
public:
    virtual ~PortDoctor() = default;

    virtual std::string noPermission(const std::string& device) const = 0;
    virtual std::string busy(const std::string& device) const = 0;
    virtual std::string notThere(const PortDirectory& directory, int number) const = 0;

    // Plain-text report on one port, or on every port the directory knows when number is 0.
    virtual std::string report(const PortDirectory& directory, int number = 0) const = 0;

    // The doctor of this system.
    static std::unique_ptr<PortDoctor> system();
};

} // namespace morvandell
