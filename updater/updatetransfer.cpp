#include "updater/updatetransfer.h"

#include "serial/serialservice.h"
#include "updater/firmwareimage.h"
#include "writer/framebuilder.h"

#include <QTimer>

#include <array>

namespace morvandell {

using Mode = UpdateProtocol::Mode;

UpdateTransfer::UpdateTransfer(SerialService& port, QTimer& readyTimer, QObject* parent)
    : QObject(parent)
    , m_port(port)
    , m_readyTimer(readyTimer)
{
    connect(&m_readyTimer, &QTimer::timeout, this, [this] {
        m_protocol.noteTimeout();
        m_wait.wake();
    });
}

QString UpdateTransfer::recoveryAdvice()
{
    return QStringLiteral("Das Display wartet vermutlich im Update-Modus. So geht es weiter: das Fenster "
                          "offen lassen, das Kabel prüfen und dann „Update - Recovery“ mit derselben Datei "
                          "starten.");
}

QString UpdateTransfer::untouchedNote()
{
    return QStringLiteral("Das Display wurde nicht verändert.");
}

void UpdateTransfer::cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    m_readyTimer.stop();
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

QString UpdateTransfer::blocksSentText() const
{
    return QStringLiteral("%1 von %2 Blöcken wurden gesendet, %3 davon bestätigt.")
        .arg(m_blocksSent)
        .arg(UpdateProtocol::BlockCount)
        .arg(m_blocksAcknowledged);
}

UpdateTransfer::Outcome UpdateTransfer::finish(Result result, const QString& message)
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
            QStringLiteral("Die Verbindung zum Display an Com #%1 ist abgebrochen (Gerät getrennt?).\n%2")
                .arg(m_port.commPort())
                .arg(blocksSentText());
    } else if (result == Result::Cancelled) {
        outcome.message = QStringLiteral("Das Update wurde beendet.\n%1").arg(blocksSentText());
    } else {
        outcome.message = message;
    }
    outcome.message += QStringLiteral("\n\n") + (outcome.displayTouched ? recoveryAdvice() : untouchedNote());
    return outcome;
}

UpdateTransfer::Outcome UpdateTransfer::writeFailed(const QString& what)
{
    // A vanished device shows first as a refused write; the port reports the loss right after.
    if (!m_lost)
        m_wait.waitUntil([this] { return interrupted(); }, LossGrace);
    if (m_cancelled)
        return finish(Result::Cancelled);
    if (m_lost)
        return finish(Result::DeviceLost);
    return finish(Result::PortFailed,
                  QStringLiteral("%1: %2\n%3").arg(what, m_port.describeLastError(), blocksSentText()));
}

void UpdateTransfer::reportProgress()
{
    const qint64 elapsed = m_clock.elapsed();
    emit progress(
        m_blocksSent, m_imagePos,
        UpdateProtocol::progressText(m_blocksSent, UpdateProtocol::remainingMs(m_blocksSent, elapsed)));
    m_nextProgressMs = elapsed + ProgressInterval.count();
}

UpdateTransfer::Outcome UpdateTransfer::run(Mode mode, const QString& imagePath, qint64 imageLength)
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
            transfer.m_running = false;
            transfer.m_inhibitor.release();
        }
    } running{*this};

    // Check the file before the display is switched into its update mode.
    FirmwareImage image(imagePath, imageLength);
    QString error;
    if (!image.open(&error))
        return finish(Result::FileFailed, error);

    if (mode == Mode::Normal) {
        if (!m_port.output(FrameBuilder::updateFrame()))
            return writeFailed(QStringLiteral("Der Update-Befehl konnte nicht gesendet werden"));
        m_touched = true;
        // The frame must have left the port before the line changes.
        m_port.drain();
    }
    m_port.close();
    if (!m_port.setSettings(QString::fromLatin1(UpdateProtocol::UpdateSettings)) || !m_port.open())
        return finish(Result::PortFailed,
                      QStringLiteral("Der Port kann nicht mit 9600 Baud geöffnet werden.\n%1")
                          .arg(m_port.describeLastError()));

    if (mode == Mode::Normal) {
        m_protocol.beginReadyWait();
        m_readyTimer.start();
        // Timer1 sets the limit; the wait's own limit only guards against a timer that never ticks.
        const auto waited = m_wait.waitUntil(
            [this] {
                return m_protocol.readyState() != UpdateProtocol::ReadyState::Waiting || interrupted() ||
                       !m_port.isOpen();
            },
            ReadyTimeout + std::chrono::milliseconds(1000));
        m_readyTimer.stop();
        if (m_cancelled || waited == EventWait::Result::Aborted)
            return finish(Result::Cancelled);
        if (m_lost)
            return finish(Result::DeviceLost);
        if (waited == EventWait::Result::TimedOut)
            m_protocol.noteTimeout();
        if (m_protocol.readyState() == UpdateProtocol::ReadyState::TimedOut)
            return finish(Result::ReadyTimeout, QStringLiteral("Timeout"));
        if (m_protocol.completed || !m_port.isOpen())
            return finish(Result::EndedEarly,
                          QStringLiteral("Das Display hat statt der Bereitschaft das Ende des "
                                         "Updates gemeldet; es wurde nichts gesendet."));
    }

    m_clock.start();
    m_lastEventLoopMs = 0;
    reportProgress();

    // The wait's test, built once: it runs after every event of the transfer.
    int block = 0;
    const auto answered = [this, &block] {
        return m_protocol.ackState(block) != UpdateProtocol::AckState::Waiting || interrupted() ||
               !m_port.isOpen();
    };
    const std::function<bool()> answeredTest = answered;
    std::array<char, UpdateProtocol::BlockSize> bytes{};
    for (block = 1; block <= UpdateProtocol::BlockCount; ++block) {
        if (!image.readBlock(block, bytes.data(), &error))
            return finish(Result::FileFailed, QStringLiteral("%1\n%2").arg(error, blocksSentText()));
        m_protocol.beginBlock();
        if (!m_port.output(bytes.data(), qint64(bytes.size())))
            return writeFailed(QStringLiteral("Block %1 konnte nicht gesendet werden").arg(block));
        m_touched = true;
        m_blocksSent = block;
        m_imagePos = UpdateProtocol::imagePosAfter(block);
        if (block == UpdateProtocol::BlockCount || m_clock.elapsed() >= m_nextProgressMs)
            reportProgress();

        if (!UpdateProtocol::awaitsAnswer(mode, block))
            break;
        if (!answered() && m_clock.elapsed() - m_lastEventLoopMs < QuickAnswerWindow.count())
            m_port.waitForInput(int(QuickAnswer.count()));
        auto waited = EventWait::Result::Satisfied;
        if (!answered()) {
            waited = m_wait.waitUntil(answeredTest, AckTimeout);
            m_lastEventLoopMs = m_clock.elapsed();
        }
        if (m_cancelled || waited == EventWait::Result::Aborted)
            return finish(Result::Cancelled);
        if (m_lost)
            return finish(Result::DeviceLost);
        switch (m_protocol.ackState(block)) {
        case UpdateProtocol::AckState::Acknowledged:
            m_blocksAcknowledged = block;
            break;
        case UpdateProtocol::AckState::Completed:
            // Recovery: the completion byte alone also ends the wait after the last block.
            m_blocksAcknowledged = block;
            break;
        case UpdateProtocol::AckState::EndedEarly:
            return finish(
                Result::EndedEarly,
                QStringLiteral("Das Display hat das Update nach Block %1 von %2 als beendet gemeldet, "
                               "bevor alle Blöcke gesendet waren.\n%3")
                    .arg(block)
                    .arg(UpdateProtocol::BlockCount)
                    .arg(blocksSentText()));
        case UpdateProtocol::AckState::Waiting:
            if (!m_port.isOpen())
                return finish(Result::EndedEarly, QStringLiteral("Der Port wurde während der Übertragung "
                                                                 "geschlossen.\n%1")
                                                      .arg(blocksSentText()));
            return finish(
                Result::AckTimeout,
                QStringLiteral("Timeout\n\nDas Display hat Block %1 von %2 nicht innerhalb von %3 s "
                               "bestätigt.\n%4")
                    .arg(block)
                    .arg(UpdateProtocol::BlockCount)
                    .arg(AckTimeout.count() / 1000)
                    .arg(blocksSentText()));
        }
    }
    image.close();
    return finish(Result::Finished);
}

} // namespace morvandell
