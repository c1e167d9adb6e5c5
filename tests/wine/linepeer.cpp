#include "linepeer.h"

#include "platform/files.h"
#include "platform/text.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace morvandell::test {

namespace {

constexpr SOCKET None = INVALID_SOCKET;

bool startWinsock()
{
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET connectToHelper()
{
    const auto address = files::environment("MORVANDELL_PEER");
    if (!address || !startWinsock())
        return None;
    const auto colon = address->rfind(':');
    if (colon == std::string::npos)
        return None;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(u_short(text::toInteger(address->substr(colon + 1)).value_or(0)));
    if (::inet_pton(AF_INET, address->substr(0, colon).c_str(), &to.sin_addr) != 1)
        return None;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == None)
        return None;
    if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::closesocket(s);
        return None;
    }
    BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return s;
}

bool sendAll(SOCKET s, const char* data, std::size_t size)
{
    while (size > 0) {
        const int n = ::send(s, data, int(size), 0);
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// One line from the helper (without its line end), within a few seconds.
std::optional<std::string> readLine(SOCKET s)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        fd_set read;
        FD_ZERO(&read);
        FD_SET(s, &read);
        timeval wait{0, 100000};
        if (::select(0, &read, nullptr, nullptr, &wait) <= 0)
            continue;
        char c = 0;
        if (::recv(s, &c, 1, 0) != 1)
            return std::nullopt;
        if (c == '\n')
            return line;
        line += c;
    }
    return std::nullopt;
}

std::optional<std::string> ask(const std::string& request)
{
    const SOCKET s = connectToHelper();
    if (s == None)
        return std::nullopt;
    const std::string line = request + "\n";
    std::optional<std::string> answer;
    if (sendAll(s, line.data(), line.size()))
        answer = readLine(s);
    ::closesocket(s);
    return answer;
}

} // namespace

std::string LinePeer::port()
{
    return files::environment("MORVANDELL_PEER_COM").value_or(std::string());
}

LinePeer::LinePeer()
    : m_socket(None)
{}

LinePeer::~LinePeer()
{
    hangUp();
}

bool LinePeer::open()
{
    hangUp();
    const SOCKET s = connectToHelper();
    if (s == None)
        return false;
    const char request[] = "open\n";
    const auto answer = sendAll(s, request, sizeof request - 1) ? readLine(s) : std::nullopt;
    if (!answer || !text::startsWith(*answer, "ready ")) {
        ::closesocket(s);
        return false;
    }
    m_socket = s;
    return true;
}

bool LinePeer::isOpen() const
{
    return m_socket != None;
}

bool LinePeer::send(const Bytes& bytes)
{
    return isOpen() && sendAll(SOCKET(m_socket), reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes LinePeer::receive(std::chrono::milliseconds limit, std::size_t atLeast, EventLoop* loop)
{
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (isOpen() && std::chrono::steady_clock::now() < deadline && out.size() < atLeast) {
        if (loop)
            loop->runOnce(EventLoop::Clock::now());
        fd_set read;
        FD_ZERO(&read);
        FD_SET(SOCKET(m_socket), &read);
        timeval wait{0, 5000};
        if (::select(0, &read, nullptr, nullptr, &wait) <= 0)
            continue;
        char buffer[4096];
        const int n = ::recv(SOCKET(m_socket), buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        append(out, reinterpret_cast<const Byte*>(buffer), std::size_t(n));
    }
    return out;
}

void LinePeer::hangUp()
{
    if (m_socket != None) {
        ::closesocket(SOCKET(m_socket));
        m_socket = None;
    }
}

std::optional<LinePeer::LineState> LinePeer::lineState()
{
    const auto answer = ask("speed");
    if (!answer)
        return std::nullopt;
    const auto parts = text::split(*answer, ' ');
    if (parts.size() != 3)
        return std::nullopt;
    LineState state;
    state.inputBaud = std::uint32_t(text::toInteger(parts[0]).value_or(0));
    state.outputBaud = std::uint32_t(text::toInteger(parts[1]).value_or(0));
    state.cflag = std::uint32_t(text::toInteger(parts[2]).value_or(0));
    return state;
}

bool LinePeer::inject(const Bytes& bytes)
{
    std::string hexText;
    static const char* const digits = "0123456789abcdef";
    for (const Byte b : bytes) {
        hexText += digits[b >> 4];
        hexText += digits[b & 0xF];
    }
    return ask("inject " + hexText) == std::optional<std::string>("ok");
}

bool LinePeer::hold(bool held)
{
    return ask(held ? "hold" : "release") == std::optional<std::string>("ok");
}

} // namespace morvandell::test
