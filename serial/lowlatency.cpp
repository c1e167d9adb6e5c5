#include "serial/lowlatency.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace morvandell {

namespace {

LowLatency::Hook& hook()
{
    static LowLatency::Hook h;
    return h;
}

} // namespace

void LowLatency::setHook(Hook h)
{
    hook() = std::move(h);
}

LowLatency::Outcome LowLatency::request(int fd)
{
    if (hook())
        return hook()(fd);
#ifdef Q_OS_LINUX
    serial_struct serial{};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return Outcome::Unsupported;
    if (serial.flags & ASYNC_LOW_LATENCY)
        return Outcome::AlreadySet;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
        return Outcome::Unsupported;
    return Outcome::Set;
#else
    Q_UNUSED(fd);
    return Outcome::NotAvailable;
#endif
}

QString LowLatency::describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::NotRequested:
        return QStringLiteral("Niedrige Latenz: noch kein Port geöffnet");
    case Outcome::Set:
        return QStringLiteral("Niedrige Latenz: eingeschaltet (Antworten ohne Adapter-Verzögerung)");
    case Outcome::AlreadySet:
        return QStringLiteral("Niedrige Latenz: war bereits eingeschaltet");
    case Outcome::Unsupported:
        return QStringLiteral("Niedrige Latenz: vom Treiber nicht unterstützt (Antworten ggf. bis 16 ms "
                              "verzögert)");
    case Outcome::NotAvailable:
        return QStringLiteral("Niedrige Latenz: auf diesem System nicht einstellbar (unter Windows: "
                              "Treibereinstellung „Latenz-Timer“ des Adapters)");
    }
    return QString();
}

} // namespace morvandell
