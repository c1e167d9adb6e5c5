// morvandell-sim: a simulated Morvandell display behind a pseudo-terminal.
//
// Prints the device path on stdout, logs the traffic on stderr and runs until SIGINT or SIGTERM.
// Point the tool at it with MORVANDELL_PORTS, for example:
//   morvandell-sim --link /tmp/morvandell-display &
//   MORVANDELL_PORTS=1=/tmp/morvandell-display morvandell

#include "loop/notifier.h"
#include "platform/text.h"
#include "simulator/connectiontrace.h"
#include "simulator/mainreplay.h"
#include "simulator/simulatorthread.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

using morvandell::Bytes;
using morvandell::Notifier;
using morvandell::sim::DisplayLogic;
using morvandell::sim::ConnectionTrace;
using morvandell::sim::ReplayHost;
using morvandell::sim::SimulatorConfig;
using morvandell::sim::SimulatorThread;
using morvandell::sim::TraceReplay;

namespace {

constexpr const char* ProgramName = "morvandell-sim";

const char* const HelpText =
    "Simulated Morvandell display on a pseudo-terminal. Prints the device path on stdout, logs frames and "
    "answers on stderr, runs until SIGINT or SIGTERM.\n"
    "With --replay it plays the display's side of a connection trace instead, reports on stdout where the "
    "program's bytes first differ from the trace and a summary, and ends with the trace.\n"
    "\n"
    "Options:\n"

    "  -h, --help                Displays help on commandline options.\n"
    "  -v, --version             Displays version information.\n"
    "  --firmware <TEXT>         Firmware text of the identification (max. 16\n"
    "                            bytes).\n"
    "  --answer <TEXT>           Text message answering a write frame.\n"
    "  --reset-text <TEXT>       Text message answering the reset frame.\n"
    "  --eeprom-report           Answer write frames with an EEPROM read report.\n"
    "  --silent                  Never answer in control mode.\n"
    "  --delay <MS>              Delay before every answer message.\n"
    "  --split                   Send answer messages byte by byte, 1 ms apart.\n"
    "  --noise <HEX>             Bytes (hex, e.g. 0d0a41) sent before every answer\n"
    "                            message.\n"
    "  --close-after-frames <N>  Close the device on receiving frame N.\n"
    "  --recovery                Start in update mode.\n"
    "  --ready-delay <MS>        Delay between update frame and ready byte (default\n"
    "                            200).\n"
    "  --no-ready                Never send the ready byte.\n"
    "  --stop-ack-after <K>      Acknowledge update blocks 1..K only.\n"
    "  --coalesce-final          Answer the last block with 0x06 0x07 in one write.\n"
    "  --close-after-block <K>   Close the device after receiving update block K.\n"
    "  --pace-9600               Take update bytes at the 9600-baud byte time.\n"
    "  --ack-delay <MS>          Extra delay before each block acknowledgement.\n"
    "  --ack-delay-block <K>     Apply --ack-delay to block K's acknowledgement\n"
    "                            only.\n"
    "  --image-out <FILE>        Write the received image to FILE when a transfer\n"
    "                            completes.\n"
    "  --link <PATH>             Create a symbolic link PATH to the device (removed\n"
    "                            on exit).\n"
    "  --final-ack-only          Answer the last block with a lone 0x06 and no\n"
    "                            completion byte.\n"
    "  --adapter-latency <MS>    Hold every answer back until the next tick of a USB\n"
    "                            adapter's latency timer of MS milliseconds, so up to\n"
    "                            MS ms (FTDI: 16 by default, 1 in low-latency mode).\n"
    "  --wrong-record <ADDR>     A write to record address ADDR (0x30 or 48) stores\n"
    "                            the record with its first byte one higher; with\n"
    "                            --eeprom-report the report carries it.\n"
    "  --replay <TRACE>          Play the display's side of a connection trace (the\n"
    "                            window's \"Verbindungsprotokoll speichern\", or\n"
    "                            morvandell-cli --trace). Only --link and\n"
    "                            --replay-timing go with it. Exit status 0: the\n"
    "                            program's bytes matched; 3: they did not; 4: the\n"
    "                            trace cannot be read or replayed.\n"
    "  --replay-timing           Keep the recorded time between the trace's lines\n"
    "                            (default: each as soon as the program is there).\n";

// The long options and whether each takes a value; "help" and "version" also have -h and -v.
const std::map<std::string, bool> LongOptions = {
    {"help", false},          {"help-all", false},     {"version", false},       {"firmware", true},
    {"answer", true},         {"reset-text", true},    {"eeprom-report", false}, {"silent", false},
    {"delay", true},          {"split", false},        {"noise", true},          {"close-after-frames", true},
    {"recovery", false},      {"ready-delay", true},   {"no-ready", false},      {"stop-ack-after", true},
    {"coalesce-final", false}, {"close-after-block", true}, {"pace-9600", false}, {"ack-delay", true},
    {"ack-delay-block", true}, {"image-out", true},    {"link", true},           {"final-ack-only", false},
    {"adapter-latency", true}, {"wrong-record", true}, {"replay", true}, {"replay-timing", false},
};

// Exit statuses of a replay (the others are the simulator's).
constexpr int ReplayDiffers = 3;
constexpr int TraceRefused = 4;

Notifier* quitNotifier = nullptr;

void onSignal(int)
{
    if (quitNotifier)
        quitNotifier->notify();
}

std::mutex errMutex;

// One line on stderr behind the local time of day, "HH:mm:ss.zzz ".
void err(const std::string& line)
{
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    std::tm local{};
    const std::time_t seconds = tv.tv_sec;
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                  int(tv.tv_usec / 1000));
    const std::string text = stamp + line + '\n';
    std::lock_guard<std::mutex> lock(errMutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void dumpRecords(const DisplayLogic& display)
{
    const std::string dump = display.dumpRecords();
    err(dump.empty() ? std::string("records: none written") : "records:\n" + dump);
}

// The command line as parsed: the options set (the last value of each counts) and the arguments.
struct CommandLine
{
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
    std::string error; // the parse failed: what to say

    bool isSet(const std::string& name) const { return values.count(name) != 0; }
    std::string value(const std::string& name, const std::string& fallback = {}) const
    {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

CommandLine parse(int argc, char* argv[])
{
    CommandLine line;
    std::vector<std::string> unknown;
    std::string valueError; // the last one counts, and before unknown options
    bool onlyPositional = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-') {
            line.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        if (arg[1] == '-') {
            const std::string body = arg.substr(2);
            const std::size_t eq = body.find('=');
            const std::string name = body.substr(0, eq);
            const auto known = LongOptions.find(name);
            if (known == LongOptions.end()) {
                unknown.push_back(name);
                continue;
            }
            if (!known->second) {
                if (eq != std::string::npos)
                    valueError = "Unexpected value after '--" + name + "'.";
                else
                    line.values[name] = {};
                continue;
            }
            if (eq != std::string::npos)
                line.values[name] = body.substr(eq + 1);
            else if (i + 1 < argc)
                line.values[name] = argv[++i];
            else
                valueError = "Missing value after '--" + name + "'.";
            continue;
        }
        // Short options, several in one argument ("-hv").
        const std::size_t eq = arg.find('=');
        const std::string letters = arg.substr(1, eq == std::string::npos ? std::string::npos : eq - 1);
        for (std::size_t k = 0; k < letters.size(); ++k) {
            const char c = letters[k];
            if (c != 'h' && c != 'v') {
                unknown.push_back(std::string(1, c));
                continue;
            }
            if (eq != std::string::npos && k + 1 == letters.size())
                valueError = std::string("Unexpected value after '-") + c + "'.";
            else
                line.values[c == 'h' ? "help" : "version"] = {};
        }
    }
    if (!valueError.empty()) {
        line.error = valueError;
    } else if (unknown.size() == 1) {
        line.error = "Unknown option '" + unknown.front() + "'.";
    } else if (!unknown.empty()) {
        line.error = "Unknown options: ";
        for (std::size_t k = 0; k < unknown.size(); ++k)
            line.error += (k ? ", " : "") + unknown[k];
        line.error += ".";
    }
    return line;
}

// A whole number, blanks around it allowed, in int's range.
std::optional<int> toInt(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    std::size_t k = begin;
    bool negative = false;
    if (k < end && (text[k] == '+' || text[k] == '-'))
        negative = text[k++] == '-';
    if (k == end)
        return std::nullopt;
    long long value = 0;
    for (; k < end; ++k) {
        if (text[k] < '0' || text[k] > '9')
            return std::nullopt;
        value = value * 10 + (text[k] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return int(value);
}

bool parseInt(const CommandLine& line, const std::string& name, int min, int* out)
{
    if (!line.isSet(name))
        return true;
    const auto v = toInt(line.value(name));
    if (!v || *v < min) {
        err("invalid value for --" + name + ": " + line.value(name));
        return false;
    }
    *out = *v;
    return true;
}

// "0d0a41" to bytes; nothing unless it is pairs of hex digits only.
std::optional<Bytes> fromHex(const std::string& text)
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0)
        return std::nullopt;
    Bytes bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(morvandell::Byte(hi * 16 + lo));
    }
    return bytes;
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::string readLink(const std::string& path)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    return n < 0 ? std::string() : std::string(buffer.data(), std::size_t(n));
}

// --link: a symbolic link to the device, replacing an older link (never anything else). Removed on
// exit if it still points at the device.
class Link
{
public:
    bool create(const std::string& path, const std::string& device)
    {
        m_path = path;
        m_device = device;
        if (path.empty())
            return true;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                err("--link: " + path + " exists and is not a symbolic link");
                return false;
            }
            ::unlink(path.c_str());
        }
        if (::symlink(device.c_str(), path.c_str()) != 0) {
            err("--link: cannot create " + path + ": " + std::strerror(errno));
            return false;
        }
        m_linked = true;
        err("   " + path + " -> " + device);
        return true;
    }
    ~Link()
    {
        if (m_linked && readLink(m_path) == m_device)
            ::unlink(m_path.c_str());
    }

private:
    std::string m_path;
    std::string m_device;
    bool m_linked = false;
};

// Ends the wait on SIGINT and SIGTERM.
bool catchSignals(Notifier& quit)
{
    if (!quit.isValid()) {
        err(std::string("pipe: ") + std::strerror(errno));
        return false;
    }
    quitNotifier = &quit;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

// --replay TRACE: the trace's display against whatever program opens the device.
int replay(const CommandLine& line)
{
    for (const auto& [name, value] : line.values) {
        if (name != "replay" && name != "replay-timing" && name != "link") {
            err("--" + name + " does not go with --replay: the trace says what the display does");
            return 2;
        }
    }
    const std::string path = line.value("replay");
    std::string error;
    const std::optional<ConnectionTrace> trace = ConnectionTrace::read(path, &error);
    if (!trace) {
        err("cannot replay: " + error);
        return TraceRefused;
    }
    if (const std::string refusal = TraceReplay::refusal(*trace); !refusal.empty()) {
        err("cannot replay " + path + ": " + refusal);
        return TraceRefused;
    }
    TraceReplay::Options options;
    options.timing = line.isSet("replay-timing");
    TraceReplay replay(*trace, options);
    replay.logLine.connect([](const std::string& text) { err(text); });
    replay.report.connect([](const std::string& text) {
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    });
    ReplayHost host(replay);
    if (!host.open(&error)) {
        err("cannot open a pseudo-terminal: " + error);
        return 1;
    }
    err(morvandell::text::arg("   display of %1 (format %2) on %3", {path, trace->version, host.devicePath()}));
    Notifier quit;
    if (!catchSignals(quit))
        return 1;
    Link link;
    if (!link.create(line.value("link"), host.devicePath()))
        return 1;
    std::fprintf(stdout, "%s\n", host.devicePath().c_str());
    std::fflush(stdout);
    host.run(quit.handle());
    quitNotifier = nullptr;
    return replay.matched() ? 0 : ReplayDiffers;
}

} // namespace

int main(int argc, char* argv[])
{
    const CommandLine line = parse(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", ProgramName, line.error.c_str());
        return 1;
    }
    if (line.isSet("version")) {
        std::printf("%s %s\n", ProgramName, MORVANDELL_VERSION);
        return 0;
    }
    if (line.isSet("help") || line.isSet("help-all")) {
        std::printf("Usage: %s [options]\n%s", argc > 0 ? argv[0] : ProgramName, HelpText);
        return 0;
    }
    if (!line.positional.empty()) {
        err("unexpected argument: " + line.positional.front());
        return 2;
    }
    if (line.isSet("replay"))
        return replay(line);
    if (line.isSet("replay-timing")) {
        err("--replay-timing goes with --replay only");
        return 2;
    }

    SimulatorConfig cfg;
    cfg.firmware = bytesOf(line.value("firmware", "V1.0"));
    cfg.answerText = bytesOf(line.value("answer", "OK"));
    cfg.resetText = bytesOf(line.value("reset-text", "Reset"));
    if (line.isSet("eeprom-report"))
        cfg.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    cfg.silent = line.isSet("silent");
    cfg.splitBytes = line.isSet("split");
    if (line.isSet("noise")) {
        const auto noise = fromHex(line.value("noise"));
        if (!noise) {
            err("invalid value for --noise: " + line.value("noise") + " (expected hex digits)");
            return 2;
        }
        cfg.noisePrefix = *noise;
    }
    cfg.recovery = line.isSet("recovery");
    cfg.noReady = line.isSet("no-ready");
    cfg.coalesceFinal = line.isSet("coalesce-final");
    cfg.finalAckOnly = line.isSet("final-ack-only");
    cfg.pace9600 = line.isSet("pace-9600");
    cfg.imageOut = line.value("image-out");
    if (!parseInt(line, "delay", 0, &cfg.answerDelayMs) ||
        !parseInt(line, "close-after-frames", 1, &cfg.closeAfterFrames) ||
        !parseInt(line, "ready-delay", 0, &cfg.readyDelayMs) ||
        !parseInt(line, "stop-ack-after", 0, &cfg.stopAckAfterBlock) ||
        !parseInt(line, "close-after-block", 1, &cfg.closeAfterBlock) ||
        !parseInt(line, "ack-delay", 0, &cfg.ackDelayMs) ||
        !parseInt(line, "adapter-latency", 0, &cfg.adapterLatencyMs) ||
        !parseInt(line, "ack-delay-block", 1, &cfg.ackDelayBlock))
        return 2;
    if (line.isSet("wrong-record")) {
        const std::string text = line.value("wrong-record");
        const bool isHex = text.size() > 2 && (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0);
        const auto digits = isHex ? fromHex(std::string(text.size() % 2 ? "0" : "") + text.substr(2)) : std::nullopt;
        std::optional<int> address = isHex ? std::nullopt : toInt(text);
        if (digits && digits->size() <= 2)
            address = digits->size() == 2 ? (*digits)[0] * 256 + (*digits)[1] : (*digits)[0];
        if (!address || *address < 0 || *address > 0xFFFF) {
            err("invalid value for --wrong-record: " + text + " (expected a record address, e.g. 0x30)");
            return 2;
        }
        cfg.wrongRecordAddress = *address;
    }

    Notifier quit;
    if (!catchSignals(quit))
        return 1;

    SimulatorThread sim(cfg);
    DisplayLogic& display = sim.display();
    display.logLine.connect([](const std::string& text) { err(text); });
    display.recordChanged.connect([&display](int, const Bytes&) { dumpRecords(display); });
    // The device is gone for good (like an unplugged display): nothing left to do.
    display.closed.connect([&quit] { quit.notify(); });
    std::string error;
    if (!sim.start(&error)) {
        err("cannot open a pseudo-terminal: " + error);
        return 1;
    }

    Link link;
    if (!link.create(line.value("link"), sim.devicePath()))
        return 1;

    std::fprintf(stdout, "%s\n", sim.devicePath().c_str());
    std::fflush(stdout);

    pollfd p{quit.handle(), POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    sim.stop();

    dumpRecords(display);
    err("   stopped");
    quitNotifier = nullptr;
    return 0;
}
