// The update protocol in memory: which reads count as answers, when the block waits end, progress text,
// and the update command frame.
#include "coresupport.h"

#include "updater/updateprotocol.h"

#include <gtest/gtest.h>

using namespace morvandell;
using namespace morvandell::test;
using Answer = UpdateProtocol::Answer;
using AckState = UpdateProtocol::AckState;

namespace {

template<typename Row> std::string rowName(const testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

struct AnswersRow
{
    const char* name;
    const char* read; // hex
    std::vector<Answer> answers;
};

class AnswersInARead : public testing::TestWithParam<AnswersRow>
{
};

TEST_P(AnswersInARead, areTakenByteByByteAndAnyOtherReadIsNoise)
{
    EXPECT_EQ(UpdateProtocol::answersIn(hex(GetParam().read)), GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnswersInARead,
    testing::Values(AnswersRow{"ready", "05", {Answer::Ready}},
                    AnswersRow{"ackAndCompletionTogether", "06 07", {Answer::Ack, Answer::Complete}},
                    AnswersRow{"orderIsKept", "07 05 06", {Answer::Complete, Answer::Ready, Answer::Ack}},
                    AnswersRow{"emptyRead", "", {}}, AnswersRow{"noiseAfterAnAck", "06 58", {}},
                    AnswersRow{"zeroBeforeAnAck", "00 06", {}},
                    AnswersRow{"neighboursOfTheAnswerBytes", "04 08", {}}),
    rowName<AnswersRow>);

struct BlockWaitRow
{
    const char* name;
    int block;
    const char* answers; // hex
    AckState state;
};

class BlockWait : public testing::TestWithParam<BlockWaitRow>
{
};

TEST_P(BlockWait, endsOnItsAnswer)
{
    const BlockWaitRow& row = GetParam();
    UpdateProtocol p;
    p.take(Answer::Complete); // left over from an earlier transfer
    p.beginTransfer();
    p.take(Answer::Ack); // the previous block's answer
    p.beginBlock();
    EXPECT_EQ(p.ackState(row.block), AckState::Waiting);
    for (const Answer a : UpdateProtocol::answersIn(hex(row.answers)))
        p.take(a);
    EXPECT_EQ(p.ackState(row.block), row.state);
    // A surplus answer never acknowledges the next block.
    p.beginBlock();
    if (row.state == AckState::Acknowledged && row.block < UpdateProtocol::BlockCount) {
        EXPECT_EQ(p.ackState(row.block + 1), AckState::Waiting);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BlockWait,
    testing::Values(BlockWaitRow{"ack", 5, "06", AckState::Acknowledged},
                    BlockWaitRow{"aReadyByteIsNoAck", 5, "05", AckState::Waiting},
                    BlockWaitRow{"completionBeforeTheLastBlock", 1015, "06 07", AckState::EndedEarly},
                    BlockWaitRow{"completionAloneAfterTheLastBlock", 1016, "07", AckState::Completed},
                    BlockWaitRow{"ackAfterTheLastBlock", 1016, "06", AckState::Acknowledged},
                    BlockWaitRow{"twoAcknowledgementsInOneRead", 5, "06 06", AckState::Acknowledged}),
    rowName<BlockWaitRow>);

struct ProgressRow
{
    const char* name;
    int blocks;
    std::int64_t elapsedMs;
    const char* text;
};

class ProgressText : public testing::TestWithParam<ProgressRow>
{
};

TEST_P(ProgressText, showsPercentBlockAndTimeLeft)
{
    const ProgressRow& row = GetParam();
    EXPECT_EQ(
        UpdateProtocol::progressText(row.blocks, UpdateProtocol::remainingMs(row.blocks, row.elapsedMs)),
        row.text);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProgressText,
                         testing::Values(ProgressRow{"beforeTheFirstBlock", 0, 0, "0 % · Block 0/1016"},
                                         // 1004 blocks to go at 100 ms each: 100.4 s, shown rounded up.
                                         ProgressRow{"early", 12, 1200, "1 % · Block 12/1016 · noch 1:41"},
                                         ProgressRow{"lastBlock", 1016, 136000,
                                                     "100 % · Block 1016/1016 · noch 0:00"}),
                         rowName<ProgressRow>);

TEST(UpdateProtocol, theUpdateFrameIsCommandFourWithEverythingElseZero)
{
    EXPECT_EQ(hexOf(UpdateProtocol::updateFrame()),
              "55 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D");
}

} // namespace
