#include "updater/updatetransfer.h"

#include "platform/text.h"
#include "serial/serialservice.h"
#include "updater/firmwareimage.h"

#include <array>
#include <functional>

namespace morvandell {

using Mode = UpdateProtocol::Mode;

UpdateTransfer::UpdateTransfer(SerialService& port)
    : m_port(port)
    , m_wait(port.loop())
    , m_inhibitor(port.loop())
{}

UpdateTransfer::~UpdateTransfer()
{
    stopReadyTimer();
}

std::string UpdateTransfer::recoveryAdvice()
{
    return "Das Display wartet vermutlich im Update-Modus. So geht es weiter: das Fenster offen lassen, das "
           "Kabel prüfen und dann „Update - Recovery“ mit derselben Datei starten.";
}

std::string UpdateTransfer::untouchedNote()
{
    return "Das Display wurde nicht verändert.";
}

void UpdateTransfer::startReadyTimer()
{
    stopReadyTimer();
    m_readyTimer = m_port.loop().startTimer(ReadyTimeout, [this] {
        m_readyTimer = 0;
        m_protocol.noteTimeout();
        m_wait.wake();
    });
}

void UpdateTransfer::stopReadyTimer()
{
    if (!m_readyTimer)
        return;
    m_port.loop().cancelTimer(m_readyTimer);
    m_readyTimer = 0;
}

void UpdateTransfer::cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    stopReadyTimer();
    m_wait.abort();
}

void UpdateTransfer::take(UpdateProtocol::Answer answer)
{
    m_protocol.take(answer);
    m_wait.wake();
}

void UpdateTransfer::noteDeviceLost()
{
    if (!m_running)
        return;
    m_lost = true;
    m_wait.wake();
}

std::int64_t UpdateTransfer::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count();
}

std::string UpdateTransfer::blocksSentText() const
{
    return text::arg("%1 von %2 Blöcken wurden gesendet, %3 davon bestätigt.",
                     {m_blocksSent, UpdateProtocol::BlockCount, m_blocksAcknowledged});
}

UpdateTransfer::Outcome UpdateTransfer::finish(Result result, const std::string& message)
{
    Outcome outcome;
    outcome.result = result;
    outcome.blocksSent = m_blocksSent;
    outcome.blocksAcknowledged = m_blocksAcknowledged;
    outcome.displayTouched = m_touched && result != Result::Finished;
    if (result == Result::Finished)
        return outcome;
    if (result == Result::DeviceLost) {
        outcome.message =
            text::arg("Die Verbindung zum Display an Com #%1 ist abgebrochen (Gerät getrennt?).\n%2",
                      {m_port.commPort(), blocksSentText()});
    } else if (result == Result::Cancelled) {
        outcome.message = text::arg("Das Update wurde beendet.\n%1", {blocksSentText()});
    } else {
        outcome.message = message;
    }
    outcome.message += "\n\n" + (outcome.displayTouched ? recoveryAdvice() : untouchedNote());
    return outcome;
}

UpdateTransfer::Outcome UpdateTransfer::writeFailed(const std::string& what)
{
    // A vanished device shows first as a refused write; the port reports the loss right after.
    if (!m_lost)
        m_wait.waitUntil([this] { return interrupted(); }, LossGrace);
    if (m_cancelled)
        return finish(Result::Cancelled);
    if (m_lost)
        return finish(Result::DeviceLost);
    return finish(Result::PortFailed,
                  text::arg("%1: %2\n%3", {what, m_port.describeLastError(), blocksSentText()}));
}

void UpdateTransfer::reportProgress()
{
    const std::int64_t elapsed = elapsedMs();
    progress(m_blocksSent, m_imagePos,
             UpdateProtocol::progressText(m_blocksSent, UpdateProtocol::remainingMs(m_blocksSent, elapsed)));
    m_nextProgressMs = elapsed + ProgressInterval.count();
}

UpdateTransfer::Outcome UpdateTransfer::run(Mode mode, const std::string& imagePath, std::int64_t imageLength)
{
    m_running = true;
    m_cancelled = false;
    m_lost = false;
    m_touched = false;
    m_blocksSent = 0;
    m_blocksAcknowledged = 0;
    m_imagePos = UpdateProtocol::imagePosAfter(0);
    m_protocol.beginTransfer();
    // The machine stays awake until the transfer ends, whatever the outcome.
    m_inhibitor.acquire();
    struct Running
    {
        UpdateTransfer& transfer;
        ~Running()
        {
            transfer.stopReadyTimer();
            transfer.m_running = false;
            transfer.m_inhibitor.release();
        }
    } running{*this};

    // Check the file before the display is switched into its update mode.
    FirmwareImage image(imagePath, imageLength);
    std::string error;
    if (!image.open(&error))
        return finish(Result::FileFailed, error);

    if (mode == Mode::Normal) {
        if (!m_port.output(UpdateProtocol::updateFrame()))
            return writeFailed("Der Update-Befehl konnte nicht gesendet werden");
        m_touched = true;
        // The frame must have left the port before the line changes.
        m_port.drain();
    }
    m_port.close();
    // An adapter that passes received bytes on at its event character hands each acknowledgement over
    // at once, instead of holding it for its latency timer.
    m_port.setEventChar(Byte(UpdateProtocol::Answer::Ack));
    if (!m_port.setSettings(UpdateProtocol::UpdateSettings) || !m_port.open())
        return finish(Result::PortFailed, text::arg("Der Port kann nicht mit 9600 Baud geöffnet werden.\n%1",
                                                    {m_port.describeLastError()}));

    if (mode == Mode::Normal) {
        m_protocol.beginReadyWait();
        startReadyTimer();
        // Timer1 sets the limit; the wait's own limit only guards against a timer that never ticks.
        const auto waited = m_wait.waitUntil(
            [this] {
                return m_protocol.readyState() != UpdateProtocol::ReadyState::Waiting || interrupted() ||
                       !m_port.isOpen();
            },
            ReadyTimeout + std::chrono::milliseconds(1000));
        stopReadyTimer();
        if (m_cancelled || waited == EventWait::Result::Aborted)
            return finish(Result::Cancelled);
        if (m_lost)
            return finish(Result::DeviceLost);
        if (waited == EventWait::Result::TimedOut)
            m_protocol.noteTimeout();
        if (m_protocol.readyState() == UpdateProtocol::ReadyState::TimedOut)
            return finish(Result::ReadyTimeout, "Timeout");
        if (m_protocol.completed || !m_port.isOpen())
            return finish(Result::EndedEarly, "Das Display hat statt der Bereitschaft das Ende des Updates "
                                              "gemeldet; es wurde nichts gesendet.");
    }

    m_start = Clock::now();
    m_lastEventLoopMs = 0;
    reportProgress();

    // The wait's test, built once: it runs after every event of the transfer.
    int block = 0;
    const auto answered = [this, &block] {
        return m_protocol.ackState(block) != UpdateProtocol::AckState::Waiting || interrupted() ||
               !m_port.isOpen();
    };
    const std::function<bool()> answeredTest = answered;
    std::array<Byte, UpdateProtocol::BlockSize> bytes{};
    for (block = 1; block <= UpdateProtocol::BlockCount; ++block) {
        if (!image.readBlock(block, bytes.data(), &error))
            return finish(Result::FileFailed, text::arg("%1\n%2", {error, blocksSentText()}));
        m_protocol.beginBlock();
        if (!m_port.output(bytes.data(), bytes.size()))
            return writeFailed(text::arg("Block %1 konnte nicht gesendet werden", {block}));
        m_touched = true;
        m_blocksSent = block;
        m_imagePos = UpdateProtocol::imagePosAfter(block);
        if (block == UpdateProtocol::BlockCount || elapsedMs() >= m_nextProgressMs)
            reportProgress();

        if (!UpdateProtocol::awaitsAnswer(mode, block))
            break;
        if (!answered() && elapsedMs() - m_lastEventLoopMs < QuickAnswerWindow.count())
            m_port.waitForInput(QuickAnswer);
        auto waited = EventWait::Result::Satisfied;
        if (!answered()) {
            waited = m_wait.waitUntil(answeredTest, AckTimeout);
            m_lastEventLoopMs = elapsedMs();
        }
        const UpdateProtocol::AckState state = m_protocol.ackState(block);
        // Recovery: the completion byte alone also ends the wait after the last block.
        if (state == UpdateProtocol::AckState::Acknowledged || state == UpdateProtocol::AckState::Completed)
            m_blocksAcknowledged = block; // also when the transfer stops right here: the display has it
        if (m_cancelled || waited == EventWait::Result::Aborted)
            return finish(Result::Cancelled);
        if (m_lost)
            return finish(Result::DeviceLost);
        switch (state) {
        case UpdateProtocol::AckState::Acknowledged:
        case UpdateProtocol::AckState::Completed:
            break;
        case UpdateProtocol::AckState::EndedEarly:
            return finish(Result::EndedEarly,
                          text::arg("Das Display hat das Update nach Block %1 von %2 als beendet gemeldet, "
                                    "bevor alle Blöcke gesendet waren.\n%3",
                                    {block, UpdateProtocol::BlockCount, blocksSentText()}));
        case UpdateProtocol::AckState::Waiting:
            if (!m_port.isOpen())
                return finish(
                    Result::EndedEarly,
                    text::arg("Der Port wurde während der Übertragung geschlossen.\n%1", {blocksSentText()}));
            return finish(Result::AckTimeout,
                          text::arg("Timeout\n\nDas Display hat Block %1 von %2 nicht innerhalb von %3 s "
                                    "bestätigt.\n%4",
                                    {block, UpdateProtocol::BlockCount,
                                     static_cast<long long>(AckTimeout.count() / 1000), blocksSentText()}));
        }
    }
    image.close();
    return finish(Result::Finished);
}

} // namespace morvandell
