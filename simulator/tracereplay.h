#pragma once

#include "platform/bytes.h"
#include "platform/signal.h"
#include "simulator/connectiontrace.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace morvandell::sim {

// Plays the display's side of a connection trace against the program, without any operating system:
// the host tells it what the program sends and when the program opens, closes and flushes its port,
// and sends what it asks for.
//
// The port: the one whose bytes come first in the trace (Com #n); its opens and closes are followed,
// other ports' lines are skipped. The display's bytes ("<" lines) go out in order, each once every
// byte the program sent before it in the trace has arrived: at once, or with the recorded time between
// the lines (timing). Bytes that follow an open of the port, with nothing sent by the program in
// between (the ready byte after an update's reopen at 9600 baud), wait until the program has opened
// the port that many times and its open is done (it discards older input). "Gerät getrennt" hangs the
// line up. The program's bytes are compared with the ">" lines by position: the first difference is
// reported with its line and byte, and the replay goes on in step.
//
// The end: after the trace's last line, once the program has closed the port (or the line is gone, or
// stop()), one summary line.
class TraceReplay
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // How long the replay waits for the program beyond the trace's own gap before it gives up.
    static constexpr std::chrono::milliseconds StallAllowance{10000};
    // After the program opened the port, how long its open may take when its flush went unseen.
    static constexpr std::chrono::milliseconds OpenSettle{200};

    struct Options
    {
        bool timing = false; // keep the recorded time between the lines
    };

    // Why the trace cannot be replayed (English, one line); empty when it can.
    static std::string refusal(const ConnectionTrace& trace);

    TraceReplay(const ConnectionTrace& trace, Options options);

    // --- the host ---
    void start(TimePoint now);
    void programSent(const Bytes& bytes, TimePoint now);
    // The program opened the device (before it set it up), closed it, discarded its input (the last
    // step of its open).
    void portOpened(TimePoint now);
    void portClosed(TimePoint now);
    // `baud`: the speed the program's end of the line is set to now (0: unknown).
    void inputFlushed(TimePoint now, int baud = 0);
    // Does whatever is due by now.
    void advance(TimePoint now);
    std::optional<TimePoint> nextDue() const;
    // Ends the replay now (a signal): the summary says where it stood.
    void stop(TimePoint now);

    bool finished() const { return m_finished; }
    // Every byte of the program as the trace holds it, and the trace played to its end.
    bool matched() const;
    // The port the replay follows (0 when the trace names none).
    int port() const { return m_port; }

    // --- what the host does ---
    Signal<const Bytes&> send;          // put these bytes on the line now
    Signal<> hangUp;                    // the line goes away for good
    Signal<const std::string&> logLine; // one readable line per event (the host's log)
    Signal<const std::string&> report;  // differences and the summary (the replay's result)

private:
    using Kind = ConnectionTrace::Event::Kind;
    struct Step
    {
        Kind kind = Kind::Note;
        int line = 0;
        long long ms = 0;
        Bytes bytes;
        std::size_t start = 0; // Sent: offset of its first byte in the program's output
        int opens = 0;         // opens of the port in the trace up to this step
        bool afterOpen = false; // Received: the port was opened since the program last sent
        std::string settings;
    };

    void complete(TimePoint now);
    void judge(const Step& step);
    void finish(TimePoint now, const std::string& why = {});
    std::optional<TimePoint> stepDue() const;
    std::optional<TimePoint> openDue(const Step& step) const;
    TimePoint stallDeadline() const;
    int lineOfOffset(std::size_t offset) const;

    Options m_options;
    int m_port = 0;
    std::vector<Step> m_steps;
    Bytes m_expected; // every byte of the program, in order
    std::size_t m_cursor = 0;
    bool m_started = false;
    bool m_finished = false;
    bool m_lineGone = false;

    Bytes m_received;
    int m_opens = 0;
    int m_closes = 0;
    int m_flushes = 0;
    std::vector<TimePoint> m_openedAt;
    TimePoint m_lastDone{};    // when the last step was done
    long long m_lastDoneMs = 0; // its time in the trace
    TimePoint m_lastActivity{}; // the program's last byte, open or close
    std::size_t m_displayBytes = 0;

    std::optional<std::size_t> m_firstDifference; // offset in the program's output
    std::size_t m_differingBytes = 0;
    bool m_extraReported = false;
};

} // namespace morvandell::sim
