#include "simulator/mainreplay.h"

#include "simulator/simulatorthread.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace morvandell::sim {

namespace {

using Clock = TraceReplay::Clock;

std::string errnoText()
{
    return std::strerror(errno);
}

} // namespace

ReplayHost::ReplayHost(TraceReplay& replay)
    : m_replay(replay)
{
    m_replay.send.connect([this](const Bytes& bytes) {
        append(m_out, bytes);
        flushOutput();
    });
    m_replay.hangUp.connect([this] { closeLine(); });
}

ReplayHost::~ReplayHost()
{
    closeLine();
    if (m_watch >= 0)
        ::close(m_watch);
}

bool ReplayHost::open(std::string* error)
{
    auto fail = [error](const std::string& what) {
        if (error)
            *error = what + ": " + errnoText();
        return false;
    };
    DisplayPty pty;
    std::string step;
    if (!openDisplayPty(pty, &step))
        return fail(step);
    m_master = pty.master;
    m_slave = pty.slave;
    m_path = pty.path;
    const char* const name = m_path.c_str();
    // Packet mode: every discarding of the program's input (the last step of its open) shows as a
    // status byte among the data.
    int on = 1;
    if (::ioctl(m_master, TIOCPKT, &on) != 0)
        return fail("packet mode");
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0)
        return fail("inotify");
    if (::inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) < 0)
        return fail(std::string("inotify on ") + name);
    return true;
}

int ReplayHost::baud() const
{
    termios t{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &t) != 0)
        return 0;
    switch (::cfgetospeed(&t)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

void ReplayHost::closeLine()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
    m_out.clear();
}

void ReplayHost::readMaster()
{
    Byte buffer[4097];
    while (m_master >= 0) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN, or nothing left: our own slave descriptor keeps the line
        if (buffer[0] == TIOCPKT_DATA)
            append(m_data, buffer + 1, std::size_t(n - 1));
        else if (buffer[0] & TIOCPKT_FLUSHREAD)
            ++m_flushed;
    }
}

void ReplayHost::readWatch()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++m_opened;
            if (event->mask & IN_CLOSE) {
                ++m_closed;
                // A program that keeps the line exclusive while it has it open may not clear that
                // when closing; our descriptor keeps the terminal, so its next open would be refused.
                if (m_slave >= 0)
                    ::ioctl(m_slave, TIOCNXCL);
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

void ReplayHost::flushOutput()
{
    while (m_master >= 0 && !m_out.empty()) {
        const ssize_t n = ::write(m_master, m_out.data(), m_out.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the master is full: the loop waits until it takes more
        m_out.erase(m_out.begin(), m_out.begin() + n);
    }
}

void ReplayHost::run(int quit)
{
    m_replay.start(Clock::now());
    while (!m_replay.finished()) {
        pollfd fds[3] = {{quit, POLLIN, 0}, {m_watch, POLLIN, 0}, {m_master, POLLIN, 0}};
        if (!m_out.empty())
            fds[2].events |= POLLOUT;
        const nfds_t count = m_master >= 0 ? 3 : 2;
        int timeout = -1;
        if (const auto due = m_replay.nextDue()) {
            const auto now = Clock::now();
            // Rounded up: never wake before the time.
            timeout = *due <= now ? 0
                                  : int(std::min<long long>(
                                        std::chrono::ceil<std::chrono::milliseconds>(*due - now).count(), INT_MAX));
        }
        if (::poll(fds, count, timeout) < 0 && errno != EINTR)
            return;
        if (fds[0].revents) {
            m_replay.stop(Clock::now());
            return;
        }
        // The master first: an open shows in the watch before the flush and the bytes that follow it.
        readMaster();
        readWatch();
        const auto now = Clock::now();
        for (; m_opened > 0; --m_opened)
            m_replay.portOpened(now);
        for (; m_flushed > 0; --m_flushed)
            m_replay.inputFlushed(now, baud());
        if (!m_data.empty()) {
            Bytes data;
            data.swap(m_data);
            m_replay.programSent(data, now);
        }
        for (; m_closed > 0; --m_closed)
            m_replay.portClosed(now);
        m_replay.advance(Clock::now());
        flushOutput();
    }
}

} // namespace morvandell::sim
