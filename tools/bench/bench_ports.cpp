// How long the port list takes to rebuild when the user opens it: 16 mapped devices (pseudo-terminals
// behind links, as MORVANDELL_PORTS names them), and the machine's own ports as the system lists them.
// The rebuild is what the control window does when its list drops down (and at start-up): the directory
// scans again, every number's device gets its open attempt (side by side, PortList), then every listed
// number gets its entry text and tool tip. For reference, the same open attempts one after the other.
// Run: build/tools/bench_ports
#include "platform/files.h"
#include "serial/portdirectory.h"
#include "serial/portlist.h"
#include "serial/serialdevice.h"

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

using morvandell::PortDirectory;
using morvandell::PortInfo;

namespace {

constexpr int Rounds = 200;

void measure(const char* what, const std::function<void()>& step)
{
    std::vector<double> ms;
    for (int i = 0; i < Rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %.3f ms, 95th %.3f ms, max %.3f ms (%d rounds)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 95 / 100], ms.back(), Rounds);
}

} // namespace

int main()
{
    char folderTemplate[] = "/tmp/bench_ports-XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (!folder) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::map<int, std::string> mapped;
    std::vector<int> fds;
    std::vector<std::string> links;
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "openpty failed\n");
            return 1;
        }
        fds.push_back(master);
        fds.push_back(slave);
        const std::string link = std::string(folder) + "/port" + std::to_string(n);
        if (::symlink(name, link.c_str()) != 0) {
            std::fprintf(stderr, "cannot link %s\n", link.c_str());
            return 1;
        }
        links.push_back(link);
        mapped[n] = link;
    }

    const PortDirectory withSystem(mapped, [] { return PortInfo::systemPorts(); });
    std::vector<std::pair<std::string, std::string>> entries; // entry text and tool tip
    const int selected = 1;
    measure("port list rebuild, 16 mapped + system ports (Combo5)", [&] {
        withSystem.refresh({selected});
        entries.clear();
        for (const morvandell::PortList::Entry& entry :
             morvandell::PortList::scan(withSystem, morvandell::LineSettings(), {selected}))
            entries.emplace_back("Com #" + std::to_string(entry.number), entry.toolTip);
    });
    std::printf("  entries listed: %zu\n", entries.size());
    const PortDirectory mappedForOpens(mapped, [] { return std::vector<PortInfo>{}; });
    measure("16 open attempts side by side (PortList)",
            [&] { morvandell::PortList::scan(mappedForOpens, morvandell::LineSettings()); });
    measure("16 open attempts one after the other (reference)", [&] {
        for (const auto& [n, device] : mapped) {
            morvandell::OpenFailure failure;
            morvandell::SerialBackend::system().open(device, morvandell::LineSettings(), &failure).reset();
        }
    });

    const PortDirectory mappedOnly(mapped, [] { return std::vector<PortInfo>{}; });
    measure("directory refresh, 16 mapped only", [&] { mappedOnly.refresh(); });
    const PortDirectory systemOnly({}, [] { return PortInfo::systemPorts(); });
    measure("directory refresh, this machine's ports only", [&] { systemOnly.refresh(); });

    for (const std::string& link : links)
        ::unlink(link.c_str());
    ::rmdir(folder);
    for (const int fd : fds)
        ::close(fd);
    return 0;
}
