// morvandell-cli end to end: the built program against the simulated display over a pseudo-terminal.
// Each command, each exit status, the trace of the connect frame and its answer, and replays of
// recorded traces with morvandell-sim --replay.
#include "coresupport.h"

#include "platform/files.h"
#include "platform/text.h"
#include "simulator/simulatorthread.h"
#include "updater/updateprotocol.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;
using morvandell::sim::SimulatorConfig;
using morvandell::sim::SimulatorThread;

namespace {

using Clock = std::chrono::steady_clock;

struct Result
{
    int status = -1; // the exit status; -1 when it did not exit by itself in time
    std::string out;
    std::string err;
};

// The program (morvandell-cli unless another is named) running in a process of its own, with
// MORVANDELL_PORTS set to `ports`, its output collected.
class Cli
{
public:
    Cli(const std::vector<std::string>& args, const std::string& ports, const std::string& program = MORVANDELL_CLI)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        // Built before fork(): the child only calls what is safe after fork in a threaded program.
        std::vector<std::string> env{"MORVANDELL_PORTS=" + ports};
        for (char** e = environ; *e; ++e)
            if (!text::startsWith(*e, "MORVANDELL_PORTS="))
                env.emplace_back(*e);
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp, envp;
        for (std::string& a : argv)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            // Nothing else of the test (the simulator's pseudo-terminal above all) stays open in it.
            ::close_range(3, ~0u, 0);
            ::execve(argp[0], argp.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Cli()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : {m_out, m_err})
            if (fd >= 0)
                ::close(fd);
    }
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    pid_t pid() const { return m_pid; }

    // The first line of standard output (without its line end), as soon as it is there; the rest
    // stays for finish().
    std::string firstLine(std::chrono::milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        while (m_out >= 0 && m_early.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd fd{m_out, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_early.append(buffer, std::size_t(n));
        }
        const std::size_t end = m_early.find('\n');
        if (end == std::string::npos)
            return {};
        const std::string line = m_early.substr(0, end);
        m_early.erase(0, end + 1);
        return line;
    }

    // Collects the output until the program ends; kills it when it runs longer than `limit`.
    Result finish(std::chrono::milliseconds limit = 20s)
    {
        Result run;
        run.out = m_early;
        const auto deadline = Clock::now() + limit;
        while ((m_out >= 0 || m_err >= 0) && Clock::now() < deadline) {
            pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            ::poll(fds, 2, 50);
            for (int i = 0; i < 2; ++i) {
                int& fd = i == 0 ? m_out : m_err;
                if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buffer[4096];
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? run.out : run.err).append(buffer, std::size_t(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(fd);
                    fd = -1;
                }
            }
        }
        if (m_pid <= 0)
            return run;
        int status = 0;
        pid_t ended = 0;
        while ((ended = ::waitpid(m_pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        if (ended != m_pid) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
        run.status = ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

private:
    pid_t m_pid = -1;
    std::string m_early; // read by firstLine()
    int m_out = -1;
    int m_err = -1;
};

Result cli(const std::vector<std::string>& args, const std::string& ports = {})
{
    return Cli(args, ports).finish();
}

std::string sample()
{
    return MORVANDELL_TEST_DATA "/logdef_sample.xml";
}

std::size_t count(const std::string& s, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + part.size()))
        ++n;
    return n;
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!pred() && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return pred();
}

struct CommandRow
{
    const char* name;
    const char* fault; // "", "silent", "noready", "gone", "reports" (EEPROM read reports), "wrong" (one differs)
    std::vector<std::string> args; // PORT stands for the simulator's device
    int status;
    const char* outHas;
    const char* errHas;
    std::vector<std::string> outAlso{}; // more that standard output must hold
};

class Commands : public testing::TestWithParam<CommandRow>
{};

TEST_P(Commands, againstTheDisplay)
{
    const CommandRow& row = GetParam();
    const std::string fault = row.fault;
    SimulatorConfig config;
    config.silent = fault == "silent";
    config.noReady = fault == "noready";
    config.readyDelayMs = 20;
    if (fault == "reports" || fault == "wrong")
        config.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    if (fault == "wrong")
        config.wrongRecordAddress = 0x30;
    if (fault == "gone") {
        config.closeAfterFrames = 4; // connect frame and two slot frames answered
        config.closeAfterBlock = 5;
    }
    SimulatorThread sim(config);
    ASSERT_TRUE(sim.start());
    std::vector<std::string> args = row.args;
    for (std::string& arg : args) {
        if (arg == "PORT")
            arg = sim.devicePath();
        else if (arg == "BIG")
            arg = writeTempFile("big.bin", Bytes(130085, 'x'));
        else if (arg == "SMALL")
            arg = writeTempFile("small.bin", Bytes(300, 'f'));
        else if (arg == "SAMPLE")
            arg = sample();
        else if (arg == "PROFILE")
            arg = tempFolder() + "/" + row.name + ".morvandell.json";
    }
    const Result run = cli(args, "3=" + sim.devicePath());
    ASSERT_EQ(run.status, row.status) << run.out << run.err;
    EXPECT_NE(run.out.find(text::replaceAll(row.outHas, "PORT", sim.devicePath())), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(row.errHas), std::string::npos) << run.err;
    for (const std::string& part : row.outAlso)
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    // Every failure is one line on standard error.
    if (row.status != 0) {
        EXPECT_EQ(count(run.err, "morvandell-cli: "), 1u) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Commands,
    testing::Values(
        CommandRow{"help", "", {"flash", "--help"}, 0, "Exit-Status", ""},
        CommandRow{"version", "", {"--version"}, 0, MORVANDELL_VERSION, ""},
        CommandRow{"noCommand", "", {}, 1, "", "Kein Befehl"},
        CommandRow{"portMissing", "", {"reset"}, 1, "", "--port PORT fehlt"},
        CommandRow{"port17", "", {"reset", "--port", "17"}, 1, "", "1 bis 16"},
        CommandRow{"identifyByNumber", "", {"identify", "--port", "3"}, 0, "V1.0", ""},
        CommandRow{"identifyByPath", "", {"identify", "--port", "PORT"}, 0, "V1.0", ""},
        CommandRow{"ports", "", {"ports"}, 0, "3\tPORT", ""},
        CommandRow{"reset", "", {"reset", "--port", "PORT"}, 0, "-> Reset", ""},
        CommandRow{"doctor", "", {"doctor", "--port", "3"}, 0, "Zugriff: ja", ""},
        CommandRow{"noDevice", "", {"identify", "--port", "/dev/nothing-here"}, 2, "", "kein Gerät gefunden"},
        CommandRow{"silentDisplay", "silent", {"identify", "--port", "PORT"}, 3, "", "Timeout"},
        CommandRow{"deviceGoneDuringConfigure", "gone", {"configure", "--port", "PORT", "--logdef", "SAMPLE"}, 4,
                   "-> OK", "Verbindung zu Com #"},
        CommandRow{"configureVerifiedByReports", "reports", {"configure", "--port", "PORT", "--logdef", "SAMPLE"}, 0,
                   "->  ReadEEProm @ 0x90\nEinstellungen: geprüft\n", ""},
        // The profile keeps what was chosen and sent, once every frame was answered.
        CommandRow{"configureStoredOtherwise", "wrong",
                   {"configure", "--port", "PORT", "--logdef", "SAMPLE", "--slot", "3=Oil_P", "--save-profile",
                    "PROFILE"},
                   7,
                   "ReadEEProm @ 0x30\nPlatz 3: abweichend gespeichert: gesendet Name „Oil_P   “, Kanal 12, "
                   "Teiler 10, Einheit „bar“; gespeichert Name „Pil_P   “, Kanal 12, Teiler 10, Einheit „bar“\n",
                   "morvandell-cli: Das Display hat nicht gespeichert, was gesendet wurde: Platz 3.\n",
                   {"Platz 4: geprüft\n", "Profil gespeichert: "}},
        CommandRow{"unreadableLogDefinition", "", {"configure", "--port", "PORT", "--logdef", "/nonexistent.xml"}, 5,
                   "", "nonexistent.xml"},
        CommandRow{"unknownChannel", "", {"configure", "--port", "PORT", "--logdef", "SAMPLE", "--slot", "1=Nope"}, 1,
                   "", "„Nope“"},
        CommandRow{"profile", "", {"configure", "--port", "PORT", "--profile", "x.profile"}, 5, "", "x.profile"},
        CommandRow{"flashNoReadyByte", "noready", {"flash", "--port", "PORT", "SMALL"}, 3, "", "--recovery"},
        CommandRow{"flashDeviceGoneAtBlock5", "gone", {"flash", "--port", "PORT", "SMALL"}, 4, "",
                   "5 von 1016 Blöcken"},
        CommandRow{"imageTooLarge", "", {"flash", "--port", "PORT", "BIG"}, 5, "", "Datei zu groß!"}),
    [](const testing::TestParamInfo<CommandRow>& info) { return std::string(info.param.name); });

TEST(Cli, configureSendsTheNineFramesOfTheWindow)
{
    SimulatorThread sim({});
    ASSERT_TRUE(sim.start());
    const std::string profile = tempFolder() + "/cli-" + std::to_string(::getpid()) + ".morvandell.json";
    const Result run = cli({"configure", "--port", sim.devicePath(), "--logdef", sample(), "--slot", "2=Oil_P", "--name",
                         "2=Oeldruck_lang", "--unit", "5=Volt", "--view", "3", "--save-profile", profile});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(count(run.out, "-> OK"), 9u) << run.out;
    // A text answer proves nothing about the record stored; each says so below its answer.
    EXPECT_EQ(count(run.out, " -> OK\nPlatz "), 8u) << run.out;
    EXPECT_EQ(count(run.out, ": nicht geprüft (Textantwort)\n"), 9u) << run.out;
    EXPECT_NE(run.out.find("online Firmware: V1.0"), std::string::npos) << run.out;
    const std::vector<Bytes> frames = sim.display().receivedFrames();
    ASSERT_EQ(frames.size(), 10u); // connect, 8 slots, settings
    EXPECT_EQ(frames[0], hex("55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));
    // Oil_P: channel 12, divider 10, unit bar; the typed name cut to 8 characters as the box cuts it.
    Bytes oil = hex("55010020");
    append(oil, bytes("Oeldruck"));
    append(oil, hex("000C0A"));
    append(oil, bytes("bar"));
    append(oil, hex("0000000D"));
    EXPECT_EQ(hexOf(frames[2]), hexOf(oil));
    Bytes volt = hex("000000");
    append(volt, bytes("Vol"));
    EXPECT_EQ(slice(frames[5], 12, 6), volt); // slot 5: never picked
    EXPECT_EQ(frames[9], hex("55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));

    // The saved profile writes the same frames without the log-definition file.
    SimulatorThread again({});
    ASSERT_TRUE(again.start());
    const Result fromProfile = cli({"configure", "--port", again.devicePath(), "--profile", profile});
    ASSERT_EQ(fromProfile.status, 0) << fromProfile.err;
    EXPECT_EQ(again.display().receivedFrames(), frames);
    ::unlink(profile.c_str());
}

TEST(Cli, traceHoldsTheConnectFrameAndItsAnswer)
{
    SimulatorThread sim({});
    ASSERT_TRUE(sim.start());
    const std::string trace = tempFolder() + "/morvandell-cli-trace-" + std::to_string(::getpid()) + ".txt";
    const Result run = cli({"identify", "--port", sim.devicePath(), "--trace", trace});
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream file(trace, std::ios::binary);
    ASSERT_TRUE(file);
    std::stringstream content;
    content << file.rdbuf();
    const std::string text = content.str();
    ::unlink(trace.c_str());
    EXPECT_NE(text.find("Programm: " MORVANDELL_VERSION ", "), std::string::npos) << text;
    EXPECT_NE(text.find("Gerät: " + sim.devicePath() + ", Einstellungen: 19200,n,8,1"), std::string::npos) << text;
    // A pseudo-terminal refuses the low-latency request; the trace says so for a support request.
    EXPECT_NE(text.find("Niedrige Latenz: vom Treiber nicht unterstützt"), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\\n +\\d+ > 55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D \\|U\\.+\\|\\n")))
        << text;
    // The answer may come in pieces: every received line is hex with its characters.
    EXPECT_TRUE(std::regex_search(text, std::regex("\\n +\\d+ < 55 FD 00 00 56 31 2E 30 "))) << text;
}

TEST(Cli, flashSendsTheImageAndEndsWithTheCompletion)
{
    SimulatorConfig config;
    config.readyDelayMs = 20;
    SimulatorThread sim(config);
    ASSERT_TRUE(sim.start());
    Bytes image(1000);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = Byte(i * 7);
    const std::string path = writeTempFile("fw.bin", image);
    const Result run = cli({"flash", "--port", sim.devicePath(), path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Fertig.\n");
    // Not a terminal: at most one progress line per 10 % (progress comes at the screen's pace, so a fast
    // transfer may skip steps), with block, percentage and time left, the last one at the end.
    const std::size_t lines = count(run.err, "\n");
    EXPECT_TRUE(lines >= 1 && lines <= 11) << run.err;
    EXPECT_NE(run.err.find("Block 1016/1016"), std::string::npos) << run.err;
    Bytes expected = image;
    expected.resize(UpdateProtocol::TransferSize, 0xFF);
    EXPECT_EQ(sim.display().receivedImage(), expected);
}

TEST(Cli, ctrlCStopsAFlashCleanly)
{
    SimulatorConfig config;
    config.readyDelayMs = 20;
    config.pace9600 = true;
    SimulatorThread sim(config);
    ASSERT_TRUE(sim.start());
    const std::string path = writeTempFile("fw2.bin", Bytes(5000, 'a'));
    Cli process({"flash", "--port", sim.devicePath(), path}, {});
    ASSERT_GT(process.pid(), 0);
    ASSERT_TRUE(waitUntil([&] { return sim.display().blocksReceived() >= 3; }, 10s));
    const int blocks = sim.display().blocksReceived();
    ::kill(process.pid(), SIGINT);
    const Result run = process.finish(5s);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("--recovery"), std::string::npos) << run.err;
    // At most the block on the line (and one in the output queue) still arrives; nothing more goes out.
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(sim.display().blocksReceived(), blocks + 2) << blocks;
}

TEST(Cli, ctrlCEndsAReplyWait)
{
    SimulatorConfig config;
    config.silent = true;
    SimulatorThread sim(config);
    ASSERT_TRUE(sim.start());
    Cli process({"identify", "--port", sim.devicePath()}, {});
    ASSERT_GT(process.pid(), 0);
    ASSERT_TRUE(waitUntil([&] { return !sim.display().receivedFrames().empty(); }, 5s));
    const auto pressed = Clock::now();
    ::kill(process.pid(), SIGINT);
    const Result run = process.finish(5s);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_LT(Clock::now() - pressed, 1s); // not the reply wait's 3 s
    EXPECT_EQ(run.err, "morvandell-cli: Abgebrochen (Strg+C).\n");
}

// --- replaying a connection trace --------------------------------------------------------------------

// A session recorded with --trace against the simulator, on port 3: a configure, or a flash whose
// display stops acknowledging after block 3 (it ends in the acknowledgement time-out).
struct Recording
{
    std::string trace;
    Result run;
};

std::vector<std::string> sessionArgs(const std::string& session)
{
    if (session == "flash")
        return {"flash", "--port", "3", writeTempFile("replayed.bin", Bytes(300, 'f'))};
    return {"configure", "--port", "3", "--logdef", sample(), "--slot", "2=Oil_P"};
}

const Recording& recording(const std::string& session)
{
    static std::map<std::string, Recording> made;
    if (const auto it = made.find(session); it != made.end())
        return it->second;
    SimulatorConfig config;
    config.readyDelayMs = 20;
    config.stopAckAfterBlock = 3;
    SimulatorThread sim(config);
    EXPECT_TRUE(sim.start());
    const std::string path = tempFolder() + "/recorded-" + session + ".txt";
    std::vector<std::string> args = sessionArgs(session);
    args.insert(args.end(), {"--trace", path});
    Recording recorded;
    recorded.run = cli(args, "3=" + sim.devicePath());
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    recorded.trace = content.str();
    return made[session] = recorded;
}

// Output lines as a second run repeats them: time stamps and progress lines (their estimates) aside.
std::string comparable(const std::string& output)
{
    std::string lines;
    for (const std::string& line : text::split(output, '\n'))
        if (!text::contains(line, " · Block "))
            lines += std::regex_replace(line, std::regex("\\d\\d:\\d\\d:\\d\\d"), "hh:mm:ss") + "\n";
    return lines;
}

// The trace's lines, changed by `change`; *edited: the number of the line it changed.
std::string editLines(const std::string& trace, int* edited,
                      const std::function<bool(std::vector<std::string>&, std::size_t)>& change)
{
    std::vector<std::string> lines = text::split(trace, '\n');
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (change(lines, i)) {
            *edited = int(i + 1);
            break;
        }
    }
    return text::join(lines, "\n");
}

// As release 1.2.0 wrote it: no version line, "geschlossen" without the port.
std::string asWrittenBy120(const std::string& trace)
{
    std::string old = text::replaceAll(trace, "# geschlossen: Com #3", "# geschlossen");
    return "# Morvandell Verbindungsprotokoll" + old.substr(old.find('\n'));
}

struct ReplayRow
{
    const char* name;
    const char* session;
    std::function<std::string(const std::string& trace, int* edited)> edit;
    int status;         // of morvandell-sim --replay
    const char* outHas; // in its output (the report and the summary); LINE: the line edited
    const char* errHas; // in its log
};

class Replay : public testing::TestWithParam<ReplayRow>
{};

// The replay plays the display's side of a recorded session: the same command again gives the same
// lines and exit status; the program's bytes are checked against the trace.
TEST_P(Replay, repeatsTheRecordedSession)
{
    const ReplayRow& row = GetParam();
    const Recording& recorded = recording(row.session);
    ASSERT_EQ(recorded.run.status, std::string(row.session) == "flash" ? 3 : 0) << recorded.run.err;
    ASSERT_TRUE(text::startsWith(recorded.trace, "Morvandell-Verbindungsprotokoll, Format 2\n")) << recorded.trace;
    int edited = 0;
    const std::string trace = writeTempFile(std::string(row.name) + ".txt", row.edit(recorded.trace, &edited));
    const auto withLine = [edited](const char* text) {
        return text::replaceAll(text, "LINE", std::to_string(edited));
    };

    Cli replay({"--replay", trace}, {}, MORVANDELL_SIM_PROGRAM);
    const std::string device = row.status == 4 ? std::string() : replay.firstLine(5s);
    if (!device.empty()) {
        const Result again = cli(sessionArgs(row.session), "3=" + device);
        EXPECT_EQ(again.status, recorded.run.status) << again.err;
        EXPECT_EQ(comparable(again.out), comparable(recorded.run.out));
        EXPECT_EQ(comparable(again.err), comparable(recorded.run.err));
    }
    // It ends by itself: once the program has closed the port, or at once for a trace it refuses.
    const Result played = replay.finish(5s);
    EXPECT_EQ(played.status, row.status) << played.out << played.err;
    EXPECT_NE(played.out.find(withLine(row.outHas)), std::string::npos) << played.out;
    EXPECT_NE(played.err.find(withLine(row.errHas)), std::string::npos) << played.err;
}

std::string unchanged(const std::string& trace, int*)
{
    return trace;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Replay,
    testing::Values(
        ReplayRow{"configure", "configure", unchanged, 0, "replay: the program's bytes match the trace", ""},
        ReplayRow{"flashEndingInAnAcknowledgementTimeOut", "flash", unchanged, 0,
                  "replay: the program's bytes match the trace", "input discarded, line at 9600 baud"},
        ReplayRow{"aProgramByteEditedInTheTrace", "configure",
                  [](const std::string& trace, int* edited) {
                      return editLines(trace, edited, [](std::vector<std::string>& lines, std::size_t i) {
                          const std::size_t at = lines[i].find(" > 55 05 ");
                          if (at != std::string::npos)
                              lines[i].replace(at, 9, " > 55 06 ");
                          return at != std::string::npos;
                      });
                  },
                  3,
                  "!! trace line LINE, byte 2 (byte 2 of the program's output): expected 55 06 00 00 00 00 00 00 00 "
                  "00 00 00 00 00 00 00 00 00 00 00 00 0D, received 55 05 00",
                  ""},
        ReplayRow{"aTraceWrittenBy120", "configure", [](const std::string& trace, int*) { return asWrittenBy120(trace); },
                  0, "replay: the program's bytes match the trace", "(format 1)"},
        ReplayRow{"aNewerFormatIsRefused", "configure",
                  [](const std::string& trace, int*) {
                      return text::replaceAll(trace, "Verbindungsprotokoll, Format 2\n", "Verbindungsprotokoll, Format 3\n");
                  },
                  4, "", "the trace is in format 3, newer than this morvandell-sim reads (format 2"},
        ReplayRow{"anUnreadableTraceWithoutVersionLine", "configure",
                  [](const std::string& trace, int* edited) {
                      return editLines(asWrittenBy120(trace), edited, [](std::vector<std::string>& lines, std::size_t i) {
                          if (i != 7)
                              return false;
                          lines.insert(lines.begin() + std::ptrdiff_t(i), "      12 ? 55 05");
                          return true;
                      });
                  },
                  4, "", "has no version line, and its line LINE is no line of a connection trace of release 1.2.0"}),
    [](const testing::TestParamInfo<ReplayRow>& info) { return std::string(info.param.name); });

} // namespace
#endif
