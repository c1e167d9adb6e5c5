#pragma once

#include "simulator/tracereplay.h"

#include <string>

namespace morvandell::sim {

// A trace replay behind a pseudo-terminal, on the calling thread. The program opens devicePath() as
// its serial port. What the program sends comes from the master end; its opens and closes of the
// device from inotify; the discarding of its input at each open from the master's packet mode.
class ReplayHost
{
public:
    explicit ReplayHost(TraceReplay& replay);
    ~ReplayHost();
    ReplayHost(const ReplayHost&) = delete;
    ReplayHost& operator=(const ReplayHost&) = delete;

    // Opens the pseudo-terminal. False with *error on failure.
    bool open(std::string* error);
    const std::string& devicePath() const { return m_path; }

    // Runs the replay until it has finished, or until `quit` (a descriptor) becomes readable: then it
    // is stopped where it stands.
    void run(int quit);

private:
    void readMaster();
    void readWatch();
    void flushOutput();
    void closeLine();
    int baud() const; // the program's line speed now

    TraceReplay& m_replay;
    int m_master = -1;
    int m_slave = -1; // kept open: the program may close and reopen its side at any time
    int m_watch = -1; // inotify
    std::string m_path;
    Bytes m_out;      // display bytes the master has not taken yet
    Bytes m_data;     // the program's bytes of this pass
    int m_flushed = 0;
    int m_opened = 0;
    int m_closed = 0;
};

} // namespace morvandell::sim
