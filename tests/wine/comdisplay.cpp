#include "comdisplay.h"

#include <algorithm>

namespace morvandell::test {

using Clock = sim::DisplayLogic::Clock;

ComDisplay::ComDisplay(sim::SimulatorConfig config)
    : m_logic(std::move(config), *this)
{
    m_ready = m_peer.open();
    if (m_ready)
        m_thread = std::thread([this] { run(); });
}

ComDisplay::~ComDisplay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ComDisplay::put(const Bytes& bytes, bool endsAnswer)
{
    m_peer.send(bytes); // at once: the pseudo-terminal takes it
    if (endsAnswer)
        ++m_answersWritten; // told to the logic once it is done with this step
}

void ComDisplay::close()
{
    m_peer.hangUp();
}

int ComDisplay::toolBaud() const
{
    if (!m_logic.config().honourLineSpeed)
        return 0;
    const auto state = LinePeer::lineState();
    return state ? int(state->outputBaud) : 0;
}

void ComDisplay::run()
{
    m_logic.start(Clock::now());
    auto settle = [this] {
        while (m_answersWritten > 0) {
            --m_answersWritten;
            m_logic.answerWritten();
        }
    };
    while (!m_stop) {
        if (m_unplug.exchange(false))
            m_logic.closeDevice();
        auto limit = std::chrono::milliseconds(20);
        if (const auto due = m_logic.nextDue())
            limit = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(*due - Clock::now()),
                               std::chrono::milliseconds(0), limit);
        const Bytes in = m_peer.isOpen() ? m_peer.receive(limit, 1) : Bytes();
        if (!m_peer.isOpen() && in.empty())
            std::this_thread::sleep_for(limit);
        if (!in.empty())
            m_logic.receive(in, Clock::now(), toolBaud());
        settle();
        m_logic.advance(Clock::now());
        settle();
    }
}

} // namespace morvandell::test
