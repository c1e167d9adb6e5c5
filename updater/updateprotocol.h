#pragma once

#include "platform/bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvandell {

// The update protocol without port or widgets: the update command frame, the display's one-byte
// answers, the flags the transfer waits on, and the block and progress arithmetic. The update window
// feeds it every read of its port.
class UpdateProtocol
{
public:
    static constexpr int BlockSize = 128;
    static constexpr int BlockCount = 1016;
    static constexpr int TransferSize = BlockSize * BlockCount; // 130048
    static constexpr int BitsPerByte = 10;                      // start, 8 data, stop
    static constexpr int UpdateBaud = 9600;
    static constexpr auto UpdateSettings = "9600,n,8,1";
    static constexpr int FrameSize = 22;
    static constexpr Byte UpdateCommand = 0x04;

    enum class Mode { Normal, Recovery };

    enum class Answer : std::uint8_t {
        Ready = 0x05,    // the display waits for the image
        Ack = 0x06,      // the display has taken the last block
        Complete = 0x07, // the display has finished the update
    };

    // The command frame that switches the display into its update mode: 0x55, command code 4, nineteen
    // zero bytes, 0x0D.
    static Bytes updateFrame();

    // The answers in one read, in order. A read that holds any byte other than an answer byte is
    // line noise and yields nothing; so does an empty read.
    static std::vector<Answer> answersIn(const Bytes& read);
    // The status line's text for an answer (UTF-8).
    static std::string statusText(Answer answer);

    // What a wait found when it ended.
    enum class ReadyState { Waiting, Ready, TimedOut };
    enum class AckState { Waiting, Acknowledged, Completed, EndedEarly };

    // Before the transfer: forget answers of an earlier one.
    void beginTransfer();
    // Before the ready wait: the wait gets its own time limit.
    void beginReadyWait();
    // Before a block goes out.
    void beginBlock();
    // An answer from the receiver, in the order the display sent it.
    void take(Answer answer);
    // The ready wait's time limit ran out.
    void noteTimeout() { timeoutFlag = 1; }

    // The time-out wins when both arrived.
    ReadyState readyState() const;
    // After block `block` (1-based). A completion before the last block has been sent ends the transfer.
    AckState ackState(int block) const;
    // Whether the transfer waits for an answer after block `block`: the normal update does not wait
    // after the last block, the recovery update does.
    static bool awaitsAnswer(Mode mode, int block);

    // Position of the next byte to send, counted from 1, once `blocks` blocks have gone out.
    static int imagePosAfter(int blocks) { return blocks * BlockSize + 1; }

    // Estimated time left from the pace so far; nothing before the first block.
    static std::optional<std::int64_t> remainingMs(int blocksDone, std::int64_t elapsedMs);
    // The progress bar's text (UTF-8): "37 % · Block 376/1016 · noch 1:25".
    static std::string progressText(int blocksDone, std::optional<std::int64_t> remainingMs);
    // Line time of the whole image at 9600 baud.
    static constexpr double lineSeconds() { return double(TransferSize) * BitsPerByte / UpdateBaud; }

    std::int16_t readyFlag = 0;
    std::int16_t ackFlag = 0;
    std::int16_t timeoutFlag = 0;
    bool completed = false; // the completion byte came during this transfer
};

} // namespace morvandell
