#include "simulator/demodisplay.h"

#include "loop/notifier.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace morvandell::sim {

namespace {

using Clock = DisplayLogic::Clock;

const char* const GoneReason = "die Leitung wurde getrennt: das Demo-Display ist nicht mehr angeschlossen";

// The tool's end of the line while a device is open.
struct PortEnd
{
    explicit PortEnd(int baudRate)
        : baud(baudRate)
    {}
    Notifier notifier;
    int baud;
    // Guarded by the core's mutex:
    Bytes input;
    bool gone = false;
    std::condition_variable arrived; // input or gone
};

} // namespace

struct DemoDisplay::Core final : DisplayLine
{
    explicit Core(SimulatorConfig config)
        : logic(std::move(config), *this)
    {}

    // --- DisplayLine, on the display's thread ---
    void put(const Bytes& bytes, bool endsAnswer) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            // Nobody listening: the bytes are lost, as on a cable whose port is closed.
            if (port && !port->gone) {
                append(port->input, bytes);
                port->arrived.notify_all();
                port->notifier.notify();
            }
        }
        if (endsAnswer)
            logic.answerWritten();
    }
    void close() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        gone = true;
        if (port) {
            port->gone = true;
            port->arrived.notify_all();
            port->notifier.notify();
        }
    }
    int toolBaud() const override
    {
        std::lock_guard<std::mutex> lock(mutex);
        return port ? port->baud : 0;
    }

    struct Incoming
    {
        Bytes bytes;
        Clock::time_point arrival;
        int baud;
    };

    void run();
    void startThread(); // with the mutex held
    void stopThread();
    void onThread(const std::function<void()>& task);

    DisplayLogic logic;
    mutable std::mutex mutex; // guards everything below
    std::condition_variable wake;
    std::deque<Incoming> inbox;
    std::deque<std::function<void()>> tasks;
    std::shared_ptr<PortEnd> port;
    bool gone = false;
    bool running = false;
    bool stopping = false;
    std::thread thread;
};

void DemoDisplay::Core::run()
{
    logic.start(Clock::now());
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        // Sleeps until the tool sends, someone asks, or the logic has something due: nothing polls.
        auto pending = [this] { return stopping || !inbox.empty() || !tasks.empty(); };
        if (const auto due = logic.nextDue())
            wake.wait_until(lock, *due, pending);
        else
            wake.wait(lock, pending);
        std::deque<Incoming> received;
        std::deque<std::function<void()>> todo;
        received.swap(inbox);
        todo.swap(tasks);
        const bool ending = stopping;
        lock.unlock();
        for (const Incoming& in : received)
            logic.receive(in.bytes, in.arrival, in.baud);
        for (auto& task : todo)
            task();
        logic.advance(Clock::now());
        lock.lock();
        if (ending)
            return;
    }
}

void DemoDisplay::Core::startThread()
{
    if (running || stopping)
        return;
    running = true;
    thread = std::thread([this] { run(); });
}

void DemoDisplay::Core::stopThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!running)
            return;
        stopping = true;
        wake.notify_all();
    }
    thread.join();
    std::lock_guard<std::mutex> lock(mutex);
    running = false;
}

void DemoDisplay::Core::onThread(const std::function<void()>& task)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping)
        return; // the display is going away
    if (!running || std::this_thread::get_id() == thread.get_id()) {
        lock.unlock();
        task();
        return;
    }
    bool finished = false;
    std::condition_variable done;
    tasks.push_back([&] {
        task();
        std::lock_guard<std::mutex> guard(mutex);
        finished = true;
        done.notify_all();
    });
    wake.notify_all();
    done.wait(lock, [&] { return finished; });
}

// One open of the display: the tool's end of the line.
class DemoDisplay::Device final : public SerialDevice
{
public:
    Device(std::shared_ptr<Core> core, std::shared_ptr<PortEnd> port)
        : m_core(std::move(core))
        , m_port(std::move(port))
    {}

    ~Device() override
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (m_core->port == m_port)
            m_core->port.reset();
    }

    WaitHandle readHandle() const override { return m_port->notifier.handle(); }

    bool takeInput(Bytes& out, std::string* reason) override
    {
        m_port->notifier.reset();
        std::lock_guard<std::mutex> lock(m_core->mutex);
        append(out, m_port->input);
        m_port->input.clear();
        if (m_port->gone) {
            if (reason)
                *reason = GoneReason;
            return false;
        }
        return true;
    }

    bool write(const Byte* data, std::size_t size, std::string* error) override
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (m_port->gone) {
            if (error)
                *error = GoneReason;
            return false;
        }
        if (size == 0)
            return true;
        m_core->inbox.push_back(Core::Incoming{Bytes(data, data + size), Clock::now(), m_port->baud});
        m_core->wake.notify_all();
        return true;
    }

    // The bytes are with the display as soon as they are written.
    bool drain(std::string* error) override
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (m_port->gone && error)
            *error = GoneReason;
        return !m_port->gone;
    }

    bool waitForInput(std::chrono::milliseconds limit) override
    {
        std::unique_lock<std::mutex> lock(m_core->mutex);
        return m_port->arrived.wait_for(lock, limit, [this] { return !m_port->input.empty() || m_port->gone; });
    }

private:
    std::shared_ptr<Core> m_core;
    std::shared_ptr<PortEnd> m_port;
};

SimulatorConfig DemoDisplay::demoConfig()
{
    SimulatorConfig config;
    config.honourLineSpeed = true;
    config.pace9600 = true;
    return config;
}

std::shared_ptr<DemoDisplay> DemoDisplay::create(SimulatorConfig config)
{
    return std::make_shared<DemoDisplay>(std::move(config));
}

PortDirectory::Entry DemoDisplay::portEntry(std::shared_ptr<DemoDisplay> display)
{
    return PortDirectory::Entry{DeviceName, Description, std::move(display)};
}

DemoDisplay::DemoDisplay(SimulatorConfig config)
    : m_core(std::make_shared<Core>(std::move(config)))
{}

DemoDisplay::~DemoDisplay()
{
    m_core->stopThread();
    // A device still open (it should not be) finds the line gone.
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (m_core->port) {
        m_core->port->gone = true;
        m_core->port->arrived.notify_all();
        m_core->port->notifier.notify();
    }
}

std::unique_ptr<SerialDevice> DemoDisplay::open(const std::string& device, const LineSettings& settings,
                                                OpenFailure* failure)
{
    auto fail = [&](OpenFailure::Cause cause, std::string text) -> std::unique_ptr<SerialDevice> {
        if (failure)
            *failure = OpenFailure{cause, std::move(text), 0};
        return nullptr;
    };
    if (device != DeviceName)
        return fail(OpenFailure::Cause::Missing, device + " existiert nicht");
    auto port = std::make_shared<PortEnd>(settings.baudRate);
    if (!port->notifier.isValid())
        return fail(OpenFailure::Cause::Other, "keine Benachrichtigung vom System für das Demo-Display");
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (m_core->gone)
        return fail(OpenFailure::Cause::Missing, "das Demo-Display ist nicht mehr angeschlossen");
    if (m_core->port)
        return fail(OpenFailure::Cause::Busy, "belegt: das Demo-Display ist bereits geöffnet");
    m_core->port = port;
    m_core->startThread();
    return std::make_unique<Device>(m_core, port);
}

bool DemoDisplay::exists(const std::string& device) const
{
    std::lock_guard<std::mutex> lock(m_core->mutex);
    return device == DeviceName && !m_core->gone;
}

DisplayLogic& DemoDisplay::display()
{
    return m_core->logic;
}

const DisplayLogic& DemoDisplay::display() const
{
    return m_core->logic;
}

void DemoDisplay::closeDevice()
{
    m_core->onThread([this] { m_core->logic.closeDevice(); });
}

} // namespace morvandell::sim
