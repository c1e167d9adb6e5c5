#pragma once

#include <functional>
#include <string>

namespace morvandell {

// Low-latency mode of a serial port's driver. USB adapters hold a short answer back for their latency
// timer (FTDI: 16 ms by default) before passing it on; with the driver's low-latency flag set they pass
// it on after 1 ms. On Linux the flag is set through TIOCGSERIAL/TIOCSSERIAL on the open descriptor,
// without root rights. On Windows the latency is a driver setting that a program does not change.
class LowLatency
{
public:
    enum class Outcome {
        NotRequested, // no port opened yet
        Set,          // the flag is set now
        AlreadySet,   // the driver had it set already
        Unsupported,  // the driver refuses the request (pseudo-terminals, some drivers)
        NotAvailable, // this system has no such request
    };

    // Asks the driver behind the open descriptor for low latency. Never fails the open.
    static Outcome request(int fd);

    // Replaces request() for tests; an empty function restores it.
    using Hook = std::function<Outcome(int fd)>;
    static void setHook(Hook hook);

    // German, one line: what the outcome means for the acknowledgement delay.
    static std::string describe(Outcome outcome);

private:
    static Hook& hook();
};

} // namespace morvandell
