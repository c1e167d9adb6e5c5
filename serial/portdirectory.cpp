#include "serial/portdirectory.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialdevice.h"

#include <algorithm>

namespace morvandell {

namespace {

bool deviceExists(const PortInfo& info)
{
    return info.opener().exists(info.device);
}

} // namespace

PortDirectory::PortDirectory(std::map<int, Entry> entries)
{
    for (const auto& [number, e] : entries) {
        Slot slot;
        slot.info.device = e.device;
        slot.info.description = e.description;
        slot.info.backend = e.backend;
        slot.identity = slot.info.identity();
        slot.fixed = true;
        m_slots[number] = slot;
    }
    refresh();
}

PortDirectory::PortDirectory(std::map<int, std::string> explicitPaths, Scanner scanner)
    : m_scanner(std::move(scanner))
    , m_explicit(std::move(explicitPaths))
{
    for (const auto& [number, path] : m_explicit) {
        Slot slot;
        slot.info.device = path;
        slot.info.description = "MORVANDELL_PORTS";
        slot.fixed = true;
        m_slots[number] = slot;
    }
    refresh();
}

std::map<int, PortDirectory::Entry> PortDirectory::parseExplicit(const std::string& text, std::string* error)
{
    std::map<int, Entry> result;
    std::vector<std::string> problems;
    for (const std::string& raw : text::split(text, ',')) {
        const std::string item = text::trimmed(raw);
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        long long number = 0;
        std::string device;
        if (eq != std::string::npos && eq > 0) {
            number = text::toInteger(text::trimmed(item.substr(0, eq))).value_or(0);
            device = text::trimmed(item.substr(eq + 1));
        }
        if (number < FirstPort || number > LastPort || device.empty()) {
            problems.push_back(item);
            continue;
        }
        result[int(number)] = Entry{device, "MORVANDELL_PORTS", nullptr};
    }
    if (error)
        *error = problems.empty() ? std::string() : "MORVANDELL_PORTS: ignoriert: " + text::join(problems, ", ");
    return result;
}

std::vector<std::string> PortDirectory::sortedSystemPorts(std::vector<std::string> names)
{
    auto family = [](const std::string& name) {
        if (text::startsWith(name, "ttyUSB"))
            return 0;
        if (text::startsWith(name, "ttyACM"))
            return 1;
        if (text::startsWith(name, "ttyS"))
            return 3;
        return 2;
    };
    // "ttyUSB10" -> ("ttyUSB", 10): the trailing digits compare as a number.
    auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
            --digits;
        const std::string number = name.substr(digits);
        unsigned long long value = 0;
        for (const char c : number.substr(0, 18))
            value = value * 10 + unsigned(c - '0');
        return std::make_pair(name.substr(0, digits), value);
    };
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        const int fa = family(a), fb = family(b);
        if (fa != fb)
            return fa < fb;
        const auto sa = split(a), sb = split(b);
        if (sa.first != sb.first)
            return sa.first < sb.first;
        return sa.second < sb.second;
    });
    return names;
}

std::shared_ptr<const PortDirectory> PortDirectory::fromSystem(std::map<int, Entry> extra)
{
    std::map<int, std::string> paths;
    const auto explicitEntries = parseExplicit(files::environment("MORVANDELL_PORTS").value_or(std::string()));
    for (const auto& [number, e] : explicitEntries)
        paths[number] = e.device;
    for (const auto& [number, e] : extra)
        paths.erase(number);
    auto directory = std::make_shared<PortDirectory>(paths, [] { return PortInfo::systemPorts(); });
    for (const auto& [number, e] : extra) {
        Slot slot;
        slot.info.device = e.device;
        slot.info.description = e.description;
        slot.info.backend = e.backend;
        slot.identity = slot.info.identity();
        slot.fixed = true;
        directory->m_slots[number] = slot;
    }
    if (!extra.empty())
        directory->refresh();
    return directory;
}

PortInfo PortDirectory::info(int number) const
{
    const auto it = m_slots.find(number);
    return it == m_slots.end() ? PortInfo{} : it->second.info;
}

PortDirectory::History PortDirectory::history(int number) const
{
    const auto it = m_slots.find(number);
    return it == m_slots.end() ? History{} : it->second.history;
}

PortDirectory::Entry PortDirectory::entry(int number) const
{
    const auto it = m_slots.find(number);
    if (it == m_slots.end())
        return {};
    const PortInfo& info = it->second.info;
    std::vector<std::string> parts;
    for (const std::string& part : {info.description, info.manufacturer})
        if (!part.empty())
            parts.push_back(part);
    if (info.vendorId && info.productId)
        parts.push_back("USB " + hex4(*info.vendorId) + ":" + hex4(*info.productId));
    return {info.device, text::join(parts, ", "), info.backend};
}

std::map<int, PortDirectory::Entry> PortDirectory::entries() const
{
    std::map<int, Entry> result;
    for (const auto& [number, slot] : m_slots)
        result[number] = entry(number);
    return result;
}

bool PortDirectory::isPresent(int number) const
{
    const auto it = m_slots.find(number);
    return it != m_slots.end() && it->second.present;
}

std::vector<int> PortDirectory::listed(const std::set<int>& inUse) const
{
    std::vector<int> numbers;
    for (const auto& [number, slot] : m_slots)
        if (slot.present || inUse.count(number))
            numbers.push_back(number);
    return numbers;
}

std::string PortDirectory::toolTip(int number) const
{
    const auto it = m_slots.find(number);
    if (it == m_slots.end())
        return {};
    std::string tip = it->second.info.toolTip();
    if (!it->second.present && m_scanned)
        tip += "\nGerät nicht angeschlossen";
    return tip;
}

void PortDirectory::markPresent(Slot& slot, bool present) const
{
    const Time now = std::chrono::system_clock::now();
    if (present && !slot.present) {
        if (!slot.history.firstSeen)
            slot.history.firstSeen = now;
        if (!m_scanned)
            slot.history.atStartUp = true;
        slot.history.vanished.reset();
    } else if (!present && slot.present) {
        slot.history.vanished = now;
    }
    slot.present = present;
}

void PortDirectory::refresh(const std::set<int>& inUse) const
{
    const std::vector<PortInfo> scanned = m_scanner ? m_scanner() : std::vector<PortInfo>();

    // Explicit numbers first: their path wins over the same device in the system's list (compared
    // with every link resolved), and the system's facts about that device fill in its tool tip.
    std::set<std::string> claimed; // resolved paths that already have a number
    for (auto& [number, slot] : m_slots) {
        if (!slot.fixed)
            continue;
        const bool exists = deviceExists(slot.info);
        if (exists && m_scanner && !slot.info.backend) {
            const std::string device = slot.info.device;
            const std::string resolved = slot.info.resolvedPath();
            const auto same = std::find_if(scanned.begin(), scanned.end(),
                                           [&](const PortInfo& p) { return p.resolvedPath() == resolved; });
            if (same != scanned.end()) {
                slot.info = *same;
                slot.info.device = device;
            }
            claimed.insert(resolved);
        }
        markPresent(slot, exists);
    }

    // The system's ports in list order, each with the number its identity holds or first got.
    std::vector<PortInfo> ports;
    std::vector<std::string> names;
    for (const PortInfo& port : scanned) {
        if (!claimed.count(port.resolvedPath())) {
            ports.push_back(port);
            names.push_back(files::fileName(port.device));
        }
    }
    const std::vector<std::string> order = sortedSystemPorts(names);
    auto rank = [&](const PortInfo& p) {
        return std::find(order.begin(), order.end(), files::fileName(p.device)) - order.begin();
    };
    std::stable_sort(ports.begin(), ports.end(),
                     [&](const PortInfo& a, const PortInfo& b) { return rank(a) < rank(b); });

    std::unordered_map<std::string, int> placed; // identity -> number, this scan
    std::set<int> taken;                         // numbers whose device is there, this scan
    for (const auto& [number, slot] : m_slots)
        if (slot.fixed)
            taken.insert(number);

    auto place = [&](const PortInfo& port, int number) {
        Slot& slot = m_slots[number];
        const bool same = slot.identity == port.identity() && !slot.info.device.empty();
        if (!same) {
            slot = Slot();
            slot.identity = port.identity();
        }
        slot.info = port;
        markPresent(slot, true);
        placed[slot.identity] = number;
        taken.insert(number);
        m_firstNumber.emplace(slot.identity, number);
    };
    auto holderOf = [&](const std::string& identity) {
        for (const auto& [number, slot] : m_slots)
            if (!slot.fixed && slot.identity == identity)
                return number;
        return 0;
    };
    // A number another device may take: nobody there now, not explicit, not in use.
    auto isFree = [&](int number) {
        const auto it = m_slots.find(number);
        return !taken.count(number) && !inUse.count(number) && !(it != m_slots.end() && it->second.fixed);
    };

    // 1. Devices that still hold a number keep it.
    for (const PortInfo& port : ports) {
        const int held = holderOf(port.identity());
        if (held && !taken.count(held))
            place(port, held);
    }
    // 2. A device with a number of its own (Windows: COM3 is "Com #3") takes it when it is free.
    for (const PortInfo& port : ports) {
        if (placed.count(port.identity()) || port.preferredNumber < FirstPort || port.preferredNumber > LastPort)
            continue;
        if (isFree(port.preferredNumber))
            place(port, port.preferredNumber);
    }
    // 3. Devices coming back get their first number when it is free; then new devices take numbers
    //    nobody had this session, and only then numbers of devices that are gone.
    std::vector<PortInfo> waiting;
    for (const PortInfo& port : ports) {
        if (placed.count(port.identity()))
            continue;
        const auto first = m_firstNumber.find(port.identity());
        if (first != m_firstNumber.end() && isFree(first->second))
            place(port, first->second);
        else
            waiting.push_back(port);
    }
    // Numbers that devices with a number of their own will want are handed out last.
    std::set<int> wanted;
    for (const PortInfo& port : ports)
        if (port.preferredNumber >= FirstPort && port.preferredNumber <= LastPort)
            wanted.insert(port.preferredNumber);
    for (const PortInfo& port : waiting) {
        int number = 0;
        for (int pass = 0; pass < 3 && !number; ++pass) {
            for (int n = FirstPort; n <= LastPort && !number; ++n) {
                if (!isFree(n))
                    continue;
                const bool unused = !m_slots.count(n) && !wanted.count(n);
                if ((pass == 0 && unused) || (pass == 1 && !wanted.count(n)) || pass == 2)
                    number = n;
            }
        }
        if (number)
            place(port, number);
    }

    for (auto& [number, slot] : m_slots)
        if (!slot.fixed && !taken.count(number))
            markPresent(slot, false);
    m_scanned = true;
}

} // namespace morvandell
