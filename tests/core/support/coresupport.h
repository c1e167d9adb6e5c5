#pragma once

// Helpers for the core's tests: bytes from hex, temporary files, pseudo-terminal pairs (POSIX), and an
// event loop to run the code under test on.

#include "platform/bytes.h"
#include "loop/eventloop.h"
#include "serial/portdirectory.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace morvandell::test {

// "55 01 00" to bytes.
Bytes hex(const std::string& text);
// Bytes as "55 01 00", for failure messages.
std::string hexOf(const Bytes& bytes);
Bytes bytes(const std::string& chars);

// Writes bytes into a fresh file in a temporary folder that lives as long as the test process; returns
// its path (UTF-8).
std::string writeTempFile(const std::string& name, const Bytes& content);
std::string writeTempFile(const std::string& name, const std::string& content);
// A folder of its own for this test process.
std::string tempFolder();

// The event loop the program's front end would run: poll() on POSIX, a wait on handles on Windows.
std::unique_ptr<EventLoop> makeEventLoop();
// Runs the loop until pred() holds or the time runs out.
bool runUntil(EventLoop& loop, const std::function<bool()>& pred, std::chrono::milliseconds limit);
// Runs the loop for the whole time.
void runFor(EventLoop& loop, std::chrono::milliseconds time);

// A port directory with the given numbers mapped to devices.
std::shared_ptr<const PortDirectory> directoryOf(const std::map<int, std::string>& devices);

#ifndef _WIN32
// A bare pseudo-terminal pair: the test holds the master, the code under test opens slavePath().
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    bool isValid() const { return m_master >= 0; }
    const std::string& slavePath() const { return m_slavePath; }
    // Reads what arrived at the master within `limit` (stops early once `atLeast` bytes are there),
    // running `loop` meanwhile when one is given.
    Bytes readMaster(std::chrono::milliseconds limit, std::size_t atLeast = SIZE_MAX, EventLoop* loop = nullptr);
    bool writeMaster(const Bytes& bytes);
    void closeMaster();
    int masterFd() const { return m_master; }

private:
    int m_master = -1;
    int m_slave = -1; // kept open so the tool's closes never hang up the master
    std::string m_slavePath;
};

// While it lives, opening `path` fails with EACCES, as for a user outside the device's group: the file
// has no permission bits, and this thread (with the threads it starts) gives up root's right to ignore
// them. Both are restored at the end.
class WithoutPermission
{
public:
    explicit WithoutPermission(std::string path);
    ~WithoutPermission();
    WithoutPermission(const WithoutPermission&) = delete;
    WithoutPermission& operator=(const WithoutPermission&) = delete;

private:
    std::string m_path;
    unsigned m_mode = 0;
    bool m_capabilitiesDropped = false;
    std::uint32_t m_savedEffective[2] = {};
};
#endif

} // namespace morvandell::test
