#include "simulator/connectiontrace.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/tracerecorder.h"

namespace morvandell::sim {

namespace {

// A trace of a whole firmware update is well under 1 MB; the window keeps at most 10 MB.
constexpr std::uintmax_t MaxTraceBytes = 64 * 1024 * 1024;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "55 05 00 |U..|": the bytes before the printable part (which is not read: an edited byte counts).
std::optional<Bytes> hexBytes(std::string_view text)
{
    const std::size_t bar = text.find(" |");
    if (bar != std::string_view::npos)
        text = text.substr(0, bar);
    Bytes bytes;
    for (const std::string& token : text::split(text, ' ')) {
        if (token.size() != 2 || hexDigit(token[0]) < 0 || hexDigit(token[1]) < 0)
            return std::nullopt;
        bytes.push_back(Byte(hexDigit(token[0]) * 16 + hexDigit(token[1])));
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

// "Com #3" at the start of text: the number, and what follows.
std::optional<int> portNumber(std::string_view text, std::string_view* rest)
{
    if (!text::startsWith(text, "Com #"))
        return std::nullopt;
    text.remove_prefix(5);
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const auto number = text::toInteger(text.substr(0, digits));
    if (!number || *number < 0 || *number > 99)
        return std::nullopt;
    *rest = text.substr(digits);
    return int(*number);
}

// One note: what it says about the port.
void readNote(const std::string& note, ConnectionTrace::Event* event)
{
    using Kind = ConnectionTrace::Event::Kind;
    event->text = note;
    std::string_view rest;
    if (text::startsWith(note, "geöffnet: ")) {
        // "geöffnet: Com #3, /dev/pts/5, 19200,n,8,1": the settings hold no ", ".
        const auto port = portNumber(std::string_view(note).substr(std::string_view("geöffnet: ").size()), &rest);
        const std::size_t last = note.rfind(", ");
        if (port && last != std::string::npos) {
            event->kind = Kind::Opened;
            event->port = *port;
            event->settings = note.substr(last + 2);
        }
    } else if (note == "geschlossen") {
        event->kind = Kind::Closed;
    } else if (text::startsWith(note, "geschlossen: ")) {
        const auto port = portNumber(std::string_view(note).substr(std::string_view("geschlossen: ").size()), &rest);
        if (port && rest.empty()) {
            event->kind = Kind::Closed;
            event->port = *port;
        }
    } else if (text::startsWith(note, "Gerät getrennt")) {
        event->kind = Kind::DeviceLost;
    }
}

// A line of the trace's body: "<ms> > <hex> |<chars>|", "<ms> < …" or "<ms> # <note>".
bool readLine(std::string_view line, ConnectionTrace::Event* event)
{
    using Kind = ConnectionTrace::Event::Kind;
    std::size_t at = 0;
    while (at < line.size() && line[at] == ' ')
        ++at;
    const std::size_t digits = at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9')
        ++at;
    const auto ms = text::toInteger(line.substr(digits, at - digits));
    if (!ms || at + 3 > line.size() || line[at] != ' ' || line[at + 2] != ' ')
        return false;
    event->ms = *ms;
    const char mark = line[at + 1];
    const std::string_view rest = line.substr(at + 3);
    if (mark == '#') {
        readNote(std::string(rest), event);
        return true;
    }
    if (mark != '>' && mark != '<')
        return false;
    const auto bytes = hexBytes(rest);
    if (!bytes)
        return false;
    event->kind = mark == '>' ? Kind::Sent : Kind::Received;
    event->bytes = *bytes;
    return true;
}

std::string shown(std::string_view line)
{
    const std::string cut = text::left(line, 60);
    return "\"" + cut + (cut.size() < line.size() ? "…" : "") + "\"";
}

} // namespace

std::optional<ConnectionTrace> ConnectionTrace::parse(std::string_view text, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (text::startsWith(text, "\xEF\xBB\xBF"))
        text.remove_prefix(3); // an editor's byte order mark
    ConnectionTrace trace;
    trace.version = 1;
    std::vector<std::string> lines = text::split(text, '\n');
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r')
            line.pop_back(); // saved again by a Windows editor
    if (lines.empty())
        return fail("the file is empty: no connection trace");

    const std::string name = TraceRecorder::FormatName;
    std::size_t first = 0;
    if (text::startsWith(lines[0], name)) {
        const std::string prefix = name + ", Format ";
        const auto version = text::startsWith(lines[0], prefix)
                                 ? text::toInteger(std::string_view(lines[0]).substr(prefix.size()))
                                 : std::nullopt;
        if (!version || *version < 1)
            return fail("line 1 is not a version line (\"" + TraceRecorder::formatLine() + "\"): " +
                        shown(lines[0]));
        if (*version > TraceRecorder::FormatVersion)
            return fail(text::arg("the trace is in format %1, newer than this morvandell-sim reads (format %2, "
                                  "release %3): replay it with the release that wrote it, or a newer one",
                                  {*version, TraceRecorder::FormatVersion, MORVANDELL_VERSION}));
        trace.version = int(*version);
        first = 1;
    }

    for (std::size_t i = first; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int number = int(i + 1);
        if (line.empty())
            continue;
        if (line[0] == '#') {
            if (text::startsWith(line, TraceRecorder::DroppedLinesNote) && !trace.droppedLinesNote)
                trace.droppedLinesNote = number;
            continue; // the header
        }
        Event event;
        event.line = number;
        if (!readLine(line, &event)) {
            if (trace.version == 1)
                return fail(text::arg("the file has no version line, and its line %1 is no line of a connection "
                                      "trace of release 1.2.0 either: %2",
                                      {number, shown(line)}));
            return fail(text::arg("line %1 is no line of a connection trace: %2", {number, shown(line)}));
        }
        trace.events.push_back(std::move(event));
    }
    return trace;
}

std::optional<ConnectionTrace> ConnectionTrace::read(const std::string& path, std::string* error)
{
    std::string why;
    const std::optional<Bytes> content = files::readAll(path, MaxTraceBytes, &why);
    if (!content) {
        if (error)
            *error = "cannot read " + path + ": " + why;
        return std::nullopt;
    }
    std::string problem;
    auto trace = parse(charsOf(*content), &problem);
    if (!trace && error)
        *error = path + ": " + problem;
    return trace;
}

} // namespace morvandell::sim
