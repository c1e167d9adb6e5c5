#pragma once

#include "platform/signal.h"
#include "loop/eventloop.h"

#include <functional>
#include <memory>

namespace morvandell {

// Keeps the machine awake while a firmware transfer runs. On Linux it holds a "sleep:idle" block
// inhibitor of logind (org.freedesktop.login1 on the system bus) until release(); on Windows it sets the
// thread's execution state. Without a system bus or without logind it does nothing and says nothing:
// the transfer runs all the same. The request goes out without blocking; its answer arrives while the
// transfer lets the event loop run.
class SleepInhibitor
{
public:
    static constexpr auto What = "sleep:idle";
    static constexpr auto Who = "Morvandell";
    static constexpr auto Why = "Firmware-Update läuft";
    static constexpr auto Mode = "block";

    // How this system keeps the machine awake: unix/sleepinhibitor.cpp (logind over the system bus),
    // windows/sleepinhibitor.cpp (the thread's execution state).
    class Backend
    {
    public:
        virtual ~Backend() = default;
        // Asks for the inhibitor without blocking; does nothing while one is asked for or held.
        virtual void request() = 0;
        // Gives it back, or drops the request whose answer is still on its way.
        virtual void release() = 0;
        virtual bool isHeld() const = 0;

        // The system's. `changed` is called from the event loop, as the last thing the backend does
        // there, when isHeld() changed on its own (the answer came, the system took it back).
        static std::unique_ptr<Backend> system(EventLoop& loop, std::function<void()> changed);
    };

    explicit SleepInhibitor(EventLoop& loop);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // Asks for the inhibitor; does nothing when it is wanted already.
    void acquire();
    // Gives it back (also a request whose answer is still on its way).
    void release();
    // Wanted between acquire() and release().
    bool isWanted() const { return m_wanted; }
    // The system holds it for us now.
    bool isHeld() const { return m_held; }

    // isHeld() changed.
    Signal<bool> heldChanged;

private:
    void update();

    std::unique_ptr<Backend> m_backend;
    bool m_wanted = false;
    bool m_held = false;
};

} // namespace morvandell
