// Times the log-definition reader on a realistic file and on 100 MB of junk, and prints the
// process's peak resident memory. Run a Release build by hand; nothing here is checked.

#include "catalogue/logdefinitionreader.h"
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include <unistd.h>

using namespace morvandell;

namespace {

constexpr long long JunkSize = 100LL * 1024 * 1024;

// Peak resident set size in KiB (VmHWM), or -1.
long peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets VmHWM).
void resetPeakRss()
{
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
}

// Writes a file piece by piece: produce(buffer) fills the next piece, returns false when done.
bool writeFile(const std::string& path, const std::function<bool(std::string&)>& produce)
{
    std::ofstream file(files::toPath(path), std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    std::string piece;
    while (produce(piece))
        if (!file.write(piece.data(), std::streamsize(piece.size())))
            return false;
    return bool(file.flush());
}

std::string channelLine(int i)
{
    return "\t<channel name=\"Channel_" + std::to_string(i) + "\" channel=\"" + std::to_string(i % 256) +
           "\" unit=\"bar\" divider=\"10\" storage=\"s16\"/>\r\n";
}

bool writeChannelFile(const std::string& path)
{
    bool done = false;
    return writeFile(path, [&](std::string& piece) {
        if (done)
            return false;
        piece = "<?xml version=\"1.0\"?>\r\n<channels>\r\n";
        for (int i = 1; i <= 255; ++i)
            piece += channelLine(i);
        piece += "</channels>\r\n";
        done = true;
        return true;
    });
}

// Random bytes without the letter 'c' (so no "channel"), in stretches of a few KiB to a few MiB
// that alternate between no line ends at all and random CR, LF and CR LF every 1 to 300 bytes.
bool writeJunkFile(const std::string& path)
{
    std::mt19937_64 random(20240601);
    long long written = 0;
    bool withLineEnds = false;
    return writeFile(path, [&](std::string& piece) {
        if (written >= JunkSize)
            return false;
        const long long length =
            std::min<long long>(JunkSize - written, 4096 + (long long)(random() % (4 * 1024 * 1024)));
        piece.resize(std::size_t(length));
        for (long long i = 0; i < length; ++i) {
            char c = char(random() & 0xFF);
            if (c == 'c' || c == '\r' || c == '\n')
                c = 'x';
            piece[std::size_t(i)] = c;
        }
        if (withLineEnds) {
            for (long long i = (long long)(random() % 300); i < length; i += 1 + (long long)(random() % 300)) {
                static const char ends[] = {'\r', '\n'};
                piece[std::size_t(i)] = ends[random() % 2];
                if (random() % 3 == 0 && i + 1 < length)
                    piece[std::size_t(++i)] = '\n';
            }
        }
        withLineEnds = !withLineEnds;
        written += length;
        return true;
    });
}

// 100 MB of channel lines: every line takes an index, all but the first 256 are left out.
bool writeChannelFlood(const std::string& path)
{
    long long written = 0;
    int i = 0;
    return writeFile(path, [&](std::string& piece) {
        if (written >= JunkSize)
            return false;
        piece.clear();
        while (piece.size() < 1024 * 1024)
            piece += channelLine(++i);
        written += (long long)piece.size();
        return true;
    });
}

// 16 MB of 64 KiB lines full of "name=" keys: each key is a name that the lists could be offered.
bool writeNameFlood(const std::string& path)
{
    std::string line = "<channel";
    while (line.size() + 8 < LogDefinitionReader::DefaultMaxLineLength)
        line += " name=n";
    line += "\n";
    long long lines = 0;
    return writeFile(path, [&](std::string& piece) {
        if (lines * (long long)line.size() >= 16LL * 1024 * 1024)
            return false;
        piece = line;
        ++lines;
        return true;
    });
}

struct Result
{
    double ms = 0;
    ReadReport report;
};

Result timeRead(const std::string& path, int repeats)
{
    Result result;
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < repeats; ++r) {
        Catalogue catalogue;
        std::string error;
        if (!LogDefinitionReader::readFile(path, catalogue, &result.report, &error))
            std::fprintf(stderr, "%s\n", error.c_str());
    }
    result.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / repeats;
    return result;
}

void print(const char* label, const std::string& path, const Result& r)
{
    const double mb = double(files::size(path).value_or(0)) / (1024.0 * 1024.0);
    std::printf("%-28s %8.2f MiB  %10.3f ms  %8.0f MiB/s  channel lines %d, entries %zu (+%zu not listed), "
                "left out %d, overlong %d, peak RSS %ld KiB\n",
                label, mb, r.ms, mb / (r.ms / 1000.0), r.report.channelLines, r.report.entries.size(),
                r.report.entriesLeftOut, r.report.channelsLeftOut, r.report.overlongLines, peakRssKiB());
}

} // namespace

int main()
{
    const std::string dir = files::join(files::tempFolder(), "morvandell-bench-reader-" + std::to_string(::getpid()));
    std::filesystem::create_directories(files::toPath(dir));
    const std::string channels = files::join(dir, "channels.xml");
    const std::string junk = files::join(dir, "junk.bin");
    const std::string flood = files::join(dir, "flood.xml");
    const std::string names = files::join(dir, "names.xml");
    const bool written =
        writeChannelFile(channels) && writeJunkFile(junk) && writeChannelFlood(flood) && writeNameFlood(names);
    if (!written) {
        std::fprintf(stderr, "cannot write the test files\n");
        std::filesystem::remove_all(files::toPath(dir));
        return 1;
    }
    std::printf("peak RSS after writing the files: %ld KiB\n", peakRssKiB());
    resetPeakRss();
    std::printf("peak RSS after reset: %ld KiB\n", peakRssKiB());

    print("16 MB of name= keys", names, timeRead(names, 3));
    print("256-channel file (x1000)", channels, timeRead(channels, 1000));
    print("100 MB junk", junk, timeRead(junk, 3));
    print("100 MB of channel lines", flood, timeRead(flood, 3));
    std::filesystem::remove_all(files::toPath(dir));
    return 0;
}
