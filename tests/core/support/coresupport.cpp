#include "coresupport.h"

#include "platform/files.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include "windows/waiteventloop.h"
#else
#include "unix/polleventloop.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace morvandell::test {

Bytes hex(const std::string& text)
{
    Bytes out;
    int nibble = -1;
    for (const char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(Byte(nibble * 16 + v));
            nibble = -1;
        }
    }
    return out;
}

std::string hexOf(const Bytes& bytes)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

Bytes bytes(const std::string& chars)
{
    return Bytes(chars.begin(), chars.end());
}

std::string tempFolder()
{
    static const std::string folder = [] {
        const std::string base = files::tempFolder();
        for (int i = 0;; ++i) {
            const std::string candidate =
                files::join(base, "morvandell-test-" + std::to_string(std::random_device{}()) + std::to_string(i));
            std::error_code ec;
            if (std::filesystem::create_directory(files::toPath(candidate), ec))
                return candidate;
            if (i > 100)
                throw std::runtime_error("no temporary folder");
        }
    }();
    return folder;
}

std::string writeTempFile(const std::string& name, const Bytes& content)
{
    const std::string path = files::join(tempFolder(), name);
    std::ofstream out(files::toPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string writeTempFile(const std::string& name, const std::string& content)
{
    return writeTempFile(name, bytes(content));
}

std::unique_ptr<EventLoop> makeEventLoop()
{
#ifdef _WIN32
    return std::make_unique<WaitEventLoop>();
#else
    return std::make_unique<PollEventLoop>();
#endif
}

bool runUntil(EventLoop& loop, const std::function<bool()>& pred, std::chrono::milliseconds limit)
{
    const auto deadline = EventLoop::Clock::now() + limit;
    while (!pred()) {
        if (EventLoop::Clock::now() >= deadline)
            return pred();
        loop.runOnce(std::min(deadline, EventLoop::Clock::now() + std::chrono::milliseconds(20)));
    }
    return true;
}

void runFor(EventLoop& loop, std::chrono::milliseconds time)
{
    const auto deadline = EventLoop::Clock::now() + time;
    while (EventLoop::Clock::now() < deadline)
        loop.runOnce(deadline);
}

std::shared_ptr<const PortDirectory> directoryOf(const std::map<int, std::string>& devices)
{
    std::map<int, PortDirectory::Entry> entries;
    for (const auto& [number, device] : devices)
        entries[number] = PortDirectory::Entry{device, "test device", nullptr};
    return std::make_shared<const PortDirectory>(entries);
}

#ifndef _WIN32
namespace {

bool capabilities(__user_cap_data_struct (&data)[2], bool set)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

WithoutPermission::WithoutPermission(std::string path)
    : m_path(std::move(path))
{
    struct stat st{};
    if (::stat(m_path.c_str(), &st) == 0)
        m_mode = st.st_mode & 07777;
    ::chmod(m_path.c_str(), 0);
    __user_cap_data_struct data[2] = {};
    if (!capabilities(data, false))
        return;
    for (int i = 0; i < 2; ++i)
        m_savedEffective[i] = data[i].effective;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
    m_capabilitiesDropped = capabilities(data, true);
}

WithoutPermission::~WithoutPermission()
{
    __user_cap_data_struct data[2] = {};
    if (m_capabilitiesDropped && capabilities(data, false)) {
        for (int i = 0; i < 2; ++i)
            data[i].effective = m_savedEffective[i];
        capabilities(data, true);
    }
    ::chmod(m_path.c_str(), m_mode);
}

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = name;
}

PtyPair::~PtyPair()
{
    closeMaster();
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

Bytes PtyPair::readMaster(std::chrono::milliseconds limit, std::size_t atLeast, EventLoop* loop)
{
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_master >= 0 && std::chrono::steady_clock::now() < deadline && out.size() < atLeast) {
        if (loop)
            loop->runOnce(EventLoop::Clock::now());
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
            Byte buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                append(out, buf, std::size_t(n));
        }
    }
    return out;
}

bool PtyPair::writeMaster(const Bytes& bytes)
{
    return m_master >= 0 && ::write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}
#endif

} // namespace morvandell::test
