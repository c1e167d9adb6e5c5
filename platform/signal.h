#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace morvandell {

// A notification with any number of listeners, called in the order they connected, on the thread that
// raises it. A listener may connect or disconnect listeners (itself included) while it runs: a
// disconnected listener is not called again, a new one from the next raise on.
template<typename... Args>
class Signal
{
public:
    using Listener = std::function<void(Args...)>;

    Signal() = default;
    // Listeners still to be called by a raise that is under way are not called after this.
    ~Signal() { disconnectAll(); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // Returns a number for disconnect().
    int connect(Listener listener)
    {
        const int id = ++m_lastId;
        m_slots->push_back({id, std::make_shared<Listener>(std::move(listener))});
        return id;
    }

    void disconnect(int id)
    {
        for (auto it = m_slots->begin(); it != m_slots->end(); ++it) {
            if (it->id == id) {
                *it->listener = nullptr;
                m_slots->erase(it);
                return;
            }
        }
    }

    void disconnectAll()
    {
        for (auto& slot : *m_slots)
            *slot.listener = nullptr;
        m_slots->clear();
    }

    bool empty() const { return m_slots->empty(); }

    void operator()(Args... args) const
    {
        // The list may change (or the owner go away) under a listener: call from a copy, and skip
        // listeners that were disconnected meanwhile.
        const auto listeners = m_slots;
        const std::vector<Slot> copy = *listeners;
        for (const Slot& slot : copy)
            if (*slot.listener)
                (*slot.listener)(args...);
    }

private:
    struct Slot
    {
        int id;
        std::shared_ptr<Listener> listener;
    };
    std::shared_ptr<std::vector<Slot>> m_slots = std::make_shared<std::vector<Slot>>();
    int m_lastId = 0;
};

} // namespace morvandell
