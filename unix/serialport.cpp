// Serial ports on Linux and other POSIX systems: a non-blocking descriptor in raw mode, poll() for input,
// exclusive access for as long as the port is open (TIOCEXCL, flock and the lock file in /run/lock that
// other serial programs honour), low latency asked of the driver on every open.
#include "platform/files.h"
#include "platform/text.h"
#include "serial/serialdevice.h"
#include "unix/customspeed.h"
#include "unix/lockfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <utility>
#include <unistd.h>


namespace morvandell {

namespace {

std::string errnoText(int error)
{
    return std::strerror(error);
}

speed_t speedConstant(std::int32_t baud)
{
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 2000000: return B2000000;
#endif
    default: return 0;
    }
}

// Raw mode with the line format; false with *why (German) when the driver refuses it.
bool configure(int fd, const LineSettings& s, std::string* why)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        *why = "Leitungseinstellungen nicht lesbar: " + errnoText(errno);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (s.parity) {
    case LineSettings::Parity::None: break;
    case LineSettings::Parity::Even: t.c_cflag |= PARENB; break;
    case LineSettings::Parity::Odd: t.c_cflag |= PARENB | PARODD; break;
#ifdef CMSPAR
    case LineSettings::Parity::Mark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case LineSettings::Parity::Space: t.c_cflag |= PARENB | CMSPAR; break;
#else
    default:
        *why = "Parität m/s wird von diesem System nicht unterstützt";
        return false;
#endif
    }
    switch (s.stopBits) {
    case LineSettings::StopBits::One: break;
    case LineSettings::StopBits::Two: t.c_cflag |= CSTOPB; break;
    case LineSettings::StopBits::OneAndHalf:
        *why = "1,5 Stoppbits werden von diesem System nicht unterstützt";
        return false;
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = speedConstant(s.baudRate);
    if (speed != 0) {
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        *why = text::arg("Leitungseinstellungen %1 nicht möglich: %2", {s.toString(), errnoText(errno)});
        return false;
    }
    if (speed == 0 && !setCustomSpeed(fd, s.baudRate)) {
        *why = text::arg("Baudrate %1 nicht möglich: %2", {s.baudRate, errnoText(errno)});
        return false;
    }
    return true;
}

class PosixSerialDevice final : public SerialDevice
{
public:
    PosixSerialDevice(int fd, std::string path, LockFile lock, LowLatency::Outcome lowLatency,
                      const LineSettings& settings)
        : m_fd(fd)
        , m_path(std::move(path))
        , m_lock(std::move(lock))
        , m_lowLatency(lowLatency)
        , m_settings(settings)
    {}

    ~PosixSerialDevice() override
    {
        // Whatever a drain left in the queue is given up: a USB serial driver would otherwise hold
        // close() for its closing_wait (30 s by default) with output pending.
        if (!m_gone && outputQueue() > 0)
            ::tcflush(m_fd, TCOFLUSH);
        ::close(m_fd);
        m_lock.release();
    }

    WaitHandle readHandle() const override { return m_fd; }

    bool takeInput(Bytes& out, std::string* reason) override
    {
        if (m_gone) {
            if (reason)
                *reason = m_reason;
            return false;
        }
        pollfd p{m_fd, POLLIN, 0};
        const bool hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
        Byte buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0) {
                append(out, buffer, std::size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !hungUp)
                return true;
            // In raw mode without a minimum (VMIN 0, VTIME 0) a terminal with nothing to read returns 0,
            // not EAGAIN: that is the end of what has arrived, not of the line. A hang-up shows as
            // POLLHUP or EIO.
            if (n == 0 && !hungUp)
                return true;
            // EIO (unplugged, the other end closed) or a hang-up.
            markGone(n < 0 ? errno : 0, hungUp);
            if (reason)
                *reason = m_reason;
            return false;
        }
    }

    bool write(const Byte* data, std::size_t size, std::string* error) override
    {
        if (m_gone) {
            if (error)
                *error = m_reason;
            return false;
        }
        // The driver may still hold earlier bytes: they go first.
        const auto start = Clock::now();
        const auto deadline = start + m_settings.lineTime(outputQueue() + size) + Slack;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The driver's buffer is full: wait until it takes more, within the time limit.
                pollfd p{m_fd, POLLOUT, 0};
                int ready = 0;
                for (;;) {
                    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                    if (left.count() <= 0)
                        break;
                    ready = ::poll(&p, 1, int(std::min<long long>(left.count(), 60000)));
                    if (ready != 0 && !(ready < 0 && errno == EINTR))
                        break;
                }
                if (ready < 0) {
                    if (error)
                        *error = "Schreibfehler: " + errnoText(errno);
                    return false;
                }
                if (ready == 1 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL)))
                    continue;
                if (ready == 1) {
                    markGone(0, true);
                    if (error)
                        *error = m_reason;
                    return false;
                }
                if (error)
                    *error = text::arg("der Port nimmt keine Daten an: %1 von %2 Bytes in %3 ms übernommen "
                                       "(Zeitüberschreitung)",
                                       {static_cast<long long>(done), static_cast<long long>(size),
                                        static_cast<long long>(msSince(start))});
                return false;
            }
            const int e = n < 0 ? errno : EIO;
            if (e == EIO || e == ENXIO || e == ENODEV)
                markGone(e, false);
            if (error)
                *error = "Schreibfehler: " + errnoText(e);
            return false;
        }
        m_unsettled = std::min(m_unsettled + size, AdapterBuffer);
        return true;
    }

    bool drain(std::string* error) override
    {
        if (m_gone) {
            if (error)
                *error = m_reason;
            return false;
        }
        // tcdrain() has no time limit: the output queue is watched instead, for as long as its bytes
        // take on the line plus the slack.
        const auto start = Clock::now();
        std::size_t pending = outputQueue();
        const auto deadline = start + m_settings.lineTime(pending) + Slack;
        while (pending > 0) {
            if (Clock::now() >= deadline) {
                if (error)
                    *error = text::arg("%1 Bytes haben den Port nicht innerhalb von %2 ms verlassen; der Treiber "
                                       "sendet nicht (Zeitüberschreitung)",
                                       {static_cast<long long>(pending), static_cast<long long>(msSince(start))});
                return false;
            }
            // A byte takes about 1 ms at 9600 baud: a look every few of them.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            pending = outputQueue();
        }
        // The driver's queue does not count what an adapter holds in its own transmit buffer: the last
        // bytes written get their line time to leave it.
        std::this_thread::sleep_for(m_settings.lineTime(std::exchange(m_unsettled, 0)));
        return true;
    }

    bool waitForInput(std::chrono::milliseconds limit) override
    {
        if (m_gone)
            return true; // takeInput() has news
        pollfd p{m_fd, POLLIN, 0};
        int n = 0;
        do {
            n = ::poll(&p, 1, int(limit.count()));
        } while (n < 0 && errno == EINTR);
        return n == 1;
    }

    LowLatency::Outcome lowLatency() const override { return m_lowLatency; }

private:
    using Clock = std::chrono::steady_clock;

    static long long msSince(Clock::time_point start)
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }

    // Bytes the driver holds that have not left the port; 0 when it cannot tell (a pseudo-terminal
    // hands them to its other end at once).
    std::size_t outputQueue() const
    {
        int pending = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &pending) != 0 || pending < 0)
            return 0;
        return std::size_t(pending);
    }

    void markGone(int error, bool hungUp)
    {
        if (m_gone)
            return;
        m_gone = true;
        // Why, from what can be seen now: the hang-up itself, the device file, the error.
        if (hungUp)
            m_reason = "die Leitung wurde getrennt: Gerät entfernt oder Gegenstelle geschlossen";
        else if (!files::exists(m_path))
            m_reason = m_path + " existiert nicht mehr";
        else if (error != 0)
            m_reason = "Lesefehler: " + errnoText(error);
        else
            m_reason = "die Leitung wurde getrennt: Gerät entfernt oder Gegenstelle geschlossen";
    }

    int m_fd;
    std::string m_path;
    LockFile m_lock;
    LowLatency::Outcome m_lowLatency;
    LineSettings m_settings;
    // Bytes written since the last drain, up to what an adapter's transmit buffer holds.
    static constexpr std::size_t AdapterBuffer = 256;
    std::size_t m_unsettled = 0;
    bool m_gone = false;
    std::string m_reason;
};

class PosixSerialBackend final : public SerialBackend
{
public:
    std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                       OpenFailure* failure) override
    {
        auto fail = [&](OpenFailure::Cause cause, std::string text, int error) -> std::unique_ptr<SerialDevice> {
            if (failure)
                *failure = OpenFailure{cause, std::move(text), error};
            return nullptr;
        };
        struct stat st {};
        if (::stat(device.c_str(), &st) != 0)
            return fail(OpenFailure::Cause::Missing, device + " existiert nicht", errno);

        // Another program's lock file (its owner still running) means the port is taken.
        const std::string real = files::canonicalPath(device);
        if (const auto holder = LockFile::holder(device, real))
            return fail(OpenFailure::Cause::Busy,
                        text::arg("gesperrt durch Prozess %1 (Sperrdatei %2)", {holder->pid, holder->path}),
                        EBUSY);

        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            switch (e) {
            case EACCES:
            case EPERM:
                return fail(OpenFailure::Cause::NoPermission, "keine Berechtigung: " + errnoText(e), e);
            case EBUSY:
                return fail(OpenFailure::Cause::Busy, "belegt: " + errnoText(e), e);
            case ENOENT:
            case ENXIO:
            case ENODEV:
                return fail(OpenFailure::Cause::Missing, device + ": " + errnoText(e), e);
            default:
                return fail(OpenFailure::Cause::Other, errnoText(e), e);
            }
        }
        // Exclusive for as long as it is open: against programs that lock with flock() (and against
        // ourselves, which TIOCEXCL does not stop for root), then against every other opener.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
            ::close(fd);
            return fail(OpenFailure::Cause::Busy, "belegt: ein anderes Programm hält den Port (flock)", EBUSY);
        }
        if (!::isatty(fd)) {
            ::close(fd);
            return fail(OpenFailure::Cause::Other, device + " ist keine serielle Schnittstelle", ENOTTY);
        }
        std::string why;
        if (!configure(fd, settings, &why)) {
            ::close(fd);
            return fail(OpenFailure::Cause::Settings, why, 0);
        }
        ::ioctl(fd, TIOCEXCL);
        LockFile lock = LockFile::take(real.empty() ? device : real);
        // Answers of one byte must not wait for a USB adapter's latency timer.
        const LowLatency::Outcome lowLatency = LowLatency::request(fd);
        ::tcflush(fd, TCIFLUSH); // input from before the open is stale
        return std::make_unique<PosixSerialDevice>(fd, real.empty() ? device : real, std::move(lock), lowLatency,
                                                   settings);
    }

    bool exists(const std::string& device) const override { return files::exists(device); }
};

} // namespace

SerialBackend& SerialBackend::system()
{
    static PosixSerialBackend backend;
    return backend;
}

} // namespace morvandell
