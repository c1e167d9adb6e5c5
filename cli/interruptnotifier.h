#pragma once

#include <QObject>

class QSocketNotifier;

namespace morvandell {

// Turns SIGINT (Ctrl+C) into a Qt signal on the main thread. The signal handler only writes one byte
// into a pipe; everything else happens when the event loop reads it.
class InterruptNotifier : public QObject
{
    Q_OBJECT
public:
    explicit InterruptNotifier(QObject* parent = nullptr);
    ~InterruptNotifier() override;

    bool isInterrupted() const { return m_interrupted; }

signals:
    void interrupted();

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_interrupted = false;
};

} // namespace morvandell
