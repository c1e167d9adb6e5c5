#include "updater/updateprotocol.h"

#include "platform/text.h"

namespace morvandell {

Bytes UpdateProtocol::updateFrame()
{
    Bytes frame(FrameSize, 0x00);
    frame.front() = 0x55; // "U"
    frame[1] = UpdateCommand;
    frame.back() = 0x0D;
    return frame;
}

std::vector<UpdateProtocol::Answer> UpdateProtocol::answersIn(const Bytes& read)
{
    std::vector<Answer> answers;
    answers.reserve(read.size());
    for (const Byte b : read) {
        switch (b) {
        case 0x05:
            answers.push_back(Answer::Ready);
            break;
        case 0x06:
            answers.push_back(Answer::Ack);
            break;
        case 0x07:
            answers.push_back(Answer::Complete);
            break;
        default:
            return {};
        }
    }
    return answers;
}

std::string UpdateProtocol::statusText(Answer answer)
{
    switch (answer) {
    case Answer::Ready:
        return "Bereit.";
    case Answer::Ack:
        return "Übertragen.";
    case Answer::Complete:
        return "Fertig.";
    }
    return {};
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

std::optional<std::int64_t> UpdateProtocol::remainingMs(int blocksDone, std::int64_t elapsedMs)
{
    if (blocksDone <= 0 || elapsedMs < 0)
        return std::nullopt;
    if (blocksDone >= BlockCount)
        return 0;
    return elapsedMs * (BlockCount - blocksDone) / blocksDone;
}

std::string UpdateProtocol::progressText(int blocksDone, std::optional<std::int64_t> remainingMs)
{
    const int percent = blocksDone * 100 / BlockCount;
    std::string out = text::arg("%1 % · Block %2/%3", {percent, blocksDone, BlockCount});
    if (remainingMs) {
        const std::int64_t seconds = (*remainingMs + 999) / 1000;
        out += text::arg(" · noch %1:%2", {seconds / 60, text::padded(seconds % 60, 2)});
    }
    return out;
}

} // namespace morvandell
