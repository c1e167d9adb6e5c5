#pragma once

#include "platform/bytes.h"
#include "platform/signal.h"
#include "loop/eventloop.h"
#include "serial/linesettings.h"
#include "serial/lowlatency.h"
#include "serial/portdirectory.h"
#include "serial/serialdevice.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace morvandell {

class TraceRecorder;

// Error numbers reported by the serial-port service.
namespace SerialError {
constexpr int None = 0;
constexpr int NoDevice = 8002;        // no device behind that port number
constexpr int AlreadyOpen = 8005;     // operation needs a closed port
constexpr int Unavailable = 8012;     // device exists but cannot be opened now (busy, locked, no permission)
constexpr int InvalidSettings = 8015; // settings text malformed
constexpr int NotOpen = 8018;         // operation needs an open port
constexpr int OpenFailed = 8020;      // any other open failure (lastErrorText() tells)
constexpr int WriteFailed = 8021;     // the port refused the bytes
constexpr int DeviceGone = 8022;      // the device went away while the port was open
} // namespace SerialError

// One serial port of one window (the windows' MSComm1): port number, line settings, open and close, raw
// bytes out and in, and the receive notification. The port's input wakes the event loop by itself:
// received() is raised from the loop as soon as a byte is waiting. All calls and notifications happen on
// the loop's thread.
class SerialService
{
public:
    using Cause = OpenFailure::Cause;

    SerialService(EventLoop& loop, std::shared_ptr<const PortDirectory> directory);
    ~SerialService();
    SerialService(const SerialService&) = delete;
    SerialService& operator=(const SerialService&) = delete;

    // Port number. Changing the number of an open port closes that port first.
    void setCommPort(int number);
    int commPort() const { return m_commPort; }

    // Applies from the next open. Returns false (error 8015) for malformed text, keeping the old settings.
    // The event character stays as it was.
    bool setSettings(std::string_view text);
    // The event character of the line settings (see LineSettings::eventChar); applies from the next open.
    void setEventChar(std::optional<Byte> eventChar) { m_settings.eventChar = eventChar; }
    const LineSettings& settings() const { return m_settings; }

    // Opens port commPort() with the current settings and discards stale input.
    bool open();
    // Lets every written byte leave the port, then closes. Closing a closed port does nothing.
    void close();
    bool isOpen() const { return m_device != nullptr; }

    // Hands the bytes to the port unchanged, in order. False when the port is closed or refuses them.
    bool output(const Bytes& bytes) { return output(bytes.data(), bytes.size()); }
    bool output(const Byte* data, std::size_t size);
    // Every received byte not yet read.
    Bytes input();
    // Sleeps in the kernel until input arrives or `limit` passes, without running the event loop; input
    // that arrives is announced through received() before this returns. For answers that come at once:
    // keep the limit short, the window does not repaint meanwhile.
    bool waitForInput(std::chrono::milliseconds limit);
    // Blocks until every byte handed to output() has left the port (or the device failed).
    bool drain();

    // The error number an open failing for `cause` reports: 8012 for a busy port and for no permission.
    static int errorFor(Cause cause);

    int lastError() const { return m_lastError; }
    const std::string& lastErrorText() const { return m_lastErrorText; }
    Cause lastCause() const { return m_lastCause; }
    // What the driver said to the low-latency request of the last successful open.
    LowLatency::Outcome lowLatency() const { return m_lowLatency; }
    std::string devicePath() const;
    std::shared_ptr<const PortDirectory> directory() const { return m_directory; }
    EventLoop& loop() const { return m_loop; }

    // German explanation of the last failure, naming the port, with cause and remedy, for messages.
    std::string describeLastError() const;

    // Every byte sent and received from now on is recorded there (not owned; nullptr stops it).
    void setTrace(TraceRecorder* trace) { m_trace = trace; }
    TraceRecorder* trace() const { return m_trace; }

    // Received data is waiting (the receive notification, OnComm).
    Signal<> received;
    // The device vanished while the port was open: the port is closed now. Raised once per loss, from
    // the event loop.
    Signal<const std::string&> deviceLost;

private:
    void fail(int number, std::string text, Cause cause = Cause::Other);
    void takeInput();
    void lose(const std::string& reason);
    void closeDevice();

    EventLoop& m_loop;
    std::shared_ptr<const PortDirectory> m_directory;
    std::unique_ptr<SerialDevice> m_device;
    int m_watch = 0;
    Bytes m_input;
    int m_commPort = 1;
    LineSettings m_settings;
    int m_lastError = SerialError::None;
    std::string m_lastErrorText;
    Cause m_lastCause = Cause::None;
    bool m_lost = false;
    TraceRecorder* m_trace = nullptr;
    LowLatency::Outcome m_lowLatency = LowLatency::Outcome::NotRequested;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true); // for tasks posted to the loop
};

} // namespace morvandell
