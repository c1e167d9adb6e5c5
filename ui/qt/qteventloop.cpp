#include "ui/qt/qteventloop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

namespace morvandell::ui::qt {

QtEventLoop::QtEventLoop()
{
    // Sees the application's Quit event (last window closed, quit()), so that waits stop sleeping.
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

QtEventLoop::~QtEventLoop()
{
    *m_alive = false;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    for (auto& [id, notifier] : m_watches)
        delete notifier;
    for (auto& [id, timer] : m_timers)
        delete timer;
}

bool QtEventLoop::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance())
        m_quitting = true;
    return QObject::eventFilter(watched, event);
}

int QtEventLoop::watch(WaitHandle handle, std::function<void()> ready)
{
    const int id = ++m_lastId;
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [ready = std::move(ready)] { ready(); });
    m_watches[id] = notifier;
    return id;
}

void QtEventLoop::unwatch(int id)
{
    const auto it = m_watches.find(id);
    if (it == m_watches.end())
        return;
    // It may be the notifier whose activation is running now.
    it->second->setEnabled(false);
    it->second->deleteLater();
    m_watches.erase(it);
}

void QtEventLoop::post(std::function<void()> task)
{
    std::weak_ptr<bool> alive = m_alive;
    QMetaObject::invokeMethod(
        this,
        [alive, task = std::move(task)] {
            if (alive.lock())
                task();
        },
        Qt::QueuedConnection);
}

int QtEventLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> task)
{
    const int id = ++m_lastId;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    QObject::connect(timer, &QTimer::timeout, timer, [this, id, task = std::move(task)] {
        // A single shot: forget it first, the task may start or cancel timers.
        const auto it = m_timers.find(id);
        if (it != m_timers.end()) {
            it->second->deleteLater();
            m_timers.erase(it);
        }
        task();
    });
    m_timers[id] = timer;
    timer->start(delay);
    return id;
}

void QtEventLoop::cancelTimer(int id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    m_timers.erase(it);
}

void QtEventLoop::runOnce(Clock::time_point deadline)
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    // What is pending first, without sleeping; when anything was handled (or wake() came, also before
    // this call), that was the pass.
    const bool handled = dispatcher ? dispatcher->processEvents(QEventLoop::AllEvents)
                                    : (QCoreApplication::processEvents(QEventLoop::AllEvents), true);
    if (handled || m_woken || !canRun()) {
        m_woken = false;
        return;
    }
    const auto now = Clock::now();
    if (deadline <= now)
        return;
    // Then sleep until the next event; a timer at the deadline is that event at the latest.
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    limit.start(static_cast<int>(std::min<long long>(left.count(), 24LL * 3600 * 1000)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    m_woken = false;
}

void QtEventLoop::wake()
{
    m_woken = true;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

bool QtEventLoop::canRun() const
{
    return !m_quitting && QCoreApplication::instance() && !QCoreApplication::closingDown();
}

} // namespace morvandell::ui::qt
