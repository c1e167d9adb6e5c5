#include "updater/updatetransfer.h"

#include "serial/serialservice.h"
#include "updater/firmwareimage.h"
#include "writer/framebuilder.h"

#include <QElapsedTimer>
#include <QTimer>

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
    if (result == Result::DeviceLost) {
        outcome.message =
            QStringLiteral("Die Verbindung zum Display an Com #%1 ist abgebrochen (Gerät getrennt?).\n"
                           "%2\nDie Firmware ist unvollständig: Gerät wieder anschließen und "
                           "„Update - Recovery“ starten.")
                .arg(m_port.commPort())
                .arg(blocksSentText());
    } else {
        outcome.message = message;
        if (result != Result::Finished && result != Result::Cancelled && m_blocksSent > 0)
            outcome.message += QStringLiteral("\nDie Firmware im Display ist möglicherweise unvollständig; "
                                              "„Update - Recovery“ sendet sie erneut.");
    }
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

UpdateTransfer::Outcome UpdateTransfer::run(Mode mode, const QString& imagePath, qint64 imageLength)
{
    m_running = true;
    m_cancelled = false;
    m_lost = false;
    m_blocksSent = 0;
    m_blocksAcknowledged = 0;
    m_protocol.beginTransfer();
    struct Running
    {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_running};

    // Check the file before the display is switched into its update mode.
    FirmwareImage image(imagePath, imageLength);
    QString error;
    if (!image.open(&error))
        return finish(Result::FileFailed, error);

    if (mode == Mode::Normal) {
        if (!m_port.output(FrameBuilder::updateFrame()))
            return writeFailed(QStringLiteral("Der Update-Befehl konnte nicht gesendet werden"));
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

    QElapsedTimer clock;
    clock.start();
    m_imagePos = UpdateProtocol::imagePosAfter(0);
    emit progress(0, m_imagePos, UpdateProtocol::progressText(0, std::nullopt));

    for (int block = 1; block <= UpdateProtocol::BlockCount; ++block) {
        const auto bytes = image.block(block, &error);
        if (!bytes)
            return finish(Result::FileFailed, QStringLiteral("%1\n%2").arg(error, blocksSentText()));
        m_protocol.beginBlock();
        if (!m_port.output(*bytes))
            return writeFailed(QStringLiteral("Block %1 konnte nicht gesendet werden").arg(block));
        m_blocksSent = block;
        m_imagePos = UpdateProtocol::imagePosAfter(block);
        emit progress(
            block, m_imagePos,
            UpdateProtocol::progressText(block, UpdateProtocol::remainingMs(block, clock.elapsed())));

        if (!UpdateProtocol::awaitsAnswer(mode, block))
            break;
        const auto waited = m_wait.waitUntil(
            [this, block] {
                return m_protocol.ackState(block) != UpdateProtocol::AckState::Waiting || interrupted() ||
                       !m_port.isOpen();
            },
            AckTimeout);
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
