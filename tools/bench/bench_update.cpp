// Time and CPU cost of a full firmware transfer (1016 blocks, 130048 bytes) through the core's
// UpdateTransfer, driven as the update window drives it (its receiver hands every answer to take(), the
// completion byte closes the port) on the PollEventLoop, against the display simulator over a
// pseudo-terminal: with instant answers, with every answer held back by a USB adapter's latency timer
// (16 ms by default, 1 ms in low-latency mode), and with the display taking bytes at the 9600-baud byte
// time. Each timing is set against a lean reference loop (raw file descriptor, write() and select()) that
// does the same exchange with the same simulator. Last, the CPU time of a wait that nothing answers.
//
// With the display taking bytes at the 9600-baud byte time, the transfer is also timed behind a USB
// adapter's latency timer at 16 ms (an FTDI adapter as it comes) and at 1 ms (low-latency mode on Linux,
// the event character on Windows), against the limit of the line time and one second, 136.5 s. The
// simulator models the timer as running on its own: an answer waits for its next tick, 0 to N ms.
//
// Run: build/tools/bench_update [--instant-only | --paced-only | --adapter-only | --idle-only]
// (--paced-only: the paced transfer against the lean loop; --adapter-only: the paced transfer behind the
// latency timer; without an option, everything, about ten minutes)
// The simulator runs as the separate morvandell-sim program (build/simulator/) when it is built, so
// the CPU figures are the tool's alone; otherwise it runs in a thread of this process (and is counted).

#include "platform/files.h"
#include "loop/eventwait.h"
#include "serial/serialservice.h"
#include "simulator/simulatorconfig.h"
#include "simulator/simulatorthread.h"
#include "unix/polleventloop.h"
#include "updater/updateprotocol.h"
#include "updater/updatetransfer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using morvandell::Byte;
using morvandell::Bytes;
using morvandell::UpdateProtocol;
using morvandell::UpdateTransfer;
using Clock = std::chrono::steady_clock;

namespace {

// The display needs a moment to switch into its update mode; a ready byte sent before the tool has
// reopened the port at 9600 baud would be lost, as on a real line.
constexpr int ReadyDelayMs = 20;
constexpr std::chrono::milliseconds IdleWait{3000};
// What a paced transfer may take: the line time of its 130048 bytes and one second.
constexpr double LineLimitS = 136.5;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The display: the morvandell-sim program when it is built, else a thread in this process.
class Display
{
public:
    explicit Display(const morvandell::sim::SimulatorConfig& config)
    {
        const std::string program = MORVANDELL_SIM_PROGRAM;
        if (::access(program.c_str(), X_OK) == 0) {
            startProgram(program, config);
            return;
        }
        m_thread = std::make_unique<morvandell::sim::SimulatorThread>(config);
        if (m_thread->start())
            m_device = m_thread->devicePath();
    }
    ~Display() { stop(); }
    // Ends the simulator program; afterwards its CPU time is in RUSAGE_CHILDREN.
    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    bool separate() const { return !m_thread; }
    const std::string& device() const { return m_device; }

private:
    void startProgram(const std::string& program, const morvandell::sim::SimulatorConfig& config)
    {
        std::vector<std::string> args{program, "--ready-delay", std::to_string(config.readyDelayMs)};
        if (!config.imageOut.empty())
            args.insert(args.end(), {"--image-out", config.imageOut});
        if (config.pace9600)
            args.push_back("--pace-9600");
        if (config.recovery)
            args.push_back("--recovery");
        if (config.adapterLatencyMs > 0)
            args.insert(args.end(), {"--adapter-latency", std::to_string(config.adapterLatencyMs)});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0)
            return;
        const char* log = std::getenv("BENCH_SIM_LOG");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            const int err = ::open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(err, STDERR_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        // Its first line is the device.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char c = 0;
            if (::read(out[0], &c, 1) != 1 || c == '\n')
                break;
            m_device += c;
        }
        ::close(out[0]);
    }

    pid_t m_pid = -1;
    std::unique_ptr<morvandell::sim::SimulatorThread> m_thread;
    std::string m_device;
};

morvandell::sim::SimulatorConfig simulatorConfig(bool paced, const std::string& imageOut, int latencyMs)
{
    morvandell::sim::SimulatorConfig config;
    config.readyDelayMs = ReadyDelayMs;
    config.imageOut = imageOut;
    config.pace9600 = paced;
    config.adapterLatencyMs = latencyMs;
    return config;
}

struct Figures
{
    bool ok = false;
    double totalS = 0;
    double cpuS = 0;
};

Bytes readFile(const std::string& path)
{
    std::ifstream in(morvandell::files::toPath(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The simulator writes the image when the transfer is complete, a moment after its completion byte.
bool imageArrived(const std::string& imageOut, const Bytes& expected)
{
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline) {
        if (morvandell::files::size(imageOut) == std::optional<std::uintmax_t>(expected.size()))
            return readFile(imageOut) == expected;
        ::usleep(2000);
    }
    return false;
}

// The reference: the normal update as a plain loop on the raw descriptor. Frame, switch to 9600 baud,
// ready byte, then per block one write() and select()/read() until the acknowledgement; after the last
// block, the completion byte.
Figures leanLoop(const std::string& device, const std::string& imagePath)
{
    Figures f;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return f;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    ::tcsetattr(fd, TCSANOW, &tio);
    const auto awaitByte = [fd](char wanted) {
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            timeval limit{5, 0};
            if (::select(fd + 1, &set, nullptr, nullptr, &limit) <= 0)
                return false;
            char buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == wanted)
                    return true;
        }
    };
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    char frame[22] = {0x55, 0x04};
    frame[21] = 0x0D;
    bool ok = ::write(fd, frame, sizeof frame) == ssize_t(sizeof frame);
    ::tcdrain(fd);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
    ok = ok && awaitByte(0x05);
    std::ifstream image(imagePath, std::ios::binary);
    ok = ok && image.is_open();
    char block[UpdateProtocol::BlockSize];
    for (int b = 1; ok && b <= UpdateProtocol::BlockCount; ++b) {
        ok = image.read(block, sizeof block).gcount() == std::streamsize(sizeof block) &&
             ::write(fd, block, sizeof block) == ssize_t(sizeof block) &&
             awaitByte(b < UpdateProtocol::BlockCount ? 0x06 : 0x07);
    }
    f.totalS = secondsSince(start);
    f.cpuS = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    f.ok = ok;
    ::close(fd);
    return f;
}

Figures runLean(bool paced, int latencyMs, const std::string& imagePath, const Bytes& expected,
                const std::string& folder)
{
    const std::string imageOut = folder + "/lean.out";
    std::remove(imageOut.c_str());
    Display display(simulatorConfig(paced, imageOut, latencyMs));
    Figures f = leanLoop(display.device(), imagePath);
    f.ok = f.ok && imageArrived(imageOut, expected);
    return f;
}

// The update window's port, receiver and transfer without the window: port 3 opened at 19200 baud as
// when the window takes the control window's port over, then "Update - Normal".
Figures runOnce(bool paced, int latencyMs, const std::string& imagePath, const Bytes& expected,
                const std::string& folder)
{
    Figures figures;
    const std::string imageOut = folder + "/tool.out";
    std::remove(imageOut.c_str());
    Display display(simulatorConfig(paced, imageOut, latencyMs));
    if (display.device().empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return figures;
    }
    morvandell::PollEventLoop loop;
    std::map<int, morvandell::PortDirectory::Entry> entries{{3, {display.device(), "simulator", nullptr}}};
    morvandell::SerialService port(loop, std::make_shared<const morvandell::PortDirectory>(entries));
    port.setCommPort(3);
    if (!port.open()) {
        std::fprintf(stderr, "%s\n", port.describeLastError().c_str());
        return figures;
    }
    UpdateTransfer transfer(port);
    std::string status = "Status";
    std::vector<std::string> messages;
    // The end is the moment the completion byte has been taken ("Fertig."), seen in the receiver.
    const auto start = Clock::now();
    double endS = -1;
    port.received.connect([&] {
        for (const UpdateProtocol::Answer answer : UpdateProtocol::answersIn(port.input())) {
            status = UpdateProtocol::statusText(answer);
            if (answer == UpdateProtocol::Answer::Complete) {
                port.close();
                if (endS < 0)
                    endS = secondsSince(start);
            }
            transfer.take(answer);
        }
    });
    port.deviceLost.connect([&](const std::string&) { transfer.noteDeviceLost(); });
    int lastBlocks = 0;
    transfer.progress.connect([&](int blocks, int, const std::string&) { lastBlocks = blocks; });

    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const UpdateTransfer::Outcome outcome =
        transfer.run(UpdateProtocol::Mode::Normal, imagePath, std::int64_t(expected.size()));
    const double handlerS = secondsSince(start);
    if (outcome.result != UpdateTransfer::Result::Finished)
        messages.push_back(outcome.message);
    morvandell::EventWait wait(loop);
    const bool completed = wait.waitUntil([&] { return status == "Fertig."; }, std::chrono::seconds(10)) ==
                           morvandell::EventWait::Result::Satisfied;
    const double totalS = endS < 0 ? secondsSince(start) : endS;
    const double cpuS = cpuSeconds(RUSAGE_SELF) - cpuBefore;

    const bool imageOk = imageArrived(imageOut, expected);
    display.stop();
    const double simCpuS = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;

    const double lineS = UpdateProtocol::lineSeconds();
    if (latencyMs > 0)
        std::printf("%s, adapter latency %d ms\n", paced ? "9600-baud pacing" : "instant answers", latencyMs);
    else
        std::printf("%s\n", paced ? "9600-baud pacing" : "instant answers");
    std::string joined;
    for (const std::string& m : messages)
        joined += (joined.empty() ? "" : "; ") + m;
    std::printf("  completed               : %s, image %s, blocks %d, messages: %s\n",
                completed ? "yes" : "NO", imageOk ? "identical" : "DIFFERENT", lastBlocks, joined.c_str());
    std::printf("  total time              : %.3f s (run() returned after %.3f s)\n", totalS, handlerS);
    if (paced) {
        std::printf("  line time 130048 B      : %.3f s\n", lineS);
        std::printf("  overhead per block      : %.3f ms ((total - line time) / 1016)\n",
                    (totalS - lineS) * 1000.0 / UpdateProtocol::BlockCount);
    } else {
        std::printf("  time per block          : %.3f ms (total / 1016: write, answer, wake-up)\n",
                    totalS * 1000.0 / UpdateProtocol::BlockCount);
    }
    std::printf("  CPU time of the tool    : %.3f s (%.1f %% of the wall time, %.1f us per block)\n", cpuS,
                100.0 * cpuS / totalS, cpuS * 1e6 / UpdateProtocol::BlockCount);
    std::printf("  simulator               : %s\n", display.separate()
                                                        ? "separate process (morvandell-sim)"
                                                        : "thread in this process (counted above)");
    if (display.separate())
        std::printf("  CPU time of the display : %.3f s\n", simCpuS);
    std::fflush(stdout);
    figures.ok = completed && imageOk && messages.empty();
    figures.totalS = totalS;
    figures.cpuS = cpuS;
    return figures;
}

// The tool against the lean loop, same simulator settings, `rounds` times each, in turns; the best of
// each is compared (the machine is shared: the best round is the one least disturbed).
bool compare(bool paced, int rounds, const std::string& imagePath, const Bytes& image,
             const std::string& folder)
{
    bool ok = true;
    Figures bestTool;
    Figures bestLean;
    bestTool.totalS = bestLean.totalS = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const Figures tool = runOnce(paced, 0, imagePath, image, folder);
        const Figures lean = runLean(paced, 0, imagePath, image, folder);
        std::printf("  lean reference loop     : %.3f s, CPU %.3f s (%s)\n\n", lean.totalS, lean.cpuS,
                    lean.ok ? "image identical" : "FAILED");
        ok = ok && tool.ok && lean.ok;
        if (tool.totalS < bestTool.totalS)
            bestTool = tool;
        if (lean.totalS < bestLean.totalS)
            bestLean = lean;
    }
    std::printf("%s, best of %d: tool %.3f s (CPU %.1f us per block), lean loop %.3f s (CPU %.1f us per "
                "block): tool / lean loop = %.3fx\n\n",
                paced ? "9600-baud pacing" : "instant answers", rounds, bestTool.totalS,
                bestTool.cpuS * 1e6 / UpdateProtocol::BlockCount, bestLean.totalS,
                bestLean.cpuS * 1e6 / UpdateProtocol::BlockCount, bestTool.totalS / bestLean.totalS);
    std::fflush(stdout);
    return ok;
}

// The paced transfer behind an adapter's latency timer, against the limit.
bool behindTheAdapter(const std::string& imagePath, const Bytes& image, const std::string& folder)
{
    bool ok = true;
    std::vector<std::pair<int, double>> totals;
    for (const int latency : {16, 1}) {
        const Figures f = runOnce(true, latency, imagePath, image, folder);
        ok = f.ok && ok;
        totals.emplace_back(latency, f.totalS);
        std::printf("  => against the %.1f s limit: %s by %.2f s (%.2f ms per acknowledgement on top of the "
                    "line time)\n\n",
                    LineLimitS, f.totalS <= LineLimitS ? "within" : "OVER", std::abs(LineLimitS - f.totalS),
                    (f.totalS - UpdateProtocol::lineSeconds()) * 1000.0 / (UpdateProtocol::BlockCount - 1));
    }
    for (const auto& [latency, total] : totals)
        std::printf("9600-baud pacing, latency timer %2d ms: %.3f s (limit %.1f s: %s)\n", latency, total,
                    LineLimitS, total <= LineLimitS ? "within" : "OVER");
    std::printf("\n");
    std::fflush(stdout);
    return ok;
}

// A wait that nothing answers, as the transfer's waits are: the port open on the simulator (which
// stays silent in its update mode), the loop asleep until the limit.
bool idleWait()
{
    morvandell::sim::SimulatorConfig config;
    config.recovery = true; // waits for blocks, says nothing
    Display display(config);
    if (display.device().empty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
    }
    morvandell::PollEventLoop loop;
    std::map<int, morvandell::PortDirectory::Entry> entries{{3, {display.device(), "simulator", nullptr}}};
    morvandell::SerialService port(loop, std::make_shared<const morvandell::PortDirectory>(entries));
    port.setCommPort(3);
    if (!port.setSettings(UpdateProtocol::UpdateSettings) || !port.open())
        return false;
    int received = 0;
    port.received.connect([&] {
        port.input();
        ++received;
    });
    morvandell::EventWait wait(loop);
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    const auto result = wait.waitUntil([] { return false; }, IdleWait);
    const double waitedS = secondsSince(start);
    const double cpuMs = (cpuSeconds(RUSAGE_SELF) - cpuBefore) * 1000.0;
    std::printf(
        "unanswered wait\n  waited                  : %.3f s (%s), %d reads\n  CPU time of the tool    : "
        "%.2f ms (goal: under 5 ms)\n\n",
        waitedS, result == morvandell::EventWait::Result::TimedOut ? "timed out" : "ENDED EARLY", received,
        cpuMs);
    std::fflush(stdout);
    return result == morvandell::EventWait::Result::TimedOut;
}

bool hasArgument(int argc, char* argv[], const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool instantOnly = hasArgument(argc, argv, "--instant-only");
    const bool pacedOnly = hasArgument(argc, argv, "--paced-only");
    const bool idleOnly = hasArgument(argc, argv, "--idle-only");
    const bool adapterOnly = hasArgument(argc, argv, "--adapter-only");

    char folderTemplate[] = "/tmp/bench_update.XXXXXX";
    if (!::mkdtemp(folderTemplate))
        return 1;
    const std::string folder = folderTemplate;
    Bytes image(UpdateProtocol::TransferSize, 0);
    std::mt19937 random(2024);
    for (Byte& b : image)
        b = Byte(random() & 0xFF);
    const std::string imagePath = folder + "/firmware.bin";
    {
        std::ofstream file(imagePath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        if (!file)
            return 1;
    }

    bool ok = true;
    if (idleOnly) {
        ok = idleWait();
    } else if (pacedOnly) {
        ok = compare(true, 1, imagePath, image, folder);
    } else if (adapterOnly) {
        ok = behindTheAdapter(imagePath, image, folder);
    } else {
        ok = compare(false, 5, imagePath, image, folder);
        // What low latency buys: every acknowledgement held back by the adapter's timer.
        for (const int latency : {16, 1}) {
            const Figures f = runOnce(false, latency, imagePath, image, folder);
            std::printf("  => with instant answers the total is the adapter's share: %.1f s (%.1f %% of the "
                        "%.2f s line time at 9600 baud)\n\n",
                        f.totalS, 100.0 * f.totalS / UpdateProtocol::lineSeconds(),
                        UpdateProtocol::lineSeconds());
            ok = f.ok && ok;
        }
        ok = idleWait() && ok;
        if (!instantOnly) {
            ok = compare(true, 1, imagePath, image, folder) && ok;
            ok = behindTheAdapter(imagePath, image, folder) && ok;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ok ? 0 : 1;
}
