#include "serial/portlist.h"

#include "serial/serialdevice.h"
#include "serial/serialservice.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace morvandell {

namespace {

using Cause = OpenFailure::Cause;

struct Attempt
{
    int number = 0;
    std::string device;
    std::shared_ptr<SerialBackend> backend; // empty: the system's ports
    std::string key;                        // backend and device, for the attempts still running
    bool started = false;
    int sameAs = -1; // another number of this scan with the same device: its attempt answers for both
    // Written by the attempt's thread, under Round::mutex.
    bool done = false;
    bool opened = false;
    Cause cause = Cause::None;
};

// The devices whose open attempt has not returned yet. Never destroyed: an attempt may still end while
// the program exits.
struct Running
{
    std::mutex mutex;
    std::set<std::string> keys;
};

Running& running()
{
    static Running* const instance = new Running;
    return *instance;
}

} // namespace

// One scan; attempts that outlast it keep it alive until they end.
struct PortList::Pending::Round
{
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<Attempt> attempts;
};

namespace {

using Round = PortList::Pending::Round;

void attempt(const std::shared_ptr<Round>& round, std::size_t index, const LineSettings& settings)
{
    // Name and backend were set before the thread started and are not changed again.
    const Attempt& a = round->attempts[index];
    SerialBackend& backend = a.backend ? *a.backend : SerialBackend::system();
    OpenFailure failure;
    std::unique_ptr<SerialDevice> device = backend.open(a.device, settings, &failure);
    const bool opened = device != nullptr;
    device.reset(); // closed again at once
    {
        std::lock_guard<std::mutex> lock(running().mutex);
        running().keys.erase(a.key);
    }
    {
        std::lock_guard<std::mutex> lock(round->mutex);
        Attempt& result = round->attempts[index];
        result.done = true;
        result.opened = opened;
        result.cause = opened ? Cause::None : (failure.cause == Cause::None ? Cause::Other : failure.cause);
    }
    round->finished.notify_all();
}

} // namespace

std::string PortList::noteText(Note note)
{
    switch (note) {
    case Note::Busy:
        return "(belegt)";
    case Note::NoPermission:
        return "(keine Berechtigung)";
    case Note::None:
        break;
    }
    return {};
}

std::vector<PortList::Entry> PortList::scan(const PortDirectory& directory, const LineSettings& settings,
                                            const std::set<int>& kept, int openHere,
                                            std::chrono::milliseconds limit)
{
    return start(directory, settings, kept, openHere, limit).list();
}

PortList::Pending::Pending(const PortDirectory& directory, std::set<int> kept, std::shared_ptr<Round> round,
                           std::chrono::steady_clock::time_point deadline)
    : m_directory(&directory)
    , m_kept(std::move(kept))
    , m_round(std::move(round))
    , m_deadline(deadline)
{}

PortList::Pending PortList::start(const PortDirectory& directory, const LineSettings& settings,
                                  const std::set<int>& kept, int openHere, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto round = std::make_shared<Round>();
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        if (!directory.contains(n))
            continue; // no device behind the number: its open reports 8002
        Attempt a;
        a.number = n;
        if (n == openHere) {
            a.done = a.opened = true;
        } else {
            const PortDirectory::Entry entry = directory.entry(n);
            a.device = entry.device;
            a.backend = entry.backend;
            a.key = std::to_string(reinterpret_cast<std::uintptr_t>(entry.backend.get())) + ":" + entry.device;
        }
        round->attempts.push_back(std::move(a));
    }
    {
        std::map<std::string, int> first; // one attempt per device, as one after the other would find
        std::lock_guard<std::mutex> lock(running().mutex);
        for (std::size_t i = 0; i < round->attempts.size(); ++i) {
            Attempt& a = round->attempts[i];
            if (a.done)
                continue;
            const auto [earlier, isFirst] = first.emplace(a.key, int(i));
            if (!isFirst)
                a.sameAs = earlier->second;
            else
                a.started = running().keys.insert(a.key).second;
        }
    }
    for (std::size_t i = 0; i < round->attempts.size(); ++i) {
        if (!round->attempts[i].started)
            continue;
        try {
            std::thread([round, i, settings] { attempt(round, i, settings); }).detach();
        } catch (const std::system_error&) {
            attempt(round, i, settings); // no thread to be had: one after the other
        }
    }
    return Pending(directory, kept, std::move(round), deadline);
}

std::vector<PortList::Entry> PortList::Pending::list()
{
    std::vector<Entry> list;
    if (!m_round)
        return list;
    std::unique_lock<std::mutex> lock(m_round->mutex);
    m_round->finished.wait_until(lock, m_deadline, [&] {
        for (const Attempt& a : m_round->attempts)
            if (a.started && !a.done)
                return false;
        return true;
    });
    for (const Attempt& number : m_round->attempts) {
        const Attempt& a = number.sameAs >= 0 ? m_round->attempts[std::size_t(number.sameAs)] : number;
        const bool unavailable = a.done && !a.opened && SerialService::errorFor(a.cause) == SerialError::Unavailable;
        if (!(a.done && a.opened) && !unavailable && !m_kept.count(number.number))
            continue;
        Entry entry;
        entry.number = number.number;
        if (unavailable)
            entry.note = a.cause == Cause::NoPermission ? Note::NoPermission : Note::Busy;
        entry.toolTip = m_directory->toolTip(number.number);
        if (entry.note != Note::None)
            entry.toolTip += "\n" + noteText(entry.note);
        list.push_back(std::move(entry));
    }
    return list;
}

} // namespace morvandell
