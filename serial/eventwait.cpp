#include "serial/eventwait.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace morvandell {

EventWait::EventWait(QObject* parent)
    : QObject(parent)
{}

EventWait::~EventWait()
{
    abort();
}

EventWait::Result EventWait::waitUntil(const std::function<bool()>& condition,
                                       std::chrono::milliseconds limit)
{
    QEventLoop loop;
    Active active{&loop, false};
    bool timedOut = false;

    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });

    m_loops.push_back(&active);
    if (m_loops.size() == 1)
        emit waitingChanged(true);
    timer.start(limit);

    // The first test comes after one pass of event processing, as with a polled wait.
    loop.processEvents(QEventLoop::AllEvents);
    while (!active.aborted && !condition() && !timedOut) {
        // Sleeps until some event arrives; wake() quits it to re-test. A loop that cannot run at all
        // (the application is quitting) ends the wait instead of spinning.
        if (loop.exec(QEventLoop::AllEvents) == -1)
            active.aborted = true;
    }

    timer.stop();
    m_loops.erase(std::remove(m_loops.begin(), m_loops.end(), &active), m_loops.end());
    if (m_loops.empty())
        emit waitingChanged(false);

    if (active.aborted)
        return Result::Aborted;
    if (condition())
        return Result::Satisfied;
    return Result::TimedOut;
}

void EventWait::wake()
{
    for (Active* a : m_loops)
        a->loop->quit();
}

void EventWait::abort()
{
    for (Active* a : m_loops) {
        a->aborted = true;
        a->loop->quit();
    }
}

} // namespace morvandell
