// The core's event loop over Qt's: what wakes runOnce() and when, timers, posted tasks, watched
// descriptors (a pipe), and the wait built on it.
#include "loop/eventwait.h"
#include "ui/qt/qteventloop.h"

#include <QElapsedTimer>
#include <QTest>

#include <thread>
#include <unistd.h>

using namespace morvandell;
using morvandell::ui::qt::QtEventLoop;
using namespace std::chrono_literals;

class TestQtEventLoop : public QObject
{
    Q_OBJECT
private slots:
    void runOnceSleepsUntilTheFirstEventOrTheDeadline_data()
    {
        QTest::addColumn<QString>("event"); // what happens while runOnce() sleeps (deadline 300 ms)
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("nothing: the deadline") << "none" << 290 << 450;
        QTest::newRow("a timer after 50 ms") << "timer" << 45 << 200;
        QTest::newRow("input on a watched pipe after 50 ms") << "input" << 45 << 200;
        QTest::newRow("a task posted before: at once") << "posted" << 0 << 40;
        QTest::newRow("woken before: at once") << "woken" << 0 << 40;
    }
    void runOnceSleepsUntilTheFirstEventOrTheDeadline()
    {
        QFETCH(QString, event);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QtEventLoop loop;
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        int reads = 0;
        const int watch = loop.watch(fds[0], [&] {
            char c;
            if (::read(fds[0], &c, 1) == 1)
                ++reads;
        });
        // Whatever the set-up left pending (Qt's own events) is handled first.
        for (int i = 0; i < 10; ++i)
            loop.runOnce(EventLoop::Clock::now());
        int ran = 0;
        std::thread writer;
        if (event == "timer")
            loop.startTimer(50ms, [&] { ++ran; });
        else if (event == "input")
            writer = std::thread([&] {
                std::this_thread::sleep_for(50ms);
                (void)!::write(fds[1], "x", 1);
            });
        else if (event == "posted")
            loop.post([&] { ++ran; });
        else if (event == "woken")
            loop.wake();
        QElapsedTimer clock;
        clock.start();
        loop.runOnce(EventLoop::Clock::now() + 300ms);
        const qint64 elapsed = clock.elapsed();
        if (writer.joinable())
            writer.join();
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        QCOMPARE(ran, event == "timer" || event == "posted" ? 1 : 0);
        QCOMPARE(reads, event == "input" ? 1 : 0);
        loop.unwatch(watch);
        ::close(fds[0]);
        ::close(fds[1]);
    }

    void aCancelledTimerNeverRunsAndAWaitEndsOnItsCondition()
    {
        QtEventLoop loop;
        bool cancelledRan = false;
        bool flag = false;
        const int cancelled = loop.startTimer(30ms, [&] { cancelledRan = true; });
        loop.cancelTimer(cancelled);
        EventWait wait(loop);
        loop.startTimer(100ms, [&] {
            flag = true;
            wait.wake();
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(wait.waitUntil([&] { return flag; }, 2000ms), EventWait::Result::Satisfied);
        QVERIFY2(clock.elapsed() >= 95 && clock.elapsed() < 400, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(wait.waitUntil([] { return false; }, 150ms), EventWait::Result::TimedOut);
        QVERIFY(!cancelledRan);
        QVERIFY(loop.canRun());
    }
};

QTEST_MAIN(TestQtEventLoop)
#include "tst_qteventloop.moc"
