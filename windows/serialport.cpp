// Serial ports on Windows: \\.\COMn opened exclusively for overlapped I/O; one I/O thread per port does
// every read and write, so that a read that waits never holds a write back (Windows serializes
// synchronous calls on one handle; Wine does not, which would hide that deadlock). The thread reads one
// byte at a time while the line is quiet and everything queued as soon as the driver holds more, so an
// answer is passed on the moment its first byte arrives, and hands the bytes to the program's thread
// through a manual-reset event that the event loop waits on. Comm events are not used: Wine's
// WaitCommEvent does not work on every port it offers (pseudo-terminals).
#include "windows/serialport.h"

#include "platform/text.h"
#include "windows/ftdilatency.h"
#include "windows/wide.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <windows.h>

namespace morvandell {

namespace win {

namespace {

OpenErrorHook& openErrorHook()
{
    static OpenErrorHook hook;
    return hook;
}

std::string withError(const std::string& text, unsigned long error)
{
    return text::arg("%1 (Fehler %2: %3)", {text, static_cast<long long>(error), systemMessage(error)});
}

} // namespace

void setOpenErrorHook(OpenErrorHook hook)
{
    openErrorHook() = std::move(hook);
}

std::string devicePathOf(const std::string& port)
{
    if (port.find('\\') != std::string::npos)
        return port;
    return "\\\\.\\" + port;
}

OpenFailure openFailureFor(const std::string& port, unsigned long error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return {OpenFailure::Cause::Busy, withError("belegt: ein anderes Programm benutzt " + port, error), int(error)};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        return {OpenFailure::Cause::Missing, withError(port + " existiert nicht", error), int(error)};
    default:
        return {OpenFailure::Cause::Other, withError("Treiberfehler beim Öffnen von " + port, error), int(error)};
    }
}

std::string lostReasonFor(unsigned long error)
{
    switch (error) {
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_FUNCTION:
    case ERROR_FILE_NOT_FOUND:
        return withError("die Leitung wurde getrennt: Gerät entfernt oder Gegenstelle geschlossen", error);
    default:
        return withError("Lesefehler", error);
    }
}

std::vector<std::pair<std::string, std::string>> serialCommPorts()
{
    std::vector<std::pair<std::string, std::string>> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = DWORD(std::size(name));
        wchar_t data[256];
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                       &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        std::wstring value(data, dataBytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0')
            value.pop_back();
        if (!value.empty())
            ports.emplace_back(narrow(std::wstring_view(name, nameLength)), narrow(value));
    }
    ::RegCloseKey(key);
    return ports;
}

} // namespace win

namespace {

// Reads return after this long without input, so the thread looks at the line's state that often.
constexpr DWORD QuietReadLimitMs = 200;
// Between two bytes of one read (reads ask only for what the driver holds, so this hardly applies).
constexpr DWORD ReadIntervalMs = 10;
// A write may take its bytes' time on the line twice over, plus this.
constexpr DWORD WriteSlackMs = 2000;
constexpr std::size_t ReadChunk = 4096;

class WinSerialDevice final : public SerialDevice
{
public:
    WinSerialDevice(HANDLE port, std::string name, std::int32_t baudRate, LowLatency::Outcome lowLatency)
        : m_port(port)
        , m_name(std::move(name))
        , m_baudRate(baudRate > 0 ? baudRate : 9600)
        , m_lowLatency(lowLatency)
        , m_inputEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , m_stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , m_writeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
    {}

    bool start()
    {
        if (!m_inputEvent || !m_stopEvent || !m_writeEvent)
            return false;
        try {
            m_thread = std::thread([this] { run(); });
        } catch (...) {
            return false;
        }
        return true;
    }

    ~WinSerialDevice() override
    {
        if (m_thread.joinable()) {
            drain();
            ::SetEvent(m_stopEvent);
            m_thread.join();
        }
        ::CloseHandle(m_port);
        for (HANDLE h : {m_inputEvent, m_stopEvent, m_writeEvent})
            if (h)
                ::CloseHandle(h);
    }

    WaitHandle readHandle() const override { return m_inputEvent; }

    bool takeInput(Bytes& out, std::string* reason) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        out.insert(out.end(), m_input.begin(), m_input.end());
        m_input.clear();
        if (m_gone) {
            if (reason)
                *reason = m_reason;
            return false; // the event stays signalled: the news is there until the port is closed
        }
        ::ResetEvent(m_inputEvent);
        return true;
    }

    bool write(const Byte* data, std::size_t size, std::string* error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_gone || !m_writeError.empty()) {
            if (error)
                *error = m_gone ? m_reason : m_writeError;
            m_writeError.clear();
            return false;
        }
        append(m_output, data, size);
        ::SetEvent(m_writeEvent);
        return true;
    }

    bool drain() override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const auto pending = m_output.size() + m_writing;
            const auto limit = std::chrono::milliseconds(writeLimitMs(pending) + WriteSlackMs);
            if (!m_written.wait_for(lock, limit, [this] { return m_gone || (m_output.empty() && m_writing == 0); }))
                return false;
            if (m_gone || !m_writeError.empty())
                return false;
        }
        // Every byte is with the driver; this returns once the driver has sent them.
        return ::FlushFileBuffers(m_port) != 0;
    }

    bool waitForInput(std::chrono::milliseconds limit) override
    {
        return ::WaitForSingleObject(m_inputEvent, DWORD(std::max<long long>(0, limit.count()))) == WAIT_OBJECT_0;
    }

    LowLatency::Outcome lowLatency() const override { return m_lowLatency; }

private:
    // Twice the bytes' time on the line at the port's speed (10 bits a byte).
    DWORD writeLimitMs(std::size_t bytes) const
    {
        const unsigned long long ms = 2ull * 10000ull * bytes / unsigned(m_baudRate) + 1;
        return DWORD(std::min<unsigned long long>(ms, 0x7FFFFFFF));
    }

    void lose(DWORD error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_gone) {
            m_gone = true;
            m_reason = win::lostReasonFor(error);
        }
        m_output.clear();
        m_writing = 0;
        ::SetEvent(m_inputEvent);
        m_written.notify_all();
    }

    void deliver(const Byte* data, DWORD size)
    {
        if (size == 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        append(m_input, data, size);
        ::SetEvent(m_inputEvent);
    }

    // The I/O thread: at most one read and one write outstanding at any time.
    void run()
    {
        OVERLAPPED readOv{};
        OVERLAPPED writeOv{};
        readOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!readOv.hEvent || !writeOv.hEvent) {
            lose(::GetLastError());
            for (HANDLE h : {readOv.hEvent, writeOv.hEvent})
                if (h)
                    ::CloseHandle(h);
            return;
        }
        Byte readBuffer[ReadChunk];
        Bytes writeBuffer;
        bool reading = false;
        bool writing = false;

        for (;;) {
            bool progressed = false; // a call that completed at once: go round again without sleeping
            if (!reading) {
                // What the driver holds now decides how much to ask for; a failure here is a lost line
                // (Wine answers a closed peer's reads with 0 bytes forever, but fails this call).
                DWORD errors = 0;
                COMSTAT status{};
                if (!::ClearCommError(m_port, &errors, &status)) {
                    lose(::GetLastError());
                    break;
                }
                const DWORD want = status.cbInQue ? std::min<DWORD>(status.cbInQue, ReadChunk) : 1;
                ::ResetEvent(readOv.hEvent);
                DWORD got = 0;
                if (::ReadFile(m_port, readBuffer, want, &got, &readOv)) {
                    deliver(readBuffer, got);
                    progressed = got > 0;
                } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
                    reading = true;
                } else if (error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
                    lose(error);
                    break;
                }
            }
            if (!writing) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (writeBuffer.empty() && !m_output.empty()) {
                        writeBuffer.swap(m_output);
                        m_writing = writeBuffer.size();
                    }
                }
                if (!writeBuffer.empty()) {
                    ::ResetEvent(writeOv.hEvent);
                    DWORD done = 0;
                    if (::WriteFile(m_port, writeBuffer.data(), DWORD(writeBuffer.size()), &done, &writeOv)) {
                        written(writeBuffer, done);
                        progressed = true;
                    } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
                        writing = true;
                    } else {
                        lose(error);
                        break;
                    }
                }
            }
            if (progressed) {
                if (::WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
                    break;
                continue;
            }

            HANDLE handles[4] = {m_stopEvent, m_writeEvent};
            DWORD count = 2;
            if (reading)
                handles[count++] = readOv.hEvent;
            if (writing)
                handles[count++] = writeOv.hEvent;
            // Without a read outstanding (one that timed out at once) look again after a short rest.
            const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, reading ? INFINITE : ReadIntervalMs);
            if (result == WAIT_OBJECT_0)
                break;
            if (result == WAIT_FAILED) {
                lose(::GetLastError());
                break;
            }
            if (reading && ::WaitForSingleObject(readOv.hEvent, 0) == WAIT_OBJECT_0) {
                reading = false;
                DWORD got = 0;
                if (::GetOverlappedResult(m_port, &readOv, &got, FALSE)) {
                    deliver(readBuffer, got); // 0 bytes: the quiet limit passed
                } else if (const DWORD error = ::GetLastError();
                           error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
                    lose(error);
                    break;
                }
            }
            if (writing && ::WaitForSingleObject(writeOv.hEvent, 0) == WAIT_OBJECT_0) {
                writing = false;
                DWORD done = 0;
                if (!::GetOverlappedResult(m_port, &writeOv, &done, FALSE)) {
                    lose(::GetLastError());
                    break;
                }
                written(writeBuffer, done);
            }
        }

        // Ending (stop, or the line is lost): nothing may be left outstanding on the buffers here.
        if (reading || writing) {
            ::CancelIoEx(m_port, nullptr);
            DWORD ignored = 0;
            if (reading)
                ::GetOverlappedResult(m_port, &readOv, &ignored, TRUE);
            if (writing)
                ::GetOverlappedResult(m_port, &writeOv, &ignored, TRUE);
        }
        ::CloseHandle(readOv.hEvent);
        ::CloseHandle(writeOv.hEvent);
    }

    // A write finished with `done` bytes of `buffer`: the rest goes out next. When the port took nothing
    // before its time limit the write is given up and the next write() or drain() says so.
    void written(Bytes& buffer, DWORD done)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (done == 0 && !buffer.empty()) {
            m_writeError = "der Port nimmt keine Daten an (Zeitüberschreitung)";
            buffer.clear();
            m_output.clear();
            m_writing = 0;
            m_written.notify_all();
            return; // the line itself may still work: keep reading
        }
        buffer.erase(buffer.begin(), buffer.begin() + std::min<std::size_t>(done, buffer.size()));
        if (buffer.empty() && m_output.empty())
            m_writing = 0;
        else
            m_writing = buffer.size() + m_output.size();
        m_written.notify_all();
    }

    HANDLE m_port;
    std::string m_name;
    std::int32_t m_baudRate;
    LowLatency::Outcome m_lowLatency;
    HANDLE m_inputEvent;
    HANDLE m_stopEvent;
    HANDLE m_writeEvent;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_written;
    Bytes m_input;              // received, not yet taken
    Bytes m_output;             // handed to write(), not yet to the driver
    std::size_t m_writing = 0;  // bytes with the I/O thread (queued or in a write), for drain()
    bool m_gone = false;
    std::string m_reason;
    std::string m_writeError;
};

bool configure(HANDLE port, const LineSettings& s, std::string* why)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        *why = "Leitungseinstellungen nicht lesbar: " + win::systemMessage(::GetLastError());
        return false;
    }
    dcb.BaudRate = DWORD(s.baudRate);
    dcb.ByteSize = BYTE(s.dataBits);
    switch (s.parity) {
    case LineSettings::Parity::None: dcb.Parity = NOPARITY; break;
    case LineSettings::Parity::Even: dcb.Parity = EVENPARITY; break;
    case LineSettings::Parity::Odd: dcb.Parity = ODDPARITY; break;
    case LineSettings::Parity::Mark: dcb.Parity = MARKPARITY; break;
    case LineSettings::Parity::Space: dcb.Parity = SPACEPARITY; break;
    }
    switch (s.stopBits) {
    case LineSettings::StopBits::One: dcb.StopBits = ONESTOPBIT; break;
    case LineSettings::StopBits::OneAndHalf: dcb.StopBits = ONE5STOPBITS; break;
    case LineSettings::StopBits::Two: dcb.StopBits = TWOSTOPBITS; break;
    }
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != LineSettings::Parity::None;
    // No flow control of any kind; DTR and RTS on, as an adapter expects of an open port.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // The event character: an FTDI adapter passes what it holds on at once when it receives it, instead
    // of waiting for its latency timer; other drivers keep it for a comm event this port never waits for.
    if (s.eventChar)
        dcb.EvtChar = char(*s.eventChar);
    if (!::SetCommState(port, &dcb)) {
        *why = text::arg("Leitungseinstellungen %1 nicht möglich: %2",
                         {s.toString(), win::systemMessage(::GetLastError())});
        return false;
    }
    // A driver that cannot do a speed may take it and set another: what it reads back is what it does.
    DCB now{};
    now.DCBlength = sizeof now;
    if (::GetCommState(port, &now) && now.BaudRate != dcb.BaudRate) {
        *why = text::arg("Baudrate %1 nicht möglich: der Treiber stellt %2 ein",
                         {s.baudRate, static_cast<long long>(now.BaudRate)});
        return false;
    }
    ::SetupComm(port, 4096, 4096); // a request: drivers may keep their own sizes
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = ReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = QuietReadLimitMs;
    timeouts.WriteTotalTimeoutMultiplier = DWORD(2 * 10000 / std::max(1, int(s.baudRate)) + 1);
    timeouts.WriteTotalTimeoutConstant = WriteSlackMs;
    if (!::SetCommTimeouts(port, &timeouts)) {
        *why = "Zeitgrenzen nicht einstellbar: " + win::systemMessage(::GetLastError());
        return false;
    }
    return true;
}

bool sameName(const std::string& a, const std::string& b)
{
    return text::equalsIgnoringAsciiCase(a, b);
}

class WinSerialBackend final : public SerialBackend
{
public:
    std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                       OpenFailure* failure) override
    {
        auto fail = [&](OpenFailure f) -> std::unique_ptr<SerialDevice> {
            if (failure)
                *failure = std::move(f);
            return nullptr;
        };
        if (const auto& hook = win::openErrorHook(); hook)
            if (const unsigned long error = hook(device))
                return fail(win::openFailureFor(device, error));

        const std::wstring path = win::widen(win::devicePathOf(device));
        HANDLE port = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE)
            return fail(win::openFailureFor(device, ::GetLastError()));

        // A port name whose device has gone (Wine keeps such names) opens, and then refuses every call.
        DCB probe{};
        probe.DCBlength = sizeof probe;
        if (!::GetCommState(port, &probe)) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(port);
            if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_READY || error == ERROR_BAD_COMMAND)
                return fail({OpenFailure::Cause::Missing,
                             text::arg("%1: kein Gerät dahinter (Fehler %2: %3)",
                                       {device, static_cast<long long>(error), win::systemMessage(error)}),
                             int(error)});
            return fail({OpenFailure::Cause::Other,
                         text::arg("%1 ist keine serielle Schnittstelle (Fehler %2: %3)",
                                   {device, static_cast<long long>(error), win::systemMessage(error)}),
                         int(error)});
        }
        std::string why;
        if (!configure(port, settings, &why)) {
            ::CloseHandle(port);
            return fail({OpenFailure::Cause::Settings, why, 0});
        }
        // Input from before the open is stale; output of an earlier owner is not ours to send.
        ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

        // An FTDI adapter whose latency timer is at 1 ms passes answers on at once; any other value is
        // the driver's setting, described, not changed.
        LowLatency::Outcome lowLatency = LowLatency::request(-1);
        if (lowLatency == LowLatency::Outcome::NotAvailable)
            if (const auto timer = win::ftdiLatencyTimer(device); timer && *timer <= 1)
                lowLatency = LowLatency::Outcome::AlreadySet;

        auto opened = std::make_unique<WinSerialDevice>(port, device, settings.baudRate, lowLatency);
        if (!opened->start())
            return fail({OpenFailure::Cause::Other, "kein Lese-Thread für " + device + " möglich", 0});
        return opened;
    }

    bool exists(const std::string& device) const override
    {
        if (device.empty())
            return false;
        for (const auto& [kernelName, port] : win::serialCommPorts())
            if (sameName(port, device))
                return true;
        const std::wstring name = win::widen(device);
        wchar_t target[1024];
        if (device.find('\\') == std::string::npos && ::QueryDosDeviceW(name.c_str(), target, DWORD(std::size(target))))
            return true;
        // Ports the system does not list (Wine's mapped devices, some virtual ports): it is there when
        // opening it finds something, even something that is busy.
        const std::wstring path = win::widen(win::devicePathOf(device));
        HANDLE port = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (port != INVALID_HANDLE_VALUE) {
            ::CloseHandle(port);
            return true;
        }
        const DWORD error = ::GetLastError();
        return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
    }
};

} // namespace

SerialBackend& SerialBackend::system()
{
    static WinSerialBackend backend;
    return backend;
}

} // namespace morvandell
