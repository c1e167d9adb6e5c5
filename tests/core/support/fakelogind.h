#pragma once

#ifndef _WIN32

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

struct sd_bus_message;

namespace morvandell::test {

// A private message bus (dbus-daemon --session) that the program under test takes for the system bus
// (DBUS_SYSTEM_BUS_ADDRESS points at it while this object lives), with a fake logind on it.
// org.freedesktop.login1.Manager.Inhibit hands out the write end of a pipe: the inhibitor lasts until
// every copy of it is closed. The fake answers on a thread of its own.
class FakeLogind
{
public:
    // serve false: the bus runs, but nobody owns org.freedesktop.login1 on it.
    explicit FakeLogind(bool serve = true);
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    bool isValid() const { return m_ready; }
    const std::string& address() const { return m_address; }
    // Inhibitors handed out and not yet given back.
    int held() const;
    // Every Inhibit call, as "what|who|why|mode".
    std::vector<std::string> requests() const;

private:
    // logind's Inhibit; 0 for every other message.
    int answer(sd_bus_message* message);

    pid_t m_daemon = -1;
    std::string m_address;
    std::string m_previousAddress;
    bool m_hadPreviousAddress = false;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<int> m_readEnds;
    std::vector<std::string> m_requests;
};

} // namespace morvandell::test

#endif
