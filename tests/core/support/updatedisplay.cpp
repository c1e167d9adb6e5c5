#ifndef _WIN32

#include "updatedisplay.h"

#include <algorithm>
#include <poll.h>
#include <unistd.h>

namespace morvandell::test {

namespace {

constexpr std::size_t FrameSize = 22;
constexpr std::size_t BlockSize = 128;
constexpr int BlockCount = 1016;

} // namespace

UpdateDisplay::UpdateDisplay(PtyPair& pty, Behaviour behaviour)
    : m_pty(pty)
    , m_behaviour(behaviour)
    , m_thread([this] { run(); })
{}

UpdateDisplay::~UpdateDisplay()
{
    stop();
}

void UpdateDisplay::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

Bytes UpdateDisplay::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void UpdateDisplay::answer(Byte byte)
{
    if (m_behaviour.answerDelay.count() > 0)
        std::this_thread::sleep_for(m_behaviour.answerDelay);
    m_pty.writeMaster(Bytes{byte});
}

void UpdateDisplay::run()
{
    using Clock = std::chrono::steady_clock;
    const int fd = m_pty.masterFd();
    std::size_t frameBytes = m_behaviour.expectFrame ? 0 : FrameSize;
    std::size_t imageBytes = 0;
    bool readyPending = false;
    Clock::time_point readyDue;
    while (!m_stop) {
        int timeout = 5;
        if (readyPending) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(readyDue - Clock::now());
            timeout = int(std::max<long long>(0, std::min<long long>(timeout, left.count())));
        }
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, timeout);
        if (readyPending && Clock::now() >= readyDue) {
            readyPending = false;
            m_pty.writeMaster(Bytes{0x05});
        }
        if (n <= 0 || !(p.revents & POLLIN))
            continue;
        Byte buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            append(m_received, buffer, std::size_t(got));
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (frameBytes < FrameSize) {
                if (++frameBytes == FrameSize && m_behaviour.answerReady) {
                    readyPending = true;
                    readyDue = Clock::now() + m_behaviour.readyDelay;
                }
                continue;
            }
            if (++imageBytes % BlockSize != 0)
                continue;
            const int block = int(imageBytes / BlockSize);
            m_blocks = block;
            if (block == m_behaviour.hangUpAfter) {
                m_pty.closeMaster(); // the cable is pulled
                return;
            }
            if (block <= m_behaviour.answerUpTo && block <= BlockCount)
                answer(block < BlockCount ? 0x06 : 0x07);
        }
    }
}

} // namespace morvandell::test

#endif
