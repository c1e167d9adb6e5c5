// Time and CPU cost of `morvandell-cli flash` (1016 blocks, 130048 bytes) against the display simulator
// with instant answers, to set beside the update window's figure from bench_update --instant-only.
//
// Run: build/tools/bench_cli [runs]
// Both the simulator (morvandell-sim) and the tool (morvandell-cli) run as separate programs; the CPU
// figure is the tool's alone.
#include "platform/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int TransferSize = 130048;
constexpr int ReadyDelayMs = 20; // as in bench_update

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Starts a program; its standard output into *out (a pipe's read end) when out is given, else to
// /dev/null like its standard error.
pid_t start(const std::vector<std::string>& args, int* out)
{
    int ends[2] = {-1, -1};
    if (out && ::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(out ? ends[1] : null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (out) {
        ::close(ends[1]);
        *out = ends[0];
    }
    return pid;
}

// The first line the program writes, within a few seconds.
std::string firstLine(int fd)
{
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

int finish(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char* argv[])
{
    const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 3);
    const std::string dir = morvandell::files::programFolder();
    const std::string sim = MORVANDELL_SIM_PROGRAM;
    const std::string cli = dir + "/../cli/morvandell-cli";
    if (::access(sim.c_str(), X_OK) != 0 || ::access(cli.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "morvandell-sim or morvandell-cli not built\n");
        return 1;
    }

    char folderTemplate[] = "/tmp/bench_cli-XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (!folder)
        return 1;
    std::vector<char> image(TransferSize);
    std::mt19937 random(2024);
    for (char& c : image)
        c = char(random() & 0xFF);
    const std::string imagePath = std::string(folder) + "/firmware.bin";
    {
        std::ofstream file(imagePath, std::ios::binary);
        if (!file.write(image.data(), std::streamsize(image.size())))
            return 1;
    }

    std::vector<double> walls, cpus;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        const std::string imageOut = std::string(folder) + "/out" + std::to_string(run) + ".bin";
        int displayOut = -1;
        const pid_t display =
            start({sim, "--ready-delay", std::to_string(ReadyDelayMs), "--image-out", imageOut}, &displayOut);
        if (display < 0)
            return 1;
        const std::string device = firstLine(displayOut);
        if (device.empty())
            return 1;

        int toolOut = -1;
        const double cpuBefore = childCpuSeconds();
        const auto begin = std::chrono::steady_clock::now();
        const pid_t tool = start({cli, "flash", "--port", device, imagePath}, &toolOut);
        std::string out;
        char buffer[256];
        for (ssize_t n; (n = ::read(toolOut, buffer, sizeof buffer)) > 0;)
            out.append(buffer, std::size_t(n));
        const int status = finish(tool);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const double cpu = childCpuSeconds() - cpuBefore;
        ::close(toolOut);
        ::kill(display, SIGTERM);
        finish(display);
        ::close(displayOut);
        const bool same = readFile(imageOut) == image;
        const bool done = status == 0 && out == "Fertig.\n" && same;
        ok = ok && done;
        walls.push_back(wall);
        cpus.push_back(cpu);
        std::printf("run %d: %.3f s in all (program start to exit), %.3f s CPU of the tool, %s\n", run + 1, wall,
                    cpu, done ? "image identical" : "FAILED");
        ::unlink(imageOut.c_str());
    }
    ::unlink(imagePath.c_str());
    ::rmdir(folder);
    std::printf("morvandell-cli flash, instant answers: %.3f-%.3f s, CPU %.3f-%.3f s\n",
                *std::min_element(walls.begin(), walls.end()), *std::max_element(walls.begin(), walls.end()),
                *std::min_element(cpus.begin(), cpus.end()), *std::max_element(cpus.begin(), cpus.end()));
    return ok ? 0 : 1;
}
