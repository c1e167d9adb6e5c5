// The sleep inhibitor on Linux: logind's Inhibit over the system bus (sd-bus), asked asynchronously and
// answered while the event loop runs. logind keeps the inhibitor for as long as the descriptor it hands
// out stays open; closing it gives the inhibitor back.
#include "updater/sleepinhibitor.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace morvandell {

namespace {

std::uint64_t monotonicMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000000u + std::uint64_t(now.tv_nsec) / 1000u;
}

class LogindInhibitor final : public SleepInhibitor::Backend
{
public:
    LogindInhibitor(EventLoop& loop, std::function<void()> changed)
        : m_loop(loop)
        , m_changed(std::move(changed))
    {}

    ~LogindInhibitor() override
    {
        release();
        disconnect();
    }

    void request() override
    {
        if (m_call || m_fd >= 0)
            return;
        // No system bus (containers, minimal systems): nothing to ask, nothing to say.
        if (!m_bus && !connect())
            return;
        const int r = sd_bus_call_method_async(
            m_bus, &m_call, "org.freedesktop.login1", "/org/freedesktop/login1",
            "org.freedesktop.login1.Manager", "Inhibit", &LogindInhibitor::answered, this, "ssss",
            SleepInhibitor::What, SleepInhibitor::Who, SleepInhibitor::Why, SleepInhibitor::Mode);
        if (r < 0) {
            m_call = nullptr;
            disconnect(); // a connection that cannot send is of no use
            return;
        }
        schedule();
    }

    void release() override
    {
        m_call = sd_bus_slot_unref(m_call); // an answer still on its way is dropped, its descriptor with it
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    bool isHeld() const override { return m_fd >= 0; }

private:
    bool connect()
    {
        sd_bus* bus = nullptr;
        if (sd_bus_open_system(&bus) < 0)
            return false;
        m_bus = bus;
        m_watch = m_loop.watch(sd_bus_get_fd(m_bus), [this] { process(); });
        return true;
    }

    void disconnect()
    {
        if (m_timer) {
            m_loop.cancelTimer(m_timer);
            m_timer = 0;
        }
        if (m_watch) {
            m_loop.unwatch(m_watch);
            m_watch = 0;
        }
        m_call = sd_bus_slot_unref(m_call);
        m_bus = sd_bus_close_unref(m_bus); // without waiting for anything still queued
    }

    // Everything the bus has for us; then the next time it needs us without input.
    void process()
    {
        if (!m_bus)
            return;
        const bool wasHeld = isHeld();
        int r = 0;
        do {
            r = sd_bus_process(m_bus, nullptr);
        } while (r > 0);
        if (r < 0)
            disconnect(); // the bus went away; an inhibitor already held stays held
        else
            schedule();
        if (isHeld() != wasHeld)
            m_changed(); // the last thing done here: the listener may end this object
    }

    // The loop watches the bus for input only; output that has to wait for the socket and the method
    // call's own time limit are handled by a timer.
    void schedule()
    {
        if (m_timer) {
            m_loop.cancelTimer(m_timer);
            m_timer = 0;
        }
        if (!m_bus)
            return;
        std::optional<std::chrono::milliseconds> delay;
        std::uint64_t due = UINT64_MAX;
        if (sd_bus_get_timeout(m_bus, &due) >= 0 && due != UINT64_MAX) {
            const std::uint64_t now = monotonicMicroseconds();
            delay = std::chrono::milliseconds(due > now ? (due - now + 999) / 1000 : 0);
        }
        if (sd_bus_get_events(m_bus) & POLLOUT)
            delay = std::min(delay.value_or(OutputRetry), OutputRetry);
        if (!delay)
            return; // nothing to do until input comes
        m_timer = m_loop.startTimer(*delay, [this] {
            m_timer = 0;
            process();
        });
    }

    static int answered(sd_bus_message* reply, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<LogindInhibitor*>(userdata);
        self->m_call = sd_bus_slot_unref(self->m_call); // sd-bus holds the slot until this returns
        // An error (no logind, not allowed): nothing is held.
        if (sd_bus_message_is_method_error(reply, nullptr))
            return 0;
        int fd = -1;
        if (sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0)
            return 0;
        self->m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3); // the reply's own copy closes with the reply
        return 0;
    }

    static constexpr std::chrono::milliseconds OutputRetry{10};

    EventLoop& m_loop;
    std::function<void()> m_changed;
    sd_bus* m_bus = nullptr;
    sd_bus_slot* m_call = nullptr; // the Inhibit call whose answer is awaited
    int m_fd = -1;                 // the inhibitor, while held
    int m_watch = 0;
    int m_timer = 0;
};

} // namespace

std::unique_ptr<SleepInhibitor::Backend> SleepInhibitor::Backend::system(EventLoop& loop,
                                                                         std::function<void()> changed)
{
    return std::make_unique<LogindInhibitor>(loop, std::move(changed));
}

} // namespace morvandell
