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
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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
    WinSerialDevice(HANDLE port, std::string name, const LineSettings& settings, LowLatency::Outcome lowLatency)
        : m_io(std::make_shared<Io>(port))
        , m_name(std::move(name))
        , m_settings(settings)
        , m_lowLatency(lowLatency)
    {}

    bool start()
    {
        if (!m_io->inputEvent || !m_io->stopEvent || !m_io->writeEvent || !m_io->endedEvent)
            return false;
        try {
            m_thread = std::thread([io = m_io] { run(*io); });
        } catch (...) {
            return false;
        }
        return true;
    }

    ~WinSerialDevice() override
    {
        // Whatever a drain could not send is given up, and the I/O thread ends: it cancels what it has
        // outstanding and waits for that at most EndLimit. A driver that does not complete even then
        // keeps the thread, which is left to end alone with what it uses (the shared part).
        if (outputQueue() > 0)
            ::PurgeComm(m_io->port, PURGE_TXABORT | PURGE_TXCLEAR);
        if (!m_thread.joinable())
            return;
        ::SetEvent(m_io->stopEvent);
        if (::WaitForSingleObject(m_io->endedEvent, DWORD((EndLimit + EndLimit).count())) == WAIT_OBJECT_0)
            m_thread.join();
        else
            m_thread.detach();
    }

    WaitHandle readHandle() const override { return m_io->inputEvent; }

    bool takeInput(Bytes& out, std::string* reason) override
    {
        std::lock_guard<std::mutex> lock(m_io->mutex);
        out.insert(out.end(), m_io->input.begin(), m_io->input.end());
        m_io->input.clear();
        if (m_io->gone) {
            if (reason)
                *reason = m_io->reason;
            return false; // the event stays signalled: the news is there until the port is closed
        }
        ::ResetEvent(m_io->inputEvent);
        return true;
    }

    bool write(const Byte* data, std::size_t size, std::string* error) override
    {
        if (size == 0)
            return true;
        // The driver may still hold earlier bytes: they go first.
        const auto limit = m_settings.lineTime(outputQueue() + size) + Slack;
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(m_io->mutex);
        if (m_io->gone) {
            if (error)
                *error = m_io->reason;
            return false;
        }
        const std::uint64_t job = ++m_io->lastJob;
        m_io->job.assign(data, data + size);
        m_io->jobId = job;
        ::SetEvent(m_io->writeEvent);
        // Sent only when the driver has completed the write: a queued write may still fail.
        const bool ended = m_io->ended.wait_for(
            lock, limit, [&] { return m_io->gone || m_io->doneJob >= job || m_io->failedJob == job; });
        if (ended && m_io->doneJob >= job) {
            m_unsettled = std::min(m_unsettled + size, AdapterBuffer);
            return true;
        }
        if (ended && m_io->failedJob == job) {
            if (error)
                *error = m_io->failure;
            return false;
        }
        if (m_io->gone) {
            if (error)
                *error = m_io->reason;
            return false;
        }
        // Not taken in time: the write is cancelled, the next one starts afresh.
        m_io->abandonedJob = job;
        if (m_io->jobId == job) {
            m_io->job.clear();
            m_io->jobId = 0;
        }
        ::SetEvent(m_io->writeEvent);
        if (error)
            *error = text::arg("der Port nimmt keine Daten an: %1 Bytes nicht innerhalb von %2 ms übernommen "
                               "(Zeitüberschreitung)",
                               {static_cast<long long>(size),
                                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           std::chrono::steady_clock::now() - start)
                                                           .count())});
        return false;
    }

    bool drain(std::string* error) override
    {
        {
            std::lock_guard<std::mutex> lock(m_io->mutex);
            if (m_io->gone) {
                if (error)
                    *error = m_io->reason;
                return false;
            }
        }
        // FlushFileBuffers() has no time limit: the driver's output queue is watched instead, for as
        // long as its bytes take on the line plus the slack.
        const auto start = std::chrono::steady_clock::now();
        std::size_t pending = outputQueue();
        const auto deadline = start + m_settings.lineTime(pending) + Slack;
        while (pending > 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                if (error)
                    *error = text::arg("%1 Bytes haben den Port nicht innerhalb von %2 ms verlassen; der Treiber "
                                       "sendet nicht (Zeitüberschreitung)",
                                       {static_cast<long long>(pending),
                                        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                   std::chrono::steady_clock::now() - start)
                                                                   .count())});
                return false;
            }
            ::Sleep(5);
            pending = outputQueue();
        }
        // The driver's queue does not count what an adapter holds in its own transmit buffer: the last
        // bytes written get their line time to leave it.
        ::Sleep(DWORD(m_settings.lineTime(std::exchange(m_unsettled, 0)).count()));
        return true;
    }

    bool waitForInput(std::chrono::milliseconds limit) override
    {
        return ::WaitForSingleObject(m_io->inputEvent, DWORD(std::max<long long>(0, limit.count()))) == WAIT_OBJECT_0;
    }

    LowLatency::Outcome lowLatency() const override { return m_lowLatency; }

private:
    // The I/O thread's end waits this long for the driver to complete what it cancelled.
    static constexpr std::chrono::milliseconds EndLimit{1000};
    // Bytes written since the last drain, up to what an adapter's transmit buffer holds.
    static constexpr std::size_t AdapterBuffer = 256;

    // What the program's thread and the I/O thread share. A thread that has to be left running keeps
    // it (and the port handle) alive.
    struct Io
    {
        explicit Io(HANDLE p)
            : port(p)
            , inputEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
            , stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
            , writeEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
            , endedEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        {}
        ~Io()
        {
            ::CloseHandle(port);
            for (HANDLE h : {inputEvent, stopEvent, writeEvent, endedEvent})
                if (h)
                    ::CloseHandle(h);
        }
        Io(const Io&) = delete;
        Io& operator=(const Io&) = delete;

        HANDLE port;
        HANDLE inputEvent; // received bytes, or the news that the line is gone
        HANDLE stopEvent;
        HANDLE writeEvent; // a write to start, or one to cancel
        HANDLE endedEvent; // the I/O thread has ended

        std::mutex mutex;
        std::condition_variable ended; // a write job ended
        Bytes input;                   // received, not yet taken
        // One write at a time, each a numbered job: handed over, with the driver, taken or failed.
        std::uint64_t lastJob = 0;
        Bytes job;                     // handed to write(), not yet to the driver
        std::uint64_t jobId = 0;       // its number; 0: none waiting
        std::uint64_t doneJob = 0;     // the last job the driver took completely
        std::uint64_t failedJob = 0;   // the last job that failed, with why
        std::string failure;
        std::uint64_t abandonedJob = 0; // write() gave up on it: cancel it
        bool gone = false;
        std::string reason;
    };

    // Bytes the driver holds that have not left the port; 0 when it cannot tell.
    std::size_t outputQueue() const
    {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_io->port, &errors, &status))
            return 0;
        return status.cbOutQue;
    }

    static void lose(Io& io, DWORD error)
    {
        std::lock_guard<std::mutex> lock(io.mutex);
        if (!io.gone) {
            io.gone = true;
            io.reason = win::lostReasonFor(error);
        }
        io.job.clear();
        io.jobId = 0;
        ::SetEvent(io.inputEvent);
        io.ended.notify_all();
    }

    static void deliver(Io& io, const Byte* data, DWORD size)
    {
        if (size == 0)
            return;
        std::lock_guard<std::mutex> lock(io.mutex);
        append(io.input, data, size);
        ::SetEvent(io.inputEvent);
    }

    // What the I/O thread writes: the job's bytes not yet taken, and the job's number.
    struct Writing
    {
        Bytes bytes;
        std::uint64_t job = 0;
        bool outstanding = false; // a WriteFile not yet completed
        bool cancelled = false;
    };

    // A write completed with `done` bytes: the rest goes out next, or the job is done. A driver that
    // took nothing before its own time limit fails the job (the line itself may still work).
    static void written(Io& io, Writing& w, DWORD done)
    {
        std::lock_guard<std::mutex> lock(io.mutex);
        if (io.abandonedJob == w.job) {
            w.bytes.clear();
        } else if (done == 0) {
            io.failedJob = w.job;
            io.failure = "der Port nimmt keine Daten an (Zeitüberschreitung des Treibers)";
            w.bytes.clear();
        } else {
            w.bytes.erase(w.bytes.begin(), w.bytes.begin() + std::min<std::size_t>(done, w.bytes.size()));
            if (w.bytes.empty())
                io.doneJob = w.job;
        }
        io.ended.notify_all();
    }

    // The I/O thread: at most one read and one write outstanding at any time.
    static void run(Io& io)
    {
        // Its buffers and OVERLAPPEDs belong to the driver while a call is outstanding: kept on the heap,
        // and left there when the driver does not give them back.
        struct Calls
        {
            OVERLAPPED readOv{};
            OVERLAPPED writeOv{};
            Byte readBuffer[ReadChunk];
            Writing writing;
        };
        auto calls = std::make_unique<Calls>();
        OVERLAPPED& readOv = calls->readOv;
        OVERLAPPED& writeOv = calls->writeOv;
        Writing& w = calls->writing;
        readOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!readOv.hEvent || !writeOv.hEvent) {
            lose(io, ::GetLastError());
            for (HANDLE h : {readOv.hEvent, writeOv.hEvent})
                if (h)
                    ::CloseHandle(h);
            ::SetEvent(io.endedEvent);
            return;
        }
        bool reading = false;

        for (;;) {
            bool progressed = false; // a call that completed at once: go round again without sleeping
            if (!reading) {
                // What the driver holds now decides how much to ask for; a failure here is a lost line
                // (Wine answers a closed peer's reads with 0 bytes forever, but fails this call).
                DWORD errors = 0;
                COMSTAT status{};
                if (!::ClearCommError(io.port, &errors, &status)) {
                    lose(io, ::GetLastError());
                    break;
                }
                const DWORD want = status.cbInQue ? std::min<DWORD>(status.cbInQue, ReadChunk) : 1;
                ::ResetEvent(readOv.hEvent);
                DWORD got = 0;
                if (::ReadFile(io.port, calls->readBuffer, want, &got, &readOv)) {
                    deliver(io, calls->readBuffer, got);
                    progressed = got > 0;
                } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
                    reading = true;
                } else if (error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
                    lose(io, error);
                    break;
                }
            }
            if (w.outstanding && !w.cancelled) {
                std::lock_guard<std::mutex> lock(io.mutex);
                if (io.abandonedJob == w.job) {
                    ::CancelIoEx(io.port, &writeOv);
                    w.cancelled = true;
                }
            }
            if (!w.outstanding) {
                {
                    std::lock_guard<std::mutex> lock(io.mutex);
                    if (io.abandonedJob == w.job)
                        w.bytes.clear(); // the rest of a job given up between two of its writes
                    if (w.bytes.empty() && io.jobId != 0) {
                        w.bytes.swap(io.job);
                        w.job = io.jobId;
                        w.cancelled = false;
                        io.jobId = 0;
                    }
                }
                if (!w.bytes.empty()) {
                    ::ResetEvent(writeOv.hEvent);
                    DWORD done = 0;
                    if (::WriteFile(io.port, w.bytes.data(), DWORD(w.bytes.size()), &done, &writeOv)) {
                        written(io, w, done);
                        progressed = true;
                    } else if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING) {
                        w.outstanding = true;
                    } else {
                        lose(io, error);
                        break;
                    }
                }
            }
            if (progressed) {
                if (::WaitForSingleObject(io.stopEvent, 0) == WAIT_OBJECT_0)
                    break;
                continue;
            }

            HANDLE handles[4] = {io.stopEvent, io.writeEvent};
            DWORD count = 2;
            if (reading)
                handles[count++] = readOv.hEvent;
            if (w.outstanding)
                handles[count++] = writeOv.hEvent;
            // Without a read outstanding (one that timed out at once) look again after a short rest.
            const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, reading ? INFINITE : ReadIntervalMs);
            if (result == WAIT_OBJECT_0)
                break;
            if (result == WAIT_FAILED) {
                lose(io, ::GetLastError());
                break;
            }
            if (reading && ::WaitForSingleObject(readOv.hEvent, 0) == WAIT_OBJECT_0) {
                reading = false;
                DWORD got = 0;
                if (::GetOverlappedResult(io.port, &readOv, &got, FALSE)) {
                    deliver(io, calls->readBuffer, got); // 0 bytes: the quiet limit passed
                } else if (const DWORD error = ::GetLastError();
                           error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
                    lose(io, error);
                    break;
                }
            }
            if (w.outstanding && ::WaitForSingleObject(writeOv.hEvent, 0) == WAIT_OBJECT_0) {
                w.outstanding = false;
                DWORD done = 0;
                if (::GetOverlappedResult(io.port, &writeOv, &done, FALSE)) {
                    written(io, w, done);
                } else if (const DWORD error = ::GetLastError(); error == ERROR_OPERATION_ABORTED && w.cancelled) {
                    written(io, w, done); // the abandoned job: given up
                } else {
                    lose(io, error);
                    break;
                }
            }
        }

        // Ending (stop, or the line is lost): what is outstanding is cancelled, and the driver gets
        // EndLimit to give the buffers back. One that does not keeps them: they are left to it.
        bool returned = true;
        if (reading || w.outstanding) {
            ::CancelIoEx(io.port, nullptr);
            for (const auto& [outstanding, ov] : {std::pair{reading, &readOv}, std::pair{w.outstanding, &writeOv}}) {
                if (!outstanding)
                    continue;
                if (::WaitForSingleObject(ov->hEvent, DWORD(EndLimit.count())) != WAIT_OBJECT_0) {
                    returned = false;
                    continue;
                }
                DWORD ignored = 0;
                ::GetOverlappedResult(io.port, ov, &ignored, FALSE);
            }
        }
        {
            std::lock_guard<std::mutex> lock(io.mutex);
            if (w.job != 0 && io.doneJob < w.job && io.failedJob != w.job) {
                io.failedJob = w.job;
                io.failure = "der Port wurde geschlossen, bevor der Treiber die Bytes übernommen hat";
            }
            io.ended.notify_all();
        }
        if (returned) {
            ::CloseHandle(readOv.hEvent);
            ::CloseHandle(writeOv.hEvent);
        } else {
            calls.release(); // the driver still owns them
        }
        ::SetEvent(io.endedEvent);
    }

    std::shared_ptr<Io> m_io;
    std::string m_name;
    LineSettings m_settings;
    LowLatency::Outcome m_lowLatency;
    std::thread m_thread;
    std::size_t m_unsettled = 0; // program thread only
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
        // Input from before the open is stale. Output is left alone: what the last owner wrote may still
        // be on its way out (the update frame when the update reopens the port at 9600 baud), and clearing
        // it would lose it, as the POSIX port flushes only its input.
        ::PurgeComm(port, PURGE_RXCLEAR | PURGE_RXABORT);

        // An FTDI adapter whose latency timer is at 1 ms passes answers on at once; any other value is
        // the driver's setting, described, not changed.
        LowLatency::Outcome lowLatency = LowLatency::request(-1);
        if (lowLatency == LowLatency::Outcome::NotAvailable)
            if (const auto timer = win::ftdiLatencyTimer(device); timer && *timer <= 1)
                lowLatency = LowLatency::Outcome::AlreadySet;

        auto opened = std::make_unique<WinSerialDevice>(port, device, settings, lowLatency);
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
