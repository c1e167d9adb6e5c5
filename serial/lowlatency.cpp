#include "serial/lowlatency.h"

namespace morvandell {

LowLatency::Hook& LowLatency::hook()
{
    static Hook h;
    return h;
}

void LowLatency::setHook(Hook h)
{
    hook() = std::move(h);
}

std::string LowLatency::describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::NotRequested:
        return "Niedrige Latenz: noch kein Port geöffnet";
    case Outcome::Set:
        return "Niedrige Latenz: eingeschaltet (Antworten ohne Adapter-Verzögerung)";
    case Outcome::AlreadySet:
        return "Niedrige Latenz: war bereits eingeschaltet";
    case Outcome::Unsupported:
        return "Niedrige Latenz: vom Treiber nicht unterstützt (Antworten ggf. bis 16 ms verzögert)";
    case Outcome::NotAvailable:
        return "Niedrige Latenz: auf diesem System nicht einstellbar (unter Windows: Treibereinstellung "
               "„Latenz-Timer“ des Adapters)";
    }
    return {};
}

} // namespace morvandell
