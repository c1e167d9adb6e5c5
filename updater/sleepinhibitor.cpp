#include "updater/sleepinhibitor.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace morvandell {

SleepInhibitor::SleepInhibitor(QObject* parent)
    : QObject(parent)
{}

#ifndef Q_OS_WIN
SleepInhibitor::SleepInhibitor(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{}
#endif

SleepInhibitor::~SleepInhibitor()
{
    release();
}

#ifdef Q_OS_WIN

void SleepInhibitor::acquire()
{
    if (m_wanted)
        return;
    m_wanted = true;
    m_set = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    if (m_set)
        emit heldChanged(true);
}

void SleepInhibitor::release()
{
    if (!m_wanted)
        return;
    m_wanted = false;
    if (!m_set)
        return;
    SetThreadExecutionState(ES_CONTINUOUS);
    m_set = false;
    emit heldChanged(false);
}

bool SleepInhibitor::isHeld() const
{
    return m_set;
}

#else

void SleepInhibitor::acquire()
{
    if (m_wanted)
        return;
    m_wanted = true;
    const quint64 request = ++m_request;
    if (!m_bus)
        m_bus = QDBusConnection::systemBus();
    if (!m_bus->isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QString::fromLatin1(What) << QString::fromLatin1(Who) << QString::fromUtf8(Why)
         << QString::fromLatin1(Mode);
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, request](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        // An error (no logind, not allowed) or a request that was given back meanwhile: nothing is held;
        // the reply's descriptor closes with it.
        if (!m_wanted || request != m_request || reply.isError() || !reply.value().isValid())
            return;
        m_descriptor = reply.value();
        emit heldChanged(true);
    });
}

void SleepInhibitor::release()
{
    if (!m_wanted)
        return;
    m_wanted = false;
    ++m_request;
    if (!m_descriptor.isValid())
        return;
    m_descriptor = QDBusUnixFileDescriptor(); // closing the descriptor ends the inhibitor
    emit heldChanged(false);
}

bool SleepInhibitor::isHeld() const
{
    return m_descriptor.isValid();
}

#endif

} // namespace morvandell
