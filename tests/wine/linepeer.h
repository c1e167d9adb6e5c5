#pragma once

// The far end of a Wine COM port, played by the test through tests/wine/ptypeer.py: a TCP connection
// whose bytes are the line's bytes.

#include "platform/bytes.h"
#include "loop/eventloop.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace morvandell::test {

class LinePeer
{
public:
    // The COM port the helper maps ("COM3"); empty when the test runs without the helper.
    static std::string port();

    LinePeer();
    ~LinePeer();
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    // A fresh pseudo-terminal is the port now.
    bool open();
    bool isOpen() const;
    bool send(const Bytes& bytes);
    // What the port sent within `limit` (early once `atLeast` bytes are there), running `loop` meanwhile.
    Bytes receive(std::chrono::milliseconds limit, std::size_t atLeast = SIZE_MAX, EventLoop* loop = nullptr);
    // Closes the line's far end: the device is gone.
    void hangUp();

    struct LineState
    {
        std::uint32_t inputBaud = 0;
        std::uint32_t outputBaud = 0;
        std::uint32_t cflag = 0; // Linux termios c_cflag
    };
    // How the program set the newest line up.
    static std::optional<LineState> lineState();
    // Bytes as if the device had sent them, on the newest line (also before the port is open).
    static bool inject(const Bytes& bytes);
    // The newest line's far end stops taking what the program sends (true), or takes it again.
    static bool hold(bool held);

private:
    std::uintptr_t m_socket;
};

} // namespace morvandell::test
