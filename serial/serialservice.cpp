#include "serial/serialservice.h"

#include "platform/text.h"
#include "serial/portdoctor.h"
#include "serial/tracerecorder.h"

namespace morvandell {

SerialService::SerialService(EventLoop& loop, std::shared_ptr<const PortDirectory> directory)
    : m_loop(loop)
    , m_directory(std::move(directory))
{
    if (!m_directory)
        m_directory = std::make_shared<const PortDirectory>();
}

SerialService::~SerialService()
{
    *m_alive = false;
    close();
}

void SerialService::setCommPort(int number)
{
    if (number == m_commPort)
        return;
    close();
    m_commPort = number;
}

bool SerialService::setSettings(std::string_view text)
{
    std::string why;
    const auto parsed = LineSettings::parse(text, &why);
    if (!parsed) {
        fail(SerialError::InvalidSettings, why);
        return false;
    }
    const std::optional<Byte> eventChar = m_settings.eventChar;
    m_settings = *parsed;
    m_settings.eventChar = eventChar;
    return true;
}

std::string SerialService::devicePath() const
{
    return m_directory->entry(m_commPort).device;
}

void SerialService::fail(int number, std::string text, Cause cause)
{
    m_lastError = number;
    m_lastErrorText = std::move(text);
    m_lastCause = cause;
}

bool SerialService::open()
{
    if (m_device) {
        fail(SerialError::AlreadyOpen, "Port ist bereits geöffnet");
        return false;
    }
    if (!m_directory->contains(m_commPort)) {
        fail(SerialError::NoDevice, "kein Gerät für diese Portnummer", Cause::Missing);
        return false;
    }
    const PortDirectory::Entry entry = m_directory->entry(m_commPort);
    SerialBackend& backend = entry.backend ? *entry.backend : SerialBackend::system();
    OpenFailure failure;
    m_device = backend.open(entry.device, m_settings, &failure);
    if (!m_device) {
        const Cause cause = failure.cause == Cause::None ? Cause::Other : failure.cause;
        if (cause == Cause::Settings)
            fail(errorFor(cause), text::arg("Einstellungen %1 nicht möglich: %2", {m_settings.toString(), failure.text}),
                 cause);
        else
            fail(errorFor(cause), failure.text, cause);
        return false;
    }
    m_lost = false;
    m_input.clear();
    m_lowLatency = m_device->lowLatency();
    m_watch = m_loop.watch(m_device->readHandle(), [this] { takeInput(); });
    if (m_trace) {
        m_trace->noteOpened(m_commPort, entry.device, m_settings.toString());
        m_trace->note(LowLatency::describe(m_lowLatency));
    }
    return true;
}

int SerialService::errorFor(Cause cause)
{
    switch (cause) {
    case Cause::None:
        return SerialError::None;
    case Cause::Missing:
        return SerialError::NoDevice;
    case Cause::Busy:
    case Cause::NoPermission:
        return SerialError::Unavailable;
    case Cause::Settings:
    case Cause::Other:
        break;
    }
    return SerialError::OpenFailed;
}

void SerialService::closeDevice()
{
    if (m_watch) {
        m_loop.unwatch(m_watch);
        m_watch = 0;
    }
    m_device.reset(); // drains first, unless the device is gone
}

void SerialService::close()
{
    if (!m_device)
        return;
    closeDevice();
    m_input.clear();
    if (m_trace)
        m_trace->noteClosed(m_commPort);
}

bool SerialService::drain()
{
    return m_device && m_device->drain();
}

bool SerialService::output(const Byte* data, std::size_t size)
{
    if (!m_device) {
        fail(SerialError::NotOpen, m_lost ? "Gerät getrennt" : "Port ist nicht geöffnet");
        return false;
    }
    std::string error;
    const bool written = m_device->write(data, size, &error);
    if (m_trace && written)
        m_trace->record(TraceRecorder::Direction::Sent, data, size);
    if (!written) {
        fail(SerialError::WriteFailed, error.empty() ? "Schreibfehler" : error);
        return false;
    }
    return true;
}

void SerialService::takeInput()
{
    if (!m_device)
        return;
    const std::size_t before = m_input.size();
    std::string reason;
    const bool alive = m_device->takeInput(m_input, &reason);
    if (m_trace && m_input.size() > before)
        m_trace->record(TraceRecorder::Direction::Received, m_input.data() + before, m_input.size() - before);
    if (!alive)
        lose(reason);
    if (m_input.size() > before)
        received();
}

void SerialService::lose(const std::string& reason)
{
    if (m_lost)
        return;
    // A vanished device: remember it, stop watching it, and close the port and tell the windows
    // outside the notification that found it.
    m_lost = true;
    if (m_watch) {
        m_loop.unwatch(m_watch);
        m_watch = 0;
    }
    fail(SerialError::DeviceGone, reason);
    std::weak_ptr<bool> alive = m_alive;
    m_loop.post([this, alive, reason] {
        if (alive.expired() || !*alive.lock())
            return;
        if (m_device && m_lost) {
            m_device.reset();
            if (m_trace)
                m_trace->note("Gerät getrennt: " + reason);
        }
        deviceLost(reason);
    });
}

Bytes SerialService::input()
{
    Bytes bytes;
    bytes.swap(m_input);
    return bytes;
}

bool SerialService::waitForInput(std::chrono::milliseconds limit)
{
    if (!m_input.empty())
        return true;
    if (!m_device || m_lost)
        return false;
    if (!m_device->waitForInput(limit))
        return false;
    takeInput();
    return !m_input.empty();
}

std::string SerialService::describeLastError() const
{
    const std::string port = "Com #" + std::to_string(m_commPort);
    const std::string device = devicePath();
    const std::string where = device.empty() ? port : port + " (" + device + ")";
    // Why, and what to do about it, from what the system says about the device.
    const std::unique_ptr<PortDoctor> doctor = PortDoctor::system();
    switch (m_lastCause) {
    case Cause::Missing:
        m_directory->refresh({m_commPort}); // what the port list knows, as of now
        return where + ": kein Gerät gefunden.\n" + doctor->notThere(*m_directory, m_commPort);
    case Cause::Busy:
        return port + ": " + doctor->busy(device);
    case Cause::NoPermission:
        return port + ": " + doctor->noPermission(device);
    default:
        break;
    }
    return text::arg("%1: %2 (Fehler %3).", {where, m_lastErrorText, m_lastError});
}

} // namespace morvandell
