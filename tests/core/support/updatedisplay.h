#pragma once

#ifndef _WIN32

#include "coresupport.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace morvandell::test {

// Plays the display's side of a firmware update on a PtyPair's master, on a thread of its own, the way
// the display does it: the update frame (normal update) is answered with the ready byte once the
// display has switched to 9600 baud, every block of 128 bytes with the acknowledgement 0x06, the last
// one with the completion byte 0x07. It can stay silent or hang up instead. Every byte that arrives is
// kept.
class UpdateDisplay
{
public:
    struct Behaviour
    {
        bool expectFrame = true; // normal update: the 22 bytes of the update frame come first
        bool answerReady = true;
        // The display needs a moment for its update mode; a ready byte before the tool has reopened
        // the port would be lost, as on a real line.
        std::chrono::milliseconds readyDelay{100};
        int answerUpTo = 1016; // blocks answered; the later ones get no answer
        int hangUpAfter = 0;   // above 0: the cable is pulled once this block has arrived
        std::chrono::milliseconds answerDelay{0};
    };

    UpdateDisplay(PtyPair& pty, Behaviour behaviour);
    ~UpdateDisplay();
    UpdateDisplay(const UpdateDisplay&) = delete;
    UpdateDisplay& operator=(const UpdateDisplay&) = delete;

    // Ends the display's thread; afterwards received() is complete.
    void stop();
    int blocksReceived() const { return m_blocks; }
    Bytes received() const;

private:
    void run();
    void answer(Byte byte);

    PtyPair& m_pty;
    Behaviour m_behaviour;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_blocks{0};
    mutable std::mutex m_mutex;
    Bytes m_received;
    std::thread m_thread;
};

} // namespace morvandell::test

#endif
