#pragma once

#include "loop/eventloop.h"

#include <QObject>

#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace morvandell::ui::qt {

// The core's event loop over Qt's: a QSocketNotifier per watched descriptor, a QTimer per timer, posted
// tasks as queued calls. runOnce() handles what is pending and then sleeps in Qt's dispatcher until one
// more event came or the deadline passed. Needs a QCoreApplication; everything on its thread.
class QtEventLoop final : public QObject, public EventLoop
{
public:
    QtEventLoop();
    ~QtEventLoop() override;

    int watch(WaitHandle handle, std::function<void()> ready) override;
    void unwatch(int id) override;
    void post(std::function<void()> task) override;
    int startTimer(std::chrono::milliseconds delay, std::function<void()> task) override;
    void cancelTimer(int id) override;
    void runOnce(Clock::time_point deadline) override;
    void wake() override;
    // False once the application is quitting (or gone): waits end instead of sleeping.
    bool canRun() const override;

    // The program is ending: from now on canRun() is false (the front end's quit()).
    void noteQuitting() { m_quitting = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::map<int, QSocketNotifier*> m_watches;
    std::map<int, QTimer*> m_timers;
    int m_lastId = 0;
    bool m_woken = false;
    bool m_quitting = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true); // for queued tasks
};

} // namespace morvandell::ui::qt
