#include "unix/portdoctor.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/portdirectory.h"
#include "unix/lockfile.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvandell {

namespace {

// Where serial programs put their lock files: ours (unix/lockfile.h) and those Qt's port takes, the first
// of which it may write to.
const char* const ExtraLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                        "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
const char* const RuleFolders[] = {"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
const char* const BrlttyPrograms[] = {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty", "/sbin/brltty"};

// USB serial chips that brltty's udev rules claim as braille displays.
struct Chip
{
    const char* vendor;
    const char* product;
    const char* name;
};
const Chip BrlttyChips[] = {
    {"1a86", "7523", "CH340"},
    {"10c4", "ea60", "CP210x"},
    {"0403", "6001", "FTDI FT232"},
};

constexpr std::uintmax_t MaxDatabaseSize = 16 * 1024 * 1024; // /etc/group, /etc/passwd

std::string readLine(const std::string& path)
{
    return files::firstLine(path, 256);
}

// The rows of a colon-separated database (/etc/group, /etc/passwd), comments and blank lines left out.
std::vector<std::vector<std::string>> readColonFile(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::string error;
    const std::optional<Bytes> content = files::readAll(path, MaxDatabaseSize, &error);
    if (!content)
        return rows;
    for (const std::string& raw : text::split(charsOf(*content), '\n')) {
        const std::string line = text::trimmed(raw);
        if (!line.empty() && line[0] != '#')
            rows.push_back(text::split(line, ':'));
    }
    return rows;
}

std::optional<long long> numberIn(const std::string& text)
{
    return text::toInteger(text::trimmed(text));
}

bool sameNumber(const std::string& field, unsigned value)
{
    const std::optional<long long> n = numberIn(field);
    return n && *n == static_cast<long long>(value);
}

std::string clockTime(std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_r(&t, &local);
    char buffer[16];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return std::string(buffer, n);
}

} // namespace

std::unique_ptr<PortDoctor> PortDoctor::system()
{
    return std::make_unique<UnixPortDoctor>();
}

UnixPortDoctor::UnixPortDoctor(std::string root)
    : m_root(std::move(root))
{}

UnixPortDoctor::Credentials UnixPortDoctor::currentProcess()
{
    Credentials c;
    c.uid = ::geteuid();
    c.gid = ::getegid();
    c.pid = ::getpid();
    if (const passwd* pw = ::getpwuid(c.uid); pw && pw->pw_name)
        c.user = pw->pw_name;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> ids(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, ids.data());
        for (int i = 0; i < got; ++i)
            c.groups.push_back(ids[static_cast<std::size_t>(i)]);
    }
    c.groups.push_back(c.gid);
    if (c.user.empty())
        c.user = files::environment("USER").value_or("$USER");
    return c;
}

std::string UnixPortDoctor::at(const std::string& path) const
{
    if (m_root == "/" || m_root.empty())
        return path;
    return m_root + "/" + (text::startsWith(path, "/") ? path.substr(1) : path);
}

std::string UnixPortDoctor::resolved(const std::string& device) const
{
    const std::string canonical = files::canonicalPath(at(device));
    if (canonical.empty())
        return device;
    if (m_root == "/" || m_root.empty())
        return canonical;
    const std::string root = files::canonicalPath(m_root);
    return text::startsWith(canonical, root + "/") ? canonical.substr(root.size()) : canonical;
}

std::string UnixPortDoctor::groupName(unsigned gid) const
{
    for (const auto& row : readColonFile(at("/etc/group")))
        if (row.size() >= 3 && sameNumber(row[2], gid))
            return row[0];
    if (m_root == "/")
        if (const group* g = ::getgrgid(gid); g && g->gr_name)
            return g->gr_name;
    return std::to_string(gid);
}

std::vector<std::string> UnixPortDoctor::groupMembers(const std::string& group) const
{
    std::vector<std::string> members;
    for (const auto& row : readColonFile(at("/etc/group"))) {
        if (row.size() >= 4 && row[0] == group) {
            for (const std::string& member : text::split(row[3], ','))
                if (!member.empty())
                    members.push_back(member);
            break;
        }
    }
    return members;
}

bool UnixPortDoctor::userInGroupDatabase(const std::string& group, unsigned gid) const
{
    const std::vector<std::string> members = groupMembers(group);
    if (std::find(members.begin(), members.end(), m_credentials.user) != members.end())
        return true;
    // The user's primary group is in /etc/passwd, not in the member list.
    for (const auto& row : readColonFile(at("/etc/passwd")))
        if (row.size() >= 4 && row[0] == m_credentials.user)
            return sameNumber(row[3], gid);
    return false;
}

std::string UnixPortDoctor::groupOf(const std::string& device) const
{
    struct stat st
    {
    };
    if (::stat(at(device).c_str(), &st) != 0)
        return {};
    return groupName(st.st_gid);
}

bool UnixPortDoctor::mayOpen(const std::string& device) const
{
    struct stat st
    {
    };
    if (::stat(at(device).c_str(), &st) != 0)
        return false;
    if (m_credentials.uid == 0)
        return true;
    mode_t need = S_IROTH | S_IWOTH;
    const auto& groups = m_credentials.groups;
    if (st.st_uid == m_credentials.uid)
        need = S_IRUSR | S_IWUSR;
    else if (std::find(groups.begin(), groups.end(), unsigned(st.st_gid)) != groups.end())
        need = S_IRGRP | S_IWGRP;
    return (st.st_mode & need) == need;
}

std::string UnixPortDoctor::processName(long long pid) const
{
    return readLine(at("/proc/" + std::to_string(pid) + "/comm"));
}

std::vector<long long> UnixPortDoctor::processes() const
{
    std::vector<long long> pids;
    for (const std::string& entry : files::list(at("/proc")))
        if (const auto pid = text::toInteger(entry); pid && *pid > 0)
            pids.push_back(*pid);
    return pids;
}

std::vector<UnixPortDoctor::Holder> UnixPortDoctor::holders(const std::string& device) const
{
    std::vector<Holder> found;
    auto add = [&](long long pid, bool fromLock) {
        for (const Holder& h : found)
            if (h.pid == pid)
                return;
        found.push_back(Holder{pid, processName(pid), fromLock});
    };

    // Lock files, under the name used to open and under the device's own name.
    const std::string real = resolved(device);
    std::vector<std::string> names{LockFile::nameFor(device)};
    if (real != device)
        names.push_back(LockFile::nameFor(real));
    std::vector<std::string> folders = LockFile::folders();
    for (const char* folder : ExtraLockFolders)
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    for (const std::string& folder : folders) {
        for (const std::string& name : names) {
            const auto pid = numberIn(readLine(at(folder + "/" + name)));
            if (pid && *pid > 0 && files::exists(at("/proc/" + std::to_string(*pid))))
                add(*pid, true);
        }
    }

    // Every process whose open files we may see.
    for (const long long pid : processes()) {
        const std::string fds = at("/proc/" + std::to_string(pid) + "/fd");
        for (const std::string& fd : files::list(fds)) {
            std::string target = files::linkTarget(fds + "/" + fd);
            if (target == real || target == device) {
                add(pid, false);
                break;
            }
        }
    }
    return found;
}

std::string UnixPortDoctor::installedRule() const
{
    for (const char* folder : RuleFolders) {
        const std::string path = std::string(folder) + "/" + RuleName;
        if (files::exists(at(path)))
            return path;
    }
    return {};
}

std::optional<long long> UnixPortDoctor::modemManagerPid() const
{
    for (const long long pid : processes())
        if (processName(pid) == "ModemManager")
            return pid;
    return std::nullopt;
}

bool UnixPortDoctor::brlttyInstalled() const
{
    for (const char* program : BrlttyPrograms)
        if (files::exists(at(program)))
            return true;
    return false;
}

std::vector<std::string> UnixPortDoctor::adaptersWithoutTty() const
{
    std::vector<std::string> adapters;
    const std::string usb = at("/sys/bus/usb/devices");
    std::vector<std::string> entries;
    for (const std::string& entry : files::list(usb))
        if (files::isDirectory(usb + "/" + entry))
            entries.push_back(entry);
    for (const std::string& device : entries) {
        if (text::contains(device, ":"))
            continue; // an interface, not a device
        const std::string vendor = readLine(usb + "/" + device + "/idVendor");
        const std::string product = readLine(usb + "/" + device + "/idProduct");
        const Chip* chip = nullptr;
        for (const Chip& c : BrlttyChips)
            if (vendor == c.vendor && product == c.product)
                chip = &c;
        if (!chip)
            continue;
        // A bound serial driver puts ttyUSB<n> (or tty/ttyACM<n>) into one of the device's interfaces.
        bool hasTty = false;
        for (const std::string& iface : entries) {
            if (!text::startsWith(iface, device + ":"))
                continue;
            for (const std::string& name : files::list(usb + "/" + iface))
                if (text::startsWith(name, "tty") && files::isDirectory(usb + "/" + iface + "/" + name))
                    hasTty = true;
        }
        if (!hasTty)
            adapters.push_back(text::arg("%1 (USB %2:%3)", {chip->name, vendor, product}));
    }
    return adapters;
}

std::string UnixPortDoctor::noPermission(const std::string& device) const
{
    std::vector<std::string> lines;
    const std::string group = groupOf(device);
    const std::string& user = m_credentials.user;
    struct stat st
    {
    };
    const bool known = ::stat(at(device).c_str(), &st) == 0;
    const unsigned gid = known ? unsigned(st.st_gid) : 0;
    const auto& groups = m_credentials.groups;
    // root's and tty's devices are not meant to be shared through a group: no group advice there.
    if (!known || group.empty() || group == "root" || group == "tty") {
        lines.push_back(text::arg("Keine Berechtigung für %1.", {device}));
    } else if (std::find(groups.begin(), groups.end(), gid) != groups.end()) {
        lines.push_back(text::arg("Keine Berechtigung für %1, obwohl dieses Programm in der Gruppe „%2“ läuft: "
                                  "das Gerät gibt der Gruppe keine Lese- und Schreibrechte.",
                                  {device, group}));
    } else if (userInGroupDatabase(group, gid)) {
        lines.push_back(text::arg("Keine Berechtigung für %1. Der Benutzer „%2“ ist bereits in der Gruppe „%3“, "
                                  "diese Sitzung aber noch nicht: bitte einmal ab- und wieder anmelden "
                                  "(oder den Rechner neu starten).",
                                  {device, user, group}));
    } else {
        lines.push_back(text::arg("Keine Berechtigung für %1. Zugriff erhalten Mitglieder der Gruppe „%2“; "
                                  "der Benutzer „%3“ ist es nicht. Beitreten mit:",
                                  {device, group, user}));
        lines.push_back(text::arg("    sudo usermod -aG %1 %2", {group, user}));
        lines.push_back("danach einmal ab- und wieder anmelden.");
    }
    const std::string rule = installedRule();
    if (rule.empty())
        lines.push_back(text::arg("Alternativ die udev-Regel dieses Programms installieren (mit seinem Paket, oder "
                                  "%1 aus packaging/linux nach /etc/udev/rules.d kopieren, dann „sudo udevadm "
                                  "control --reload-rules“ und „sudo udevadm trigger“): sie gibt dem angemeldeten "
                                  "Benutzer Zugriff auf FTDI-, CH340-, CP210x- und PL2303-Adapter.",
                                  {RuleName}));
    else
        lines.push_back(text::arg("Die udev-Regel %1 ist installiert; den Adapter einmal ab- und wieder "
                                  "anstecken, damit sie greift.",
                                  {rule}));
    return text::join(lines, "\n");
}

std::string UnixPortDoctor::holderText(const std::vector<Holder>& list) const
{
    std::vector<std::string> names;
    for (const Holder& h : list) {
        std::string entry = text::arg("%1 (PID %2)", {h.name.empty() ? "?" : h.name, h.pid});
        if (h.pid == m_credentials.pid)
            entry += ", dieses Programm selbst";
        names.push_back(entry);
    }
    return text::join(names, ", ");
}

std::string UnixPortDoctor::busy(const std::string& device) const
{
    std::vector<std::string> lines;
    const std::vector<Holder> found = holders(device);
    const bool modemManager =
        std::any_of(found.begin(), found.end(), [](const Holder& h) { return h.name == "ModemManager"; });
    const std::optional<long long> modemManagerRunning = found.empty() ? modemManagerPid() : std::nullopt;
    if (found.empty()) {
        lines.push_back(text::arg("%1 ist belegt: ein anderes Programm benutzt den Port.", {device}));
        if (modemManagerRunning)
            lines.push_back(text::arg("Vermutlich ModemManager (PID %1), der neue Geräte prüft.", {*modemManagerRunning}));
        else
            lines.push_back("Das Programm, das ihn hält, ist nicht sichtbar (läuft es als anderer "
                            "Benutzer?). Terminalprogramme und eine zweite Kopie dieses Programms "
                            "schließen, dann erneut verbinden.");
    } else {
        lines.push_back(text::arg("%1 ist belegt von: %2.", {device, holderText(found)}));
        if (!modemManager)
            lines.push_back("Das Programm beenden oder dort die Verbindung trennen, dann erneut verbinden.");
    }
    if (modemManager || modemManagerRunning) {
        lines.push_back(text::arg("ModemManager hält neue Seriell-Adapter einige Sekunden lang fest. Die "
                                  "udev-Regel %1 dieses Programms hält ihn fern (ENV{ID_MM_DEVICE_IGNORE}=\"1\"); "
                                  "sofort hilft „sudo systemctl stop ModemManager“.",
                                  {RuleName}));
    }
    return text::join(lines, "\n");
}

std::string UnixPortDoctor::notThere(const PortDirectory& directory, int number) const
{
    std::vector<std::string> lines;
    if (!directory.contains(number)) {
        lines.push_back(text::arg("Für Com #%1 ist kein Gerät angeschlossen.", {number}));
    } else {
        const PortDirectory::History h = directory.history(number);
        std::string when;
        if (h.vanished)
            when = text::arg("; seit %1 ist es nicht mehr da", {clockTime(*h.vanished)});
        if (h.atStartUp)
            lines.push_back(text::arg("Das Gerät war beim Programmstart angeschlossen%1.", {when}));
        else if (h.firstSeen)
            lines.push_back(text::arg("Das Gerät kam um %1 dazu%2.", {clockTime(*h.firstSeen), when}));
        else
            lines.push_back("Das Gerät war in dieser Sitzung noch nie angeschlossen.");
    }
    std::vector<std::string> there;
    for (const int n : directory.listed())
        there.push_back("Com #" + std::to_string(n));
    lines.push_back(there.empty() ? std::string("Zurzeit ist kein Seriell-Port angeschlossen.")
                                  : text::arg("Angeschlossen sind: %1.", {text::join(there, ", ")}));
    const std::vector<std::string> claimed = adaptersWithoutTty();
    if (brlttyInstalled() && !claimed.empty()) {
        lines.push_back(text::arg("Am USB steckt %1, aber ohne Seriell-Port: wahrscheinlich hat der "
                                  "Braillezeilen-Dienst brltty den Adapter übernommen. Abhilfe: "
                                  "„sudo apt remove brltty“ oder „sudo systemctl mask brltty-udev.service "
                                  "brltty.service“, dann den Adapter neu anstecken.",
                                  {text::join(claimed, ", ")}));
    } else {
        lines.push_back("Adapter anstecken (Kabel prüfen) und die Portliste erneut öffnen.");
    }
    return text::join(lines, "\n");
}

std::string UnixPortDoctor::report(const PortDirectory& directory, int number) const
{
    std::vector<std::string> lines;
    std::vector<std::string> groups;
    for (const unsigned gid : m_credentials.groups) {
        const std::string name = groupName(gid);
        if (std::find(groups.begin(), groups.end(), name) == groups.end())
            groups.push_back(name);
    }
    lines.push_back(text::arg("Benutzer: %1 (uid %2), Gruppen dieses Prozesses: %3",
                              {m_credentials.user, m_credentials.uid, text::join(groups, ", ")}));
    const std::string rule = installedRule();
    lines.push_back(text::arg("udev-Regel %1: %2", {RuleName, rule.empty() ? std::string("nicht installiert") : rule}));
    const auto mm = modemManagerPid();
    lines.push_back(text::arg("ModemManager: %1", {mm ? text::arg("läuft (PID %1)", {*mm}) : "läuft nicht"}));
    const std::vector<std::string> claimed = adaptersWithoutTty();
    lines.push_back(text::arg("brltty: %1%2", {brlttyInstalled() ? "installiert" : "nicht installiert",
                                               claimed.empty() ? std::string()
                                                               : "; Adapter ohne Seriell-Port: " +
                                                                     text::join(claimed, ", ")}));

    std::vector<int> numbers;
    if (number)
        numbers.push_back(number);
    else
        for (const auto& [n, entry] : directory.entries())
            numbers.push_back(n);
    if (numbers.empty())
        lines.push_back("Keine Seriell-Ports bekannt.");
    for (const int n : numbers) {
        lines.emplace_back();
        if (!directory.contains(n)) {
            lines.push_back(text::arg("Com #%1: kein Gerät", {n}));
            continue;
        }
        const PortInfo info = directory.info(n);
        lines.push_back(text::arg("Com #%1: %2", {n, text::replaceAll(info.toolTip(), "\n", "; ")}));
        if (!files::exists(at(info.device))) {
            lines.push_back("  nicht angeschlossen");
            continue;
        }
        lines.push_back(text::arg("  Zugriff: %1 (Gruppe %2)", {mayOpen(info.device) ? "ja" : "nein", groupOf(info.device)}));
        const std::vector<Holder> found = holders(info.device);
        lines.push_back(text::arg("  belegt von: %1", {found.empty() ? std::string("niemand (sichtbar)") : holderText(found)}));
        const std::string tty = files::fileName(resolved(info.device));
        const std::string latency = readLine(at("/sys/class/tty/" + tty + "/device/latency_timer"));
        lines.push_back(text::arg("  Latenz-Timer: %1", {latency.empty() ? std::string("unbekannt") : latency + " ms"}));
    }
    return text::join(lines, "\n");
}

} // namespace morvandell
