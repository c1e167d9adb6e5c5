#pragma once

#include "platform/bytes.h"
#include "loop/eventloop.h"
#include "serial/linesettings.h"
#include "serial/lowlatency.h"

#include <chrono>
#include <memory>
#include <string>

namespace morvandell {

// Why a device did not open.
struct OpenFailure
{
    enum class Cause {
        None,
        Busy,         // another program holds it
        NoPermission, // the user may not open it
        Missing,      // there is no such device (not plugged in, wrong name)
        Settings,     // it opened, but refused the line settings
        Other,        // the driver failed
    };
    Cause cause = Cause::None;
    std::string text; // German, what the system said, for messages ("Zugriff verweigert", ...)
    int systemError = 0; // errno or GetLastError(), for diagnostics
};

// One open serial device: the operating system's port (unix/, windows/) or the demo display. Every call
// comes from the program's one thread; a backend that reads on a thread of its own hands the bytes over
// through readHandle().
class SerialDevice
{
public:
    virtual ~SerialDevice() = default;

    // Becomes readable (POSIX) or signalled (Windows) when takeInput() has something to take: received
    // bytes, or the news that the device is gone.
    virtual WaitHandle readHandle() const = 0;

    // Appends every byte received and not yet taken to `out`; never blocks. False once the device has
    // gone away (unplugged, the other end closed, a driver error), with *reason in German; bytes that
    // came before are still appended first.
    virtual bool takeInput(Bytes& out, std::string* reason) = 0;

    // A write or drain waits at most the line time of what it waits for, plus this.
    static constexpr std::chrono::milliseconds Slack{1000};

    // Hands all bytes to the driver in order and returns once the driver has taken them (not once they
    // have left the port): a POSIX write() took the last byte, a Windows write completed. It waits at
    // most the line time of these bytes and of what the driver still held before them, plus Slack.
    // False with *error (German) when the device refuses them or does not take them in time: the
    // failure belongs to these bytes, never to a later write.
    virtual bool write(const Byte* data, std::size_t size, std::string* error) = 0;

    // Waits until every written byte has left the driver's output queue, at most the line time of what
    // it holds plus Slack. False with *error (German) when the device failed or the time ran out.
    // Closing (the destructor) never waits: whatever a drain could not send is discarded.
    virtual bool drain(std::string* error) = 0;

    // Sleeps in the kernel until input is there or `limit` passes, without running the event loop.
    // True when input is there.
    virtual bool waitForInput(std::chrono::milliseconds limit) = 0;

    // What the driver said to the low-latency request made when the device opened.
    virtual LowLatency::Outcome lowLatency() const { return LowLatency::Outcome::NotAvailable; }
};

// Opens devices by name: "/dev/ttyUSB0" on Linux, "COM3" on Windows, a demo display's name.
class SerialBackend
{
public:
    virtual ~SerialBackend() = default;

    // Opens the device with the line settings, exclusively, input discarded. Nothing (with *failure) when
    // it cannot be opened or refuses the settings.
    virtual std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                               OpenFailure* failure) = 0;

    // Whether the device is there now (a file that exists, a COM port the system knows).
    virtual bool exists(const std::string& device) const = 0;

    // The operating system's serial ports (unix/serialport.cpp, windows/serialport.cpp).
    static SerialBackend& system();
};

} // namespace morvandell
