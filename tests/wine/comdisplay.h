#pragma once

#include "linepeer.h"
#include "simulator/displaylogic.h"

#include <atomic>
#include <thread>

namespace morvandell::test {

// The simulated display behind COM3: the simulator's display logic on a thread of the test, its line a
// fresh pseudo-terminal that tests/wine/ptypeer.py maps as COM3 (LinePeer). The logic's observers tell
// what the program sent.
class ComDisplay final : private sim::DisplayLine
{
public:
    explicit ComDisplay(sim::SimulatorConfig config = {});
    ~ComDisplay() override;
    ComDisplay(const ComDisplay&) = delete;
    ComDisplay& operator=(const ComDisplay&) = delete;

    // False when the helper is missing (the test runs without ptypeer.py).
    bool isReady() const { return m_ready; }
    const sim::DisplayLogic& logic() const { return m_logic; }
    // The cable pulled out: the line closes, the port's device is gone.
    void unplug() { m_unplug = true; }

private:
    void put(const Bytes& bytes, bool endsAnswer) override;
    void close() override;
    int toolBaud() const override;
    void run();

    LinePeer m_peer;
    sim::DisplayLogic m_logic;
    bool m_ready = false;
    int m_answersWritten = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_unplug{false};
    std::thread m_thread;
};

} // namespace morvandell::test
