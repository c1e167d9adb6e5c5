#pragma once

#include "serial/portinfo.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace morvandell {

// Maps the port numbers the windows work with (1..16, "Com #n") to devices. The numbers come from
// MORVANDELL_PORTS ("1=/dev/pts/3,5=/dev/ttyUSB0", on Windows "3=COM23") first; the remaining numbers go,
// in order, to the machine's serial ports: on Linux USB and ACM adapters before built-in ttyS ports, on
// Windows COMn under n up to 16 and the higher COM numbers under free numbers.
//
// The directory follows the machine: refresh() scans again. A device keeps the number it first got for
// as long as the program runs (known by its serial number, by-id name or path); one that comes back
// gets its old number when that is free. A number whose device is gone keeps pointing at it until
// the number is needed for another device, and a number the caller still uses is never handed on.
class PortDirectory
{
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 16;
    using Time = std::chrono::system_clock::time_point;

    struct Entry
    {
        std::string device;      // name handed to the backend
        std::string description; // what the system says about it (product, maker, USB ids)
        std::shared_ptr<SerialBackend> backend = nullptr; // empty: the operating system's ports
    };

    // When a number's device was seen; nothing means "not (yet) seen" / "not gone".
    struct History
    {
        bool atStartUp = false;
        std::optional<Time> firstSeen;
        std::optional<Time> vanished;
    };

    using Scanner = std::function<std::vector<PortInfo>()>;

    PortDirectory() = default;

    // Fixed map, for tests and the demo display: refresh() only checks which of the devices exist.
    explicit PortDirectory(std::map<int, Entry> entries);

    // Explicit numbers plus whatever the scanner finds, scanned once now.
    PortDirectory(std::map<int, std::string> explicitPaths, Scanner scanner);

    // The machine's ports, with the environment's explicit numbers taking precedence; `extra` (the demo
    // display) takes its number before them.
    static std::shared_ptr<const PortDirectory> fromSystem(std::map<int, Entry> extra = {});

    // Parses "1=/dev/pts/3,5=/dev/ttyUSB0". Malformed items are reported in *error and skipped.
    static std::map<int, Entry> parseExplicit(const std::string& text, std::string* error = nullptr);

    // Orders system port names: ttyUSB*, ttyACM*, other adapters, then ttyS*; each family numerically.
    static std::vector<std::string> sortedSystemPorts(std::vector<std::string> names);

    bool contains(int number) const { return m_slots.count(number) != 0; }
    Entry entry(int number) const;
    std::map<int, Entry> entries() const;

    // Scans again. Numbers in `inUse` (selected or open somewhere) keep their device even when it is gone.
    // The directory stands for the machine, which changes under it: that is why this is const.
    void refresh(const std::set<int>& inUse = {}) const;
    // Whether the number's device is there (as of the last refresh).
    bool isPresent(int number) const;
    // The numbers a port list offers now, in order: those whose device is there, plus `inUse`.
    std::vector<int> listed(const std::set<int>& inUse = {}) const;
    PortInfo info(int number) const;
    std::string toolTip(int number) const;
    History history(int number) const;

private:
    struct Slot
    {
        PortInfo info;
        std::string identity;
        bool fixed = false; // explicit number: never handed to another device
        bool present = false;
        History history;
    };

    void markPresent(Slot& slot, bool present) const;

    Scanner m_scanner;
    std::map<int, std::string> m_explicit;
    mutable std::map<int, Slot> m_slots;
    mutable std::unordered_map<std::string, int> m_firstNumber; // identity -> the number it first got
    mutable bool m_scanned = false;
};

} // namespace morvandell
