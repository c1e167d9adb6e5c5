#include "simulator/tracereplay.h"

#include "platform/text.h"

#include <algorithm>

namespace morvandell::sim {

namespace {

std::string hexBytes(const Bytes& bytes)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string s;
    for (const Byte b : bytes) {
        if (!s.empty())
            s += ' ';
        s += Hex[b >> 4];
        s += Hex[b & 0x0F];
    }
    return s;
}

} // namespace

std::string TraceReplay::refusal(const ConnectionTrace& trace)
{
    if (trace.droppedLinesNote)
        return text::arg("line %1: the trace lacks its first lines (the window keeps the newest 10 MB of a "
                         "session), and a replay needs them from the program's start",
                         {trace.droppedLinesNote});
    const bool anyBytes = std::any_of(trace.events.begin(), trace.events.end(), [](const auto& e) {
        return e.kind == Kind::Sent || e.kind == Kind::Received;
    });
    if (!anyBytes)
        return "the trace holds no bytes: nothing to replay";
    return {};
}

TraceReplay::TraceReplay(const ConnectionTrace& trace, Options options)
    : m_options(options)
{
    // The port of the first bytes; the port that bytes belong to is the one opened last and still open.
    std::vector<int> open;
    for (const ConnectionTrace::Event& e : trace.events) {
        if (e.kind == Kind::Sent || e.kind == Kind::Received) {
            m_port = open.empty() ? 0 : open.back();
            break;
        }
        if (e.kind == Kind::Opened)
            open.push_back(e.port);
        else if (e.kind == Kind::Closed && !open.empty())
            open.erase(e.port == 0 ? open.end() - 1 : std::remove(open.begin(), open.end(), e.port), open.end());
    }
    open.clear();
    int opens = 0;
    bool openedSinceSent = false;
    for (const ConnectionTrace::Event& e : trace.events) {
        const int current = open.empty() ? 0 : open.back();
        const bool ours = m_port == 0 || current == m_port;
        Step step;
        step.kind = e.kind;
        step.line = e.line;
        step.ms = e.ms;
        step.bytes = e.bytes;
        switch (e.kind) {
        case Kind::Opened:
            open.push_back(e.port);
            if (m_port != 0 && e.port != m_port)
                continue;
            ++opens;
            openedSinceSent = true;
            step.settings = e.settings;
            break;
        case Kind::Closed: {
            const int port = e.port == 0 ? current : e.port;
            if (!open.empty())
                open.erase(e.port == 0 ? open.end() - 1 : std::remove(open.begin(), open.end(), e.port),
                           open.end());
            if (m_port != 0 && port != m_port)
                continue;
            break;
        }
        case Kind::Sent:
            if (!ours)
                continue;
            step.start = m_expected.size();
            append(m_expected, e.bytes);
            openedSinceSent = false;
            break;
        case Kind::Received:
            if (!ours)
                continue;
            step.afterOpen = openedSinceSent;
            break;
        case Kind::DeviceLost:
            if (!ours)
                continue;
            break;
        case Kind::Note:
            continue;
        }
        step.opens = opens;
        m_steps.push_back(std::move(step));
    }
}

void TraceReplay::start(TimePoint now)
{
    m_started = true;
    m_lastDone = now;
    m_lastActivity = now;
    m_lastDoneMs = m_steps.empty() ? 0 : m_steps.front().ms;
    logLine(text::arg("   replaying %1 line(s) of Com #%2%3", {m_steps.size(), m_port,
                                                              m_options.timing ? " at the recorded timing" : ""}));
    advance(now);
}

int TraceReplay::lineOfOffset(std::size_t offset) const
{
    int line = 0;
    for (const Step& step : m_steps) {
        if (step.kind != Kind::Sent)
            continue;
        if (step.start > offset)
            break;
        line = step.line;
    }
    return line;
}

void TraceReplay::programSent(const Bytes& bytes, TimePoint now)
{
    if (m_finished || bytes.empty())
        return;
    m_lastActivity = now;
    const std::size_t before = m_received.size();
    append(m_received, bytes);
    if (m_received.size() > m_expected.size() && !m_extraReported) {
        m_extraReported = true;
        const std::size_t from = std::max(before, m_expected.size());
        const Bytes extra = slice(m_received, from, 32);
        report(text::arg("!! the program sent more than the trace holds, after line %1 (byte %2 of its output on): "
                         "%3",
                         {lineOfOffset(m_expected.size() - 1), from + 1, hexBytes(extra)}));
    }
    advance(now);
}

void TraceReplay::portOpened(TimePoint now)
{
    ++m_opens;
    logLine(text::arg("   the program opens the port (open %1)", {m_opens}));
    m_openedAt.push_back(now);
    m_lastActivity = now;
    advance(now);
}

void TraceReplay::portClosed(TimePoint now)
{
    ++m_closes;
    logLine(text::arg("   the program closes the port (close %1)", {m_closes}));
    m_lastActivity = now;
    advance(now);
}

void TraceReplay::inputFlushed(TimePoint now, int baud)
{
    ++m_flushes;
    logLine(baud > 0 ? text::arg("   the program's open is done: input discarded, line at %1 baud", {baud})
                     : std::string("   the program's open is done: input discarded"));
    advance(now);
}

void TraceReplay::judge(const Step& step)
{
    const Bytes got = slice(m_received, step.start, step.bytes.size());
    std::size_t first = step.bytes.size();
    for (std::size_t i = 0; i < step.bytes.size(); ++i) {
        if (i >= got.size() || got[i] != step.bytes[i]) {
            ++m_differingBytes;
            first = std::min(first, i);
        }
    }
    if (first == step.bytes.size()) {
        return;
    }
    logLine(text::arg("!! line %1: the program sent %2", {step.line, hexBytes(got)}));
    if (m_firstDifference)
        return;
    m_firstDifference = step.start + first;
    report(text::arg("!! trace line %1, byte %2 (byte %3 of the program's output): expected %4, received %5",
                     {step.line, first + 1, step.start + first + 1, hexBytes(step.bytes),
                      got.empty() ? std::string("nothing") : hexBytes(got)}));
}

std::optional<TraceReplay::TimePoint> TraceReplay::stepDue() const
{
    if (!m_options.timing || m_cursor >= m_steps.size())
        return std::nullopt;
    const long long gap = std::max(0LL, m_steps[m_cursor].ms - m_lastDoneMs);
    return m_lastDone + std::chrono::milliseconds(gap);
}

// When the program's open that these bytes wait for is done; nothing while it has not begun.
std::optional<TraceReplay::TimePoint> TraceReplay::openDue(const Step& step) const
{
    if (!step.afterOpen || step.opens == 0 || m_flushes >= step.opens)
        return TimePoint{};
    if (m_opens < step.opens)
        return std::nullopt;
    // Two opens close together may show as one flush: then the open's own time must do.
    return m_openedAt[std::size_t(step.opens - 1)] + OpenSettle;
}

TraceReplay::TimePoint TraceReplay::stallDeadline() const
{
    const long long gap = m_cursor < m_steps.size() ? std::max(0LL, m_steps[m_cursor].ms - m_lastDoneMs) : 0;
    return std::max(m_lastDone, m_lastActivity) + std::chrono::milliseconds(gap) + StallAllowance;
}

void TraceReplay::complete(TimePoint now)
{
    m_lastDone = now;
    m_lastDoneMs = m_steps[m_cursor].ms;
    ++m_cursor;
}

void TraceReplay::advance(TimePoint now)
{
    if (!m_started || m_finished)
        return;
    while (m_cursor < m_steps.size()) {
        const Step& step = m_steps[m_cursor];
        if (step.kind == Kind::Sent) {
            if (m_received.size() < step.start + step.bytes.size())
                break;
            judge(step);
            complete(now);
            continue;
        }
        if (const auto due = stepDue(); due && now < *due)
            break;
        if (step.kind == Kind::Received) {
            const auto opened = openDue(step);
            if (!opened || now < *opened)
                break;
            logLine(text::arg("-> line %1: %2", {step.line, hexBytes(step.bytes)}));
            m_displayBytes += step.bytes.size();
            send(step.bytes);
        } else if (step.kind == Kind::Opened) {
            logLine(text::arg("   line %1: the trace opens the port (open %2, %3)", {step.line, step.opens, step.settings}));
        } else if (step.kind == Kind::Closed) {
            logLine(text::arg("   line %1: the trace closes the port", {step.line}));
        } else if (step.kind == Kind::DeviceLost) {
            logLine(text::arg("   line %1: the line goes away", {step.line}));
            m_lineGone = true;
            hangUp();
        }
        complete(now);
        if (m_lineGone)
            break;
    }

    if (m_cursor >= m_steps.size() || m_lineGone) {
        // The trace is played: the summary once the program has let go of the port.
        if (m_lineGone || m_closes >= m_opens)
            finish(now);
        return;
    }
    if (now >= stallDeadline()) {
        const Step& step = m_steps[m_cursor];
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - std::max(m_lastDone, m_lastActivity));
        if (step.kind == Kind::Received && !openDue(step))
            finish(now, text::arg("!! trace line %1: the trace opened the port %2 time(s) before this line, the "
                                  "program %3 time(s), and no more for %4 s",
                                  {step.line, step.opens, m_opens, static_cast<long long>(waited.count())}));
        else
            finish(now, text::arg("!! trace line %1: nothing more from the program for %2 s; it sent %3 of the %4 "
                                  "bytes the trace holds up to this line",
                                  {step.line, static_cast<long long>(waited.count()), m_received.size(),
                                   step.start + step.bytes.size()}));
    }
}

std::optional<TraceReplay::TimePoint> TraceReplay::nextDue() const
{
    if (!m_started || m_finished || m_cursor >= m_steps.size())
        return std::nullopt;
    TimePoint due = stallDeadline();
    if (const auto step = stepDue())
        due = std::min(due, *step);
    const Step& step = m_steps[m_cursor];
    if (step.kind == Kind::Received)
        if (const auto opened = openDue(step))
            due = std::min(due, std::max(*opened, m_lastDone));
    return due;
}

void TraceReplay::stop(TimePoint now)
{
    if (m_finished)
        return;
    finish(now, m_cursor < m_steps.size()
                    ? text::arg("!! stopped at trace line %1, before the trace's end", {m_steps[m_cursor].line})
                    : std::string());
}

bool TraceReplay::matched() const
{
    return m_finished && (m_cursor >= m_steps.size() || m_lineGone) && !m_firstDifference &&
           m_received.size() == m_expected.size();
}

void TraceReplay::finish(TimePoint now, const std::string& why)
{
    (void)now;
    if (!why.empty())
        report(why);
    m_finished = true;
    if (matched()) {
        report(text::arg("replay: the program's bytes match the trace (%1 bytes; %2 bytes of the display played)",
                         {m_received.size(), m_displayBytes}));
        return;
    }
    std::vector<std::string> parts;
    if (m_firstDifference)
        parts.push_back(text::arg("first at trace line %1 (byte %2 of the program's output); %3 of %4 bytes differ",
                                  {lineOfOffset(*m_firstDifference), *m_firstDifference + 1, m_differingBytes,
                                   m_expected.size()}));
    if (m_received.size() > m_expected.size())
        parts.push_back(text::arg("%1 bytes more than the trace holds", {m_received.size() - m_expected.size()}));
    if (m_received.size() < m_expected.size())
        parts.push_back(text::arg("%1 of the trace's %2 bytes never came", {m_expected.size() - m_received.size(),
                                                                             m_expected.size()}));
    if (m_cursor < m_steps.size() && !m_lineGone)
        parts.push_back(text::arg("played up to line %1", {m_steps[m_cursor].line}));
    report("replay: the program's bytes differ from the trace: " + text::join(parts, "; "));
}

} // namespace morvandell::sim
