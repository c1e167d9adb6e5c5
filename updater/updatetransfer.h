#pragma once

#include "platform/signal.h"
#include "loop/eventwait.h"
#include "updater/sleepinhibitor.h"
#include "updater/updateprotocol.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace morvandell {

class FirmwareImage;
class SerialService;

// One firmware transfer over the update window's port: the update command frame (normal update), the
// switch to 9600 baud, the ready wait and the 1016 blocks with their acknowledgement waits. Waits sleep
// in EventWait on the port's event loop; the window's receiver hands every answer to take(). No
// widgets: the window shows the outcome and the progress.
class UpdateTransfer
{
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
        FileFailed,   // the image file is no longer what was loaded (nothing was sent)
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
        // German (UTF-8), for the message box or stderr; empty when Finished. Ends with what to do next:
        // the way back through "Update - Recovery" when the display was touched, else that it was not.
        std::string message;
        int blocksSent = 0;
        int blocksAcknowledged = 0;
        // The update frame went out (normal) or blocks did (recovery): the display probably waits in
        // its update mode now unless the transfer finished.
        bool displayTouched = false;
    };

    // The closing advice of an outcome message.
    static std::string recoveryAdvice();
    static std::string untouchedNote();

    // Runs on the port's event loop; the ready wait's limit is a timer of that loop (the window's Timer1).
    explicit UpdateTransfer(SerialService& port);
    ~UpdateTransfer();
    UpdateTransfer(const UpdateTransfer&) = delete;
    UpdateTransfer& operator=(const UpdateTransfer&) = delete;

    // Sends the image as it was loaded. Just before the first byte goes out (the update frame, or the
    // recovery's first block) the file is checked: one that changed since loading is refused.
    Outcome run(UpdateProtocol::Mode mode, const FirmwareImage& image);
    bool isRunning() const { return m_running; }

    // Ends a running transfer at its current wait; run() then returns Cancelled.
    void cancel();
    // An answer the receiver recognised (also outside a transfer).
    void take(UpdateProtocol::Answer answer);
    // The port reported that the device vanished.
    void noteDeviceLost();

    // Timer1: started for the ready wait, stopped when that wait ends, whatever ended it.
    bool readyTimerActive() const { return m_readyTimer != 0; }
    static constexpr std::chrono::milliseconds readyTimerInterval() { return ReadyTimeout; }

    const UpdateProtocol& protocol() const { return m_protocol; }
    int imagePos() const { return m_imagePos; }
    int blocksSent() const { return m_blocksSent; }
    // Held from the start of run() to its end, whatever the outcome.
    const SleepInhibitor& sleepInhibitor() const { return m_inhibitor; }

    // Once with 0 blocks when sending begins, then at most every ProgressInterval while blocks go out,
    // and after the last block: blocks sent, the position of the next byte (from 1), the bar's text.
    Signal<int, int, const std::string&> progress;

private:
    using Clock = std::chrono::steady_clock;

    Outcome finish(Result result, const std::string& message = {});
    Outcome writeFailed(const std::string& what);
    std::string blocksSentText() const;
    bool interrupted() const { return m_cancelled || m_lost; }
    void reportProgress();
    void startReadyTimer();
    void stopReadyTimer();
    std::int64_t elapsedMs() const;

    SerialService& m_port;
    EventWait m_wait;
    UpdateProtocol m_protocol;
    SleepInhibitor m_inhibitor;
    int m_readyTimer = 0; // the loop's timer id while Timer1 runs
    bool m_running = false;
    bool m_cancelled = false;
    bool m_lost = false;
    int m_imagePos = 0;
    int m_blocksSent = 0;
    int m_blocksAcknowledged = 0;
    bool m_touched = false;
    Clock::time_point m_start; // since sending began
    std::int64_t m_nextProgressMs = 0;
    std::int64_t m_lastEventLoopMs = 0; // when a wait last ran the event loop
};

} // namespace morvandell
