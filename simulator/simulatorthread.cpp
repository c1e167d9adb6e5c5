// The display behind a pseudo-terminal: the master end is the display's, the tool opens the slave. One
// thread polls the master and a notifier for requests from other threads, and sleeps until the display
// logic's next due time.
#include "simulator/simulatorthread.h"

#include "platform/text.h"
#include "loop/notifier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace morvandell::sim {

namespace {

using Clock = DisplayLogic::Clock;

// A serial port library may put the line into exclusive mode (TIOCEXCL) while it has it open and clear
// it when closing. A tool that dies without closing leaves the flag set, and since our own slave
// descriptor keeps the terminal alive, every later open would fail with EBUSY for ordinary users.
// Clearing it now and then keeps the display reachable; lock files still guard against two programs
// using it at once.
constexpr std::chrono::milliseconds ExclusiveRelease{1000};

int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

struct SimulatorThread::Private final : DisplayLine
{
    explicit Private(SimulatorConfig config)
        : logic(std::move(config), *this)
    {}

    // --- DisplayLine, on the display's thread ---
    void put(const Bytes& bytes, bool endsAnswer) override
    {
        if (!isOpen())
            return;
        writeQueue.push_back(Chunk{bytes, endsAnswer});
        flush();
    }
    void close() override { closeLine(); }
    int toolBaud() const override
    {
        // The tool's settings show on the pseudo-terminal itself. Only what the display sends is judged
        // by it: bytes the tool wrote before it changed the speed may still wait in the buffer when the
        // display reads them, so input is taken as right.
        termios t{};
        if (slaveFd < 0 || ::tcgetattr(slaveFd, &t) != 0)
            return 0;
        return baudOf(::cfgetospeed(&t));
    }

    bool isOpen() const { return masterFd >= 0; }
    void flush();
    void onReadable();
    void closeLine();
    void run();
    // Runs `task` on the display's thread and waits for it (at once when called there or before start).
    void onThread(const std::function<void()>& task);

    struct Chunk
    {
        Bytes bytes;
        bool endsAnswer = false;
        std::size_t done = 0;
    };

    DisplayLogic logic;
    int masterFd = -1;
    int slaveFd = -1;
    bool reading = true; // false after a read error: the master is no longer watched
    std::deque<Chunk> writeQueue;

    mutable std::mutex mutex; // guards path, tasks, stopping, started, thread
    std::string path;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    bool started = false;
    std::condition_variable stopped; // started went false
    bool everStarted = false;
    Notifier wake;
    std::thread thread;
};

void SimulatorThread::Private::flush()
{
    while (isOpen() && !writeQueue.empty()) {
        Chunk& c = writeQueue.front();
        const ssize_t n = ::write(masterFd, c.bytes.data() + c.done, c.bytes.size() - c.done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return; // the loop waits until the master takes more
            logic.log("!! write failed: " + errnoText(errno));
            for (const Chunk& dropped : writeQueue)
                if (dropped.endsAnswer)
                    logic.answerWritten();
            writeQueue.clear();
            return;
        }
        c.done += std::size_t(n);
        if (c.done == c.bytes.size()) {
            const bool endsAnswer = c.endsAnswer;
            writeQueue.pop_front();
            if (endsAnswer)
                logic.answerWritten();
        }
    }
}

void SimulatorThread::Private::onReadable()
{
    Byte buffer[4096];
    while (isOpen() && reading) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            logic.receive(Bytes(buffer, buffer + n), Clock::now());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of file or an error: with our own slave descriptor open this should not happen.
        logic.log("!! read from the pseudo-terminal failed: " + (n == 0 ? std::string("end of file") : errnoText(errno)));
        reading = false;
        return;
    }
}

void SimulatorThread::Private::closeLine()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
    if (slaveFd >= 0)
        ::close(slaveFd);
    slaveFd = -1;
    writeQueue.clear();
}

void SimulatorThread::Private::onThread(const std::function<void()>& task)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping && std::this_thread::get_id() != thread.get_id())
        stopped.wait(lock, [this] { return !started; }); // the thread is ending: run it here afterwards
    if (!started || std::this_thread::get_id() == thread.get_id()) {
        lock.unlock();
        task();
        return;
    }
    std::condition_variable done;
    bool finished = false;
    tasks.push_back([&] {
        task();
        std::lock_guard<std::mutex> guard(mutex);
        finished = true;
        done.notify_all();
    });
    wake.notify();
    done.wait(lock, [&] { return finished; });
}

void SimulatorThread::Private::run()
{
    auto nextRelease = Clock::now() + ExclusiveRelease;
    for (;;) {
        pollfd fds[2] = {{wake.handle(), POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (isOpen() && (reading || !writeQueue.empty())) {
            fds[1].fd = masterFd;
            fds[1].events = short((reading ? POLLIN : 0) | (writeQueue.empty() ? 0 : POLLOUT));
            count = 2;
        }
        auto until = nextRelease;
        if (const auto due = logic.nextDue())
            until = std::min(until, *due);
        const auto now = Clock::now();
        int timeout = 0;
        if (until > now) {
            // Rounded up: never wake before the time, so that nothing is done twice or early.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
            timeout = int(std::min<long long>(wait, INT_MAX));
        }
        const int n = ::poll(fds, count, timeout);
        if (n < 0 && errno != EINTR)
            logic.log("!! poll failed: " + errnoText(errno));

        if (fds[0].revents) {
            wake.reset();
            std::deque<std::function<void()>> todo;
            {
                std::lock_guard<std::mutex> lock(mutex);
                todo.swap(tasks);
                if (stopping) {
                    for (auto& task : todo)
                        task(); // whoever waits for them must not wait for ever
                    return;
                }
            }
            for (auto& task : todo)
                task();
        }
        if (count == 2 && isOpen() && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
            onReadable();
        if (count == 2 && isOpen() && (fds[1].revents & POLLOUT))
            flush();
        logic.advance(Clock::now());
        if (Clock::now() >= nextRelease) {
            if (slaveFd >= 0)
                ::ioctl(slaveFd, TIOCNXCL);
            nextRelease = Clock::now() + ExclusiveRelease;
        }
    }
}

SimulatorThread::SimulatorThread(SimulatorConfig config)
    : d(std::make_unique<Private>(std::move(config)))
{}

SimulatorThread::~SimulatorThread()
{
    stop();
    d->closeLine();
}

bool openDisplayPty(DisplayPty& pty, std::string* failedStep)
{
    const auto fail = [&](const char* step) {
        const int e = errno;
        if (pty.master >= 0)
            ::close(pty.master);
        if (pty.slave >= 0)
            ::close(pty.slave);
        pty = DisplayPty{};
        errno = e;
        if (failedStep)
            *failedStep = step;
        return false;
    };
    if (::openpty(&pty.master, &pty.slave, nullptr, nullptr, nullptr) != 0)
        return fail("openpty");
    char name[PATH_MAX];
    if (::ttyname_r(pty.slave, name, sizeof name) != 0)
        return fail("ttyname");
    pty.path = name;
    termios tio{};
    if (::tcgetattr(pty.slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B19200);
        ::tcsetattr(pty.slave, TCSANOW, &tio);
    }
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool SimulatorThread::start(std::string* error)
{
    auto fail = [error](const std::string& what) {
        if (error)
            *error = what + ": " + errnoText(errno);
        return false;
    };
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->everStarted || d->logic.deviceClosed()) {
            if (error)
                *error = "the simulator has already been started";
            return false;
        }
    }
    if (!d->wake.isValid())
        return fail("pipe");
    DisplayPty pty;
    std::string step;
    if (!openDisplayPty(pty, &step))
        return fail(step);
    const int master = pty.master;
    const int slave = pty.slave;
    const std::string name = pty.path;

    d->masterFd = master;
    d->slaveFd = slave; // kept open: the tool may close and reopen its side at any time
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->path = name;
        d->everStarted = true;
    }
    d->logic.log(std::string("   display on ") + name);
    d->logic.start(Clock::now());

    std::lock_guard<std::mutex> lock(d->mutex);
    d->thread = std::thread([this] { d->run(); });
    d->started = true;
    return true;
}

std::string SimulatorThread::devicePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

DisplayLogic& SimulatorThread::display()
{
    return d->logic;
}

const DisplayLogic& SimulatorThread::display() const
{
    return d->logic;
}

void SimulatorThread::closeDevice()
{
    d->onThread([this] { d->logic.closeDevice(); });
}

void SimulatorThread::sendRaw(const Bytes& bytes)
{
    if (bytes.empty())
        return;
    d->onThread([this, &bytes] {
        if (!d->isOpen())
            return;
        d->writeQueue.push_back(Private::Chunk{bytes, false});
        d->flush();
    });
}

void SimulatorThread::stop()
{
    {
        std::unique_lock<std::mutex> lock(d->mutex);
        if (!d->started)
            return;
        if (d->stopping) { // another thread stops it
            d->stopped.wait(lock, [this] { return !d->started; });
            return;
        }
        d->stopping = true;
    }
    d->wake.notify();
    d->thread.join();
    std::lock_guard<std::mutex> lock(d->mutex);
    d->started = false;
    d->stopped.notify_all();
}

} // namespace morvandell::sim
