#ifndef _WIN32

#include "fakelogind.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvandell::test {

namespace {

// The first line the daemon prints on `fd`, within `limit`.
std::string readLine(int fd, std::chrono::milliseconds limit)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

} // namespace

FakeLogind::FakeLogind(bool serve)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    m_daemon = ::fork();
    if (m_daemon == 0) {
        ::fcntl(out[1], F_SETFD, 0); // the daemon prints its address there
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2); // its complaints (fd limits as root) are not the test's
        const std::string printAddress = "--print-address=" + std::to_string(out[1]);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", printAddress.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    if (m_daemon > 0)
        m_address = readLine(out[0], std::chrono::milliseconds(5000));
    ::close(out[0]);
    if (m_address.empty())
        return;

    if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        m_hadPreviousAddress = true;
        m_previousAddress = previous;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.c_str(), 1);
    if (!serve) {
        m_ready = true;
        return;
    }
    std::promise<bool> started;
    std::future<bool> isStarted = started.get_future();
    m_thread = std::thread([this, &started] {
        sd_bus* bus = nullptr;
        sd_bus_slot* slot = nullptr;
        bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, m_address.c_str()) >= 0 &&
                  sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_negotiate_fds(bus, 1) >= 0 &&
                  sd_bus_start(bus) >= 0 &&
                  sd_bus_add_object(
                      bus, &slot, "/org/freedesktop/login1",
                      [](sd_bus_message* m, void* self, sd_bus_error*) {
                          return static_cast<FakeLogind*>(self)->answer(m);
                      },
                      this) >= 0 &&
                  sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0;
        started.set_value(ok);
        while (ok && !m_stop) {
            while (sd_bus_process(bus, nullptr) > 0) {
            }
            sd_bus_wait(bus, 20000);
        }
        sd_bus_slot_unref(slot);
        sd_bus_flush_close_unref(bus);
    });
    m_ready = isStarted.get();
}

FakeLogind::~FakeLogind()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_daemon > 0) {
        ::kill(m_daemon, SIGTERM);
        ::waitpid(m_daemon, nullptr, 0);
    }
    if (!m_address.empty()) {
        if (m_hadPreviousAddress)
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", m_previousAddress.c_str(), 1);
        else
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    for (const int fd : m_readEnds)
        ::close(fd);
}

int FakeLogind::answer(sd_bus_message* message)
{
    FakeLogind* fake = this;
    if (!sd_bus_message_is_method_call(message, "org.freedesktop.login1.Manager", "Inhibit"))
        return 0;
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    if (sd_bus_message_read(message, "ssss", &what, &who, &why, &mode) < 0)
        return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_INVALID_ARGS, "four texts expected");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_FAILED, "no pipe");
    {
        std::lock_guard<std::mutex> lock(fake->m_mutex);
        fake->m_requests.push_back(std::string(what) + "|" + who + "|" + why + "|" + mode);
        fake->m_readEnds.push_back(fds[0]);
    }
    const int r = sd_bus_reply_method_return(message, "h", fds[1]); // the reply carries a copy
    ::close(fds[1]);
    return r < 0 ? r : 1;
}

int FakeLogind::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const int fd : m_readEnds) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0)
            ++n; // no hang-up: a write end is still open somewhere
    }
    return n;
}

std::vector<std::string> FakeLogind::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

} // namespace morvandell::test

#endif
