#pragma once

#include "serial/linesettings.h"
#include "serial/portdirectory.h"

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace morvandell {

// The port list's one rule, for the start-up scan and for every later look at the ports (the control
// window's list each time it drops down): a number of the directory is listed when an open attempt of
// its device succeeds or reports 8012 (busy, or no permission), and the device is closed again at once.
//
// The attempts run side by side, one thread each, so that the caller waits as long as the slowest
// single open takes (Bluetooth serial ports take seconds), and at most the time limit. An attempt that
// has not returned by then has answered neither way: its number is not listed, since nothing says that
// the port is busy, and a port that slow to open would hold the window up at Connect as well. Such an
// attempt ends on its own thread and closes what it opened; until then its device is not tried again.
class PortList
{
public:
    // Wired adapters open within milliseconds; a Bluetooth port whose device is out of reach takes
    // several seconds to fail.
    static constexpr std::chrono::milliseconds OpenTimeLimit{2000};

    enum class Note {
        None,
        Busy,         // 8012: another program holds the port
        NoPermission, // 8012: the user may not open it
    };

    struct Entry
    {
        int number = 0;
        Note note = Note::None;
        std::string toolTip; // the directory's tool tip, and the note on a line of its own
    };

    // The listed numbers in ascending order, opened with `settings`. The numbers in `kept` (the entry
    // the user has selected) are listed whatever their attempt says; `openHere`, a port the caller holds
    // open itself, is listed without being opened again.
    static std::vector<Entry> scan(const PortDirectory& directory, const LineSettings& settings,
                                   const std::set<int>& kept = {}, int openHere = 0,
                                   std::chrono::milliseconds limit = OpenTimeLimit);

    // The same scan, its attempts started now and running while the caller does other things (the
    // window is built meanwhile); list() waits for them, the time limit counting from the start. The
    // directory must outlive it.
    class Pending
    {
    public:
        std::vector<Entry> list();
        struct Round; // the attempts, shared with their threads

    private:
        friend class PortList;
        Pending(const PortDirectory& directory, std::set<int> kept, std::shared_ptr<Round> round,
                std::chrono::steady_clock::time_point deadline);
        const PortDirectory* m_directory;
        std::set<int> m_kept;
        std::shared_ptr<Round> m_round;
        std::chrono::steady_clock::time_point m_deadline;
    };
    static Pending start(const PortDirectory& directory, const LineSettings& settings,
                         const std::set<int>& kept = {}, int openHere = 0,
                         std::chrono::milliseconds limit = OpenTimeLimit);

    // "(belegt)", "(keine Berechtigung)", or nothing.
    static std::string noteText(Note note);
};

} // namespace morvandell
