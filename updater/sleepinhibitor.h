#pragma once

#include <QObject>
#include <QString>

#ifndef Q_OS_WIN
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>

#include <optional>
#endif

namespace morvandell {

// Keeps the machine awake while a firmware transfer runs. On Linux it holds a "sleep:idle" block
// inhibitor of logind (org.freedesktop.login1 on the system bus) until release(); on Windows it sets the
// thread's execution state. Without a system bus or without logind it does nothing and says nothing:
// the transfer runs all the same. The request goes out without blocking; its answer arrives while the
// transfer processes events.
class SleepInhibitor : public QObject
{
    Q_OBJECT
public:
    static constexpr auto What = "sleep:idle";
    static constexpr auto Who = "Morvandell";
    static constexpr auto Why = "Firmware-Update läuft";
    static constexpr auto Mode = "block";

    // The system bus, connected on the first acquire().
    explicit SleepInhibitor(QObject* parent = nullptr);
#ifndef Q_OS_WIN
    SleepInhibitor(const QDBusConnection& bus, QObject* parent = nullptr);
#endif
    ~SleepInhibitor() override;

    // Asks for the inhibitor; does nothing when it is wanted already.
    void acquire();
    // Gives it back (also a request whose answer is still on its way).
    void release();
    // Wanted between acquire() and release().
    bool isWanted() const
    {
        return m_wanted;
    }
    // The system holds it for us now.
    bool isHeld() const;

signals:
    void heldChanged(bool held);

private:
    bool m_wanted = false;
    quint64 m_request = 0; // numbers the requests, so that a late answer to an old one is dropped
#ifdef Q_OS_WIN
    bool m_set = false;
#else
    std::optional<QDBusConnection> m_bus;
    QDBusUnixFileDescriptor m_descriptor;
#endif
};

} // namespace morvandell
