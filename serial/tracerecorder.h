#pragma once

#include "platform/bytes.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace morvandell {

// Records every byte a serial port sends and receives, one line per write or read, with the
// milliseconds since recording began, the direction, hex and printable characters. Opening and
// closing the port are noted too. Keeps the newest lines up to a byte limit; a live sink (the
// command-line tool's --trace file) receives every line as it is made.
//
// The text is the connection trace format described in docs/connection-trace.md; its first line names
// the format and its version (FormatLine). morvandell-sim --replay reads it back.
class TraceRecorder
{
public:
    static constexpr std::size_t DefaultLimit = 10 * 1024 * 1024; // the last 10 MB of lines
    static constexpr std::size_t BytesPerLine = 32;               // longer reads and writes wrap
    // The first line of every trace is FormatName, ", Format ", FormatVersion. Version 1 (release
    // 1.2.0) had no such line; version 2 added it and names the port in "geschlossen: Com #n".
    static constexpr const char* FormatName = "Morvandell-Verbindungsprotokoll";
    static constexpr int FormatVersion = 2;
    // Lines dropped from the front of a full trace are counted in a line that begins with this.
    static constexpr const char* DroppedLinesNote = "# (";
    static std::string formatLine();

    enum class Direction { Sent, Received };
    // Receives text (UTF-8), one or more whole lines at a time.
    using Sink = std::function<void(std::string_view)>;

    explicit TraceRecorder(std::size_t limit = DefaultLimit);

    // What the header names: port number, device and line settings of the port being traced.
    void setPort(int number, const std::string& device, const std::string& settings);
    // Every line from now on is also handed to the sink, starting with the header. Empty stops it.
    void setSink(Sink sink);

    void record(Direction direction, const Byte* bytes, std::size_t size);
    void record(Direction direction, const Bytes& bytes) { record(direction, bytes.data(), bytes.size()); }
    void noteOpened(int number, const std::string& device, const std::string& settings);
    void noteClosed(int number);
    void note(const std::string& text);

    // Program version and platform, port, device and line settings, start time.
    std::string header() const;
    // The header and every line kept.
    std::string text() const;
    // Writes text() to the file atomically; false with *error (German) when it cannot be written.
    bool save(const std::string& path, std::string* error) const;

    long long elapsedMs() const;
    std::size_t size() const { return m_size; }

    // One line for the bytes (hex and printable characters), without the time and direction.
    static std::string describe(const Bytes& bytes);

private:
    static void appendDescription(std::string& line, const Byte* bytes, std::size_t size);
    void append(std::string line);

    std::size_t m_limit;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::system_clock::time_point m_wallStart = std::chrono::system_clock::now();
    std::deque<std::string> m_lines;
    std::size_t m_size = 0;
    std::size_t m_dropped = 0;
    Sink m_sink;
    int m_port = 0;
    std::string m_device;
    std::string m_settings;
};

} // namespace morvandell
