#include "updater/updateprotocol.h"

namespace morvandell {

QList<UpdateProtocol::Answer> UpdateProtocol::answersIn(const QByteArray& read)
{
    QList<Answer> answers;
    answers.reserve(read.size());
    for (const char c : read) {
        switch (static_cast<std::uint8_t>(c)) {
        case 0x05:
            answers.append(Answer::Ready);
            break;
        case 0x06:
            answers.append(Answer::Ack);
            break;
        case 0x07:
            answers.append(Answer::Complete);
            break;
        default:
            return {};
        }
    }
    return answers;
}

QString UpdateProtocol::statusText(Answer answer)
{
    switch (answer) {
    case Answer::Ready:
        return QStringLiteral("Bereit.");
    case Answer::Ack:
        return QStringLiteral("Übertragen.");
    case Answer::Complete:
        return QStringLiteral("Fertig.");
    }
    return QString();
}

void UpdateProtocol::beginTransfer()
{
    readyFlag = 0;
    ackFlag = 0;
    timeoutFlag = 0;
    completed = false;
}

void UpdateProtocol::beginReadyWait()
{
    readyFlag = 0;
    timeoutFlag = 0;
}

void UpdateProtocol::beginBlock()
{
    ackFlag = 0;
}

void UpdateProtocol::take(Answer answer)
{
    switch (answer) {
    case Answer::Ready:
        readyFlag = 1;
        break;
    case Answer::Ack:
        ackFlag = 1;
        break;
    case Answer::Complete:
        readyFlag = 1;
        completed = true;
        break;
    }
}

UpdateProtocol::ReadyState UpdateProtocol::readyState() const
{
    if (timeoutFlag == 1)
        return ReadyState::TimedOut;
    if (readyFlag == 1)
        return ReadyState::Ready;
    return ReadyState::Waiting;
}

UpdateProtocol::AckState UpdateProtocol::ackState(int block) const
{
    if (completed)
        return block >= BlockCount ? AckState::Completed : AckState::EndedEarly;
    if (ackFlag == 1)
        return AckState::Acknowledged;
    return AckState::Waiting;
}

bool UpdateProtocol::awaitsAnswer(Mode mode, int block)
{
    return mode == Mode::Recovery || block < BlockCount;
}

std::optional<qint64> UpdateProtocol::remainingMs(int blocksDone, qint64 elapsedMs)
{
    if (blocksDone <= 0 || elapsedMs < 0)
        return std::nullopt;
    if (blocksDone >= BlockCount)
        return 0;
    return elapsedMs * (BlockCount - blocksDone) / blocksDone;
}

QString UpdateProtocol::progressText(int blocksDone, std::optional<qint64> remainingMs)
{
    const int percent = blocksDone * 100 / BlockCount;
    QString text = QStringLiteral("%1 % · Block %2/%3").arg(percent).arg(blocksDone).arg(BlockCount);
    if (remainingMs) {
        const qint64 seconds = (*remainingMs + 999) / 1000;
        text += QStringLiteral(" · noch %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

} // namespace morvandell
