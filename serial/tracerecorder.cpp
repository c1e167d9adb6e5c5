#include "serial/tracerecorder.h"

#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#ifndef MORVANDELL_VERSION
#define MORVANDELL_VERSION "unknown"
#endif

namespace morvandell {

namespace {

#ifdef _WIN32
constexpr const char* Platform = "Windows";
#else
constexpr const char* Platform = "Linux";
#endif

// "2026-12-07T14:03:22.123" in local time.
std::string isoLocal(std::chrono::system_clock::time_point when)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &t);
#else
    ::localtime_r(&t, &local);
#endif
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    return std::string(buffer, n) + "." + text::padded(ms, 3);
}

} // namespace

std::string TraceRecorder::formatLine()
{
    return std::string(FormatName) + ", Format " + std::to_string(FormatVersion);
}

TraceRecorder::TraceRecorder(std::size_t limit)
    : m_limit(limit)
{}

long long TraceRecorder::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start)
        .count();
}

void TraceRecorder::setPort(int number, const std::string& device, const std::string& settings)
{
    m_port = number;
    m_device = device;
    m_settings = settings;
}

void TraceRecorder::setSink(Sink sink)
{
    m_sink = std::move(sink);
    if (m_sink)
        m_sink(header());
}

std::string TraceRecorder::header() const
{
    std::string h;
    h += formatLine() + "\n";
    h += std::string("# Programm: ") + MORVANDELL_VERSION + ", " + Platform + "\n";
    h += "# Port: Com #" + std::to_string(m_port) + ", Gerät: " + m_device + ", Einstellungen: " + m_settings +
         "\n";
    h += "# Beginn: " + isoLocal(m_wallStart) + "\n";
    h += "# ms seit Beginn, > gesendet / < empfangen, Bytes hexadezimal | druckbare Zeichen\n";
    return h;
}

std::string TraceRecorder::describe(const Bytes& bytes)
{
    std::string line;
    appendDescription(line, bytes.data(), bytes.size());
    return line;
}

void TraceRecorder::appendDescription(std::string& line, const Byte* bytes, std::size_t size)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    if (size == 0) {
        line += " ||";
        return;
    }
    // "55 0D |U.|": three characters a byte but the last, " |", one character a byte, "|".
    const std::size_t start = line.size();
    line.resize(start + 3 * size - 1 + 2 + size + 1);
    char* out = &line[start];
    for (std::size_t i = 0; i < size; ++i) {
        const Byte b = bytes[i];
        if (i > 0)
            *out++ = ' ';
        *out++ = Hex[b >> 4];
        *out++ = Hex[b & 0x0F];
    }
    *out++ = ' ';
    *out++ = '|';
    for (std::size_t i = 0; i < size; ++i)
        *out++ = (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? char(bytes[i]) : '.';
    *out++ = '|';
}

void TraceRecorder::record(Direction direction, const Byte* bytes, std::size_t size)
{
    if (size == 0)
        return;
    // Built in one buffer per line: a flood of input must not cost a handful of allocations per line.
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%9lld %s ", elapsedMs(),
                                          direction == Direction::Sent ? ">" : "<");
    for (std::size_t at = 0; at < size; at += BytesPerLine) {
        const std::size_t n = std::min(BytesPerLine, size - at);
        std::string line;
        line.reserve(std::size_t(stampLength) + 4 * n + 3);
        line.append(stamp, std::size_t(stampLength));
        appendDescription(line, bytes + at, n);
        append(std::move(line));
    }
}

void TraceRecorder::noteOpened(int number, const std::string& device, const std::string& settings)
{
    setPort(number, device, settings);
    note(text::arg("geöffnet: Com #%1, %2, %3", {number, device, settings}));
}

void TraceRecorder::noteClosed(int number)
{
    note(text::arg("geschlossen: Com #%1", {number}));
}

void TraceRecorder::note(const std::string& text)
{
    char stamp[32];
    const int n = std::snprintf(stamp, sizeof stamp, "%9lld # ", elapsedMs());
    append(std::string(stamp, std::size_t(n)) + text);
}

void TraceRecorder::append(std::string line)
{
    line += '\n';
    if (m_sink)
        m_sink(line);
    line.shrink_to_fit(); // thousands of lines are kept: no spare capacity in each
    m_size += line.size();
    m_lines.push_back(std::move(line));
    while (m_size > m_limit && !m_lines.empty()) {
        m_size -= m_lines.front().size();
        m_lines.pop_front();
        ++m_dropped;
    }
}

std::string TraceRecorder::text() const
{
    std::string all = header();
    if (m_dropped > 0)
        all += DroppedLinesNote + std::to_string(m_dropped) + " ältere Zeilen nicht mehr gespeichert)\n";
    all.reserve(all.size() + m_size);
    for (const std::string& line : m_lines)
        all += line;
    return all;
}

bool TraceRecorder::save(const std::string& path, std::string* error) const
{
    const std::string all = text();
    std::string why;
    if (!files::writeAtomically(path, Bytes(all.begin(), all.end()), &why)) {
        if (error)
            *error = text::arg("Das Verbindungsprotokoll kann nicht nach %1 geschrieben werden: %2", {path, why});
        return false;
    }
    return true;
}

} // namespace morvandell
