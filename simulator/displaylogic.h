#pragma once

#include "platform/bytes.h"
#include "platform/signal.h"
#include "simulator/simulatorconfig.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::sim {

// The display's side of the line as its host gives it: somewhere to put the bytes the display sends,
// a way to cut the line, and the speed the tool's end is set to.
class DisplayLine
{
public:
    virtual ~DisplayLine() = default;
    // The display sends these bytes now. `endsAnswer`: the last bytes of a control-mode answer; the host
    // calls DisplayLogic::answerWritten() once they are on the line (at once, or when a full buffer
    // has taken them).
    virtual void put(const Bytes& bytes, bool endsAnswer) = 0;
    // The display goes away for good (the unplugged cable): the host closes its end.
    virtual void close() = 0;
    // The speed the tool's end of the line is set to now, in baud; 0 when the host cannot tell.
    virtual int toolBaud() const { return 0; }
};

// A simulated Morvandell display without any operating system: it is fed the bytes the tool sends, with
// the time they arrived, and puts its answers on the line at the time each is due. The host keeps the
// time going: after every receive() and whenever nextDue() comes, it calls advance().
//
// Everything but the observers belongs to the host's one thread; the signals are raised there. The
// observers may be called from any thread.
class DisplayLogic
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    static constexpr int FrameSize = 22;
    static constexpr int BlockSize = 128;
    static constexpr int BlockCount = 1016;
    static constexpr int ControlBaud = 19200;
    static constexpr int UpdateBaud = 9600;

    DisplayLogic(SimulatorConfig config, DisplayLine& line);
    ~DisplayLogic();
    DisplayLogic(const DisplayLogic&) = delete;
    DisplayLogic& operator=(const DisplayLogic&) = delete;

    const SimulatorConfig& config() const { return m_cfg; }

    // --- the host ---
    // The line is there: a display configured for recovery starts in update mode.
    void start(TimePoint now);
    // Bytes from the tool, arrived at `arrival`, sent at `baud` (0: unknown, taken as right).
    void receive(const Bytes& bytes, TimePoint arrival, int baud = 0);
    // Does whatever is due by `now`.
    void advance(TimePoint now);
    // When advance() has something to do next; nothing while nothing is scheduled.
    std::optional<TimePoint> nextDue() const;
    // The bytes of an answer handed to DisplayLine::put() with endsAnswer are on the line now.
    void answerWritten();
    // The unplugged cable: the display closes the line for good.
    void closeDevice() { close("on request"); }
    // One readable line for the log (logLine), also for the host's own events.
    void log(const std::string& line) { logLine(line); }
    bool isOpen() const;

    // --- observers (thread-safe) ---
    std::vector<Bytes> receivedFrames() const; // every complete 22-byte command frame, in order
    std::map<int, Bytes> records() const;      // record address -> the 16 bytes the last write stored there
    Bytes receivedImage() const;               // all update blocks received so far, in order
    int blocksReceived() const;
    bool inUpdateMode() const;
    bool deviceClosed() const;
    Bytes rawReceived() const; // every byte received, in order
    // Frames whose first byte arrived while the answer to the previous frame was still unsent.
    int framesBeforeAnswer() const;
    // Readable dump of the records, one "0x0010: 52 50 4D ..." line each.
    std::string dumpRecords() const;
    // Update mode: bytes that arrived after the update frame but before the display was ready (ignored).
    int bytesBeforeReady() const;
    // With honourLineSpeed: bytes the tool sent at a speed the display was not listening at (ignored).
    int bytesAtWrongSpeed() const;

    // --- notifications, on the host's thread (connect before the host starts) ---
    Signal<const Bytes&> frameReceived;
    Signal<int> blockReceived;
    Signal<> updateFinished;
    Signal<int, const Bytes&> recordChanged; // a write frame changed a record
    Signal<const std::string&> logLine;      // one readable line per event
    Signal<> closed;                         // the device has been closed

private:
    using Nanoseconds = std::chrono::nanoseconds;
    enum class Rx { Control, UpdateWaiting, UpdateData };

    struct Action
    {
        TimePoint due;
        std::uint64_t seq;
        std::function<void()> run;
    };

    void at(TimePoint due, std::function<void()> run);
    void runDue();
    void send(const Bytes& bytes, Nanoseconds delay, bool isAnswer, bool split, int baud);
    // When a USB adapter's latency timer lets go of bytes the display has sent at `ready`.
    TimePoint adapterPassesOn(TimePoint ready) const;
    void answer(const Bytes& message, const std::string& what);
    void takeControlByte(Byte b);
    void extractFrames();
    void handleFrame(const Bytes& frame, bool early);
    void enterUpdateMode(bool recovery);
    void takeUpdateByte(Byte b, TimePoint arrival);
    void completeBlock(int block, const Bytes& data);
    void close(const std::string& why);
    int listeningBaud() const;
    void noteWrongSpeed(int count, int baud, int listening);

    SimulatorConfig m_cfg;
    DisplayLine& m_line;

    // Observer state, guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_frames;
    std::map<int, Bytes> m_records;
    Bytes m_image;
    int m_blocks = 0;
    bool m_updateMode = false;
    bool m_closed = false;
    Bytes m_raw;
    int m_framesBeforeAnswer = 0;
    int m_bytesBeforeReady = 0;
    int m_bytesAtWrongSpeed = 0;

    // Everything below belongs to the host's thread.
    TimePoint m_now{};
    std::vector<Action> m_actions; // ordered by due time, then by order of scheduling
    std::uint64_t m_nextSeq = 0;
    bool m_runningActions = false;
    int m_pendingAnswers = 0;  // control-mode answers scheduled but not completely written
    TimePoint m_lastOutput{};  // due time of the last scheduled output, keeps answers in order

    Rx m_rx = Rx::Control;
    Bytes m_frameBuf;
    std::vector<bool> m_frameBufEarly; // per buffered byte: an answer was still unsent when it arrived
    int m_frameCount = 0;
    Bytes m_blockBuf;
    int m_blocksTaken = 0;
    TimePoint m_lineTime{}; // line time of the last update byte when pacing
};

} // namespace morvandell::sim
