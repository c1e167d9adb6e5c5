// CPU time the tool uses while it waits for a display that never answers (one full reply wait): the
// reset frame goes out through the serial service to a pseudo-terminal whose other end stays silent,
// and the writer's wait (EventWait on the PollEventLoop) runs into its time limit.
// Run: build/tools/bench/bench_wait
#include "loop/eventwait.h"
#include "serial/portdirectory.h"
#include "serial/serialservice.h"
#include "unix/polleventloop.h"
#include "writer/displaywriter.h"
#include "writer/framebuilder.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace morvandell;

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    PollEventLoop loop;
    std::map<int, PortDirectory::Entry> entries{{1, PortDirectory::Entry{name, "silent display", nullptr}}};
    SerialService port(loop, std::make_shared<const PortDirectory>(entries));
    port.setCommPort(1);
    if (!port.open()) {
        std::fprintf(stderr, "%s\n", port.describeLastError().c_str());
        return 1;
    }
    std::optional<std::int16_t> weiter;
    EventWait wait(loop);
    DisplayWriter writer(port, weiter, wait);
    port.received.connect([&] { writer.receive(); });

    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const DisplayWriter::Result result = writer.sendAndWait(FrameBuilder::resetFrame()); // runs into its limit
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("unanswered reply wait: %.2f s wall, %.4f s CPU (%.3f ms, %.3f %% of one core), %s\n", wall, cpu,
                cpu * 1000.0, 100.0 * cpu / wall,
                result == DisplayWriter::Result::TimedOut ? "ended by its time limit" : "ended otherwise (!)");
    port.close();
    ::close(master);
    ::close(slave);
    return cpu * 1000.0 < 5.0 && result == DisplayWriter::Result::TimedOut ? 0 : 1;
}
