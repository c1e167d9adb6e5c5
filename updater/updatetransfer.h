#pragma once

#include "serial/eventwait.h"
#include "updater/sleepinhibitor.h"
#include "updater/updateprotocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>

class QTimer;

namespace morvandell {

class SerialService;

// One firmware transfer over the update window's port: the update command frame (normal update), the
// switch to 9600 baud, the ready wait and the 1016 blocks with their acknowledgement waits. Waits sleep
// in EventWait; the window's receiver hands every answer to take(). No widgets: the window shows the
// outcome and the progress.
class UpdateTransfer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds ReadyTimeout{5000}; // Timer1's interval
    static constexpr std::chrono::milliseconds AckTimeout{5000};
    // How long a failed write waits for the port to report the vanished device.
    static constexpr std::chrono::milliseconds LossGrace{250};
    // Progress is reported at the screen's pace, not per block.
    static constexpr std::chrono::milliseconds ProgressInterval{100};
    // A display that answers at once is heard without a pass through the event loop: the transfer
    // sleeps this long in the kernel for the answer first. Never longer than QuickAnswerWindow in a row
    // without the event loop, so that the windows stay responsive.
    static constexpr std::chrono::milliseconds QuickAnswer{1};
    static constexpr std::chrono::milliseconds QuickAnswerWindow{20};

    enum class Result {
        Finished,
        FileFailed,   // the image file cannot be opened or read as loaded
        PortFailed,   // the port cannot be reopened or refused bytes
        ReadyTimeout, // no ready byte within ReadyTimeout
        AckTimeout,   // a block was not acknowledged within AckTimeout
        DeviceLost,   // the device vanished
        EndedEarly,   // completion byte (or a closed port) before the last block
        Cancelled,    // stopped on request (window closed, "Ja" to stopping)
    };
    struct Outcome
    {
        Result result = Result::Finished;
        // German, for the message box or stderr; empty when Finished. Ends with what to do next: the
        // way back through "Update - Recovery" when the display was touched, else that it was not.
        QString message;
        int blocksSent = 0;
        int blocksAcknowledged = 0;
        // The update frame went out (normal) or blocks did (recovery): the display probably waits in
        // its update mode now unless the transfer finished.
        bool displayTouched = false;
    };

    // The closing advice of an outcome message.
    static QString recoveryAdvice();
    static QString untouchedNote();

    // readyTimer is the window's Timer1: its tick ends the ready wait.
    UpdateTransfer(SerialService& port, QTimer& readyTimer, QObject* parent = nullptr);

    Outcome run(UpdateProtocol::Mode mode, const QString& imagePath, qint64 imageLength);
    bool isRunning() const { return m_running; }

    // Ends a running transfer at its current wait; run() then returns Cancelled.
    void cancel();
    // An answer the receiver recognised (also outside a transfer).
    void take(UpdateProtocol::Answer answer);
    // The port reported that the device vanished.
    void noteDeviceLost();

    const UpdateProtocol& protocol() const { return m_protocol; }
    int imagePos() const { return m_imagePos; }
    int blocksSent() const { return m_blocksSent; }
    // Held from the start of run() to its end, whatever the outcome.
    const SleepInhibitor& sleepInhibitor() const { return m_inhibitor; }

signals:
    // Once with 0 blocks when sending begins, then at most every ProgressInterval while blocks go out,
    // and after the last block.
    void progress(int blocksSent, int imagePos, const QString& text);

private:
    Outcome finish(Result result, const QString& message = QString());
    Outcome writeFailed(const QString& what);
    QString blocksSentText() const;
    bool interrupted() const { return m_cancelled || m_lost; }
    void reportProgress();

    SerialService& m_port;
    QTimer& m_readyTimer;
    EventWait m_wait;
    UpdateProtocol m_protocol;
    SleepInhibitor m_inhibitor;
    bool m_running = false;
    bool m_cancelled = false;
    bool m_lost = false;
    int m_imagePos = 0;
    int m_blocksSent = 0;
    int m_blocksAcknowledged = 0;
    bool m_touched = false;
    QElapsedTimer m_clock; // since sending began
    qint64 m_nextProgressMs = 0;
    qint64 m_lastEventLoopMs = 0; // when a wait last ran the event loop
};

} // namespace morvandell
