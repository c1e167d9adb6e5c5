// Soak: many configure cycles and full firmware updates through the windows' own handlers (the control
// window Form1 and the update window Form2 on the headless front end of the window tests), driven as a
// user drives them, against the display simulator's logic on a real line (Linux: a pseudo-terminal;
// Windows under Wine: COM3 through tests/wine/ptypeer.py), with a fault drawn for every cycle. The soak
// knows what the display stored and judges what the windows said: a success shown must be true, every
// failure must be reported by exactly one message whose cause fits the fault, no action may outlast its
// time limit plus an allowance, and resident memory must stay flat.
//
//   soak [--seed N] [--cycles N] [--updates N] [--cycle K | --update K] [--verbose]
//
// Exit status: 0 when nothing was found; 1 on a false success, a hang, a misreported failure, an
// unexpected outcome or memory growth beyond the bound; 2 on a usage error or a missing line.

#include "tests/forms/support/formtest.h"

#include "control/form1.h"
#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialservice.h"
#include "simulator/simulatorconfig.h"
#include "updater/form2.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "tests/wine/comdisplay.h"
#include "tests/wine/linepeer.h"
#include "windows/serialport.h"

#include <windows.h>
#include <psapi.h>
#else
#include "simulator/simulatorthread.h"

#include <fstream>
#endif

namespace morvandell::soak {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Message = test::ScriptedDialogs::Message;
using sim::SimulatorConfig;

// --- the program's limits, and the soak's margins around them ------------------------------------------

constexpr auto ReplyLimit = std::chrono::milliseconds(Form1::ReplyTimeoutMs); // every reply wait
constexpr auto UpdateLimit = UpdateTransfer::ReadyTimeout;                     // ready and ack waits
static_assert(UpdateTransfer::AckTimeout == UpdateTransfer::ReadyTimeout);
// Late answers stay this far from a limit, so that no outcome depends on the machine's load.
constexpr auto Margin = 1000ms;
// An action hangs when nothing moves on the line for longer than its limit, its planned delay and this.
constexpr auto Allowance = 10s;
// An action that does not return by then (counted like the hang's budget, from the last move on the
// line) ends the soak: the window thread no longer runs its event loop.
constexpr auto NoReturn = 60s;
// A display that has been asked to identify itself does so within this (plus a planned delay).
constexpr auto IdentifyLimit = 3s;
// After a failure, further messages about it have this long to show up.
constexpr auto Settle = 300ms;

// --- resident memory ----------------------------------------------------------------------------------

// AddressSanitizer keeps freed memory in quarantine: the resident set grows there by design.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryJudged = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MemoryJudged = false;
#else
constexpr bool MemoryJudged = true;
#endif
#else
constexpr bool MemoryJudged = true;
#endif

// The process's resident set now, in bytes (0 when unknown).
std::size_t residentBytes()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.WorkingSetSize;
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::size_t(std::strtoull(line.c_str() + 6, nullptr, 10)) * 1024;
    return 0;
#endif
}

std::string megabytes(std::size_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024.0 * 1024.0));
    return text;
}

// --- the line: a display behind "Com #3" that can be swapped -------------------------------------------

// Port number 3 stands for one device name for the whole soak; the display behind it can be replaced (a
// display plugged in again, or switched off and on) while the program's port is closed. Linux: a
// symbolic link to the newest display's pseudo-terminal. Windows: COM3, which ptypeer.py links to the
// newest line.
class DisplayPort
{
public:
    DisplayPort()
    {
#ifdef _WIN32
        m_device = test::LinePeer::port();
#else
        m_device = files::join(test::tempFolder(), "com3");
#endif
    }

    std::string device() const { return m_device; }
    bool hasDisplay() const { return m_display != nullptr; }

    // A display with this behaviour is on the line now; the one before is gone.
    bool plugIn(const SimulatorConfig& config, std::string* error)
    {
#ifdef _WIN32
        auto next = std::make_unique<test::ComDisplay>(config);
        if (!next->isReady()) {
            *error = "no line behind the COM port: run the soak through tests/wine/ptypeer.py";
            return false;
        }
#else
        auto next = std::make_unique<sim::SimulatorThread>(config);
        if (!next->start(error))
            return false;
        // A new link takes the old one's place in one step.
        const std::filesystem::path link = files::toPath(m_device);
        const std::filesystem::path temp = files::toPath(m_device + ".new");
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        std::filesystem::create_symlink(files::toPath(next->devicePath()), temp, ec);
        if (!ec)
            std::filesystem::rename(temp, link, ec);
        if (ec) {
            *error = "cannot link " + m_device + " to " + next->devicePath() + ": " + ec.message();
            return false;
        }
#endif
        m_display = std::move(next);
        return true;
    }

    const sim::DisplayLogic& display() const
    {
#ifdef _WIN32
        return m_display->logic();
#else
        return m_display->display();
#endif
    }

private:
    std::string m_device;
#ifdef _WIN32
    std::unique_ptr<test::ComDisplay> m_display;
#else
    std::unique_ptr<sim::SimulatorThread> m_display;
#endif
};

// Another program holds the port while this lives. Linux: a second open (exclusive, locked). Wine opens a
// port twice, so there the open fails through the serial port's open-error seam, as another program's
// port does on Windows.
class PortHolder
{
public:
    PortHolder(EventLoop& loop, const std::string& device)
#ifndef _WIN32
        : m_service(loop, test::directoryOf({{1, device}}))
#endif
    {
#ifdef _WIN32
        (void)loop;
        win::setOpenErrorHook([device](const std::string& port) { return port == device ? ERROR_ACCESS_DENIED : 0ul; });
        m_holding = true;
#else
        m_service.setCommPort(1);
        m_holding = m_service.open();
#endif
    }
    ~PortHolder()
    {
#ifdef _WIN32
        win::setOpenErrorHook({});
#endif
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool holding() const { return m_holding; }

private:
#ifndef _WIN32
    SerialService m_service;
#endif
    bool m_holding = false;
};

// --- the log-definition file and what the display must store ----------------------------------------------

struct Channel
{
    std::string name; // Windows-1252 bytes, as in the file and on the wire
    int number;
    int divider;
    std::string unit;
};

// Forty channels: names longer than a name box, a unit longer than a unit box, Windows-1252 letters,
// channel numbers and dividers that are CR, LF or a frame start on the wire.
const std::vector<Channel>& channels()
{
    static const std::vector<Channel> list = [] {
        std::vector<Channel> c{{"RPM", 12, 1, "rpm"},
                               {"Oil_P", 13, 10, "bar"},
                               {"Coolant_Temperature", 85, 2, "\xB0" "C"},
                               {"Batt", 7, 100, "V"},
                               {"MAP", 200, 1, "kPa"},
                               {"\xC4GT", 33, 1, "\xB0" "C"},
                               {"Lambda", 55, 100, "l"},
                               {"Speed", 90, 3, "km/h"},
                               {"Frame", 0x55, 0x0D, "U"},
                               {"Zero", 0, 1, ""}};
        for (int i = int(c.size()) + 1; i <= 40; ++i)
            c.push_back({"Ch" + std::to_string(i), (i * 37) % 256, 1 + (i * 11) % 255, "u" + std::to_string(i % 10)});
        return c;
    }();
    return list;
}

std::string logDefinitionText()
{
    std::string xml = "<channels>\r\n";
    for (const Channel& c : channels())
        xml += "<channel name=\"" + c.name + "\" channel=\"" + std::to_string(c.number) + "\" unit=\"" + c.unit +
               "\" divider=\"" + std::to_string(c.divider) + "\"/>\r\n";
    return xml + "</channels>\r\n";
}

Bytes fitted(const std::string& text, std::size_t width)
{
    Bytes b = test::bytes(text.substr(0, width));
    b.resize(width, ' ');
    return b;
}

Bytes writeFrame(int address, const Bytes& record)
{
    Bytes f(22, 0x00);
    f[0] = 0x55;
    f[1] = 0x01;
    f[3] = Byte(address);
    std::copy(record.begin(), record.end(), f.begin() + 4);
    f[21] = 0x0D;
    return f;
}

Bytes slotRecord(const std::string& name, const Channel& c)
{
    Bytes r = fitted(name, 8);
    r.push_back(0x00);
    r.push_back(Byte(c.number));
    r.push_back(Byte(c.divider));
    append(r, fitted(c.unit, 3));
    r.push_back(0x00);
    r.push_back(0x00);
    return r;
}

Bytes settingsRecord(int view)
{
    Bytes r(16, 0x00);
    r[0] = Byte(view);
    return r;
}

// --- faults --------------------------------------------------------------------------------------------

enum class ConfigureFault {
    None,
    Split,       // every answer byte by byte
    Noise,       // bytes before every answer
    Latency,     // every answer held back by a USB adapter's latency timer (16 ms)
    LateUnder,   // one answer late, a second under the reply limit
    LateOver,    // one answer late, a second and a half over the reply limit
    Lost,        // one answer lost
    WrongRecord, // one record stored otherwise than sent (answers are EEPROM read reports)
    Unplug,      // the device gone on receiving one frame
    Busy,        // the port held by another program at Connect
};

const std::vector<ConfigureFault>& configureFaults()
{
    using F = ConfigureFault;
    static const std::vector<F> all{F::Lost,    F::Unplug, F::Busy,      F::WrongRecord, F::LateOver,
                                    F::LateUnder, F::Split, F::Noise, F::Latency,   F::None};
    return all;
}

std::string nameOf(ConfigureFault f)
{
    switch (f) {
    case ConfigureFault::None: return "none";
    case ConfigureFault::Split: return "split answers";
    case ConfigureFault::Noise: return "noise before answers";
    case ConfigureFault::Latency: return "adapter latency";
    case ConfigureFault::LateUnder: return "late answer, under the limit";
    case ConfigureFault::LateOver: return "late answer, over the limit";
    case ConfigureFault::Lost: return "lost answer";
    case ConfigureFault::WrongRecord: return "record stored wrong";
    case ConfigureFault::Unplug: return "unplugged mid-write";
    case ConfigureFault::Busy: return "port busy";
    }
    return "?";
}

enum class UpdateFault {
    None,
    ReadyLateUnder, // ready byte a second and a half under the limit
    ReadyLateOver,  // ready byte a second and a half over the limit
    NoReady,        // no ready byte (the display waits for blocks all the same)
    AckLateUnder,   // one acknowledgement late, under the limit
    AckLost,        // one acknowledgement late beyond the limit
    AcksStop,       // acknowledgements stop after some block
    Unplug,         // the device gone after some block
    Coalesced,      // the last acknowledgement and the completion byte in one read
    FinalAckOnly,   // a lone acknowledgement after the last block, no completion byte
    Latency,        // every answer held back by a USB adapter's latency timer (2 ms)
    InUpdateMode,   // the display already waits in its update mode: the program started anew, recovery
};

const std::vector<UpdateFault>& updateFaults()
{
    using F = UpdateFault;
    static const std::vector<F> all{F::Unplug,  F::AcksStop,     F::NoReady,   F::AckLost,
                                    F::ReadyLateOver, F::InUpdateMode, F::Coalesced, F::FinalAckOnly,
                                    F::ReadyLateUnder, F::AckLateUnder, F::Latency,  F::None};
    return all;
}

std::string nameOf(UpdateFault f)
{
    switch (f) {
    case UpdateFault::None: return "none";
    case UpdateFault::ReadyLateUnder: return "ready byte late, under the limit";
    case UpdateFault::ReadyLateOver: return "ready byte late, over the limit";
    case UpdateFault::NoReady: return "no ready byte";
    case UpdateFault::AckLateUnder: return "acknowledgement late, under the limit";
    case UpdateFault::AckLost: return "acknowledgement lost";
    case UpdateFault::AcksStop: return "acknowledgements stop";
    case UpdateFault::Unplug: return "unplugged mid-block";
    case UpdateFault::Coalesced: return "acknowledgement and completion together";
    case UpdateFault::FinalAckOnly: return "no completion byte";
    case UpdateFault::Latency: return "adapter latency";
    case UpdateFault::InUpdateMode: return "display already in update mode";
    }
    return "?";
}

// --- causes ------------------------------------------------------------------------------------------

enum class Cause {
    ReplyTimeout,
    ReadyTimeout,
    AckTimeout,
    DeviceLost,
    PortBusy,
    StoredWrong,
    WriteFailed,
    EndedEarly,
    OpenFailed,
    Other,
};

std::string nameOf(Cause c)
{
    switch (c) {
    case Cause::ReplyTimeout: return "Timeout (no answer)";
    case Cause::ReadyTimeout: return "Timeout (no ready byte)";
    case Cause::AckTimeout: return "Timeout (block not acknowledged)";
    case Cause::DeviceLost: return "device gone";
    case Cause::PortBusy: return "port busy";
    case Cause::StoredWrong: return "record stored wrong";
    case Cause::WriteFailed: return "sending failed";
    case Cause::EndedEarly: return "update ended early";
    case Cause::OpenFailed: return "port cannot be opened";
    case Cause::Other: return "other";
    }
    return "?";
}

// What a message names as the cause, from its text.
Cause causeOf(const Message& m, bool updateWindow)
{
    const std::string& t = m.text;
    const auto has = [&](const char* part) { return text::contains(t, part); };
    if (text::startsWith(t, "Timeout"))
        return !updateWindow ? Cause::ReplyTimeout : has("Block") ? Cause::AckTimeout : Cause::ReadyTimeout;
    if (has("belegt"))
        return Cause::PortBusy;
    if (has("unterbrochen") || has("abgebrochen (Gerät getrennt?)"))
        return Cause::DeviceLost;
    if (has("nicht gespeichert, was gesendet"))
        return Cause::StoredWrong;
    if (has("fehlgeschlagen") || has("konnte nicht gesendet werden"))
        return Cause::WriteFailed;
    if (has("als beendet gemeldet") || has("während der Übertragung geschlossen"))
        return Cause::EndedEarly;
    if (has("kann nicht geöffnet") || has("nicht geöffnet werden"))
        return Cause::OpenFailed;
    return Cause::Other;
}

std::string oneLine(const std::string& text)
{
    std::string s = text;
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s.size() > 160 ? s.substr(0, 157) + "..." : s;
}

// --- the tally -----------------------------------------------------------------------------------------

struct Tally
{
    int configureCycles = 0;
    int cleanCycles = 0; // cycles in which nothing failed
    int updates = 0;
    int actions = 0;
    int successes = 0;
    int failures = 0;
    std::map<std::string, int> byCause;
    int recoveries = 0;
    int recoveriesOk = 0;
    int falseSuccesses = 0;
    int hangs = 0;
    int misreported = 0; // no message, more than one, a cause that does not fit
    int unexpected = 0;  // a failure without a fault, a fault without its failure, a step a user could not take
    std::vector<std::string> findings;

    bool clean() const { return falseSuccesses == 0 && hangs == 0 && misreported == 0 && unexpected == 0; }
};

// --- the soak -------------------------------------------------------------------------------------------

struct Options
{
    std::uint64_t seed = 0;
    int cycles = 1000;
    int updates = 20;
    int onlyCycle = 0;  // 1-based; 0: all
    int onlyUpdate = 0; // 1-based; 0: all
    bool verbose = false;
};

// What one user action is expected to end in.
struct Expectation
{
    std::set<Cause> failure; // empty: success
    bool confirmed = true;   // the display answers every frame in time
};

class Soak : public test::FormRig
{
public:
    Soak(const Options& options, Tally& tally)
        : m_options(options)
        , m_tally(tally)
    {
        m_logDefinition = test::writeTempFile("soak-channels.xml", logDefinitionText());
        m_watchdog = std::thread([this] { watchdog(); });
    }

    ~Soak()
    {
        {
            std::lock_guard<std::mutex> lock(m_watchMutex);
            m_ending = true;
        }
        m_watchCondition.notify_all();
        m_watchdog.join();
        form.reset();
    }

    bool start(std::string* error)
    {
        if (!m_port.plugIn(SimulatorConfig{}, error))
            return false;
        m_ports = std::make_shared<const PortDirectory>(std::map<int, PortDirectory::Entry>{
            {3, PortDirectory::Entry{m_port.device(), "Morvandell (simuliert)", nullptr}}});
        return true;
    }

    void configureCycle(int index);
    void update(int index);

private:
    // --- one user action, watched and judged ---
    struct Observed
    {
        std::vector<Message> errors; // error messages shown during the action
        std::vector<Message> others; // every other message
        std::vector<Bytes> frames;   // frames the display received during the action
        bool hung = false;
    };

    // Runs the user's step (a handler runs to its end inside it), watching for a hang meanwhile.
    Observed act(const std::string& what, std::chrono::milliseconds budget, const std::function<void()>& step);
    int progress() const;
    void rescue();
    void watchdog();

    bool judge(const std::string& what, const Expectation& expected, const Observed& seen, bool truth,
               const std::string& untrue, bool recovery, bool updateWindow);
    void finding(const std::string& text);
    void note(const std::string& text);

    // --- configure cycle steps ---
    SimulatorConfig configureConfig(ConfigureFault fault, std::mt19937_64& rng, int* frame);
    Expectation expectFrames(const std::vector<Bytes>& frames) const;
    bool connectStep(bool recovery, const std::string& what);
    bool writeStep(const char* button, const std::vector<Bytes>& frames, bool recovery);
    void closeProgram();
    void startProgram();

    // --- update steps ---
    bool updateStep(const char* button, const Expectation& expected, bool recovery);
    bool imageArrived() const;
    std::string imageFile(const Bytes& image);

    const sim::DisplayLogic& display() const { return m_port.display(); }
    bool plugIn(const SimulatorConfig& config);
    std::vector<Bytes> framesSince(std::size_t from) const;
    int identifications();

    const Options& m_options;
    Tally& m_tally;
    DisplayPort m_port;
    std::shared_ptr<const PortDirectory> m_ports;
    std::string m_logDefinition;
    Bytes m_expectedImage; // what the display must get of this update's image
    std::string m_context; // the cycle being run, for findings
    std::string m_repeat;  // how to run it again
    bool m_cycleFailed = false;
    bool m_failureFits = false;   // the last failure judged was reported with a cause that fits its fault
    bool m_busyAtConnect = false; // another program holds the port at this cycle's first Connect

    // The watchdog thread: an action that does not return by its deadline ends the soak.
    std::thread m_watchdog;
    std::mutex m_watchMutex;
    std::condition_variable m_watchCondition;
    std::optional<Clock::time_point> m_deadline;
    std::string m_watchedAction;
    bool m_ending = false;
};

bool Soak::plugIn(const SimulatorConfig& config)
{
    std::string error;
    if (m_port.plugIn(config, &error))
        return true;
    finding("the display could not be put on the line: " + error);
    return false;
}

std::vector<Bytes> Soak::framesSince(std::size_t from) const
{
    const std::vector<Bytes> all = display().receivedFrames();
    return from < all.size() ? std::vector<Bytes>(all.begin() + std::ptrdiff_t(from), all.end()) : std::vector<Bytes>();
}

int Soak::identifications()
{
    int n = 0;
    for (const std::string& line : log())
        n += text::contains(line, "->  online Firmware: ") ? 1 : 0;
    return n;
}

void Soak::finding(const std::string& text)
{
    m_tally.findings.push_back(m_context + ": " + text + " (again: " + m_repeat + ")");
    std::printf("!! %s: %s\n", m_context.c_str(), text.c_str());
    std::fflush(stdout);
}

void Soak::note(const std::string& text)
{
    if (m_options.verbose)
        std::printf("   %s: %s\n", m_context.c_str(), text.c_str());
}

// Lines moving: frames and blocks the display took.
int Soak::progress() const
{
    return int(display().receivedFrames().size()) + display().blocksReceived();
}

// A hang found: the user closes what waits, so that the soak goes on.
void Soak::rescue()
{
    if (!form)
        return;
    form->replyWait.abort();
    if (Form2* u = form->updateWindow())
        u->transfer().cancel();
}

void Soak::watchdog()
{
    std::unique_lock<std::mutex> lock(m_watchMutex);
    while (!m_ending) {
        if (m_deadline && Clock::now() > *m_deadline) {
            std::printf("!! %s: %s did not return within its time limit plus %lld s: a hang (again: %s)\n",
                        m_context.c_str(), m_watchedAction.c_str(),
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(NoReturn).count()),
                        m_repeat.c_str());
            std::fflush(stdout);
            std::_Exit(1);
        }
        m_watchCondition.wait_for(lock, 1s);
    }
}

Soak::Observed Soak::act(const std::string& what, std::chrono::milliseconds budget, const std::function<void()>& step)
{
    Observed seen;
    const std::size_t messagesBefore = dialogs.messages.size();
    const std::size_t framesBefore = display().receivedFrames().size();
    const int failuresBefore = ::testing::UnitTest::GetInstance()->ad_hoc_test_result().total_part_count();
    {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        m_deadline = Clock::now() + budget + NoReturn;
        m_watchedAction = what;
    }

    // The hang watch runs in the event loop, also inside the handlers' waits: nothing moving on the line
    // for longer than the budget is a hang.
    struct Watch
    {
        int last = -1;
        Clock::time_point moved = Clock::now();
        bool hung = false;
        int timer = 0;
        bool active = true;
    };
    auto watch = std::make_shared<Watch>();
    std::function<void()> tick;
    tick = [this, watch, budget, &tick] {
        watch->timer = 0;
        if (!watch->active)
            return;
        const int now = progress();
        if (now != watch->last) {
            watch->last = now;
            watch->moved = Clock::now();
            std::lock_guard<std::mutex> lock(m_watchMutex);
            m_deadline = watch->moved + budget + NoReturn;
        } else if (!watch->hung && Clock::now() - watch->moved > budget) {
            watch->hung = true;
            rescue();
        }
        watch->timer = loop().startTimer(100ms, tick);
    };
    tick();

    step();

    watch->active = false;
    if (watch->timer)
        loop().cancelTimer(watch->timer);
    {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        m_deadline.reset();
    }
    seen.hung = watch->hung;
    if (::testing::UnitTest::GetInstance()->ad_hoc_test_result().total_part_count() != failuresBefore) {
        ++m_tally.unexpected;
        finding(what + ": a user could not take this step (see the failure above)");
    }
    for (std::size_t i = messagesBefore; i < dialogs.messages.size(); ++i)
        (dialogs.messages[i].icon == ui::Dialogs::Icon::Error ? seen.errors : seen.others).push_back(dialogs.messages[i]);
    seen.frames = framesSince(framesBefore);
    return seen;
}

// Counts the action and reports what does not fit; true when it ended in success (shown and true).
bool Soak::judge(const std::string& what, const Expectation& expected, const Observed& seen, bool truth,
                 const std::string& untrue, bool recovery, bool updateWindow)
{
    ++m_tally.actions;
    m_failureFits = false;
    if (recovery)
        ++m_tally.recoveries;
    if (seen.hung) {
        ++m_tally.hangs;
        finding(what + ": nothing moved on the line for longer than the time limit plus " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Allowance).count()) + " s: a hang");
        m_cycleFailed = true;
        return false;
    }
    for (const Message& m : seen.others) {
        ++m_tally.unexpected;
        finding(what + ": unexpected message [" + m.title + "] " + oneLine(m.text));
    }
    if (seen.errors.empty()) {
        if (!truth) {
            ++m_tally.falseSuccesses;
            finding(what + ": FALSE SUCCESS: no message, but " + untrue);
            m_cycleFailed = true;
            return false;
        }
        if (!expected.failure.empty()) {
            ++m_tally.unexpected;
            finding(what + ": succeeded although the fault should have made it fail");
        }
        ++m_tally.successes;
        if (recovery)
            ++m_tally.recoveriesOk;
        note(what + ": ok");
        return true;
    }

    m_cycleFailed = true;
    ++m_tally.failures;
    const Cause cause = causeOf(seen.errors.front(), updateWindow);
    m_failureFits = expected.failure.count(cause) != 0;
    ++m_tally.byCause[nameOf(cause)];
    note(what + ": failed: " + nameOf(cause) + ": " + oneLine(seen.errors.front().text));
    if (seen.errors.size() > 1) {
        ++m_tally.misreported;
        std::string all;
        for (const Message& m : seen.errors)
            all += " | " + oneLine(m.text);
        finding(what + ": " + std::to_string(seen.errors.size()) + " messages for one failure:" + all);
    }
    if (expected.failure.empty()) {
        ++m_tally.unexpected;
        finding(what + ": failed without a fault: " + oneLine(seen.errors.front().text));
    } else if (!expected.failure.count(cause)) {
        ++m_tally.misreported;
        std::string fits;
        for (const Cause c : expected.failure)
            fits += (fits.empty() ? "" : " or ") + nameOf(c);
        finding(what + ": the message names " + nameOf(cause) + ", the fault was " + fits + ": " +
                oneLine(seen.errors.front().text));
    }
    return false;
}

// --- configure cycles -----------------------------------------------------------------------------------

SimulatorConfig Soak::configureConfig(ConfigureFault fault, std::mt19937_64& rng, int* frame)
{
    // Frames of a cycle: 1 connect, 2..10 "Daten schreiben", 11 "Einstellungen schreiben", 12 reset.
    const auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    SimulatorConfig c;
    c.firmware = asciiBytes("Soak V1.0");
    c.writeAnswer = pick(0, 1) ? SimulatorConfig::WriteAnswer::EepromReport : SimulatorConfig::WriteAnswer::Text;
    *frame = 0;
    switch (fault) {
    case ConfigureFault::None:
    case ConfigureFault::Busy:
        break;
    case ConfigureFault::Split:
        c.splitBytes = true;
        break;
    case ConfigureFault::Noise: {
        // Line noise: with EEPROM reports no frame start (a record's channel 13 and divider 10 are CR LF
        // inside the report, which a frame start before it would make a message of).
        const bool reports = c.writeAnswer == SimulatorConfig::WriteAnswer::EepromReport;
        const int length = pick(1, 8);
        for (int i = 0; i < length; ++i) {
            Byte b = Byte(pick(0, 255));
            if (reports && b == 0x55)
                b = 0x54;
            c.noisePrefix.push_back(b);
        }
        break;
    }
    case ConfigureFault::Latency:
        c.adapterLatencyMs = 16;
        break;
    case ConfigureFault::LateUnder:
        *frame = pick(1, 12);
        c.answerDelayFrame = *frame;
        c.answerDelayMs = int((ReplyLimit - Margin).count());
        break;
    case ConfigureFault::LateOver:
        *frame = pick(2, 12); // the connect frame has no time limit
        c.answerDelayFrame = *frame;
        c.answerDelayMs = int((ReplyLimit + Margin + 500ms).count());
        break;
    case ConfigureFault::Lost:
        *frame = pick(2, 12); // a lost identification leaves the display unknown: nothing is sent, by design
        c.loseAnswerFrame = *frame;
        break;
    case ConfigureFault::WrongRecord:
        c.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
        *frame = pick(1, 9);
        c.wrongRecordAddress = 0x10 * *frame;
        break;
    case ConfigureFault::Unplug:
        *frame = pick(1, 12);
        c.closeAfterFrames = *frame;
        break;
    }
    return c;
}

// What the display's configuration makes of these frames, sent as the next ones it receives.
Expectation Soak::expectFrames(const std::vector<Bytes>& frames) const
{
    Expectation e;
    const SimulatorConfig& c = display().config();
    const int first = int(display().receivedFrames().size()) + 1;
    const int last = first + int(frames.size()) - 1;
    const auto within = [&](int n) { return n >= first && n <= last; };
    if (display().deviceClosed()) {
        e.failure = {Cause::DeviceLost, Cause::WriteFailed};
        e.confirmed = false;
        return e;
    }
    if (within(c.closeAfterFrames)) {
        e.failure = {Cause::DeviceLost, Cause::WriteFailed};
        e.confirmed = false;
    } else if (within(c.loseAnswerFrame) || (within(c.answerDelayFrame) && c.answerDelayMs >= ReplyLimit.count())) {
        e.failure = {Cause::ReplyTimeout};
        e.confirmed = false;
    } else if (c.wrongRecordAddress > 0 && c.writeAnswer == SimulatorConfig::WriteAnswer::EepromReport) {
        for (const Bytes& f : frames)
            if (f[1] == 0x01 && f[2] * 256 + f[3] == c.wrongRecordAddress)
                e.failure = {Cause::StoredWrong};
    }
    return e;
}

void Soak::startProgram()
{
    dialogs.messages.clear();
    dialogs.fileRequests.clear();
    dialogs.prompts.clear();
    dialogs.fileAnswers.clear();
    dialogs.promptAnswers.clear();
    makeForm(m_ports);
}

// The user closes the control window: the program ends.
void Soak::closeProgram()
{
    if (!form)
        return;
    if (Form2* u = form->updateWindow(); u && u->isWindowVisible()) {
        const std::size_t before = dialogs.messages.size();
        updateView().close();
        // "Please restart." is the update window's farewell, not a failure.
        for (std::size_t i = before; i < dialogs.messages.size(); ++i)
            if (dialogs.messages[i].text != "Please restart.") {
                ++m_tally.unexpected;
                finding("closing the update window: unexpected message " + oneLine(dialogs.messages[i].text));
            }
    }
    if (view().isWindowVisible())
        view().close();
    form.reset();
}

// Picks the port, clicks Connect and waits for the display's identification (or a message).
bool Soak::connectStep(bool recovery, const std::string& what)
{
    const std::vector<Bytes> frames{test::connectFrame()};
    Expectation expected = expectFrames(frames);
    const SimulatorConfig& c = display().config();
    const auto delay =
        std::chrono::milliseconds(c.answerDelayFrame == int(display().receivedFrames().size()) + 1 ? c.answerDelayMs : 0);
    std::unique_ptr<PortHolder> holder;
    if (!recovery && m_busyAtConnect) {
        holder = std::make_unique<PortHolder>(loop(), m_port.device());
        if (!holder->holding())
            finding("the port could not be held for the busy fault");
        expected.failure = {Cause::PortBusy};
        expected.confirmed = false;
    }
    const int before = identifications();
    const std::size_t messagesBefore = dialogs.messages.size();
    const Observed seen = act(what, IdentifyLimit + delay + Allowance, [&] {
        if (!pick("Combo5", "Com #3") || !click("Command3"))
            return;
        waitFor([&] { return identifications() > before || dialogs.messages.size() > messagesBefore; },
                IdentifyLimit + delay + Margin);
        if (dialogs.messages.size() > messagesBefore)
            runFor(Settle);
    });
    const bool identified = identifications() > before;
    const bool truth = seen.frames == frames && identified;
    std::string untrue = !identified ? "the display was never identified" : "the display did not get the connect frame";
    if (seen.errors.empty() && !identified && expected.confirmed) {
        // Connect does not wait; a display that never identifies itself leaves nothing to judge but this.
        ++m_tally.unexpected;
        finding(what + ": the display did not identify itself and nothing was said");
        return false;
    }
    return judge(what, expected, seen, truth, untrue, recovery, false);
}

// "Daten schreiben", "Einstellungen schreiben" or Reset: the frames the display must get, in order.
bool Soak::writeStep(const char* button, const std::vector<Bytes>& frames, bool recovery)
{
    const std::string what = std::string(recovery ? "again: " : "") + view().text(button);
    const Expectation expected = expectFrames(frames);
    const SimulatorConfig& c = display().config();
    const auto delay = std::chrono::milliseconds(c.answerDelayMs) + std::chrono::milliseconds(c.adapterLatencyMs);
    const Observed seen = act(what, ReplyLimit + delay + Allowance, [&] {
        const std::size_t before = dialogs.messages.size();
        if (click(button) && dialogs.messages.size() > before)
            runFor(Settle);
    });
    // True: every frame arrived as the user's choices make it, was stored as sent and answered in time.
    bool truth = seen.frames == frames && expected.confirmed;
    std::string untrue = seen.frames != frames ? "the display received " + std::to_string(seen.frames.size()) +
                                                     " of " + std::to_string(frames.size()) + " frames as chosen"
                                               : "the display did not answer every frame in time";
    const std::map<int, Bytes> records = display().records();
    for (const Bytes& f : frames) {
        if (f[1] != 0x01)
            continue;
        const int address = f[2] * 256 + f[3];
        const auto it = records.find(address);
        if (it == records.end() || it->second != slice(f, 4, 16)) {
            truth = false;
            untrue = "the display stored record " + text::arg("0x%1", {text::hexUpper(unsigned(address))}) +
                     " otherwise than sent: " + test::hexOf(it == records.end() ? Bytes() : it->second);
        }
    }
    return judge(what, expected, seen, truth, untrue, recovery, false);
}

void Soak::configureCycle(int index)
{
    std::mt19937_64 rng(m_options.seed ^ (0x9E3779B97F4A7C15ull * std::uint64_t(index)));
    const auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    // The first cycles go through every fault once; then they are drawn.
    const std::vector<ConfigureFault>& all = configureFaults();
    ConfigureFault fault = ConfigureFault::None;
    if (index <= int(all.size())) {
        fault = all[std::size_t(index - 1)];
    } else {
        // Weights: faults that cost time (the limits) are drawn sparingly.
        static const std::vector<std::pair<ConfigureFault, int>> weights{
            {ConfigureFault::None, 33},     {ConfigureFault::Split, 10},       {ConfigureFault::Noise, 10},
            {ConfigureFault::Latency, 5},   {ConfigureFault::LateUnder, 2},    {ConfigureFault::LateOver, 2},
            {ConfigureFault::Lost, 5},      {ConfigureFault::WrongRecord, 10}, {ConfigureFault::Unplug, 13},
            {ConfigureFault::Busy, 10}};
        int total = 0;
        for (const auto& w : weights)
            total += w.second;
        int r = pick(0, total - 1);
        for (const auto& [f, w] : weights) {
            if (r < w) {
                fault = f;
                break;
            }
            r -= w;
        }
    }
    int frame = 0;
    const SimulatorConfig config = configureConfig(fault, rng, &frame);

    // The user's choices: a channel for every slot, now and then a name of their own, a default view.
    std::array<int, 9> picks{};
    for (int k = 1; k <= 8; ++k)
        picks[std::size_t(k)] = pick(0, int(channels().size()) - 1);
    const int typedSlot = pick(0, 4) == 0 ? pick(1, 8) : 0;
    static const std::vector<std::string> ownNames{"Akku", "Oeldruck", "Ladedruck", "X"};
    const std::string typedName = ownNames[std::size_t(pick(0, int(ownNames.size()) - 1))];
    const int view = pick(0, 2);

    m_context = text::arg("cycle %1 (%2%3, %4 answers)",
                          {index, nameOf(fault), frame ? text::arg(" at %1", {frame}) : std::string(),
                           config.writeAnswer == SimulatorConfig::WriteAnswer::EepromReport ? "report" : "text"});
    m_repeat = text::arg("soak --seed %1 --cycle %2", {static_cast<long long>(m_options.seed), index});
    m_cycleFailed = false;
    m_busyAtConnect = fault == ConfigureFault::Busy;
    ++m_tally.configureCycles;

    if (!plugIn(config))
        return;
    startProgram();

    // Recovery as a user does it: the cable in again and Connect, then the step again.
    const auto recover = [&](const std::function<bool()>& step) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (display().deviceClosed() || !form->serialPort().isOpen()) {
                SimulatorConfig healthy;
                healthy.firmware = config.firmware;
                healthy.writeAnswer = config.writeAnswer;
                if (display().deviceClosed() && !plugIn(healthy))
                    return false;
                if (!connectStep(true, "again: Connect"))
                    continue;
            }
            // A late answer arrives before the user tries again.
            if (config.answerDelayMs > ReplyLimit.count())
                runFor(std::chrono::milliseconds(config.answerDelayMs) - ReplyLimit + Margin / 2);
            return step();
        }
        return false;
    };

    if (!connectStep(false, "Connect") && !recover([] { return true; })) {
        closeProgram();
        return;
    }

    dialogs.fileAnswers = {m_logDefinition};
    const Observed read = act("Command1 (log-definition file)", Allowance, [&] { click("Command1"); });
    if (!read.errors.empty() || !read.others.empty()) {
        ++m_tally.unexpected;
        finding("reading the log-definition file: " + oneLine((read.errors.empty() ? read.others : read.errors)[0].text));
        closeProgram();
        return;
    }
    std::vector<Bytes> dataFrames;
    for (int k = 1; k <= 8; ++k) {
        const Channel& ch = channels()[std::size_t(picks[std::size_t(k)])];
        test::FormRig::pick(Form1::slotRows()[std::size_t(k)].list, picks[std::size_t(k)]);
        std::string name = ch.name;
        if (k == typedSlot) {
            type(Form1::slotRows()[std::size_t(k)].name, typedName);
            name = typedName;
        }
        dataFrames.push_back(writeFrame(0x10 * k, slotRecord(name, ch)));
    }
    test::FormRig::pick("Combo10", view);
    dataFrames.push_back(writeFrame(0x90, settingsRecord(view + 1)));

    const std::vector<std::pair<const char*, std::vector<Bytes>>> steps{
        {"Command2", dataFrames}, {"Command6", {dataFrames.back()}}, {"Command5", {test::resetFrame()}}};
    for (const auto& [button, frames] : steps) {
        if (writeStep(button, frames, false))
            continue;
        // A display that stores records wrong stays so; anything else is tried again.
        if (!display().deviceClosed() && config.wrongRecordAddress > 0)
            continue;
        recover([&, button = button, frames = frames] { return writeStep(button, frames, true); });
    }
    if (!m_cycleFailed)
        ++m_tally.cleanCycles;
    closeProgram();
}

// --- updates -----------------------------------------------------------------------------------------------

std::string Soak::imageFile(const Bytes& image)
{
    return test::writeTempFile("soak-image.bin", image);
}

bool Soak::imageArrived() const
{
    return display().blocksReceived() == sim::DisplayLogic::BlockCount && !display().inUpdateMode() &&
           display().receivedImage() == m_expectedImage;
}

// "Update - Normal" or "Update - Recovery" on the update window, judged by what the display got.
bool Soak::updateStep(const char* button, const Expectation& expected, bool recovery)
{
    test::HeadlessView& u = updateView();
    const std::string what = std::string(recovery ? "recovery: " : "") + u.text(button);
    const SimulatorConfig& c = display().config();
    const auto delay = std::chrono::milliseconds(std::max(c.readyDelayMs, c.ackDelayMs) + c.adapterLatencyMs);
    Form2& w = *form->updateWindow();
    std::string status; // the status line when the handler has ended
    const Observed seen = act(what, UpdateLimit + delay + Allowance, [&] {
        const std::size_t before = dialogs.messages.size();
        if (!u.click(button))
            return;
        status = w.statusText();
        if (dialogs.messages.size() > before)
            runFor(Settle);
        else // the display takes the last block after the program has sent it
            waitFor([&] { return imageArrived(); }, 2s);
    });
    const bool shown = status == "Fertig" || status == "Fertig.";
    // "Fertig" says that everything was sent, "Fertig." that the display confirmed it; a lone
    // acknowledgement after the last block may then show "Übertragen." again, as the receiver does.
    const bool arrived = imageArrived();
    const bool truth = arrived && shown && expected.confirmed;
    const int blocks = display().blocksReceived();
    const std::string untrue =
        !arrived ? text::arg("the display got %1 of %2 blocks%3",
                             {blocks, sim::DisplayLogic::BlockCount,
                              blocks == sim::DisplayLogic::BlockCount ? ", not the image sent" : ""})
        : !shown ? "the status line shows \"" + status + "\""
                 : "the display never confirmed";
    return judge(what, expected, seen, truth, untrue, recovery, true);
}

void Soak::update(int index)
{
    std::mt19937_64 rng(m_options.seed ^ (0xC2B2AE3D27D4EB4Full * std::uint64_t(index)));
    const auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const std::vector<UpdateFault>& all = updateFaults();
    const UpdateFault fault =
        index <= int(all.size()) ? all[std::size_t(index - 1)] : all[std::size_t(pick(0, int(all.size()) - 1))];
    const int sizes[] = {1, 200, 130048, 0};
    std::size_t size = std::size_t(sizes[pick(0, 3)]);
    if (size == 0)
        size = std::size_t(pick(1, 130048));
    const Bytes image = test::firmwareImage(size);
    m_expectedImage = test::asTransferred(image);

    SimulatorConfig c;
    c.firmware = asciiBytes("Soak V1.0");
    // The program closes the port after the update frame and opens it again at 9600 baud; a ready byte
    // sent before that is lost (an open discards what came before). The display is ready a margin later.
    c.readyDelayMs = int(Margin.count());
    int block = 0;
    Expectation expected;
    switch (fault) {
    case UpdateFault::None:
        break;
    case UpdateFault::ReadyLateUnder:
        c.readyDelayMs = int((UpdateLimit - Margin - 500ms).count());
        break;
    case UpdateFault::ReadyLateOver:
        c.readyDelayMs = int((UpdateLimit + Margin + 500ms).count());
        expected.failure = {Cause::ReadyTimeout};
        break;
    case UpdateFault::NoReady:
        c.noReady = true;
        expected.failure = {Cause::ReadyTimeout};
        break;
    case UpdateFault::AckLateUnder:
        block = pick(1, 1015);
        c.ackDelayBlock = block;
        c.ackDelayMs = int((UpdateLimit - Margin - 500ms).count());
        break;
    case UpdateFault::AckLost:
        block = pick(1, 1015);
        c.ackDelayBlock = block;
        c.ackDelayMs = int((UpdateLimit + Margin + 500ms).count());
        expected.failure = {Cause::AckTimeout};
        break;
    case UpdateFault::AcksStop:
        block = pick(0, 1014);
        c.stopAckAfterBlock = block;
        ++block; // the first block without an acknowledgement
        expected.failure = {Cause::AckTimeout};
        break;
    case UpdateFault::Unplug:
        block = pick(1, 1015);
        c.closeAfterBlock = block;
        expected.failure = {Cause::DeviceLost, Cause::WriteFailed, Cause::EndedEarly};
        break;
    case UpdateFault::Coalesced:
        c.coalesceFinal = true;
        break;
    case UpdateFault::FinalAckOnly:
        c.finalAckOnly = true;
        break;
    case UpdateFault::Latency:
        c.adapterLatencyMs = 2;
        break;
    case UpdateFault::InUpdateMode:
        c.recovery = true;
        break;
    }
    m_context = text::arg("update %1 (%2%3, image of %4 bytes)",
                          {index, nameOf(fault), block ? text::arg(" at block %1", {block}) : std::string(),
                           static_cast<long long>(size)});
    m_repeat = text::arg("soak --seed %1 --update %2", {static_cast<long long>(m_options.seed), index});
    m_cycleFailed = false;
    m_busyAtConnect = false;
    ++m_tally.updates;
    if (!plugIn(c))
        return;
    startProgram();
    const std::string path = imageFile(image);

    SimulatorConfig inUpdateMode;
    inUpdateMode.firmware = c.firmware;
    inUpdateMode.recovery = true;

    // The program started anew for a display that waits in its update mode: Firmwareupdate without
    // Connect asks for the port, which then opens at 9600 baud; Load File; "Update - Recovery".
    const auto recoverAfterRestart = [&] {
        openUpdateWindow();
        if (!form->updateWindow() || !form->updateWindow()->serialPort().isOpen()) {
            ++m_tally.unexpected;
            finding("the update window did not open the port typed at its prompt");
            return;
        }
        dialogs.fileAnswers = {path};
        updateView().click("Command1");
        updateStep("Command5", {}, true);
    };

    if (fault == UpdateFault::InUpdateMode) {
        dialogs.promptAnswers = {"3"};
        recoverAfterRestart();
        closeProgram();
        return;
    }

    if (!connectStep(false, "Connect")) {
        closeProgram();
        return;
    }
    Form2* w = openUpdateWindow();
    if (!w || !w->serialPort().isOpen()) {
        ++m_tally.unexpected;
        finding("the update window did not take the port over");
        closeProgram();
        return;
    }
    dialogs.fileAnswers = {path};
    updateView().click("Command1");
    const bool ok = updateStep("Command2", expected, false);
    if (!ok && !dialogs.messages.empty() && (fault == UpdateFault::AckLost || fault == UpdateFault::AcksStop)) {
        const std::string& text = dialogs.messages.back().text;
        if (!text::contains(text, text::arg("Block %1 von", {block}))) {
            ++m_tally.misreported;
            finding(text::arg("the message does not name block %1: %2", {block, oneLine(text)}));
        }
    }
    // Recovery follows the fault that was planned; after any other outcome (a finding already) the
    // program is closed.
    if (ok || !m_failureFits) {
        closeProgram();
        return;
    }
    switch (fault) {
    case UpdateFault::NoReady:
    case UpdateFault::ReadyLateOver:
        // The display waits in its update mode (the late one once its ready byte is out): the window's
        // advice, "Update - Recovery" with the same file.
        if (fault == UpdateFault::ReadyLateOver)
            runFor(std::chrono::milliseconds(c.readyDelayMs) - UpdateLimit + Margin);
        updateStep("Command5", {}, true);
        break;
    case UpdateFault::Unplug:
        // Plugged in again, the display starts in its update mode.
        if (plugIn(inUpdateMode))
            updateStep("Command5", {}, true);
        break;
    case UpdateFault::AckLost:
    case UpdateFault::AcksStop:
        // A display that has stopped answering is switched off and on: it starts in its update mode. The
        // user closes the program first ("Please restart.") and starts it again.
        closeProgram();
        if (!plugIn(inUpdateMode))
            return;
        startProgram();
        dialogs.promptAnswers = {"3"};
        recoverAfterRestart();
        break;
    default:
        break;
    }
    closeProgram();
}

// --- main ------------------------------------------------------------------------------------------------

bool parse(int argc, char** argv, Options& o)
{
    bool seeded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto number = [&](long long low, long long high, long long* out) {
            if (i + 1 >= argc)
                return false;
            const std::optional<long long> v = text::toInteger(argv[++i]);
            if (!v || *v < low || *v > high)
                return false;
            *out = *v;
            return true;
        };
        long long v = 0;
        if (a == "--seed" && number(0, 0x7FFFFFFFFFFFFFFFll, &v)) {
            o.seed = std::uint64_t(v);
            seeded = true;
        } else if (a == "--cycles" && number(0, 10000000, &v)) {
            o.cycles = int(v);
        } else if (a == "--updates" && number(0, 100000, &v)) {
            o.updates = int(v);
        } else if (a == "--cycle" && number(1, 10000000, &v)) {
            o.onlyCycle = int(v);
        } else if (a == "--update" && number(1, 100000, &v)) {
            o.onlyUpdate = int(v);
        } else if (a == "--verbose" || a == "-v") {
            o.verbose = true;
        } else {
            return false;
        }
    }
    if (!seeded)
        o.seed = std::random_device{}() % 1000000;
    return true;
}

int run(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: soak [--seed N] [--cycles N] [--updates N] [--cycle K | --update K] [--verbose]\n"
                     "  --seed N     the faults and choices of every cycle (default: drawn, and printed)\n"
                     "  --cycles N   configure cycles (default 1000)\n"
                     "  --updates N  full firmware updates, spread over the cycles (default 20)\n"
                     "  --cycle K    only configure cycle K of this seed (to repeat a finding)\n"
                     "  --update K   only update K of this seed\n"
                     "  --verbose    a line for every action\n");
        return 2;
    }
    const bool single = options.onlyCycle > 0 || options.onlyUpdate > 0;
    const int cycles = single ? (options.onlyCycle > 0 ? 1 : 0) : options.cycles;
    const int updates = single ? (options.onlyUpdate > 0 ? 1 : 0) : options.updates;
    std::printf("soak: seed %llu, %d configure cycles, %d full updates (the display answers at once, not at the "
                "pace of 9600 baud)\n",
                static_cast<unsigned long long>(options.seed), cycles, updates);
    std::fflush(stdout);

    const std::size_t rssStart = residentBytes();
    const auto started = Clock::now();
    Tally tally;
    std::size_t rssWarm = 0;
    {
        Soak soak(options, tally);
        std::string error;
        if (!soak.start(&error)) {
            std::fprintf(stderr, "soak: %s\n", error.c_str());
            return 2;
        }
        // Updates spread over the cycles, the first before cycle 1; memory after the warm-up (a tenth of
        // the cycles, at least ten, and the first update) is the base of the bound.
        const int warmUp = std::min(cycles, std::max(10, cycles / 10));
        int nextUpdate = 0;
        int cyclesDone = 0;
        const auto progress = [&] {
            if (rssWarm == 0 && cyclesDone >= warmUp && nextUpdate >= std::min(1, updates))
                rssWarm = residentBytes();
            if (options.verbose || (cyclesDone > 0 && cyclesDone % 100 == 0)) {
                std::printf("   %d cycles, %d updates, %.0f s, %s resident\n", cyclesDone, nextUpdate,
                            std::chrono::duration<double>(Clock::now() - started).count(),
                            megabytes(residentBytes()).c_str());
                std::fflush(stdout);
            }
        };
        const auto runUpdate = [&] {
            ++nextUpdate;
            soak.update(options.onlyUpdate > 0 ? options.onlyUpdate : nextUpdate);
            progress();
        };
        const auto updateDue = [&](int cycle) {
            return nextUpdate < updates && cycle > nextUpdate * cycles / std::max(1, updates);
        };
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            while (updateDue(cycle))
                runUpdate();
            soak.configureCycle(options.onlyCycle > 0 ? options.onlyCycle : cycle);
            cyclesDone = cycle;
            progress();
        }
        while (nextUpdate < updates)
            runUpdate();
    }
    const std::size_t rssEnd = residentBytes();
    if (rssWarm == 0)
        rssWarm = rssStart;
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // The bound: 10 % plus 2 MB over the warmed-up process. The allocator keeps freed memory of its own
    // and the last display's buffers (an image of 130 kB, several times over) come and go; a leak of
    // a few kilobytes per cycle passes it over a thousand cycles.
    const std::size_t bound = rssWarm + rssWarm / 10 + 2 * 1024 * 1024;
    const bool memoryFlat = single || !MemoryJudged || rssEnd <= bound;

    std::printf("\n");
    std::printf("%-30s %d (%d without a failure)\n", "Configure cycles", tally.configureCycles, tally.cleanCycles);
    std::printf("%-30s %d\n", "Full updates", tally.updates);
    std::printf("%-30s %d\n", "User actions judged", tally.actions);
    std::printf("%-30s %d\n", "  successes shown (all true)", tally.successes);
    std::printf("%-30s %d\n", "  failures reported", tally.failures);
    for (const auto& [cause, n] : tally.byCause)
        std::printf("    %-26s %d\n", cause.c_str(), n);
    std::printf("%-30s %d (%d succeeded)\n", "  recoveries after a failure", tally.recoveries, tally.recoveriesOk);
    std::printf("%-30s %d\n", "False successes", tally.falseSuccesses);
    std::printf("%-30s %d\n", "Hangs", tally.hangs);
    std::printf("%-30s %d\n", "Failures misreported", tally.misreported);
    std::printf("%-30s %d\n", "Unexpected outcomes", tally.unexpected);
    std::printf("%-30s start %s, after warm-up %s, end %s (bound %s)%s\n", "Resident memory",
                megabytes(rssStart).c_str(), megabytes(rssWarm).c_str(), megabytes(rssEnd).c_str(),
                megabytes(bound).c_str(),
                !MemoryJudged ? ", not judged under AddressSanitizer" : memoryFlat ? "" : ": GREW");
    std::printf("%-30s %.1f s\n", "Run time", seconds);
    for (const std::string& f : tally.findings)
        std::printf("finding: %s\n", f.c_str());
    std::fflush(stdout);

    std::error_code ec;
    std::filesystem::remove_all(files::toPath(test::tempFolder()), ec);
    return tally.clean() && memoryFlat ? 0 : 1;
}

} // namespace morvandell::soak

int main(int argc, char** argv)
{
    return morvandell::soak::run(argc, argv);
}
