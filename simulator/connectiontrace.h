#pragma once

#include "platform/bytes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvandell::sim {

// A connection trace as the control window ("Verbindungsprotokoll speichern…") and morvandell-cli
// --trace write it (serial/tracerecorder.h), read back for a replay. Version 2 begins with its
// version line; a trace without one is read as version 1 (release 1.2.0) when every line parses.
struct ConnectionTrace
{
    struct Event
    {
        enum class Kind {
            Sent,       // "   123 > 55 05 … |U.…|": bytes the program sent
            Received,   // "   130 < …": bytes the program received (the display sent them)
            Opened,     // "   100 # geöffnet: Com #3, /dev/ttyUSB0, 19200,n,8,1"
            Closed,     // "   900 # geschlossen" (version 1), "… # geschlossen: Com #3" (version 2)
            DeviceLost, // "   500 # Gerät getrennt: …": the line went away under the program
            Note,       // any other note
        };
        Kind kind = Kind::Note;
        int line = 0;       // line number in the file, from 1
        long long ms = 0;   // milliseconds since the trace began
        Bytes bytes;        // Sent, Received
        int port = 0;       // Opened, Closed (0: not named, the port opened last)
        std::string settings; // Opened: the line settings, "9600,n,8,1"
        std::string text;   // notes: the text after "# "
    };

    int version = 0;
    // Its first lines were dropped (the window keeps the newest 10 MB): the line that says so.
    int droppedLinesNote = 0;
    std::vector<Event> events;

    // The trace in `text`; nothing, with *error naming the line, when it is no trace this program reads.
    static std::optional<ConnectionTrace> parse(std::string_view text, std::string* error);
    // The same from a file (UTF-8 path).
    static std::optional<ConnectionTrace> read(const std::string& path, std::string* error);
};

} // namespace morvandell::sim
