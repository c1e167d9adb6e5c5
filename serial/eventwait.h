#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <vector>

class QEventLoop;

namespace morvandell {

// The one way this program waits for the display: a nested event loop that sleeps until an event
// arrives, so the window stays responsive and the receivers keep running. Whoever changes a flag
// that a wait may be testing calls wake(); abort() ends every running wait (window closed, device gone).
class EventWait : public QObject
{
    Q_OBJECT
public:
    enum class Result { Satisfied, TimedOut, Aborted };

    explicit EventWait(QObject* parent = nullptr);
    ~EventWait() override;

    // Runs until condition() holds (checked after every wake()), the time limit runs out, or abort().
    Result waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

    void wake();
    void abort();
    bool isWaiting() const { return !m_loops.empty(); }

signals:
    // A wait began or ended: windows disable and enable their sending buttons on it.
    void waitingChanged(bool waiting);

private:
    struct Active
    {
        QEventLoop* loop;
        bool aborted;
    };
    std::vector<Active*> m_loops;
};

} // namespace morvandell
