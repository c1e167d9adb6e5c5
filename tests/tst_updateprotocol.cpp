// The update protocol in memory: answer bytes, the waits' outcomes and the progress arithmetic.

#include "updater/updateprotocol.h"

#include <QTest>

using morvandell::UpdateProtocol;
using Answer = UpdateProtocol::Answer;
using AckState = UpdateProtocol::AckState;
using ReadyState = UpdateProtocol::ReadyState;
using Mode = UpdateProtocol::Mode;

Q_DECLARE_METATYPE(QList<Answer>)
Q_DECLARE_METATYPE(AckState)

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// What the flags say after each answer: "r" ready, "a" ack, "c" completed, "-" for a clear flag.
QString trace(const UpdateProtocol& p)
{
    return QStringLiteral("%1%2%3")
        .arg(p.readyFlag ? QLatin1Char('r') : QLatin1Char('-'))
        .arg(p.ackFlag ? QLatin1Char('a') : QLatin1Char('-'))
        .arg(p.completed ? QLatin1Char('c') : QLatin1Char('-'));
}

} // namespace

class TestUpdateProtocol : public QObject
{
    Q_OBJECT
private slots:
    void aReadOfAnswerBytesIsTakenByteByByteAnyOtherReadIsNoise_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QList<Answer>>("answers");
        QTest::newRow("ready") << bytes({0x05}) << QList<Answer>{Answer::Ready};
        QTest::newRow("ack") << bytes({0x06}) << QList<Answer>{Answer::Ack};
        QTest::newRow("completion") << bytes({0x07}) << QList<Answer>{Answer::Complete};
        QTest::newRow("ack and completion together")
            << bytes({0x06, 0x07}) << QList<Answer>{Answer::Ack, Answer::Complete};
        QTest::newRow("two acks together") << bytes({0x06, 0x06}) << QList<Answer>{Answer::Ack, Answer::Ack};
        QTest::newRow("order is kept")
            << bytes({0x07, 0x05, 0x06}) << QList<Answer>{Answer::Complete, Answer::Ready, Answer::Ack};
        QTest::newRow("empty read") << QByteArray() << QList<Answer>{};
        QTest::newRow("noise after an ack") << bytes({0x06, 'X'}) << QList<Answer>{};
        QTest::newRow("noise before an ack") << bytes({0x00, 0x06}) << QList<Answer>{};
        QTest::newRow("neighbouring byte values") << bytes({0x04}) << QList<Answer>{};
        QTest::newRow("0x08") << bytes({0x08}) << QList<Answer>{};
        QTest::newRow("high byte") << bytes({0x86}) << QList<Answer>{};
        QTest::newRow("a device message") << QByteArray("U\x00\x00\x00OK", 6) << QList<Answer>{};
    }
    void aReadOfAnswerBytesIsTakenByteByByteAnyOtherReadIsNoise()
    {
        QFETCH(QByteArray, read);
        QFETCH(QList<Answer>, answers);
        QCOMPARE(UpdateProtocol::answersIn(read), answers);
    }

    void answersGiveTheFlagsWhetherTheyComeTogetherOrApart_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::newRow("ack, completion") << bytes({0x06, 0x07});
        QTest::newRow("ready, acks, completion") << bytes({0x05, 0x06, 0x06, 0x06, 0x07});
        QTest::newRow("completion first") << bytes({0x07, 0x06});
    }
    void answersGiveTheFlagsWhetherTheyComeTogetherOrApart()
    {
        QFETCH(QByteArray, stream);
        // One read with everything, against one read per byte: the same flags after every answer.
        QStringList together;
        UpdateProtocol bulk;
        for (Answer a : UpdateProtocol::answersIn(stream)) {
            bulk.take(a);
            together << trace(bulk);
        }
        QStringList apart;
        UpdateProtocol single;
        for (char c : stream)
            for (Answer a : UpdateProtocol::answersIn(QByteArray(1, c))) {
                single.take(a);
                apart << trace(single);
            }
        QCOMPARE(together.size(), stream.size());
        QCOMPARE(together, apart);
    }

    void theReadyWaitEndsOnReadyOrTimeoutAndTheTimeoutWins()
    {
        UpdateProtocol p;
        p.beginTransfer();
        p.beginReadyWait();
        QCOMPARE(p.readyState(), ReadyState::Waiting);
        p.take(Answer::Ready);
        QCOMPARE(p.readyState(), ReadyState::Ready);
        p.noteTimeout();
        QCOMPARE(p.readyState(), ReadyState::TimedOut);

        // A tick left over from an earlier attempt does not end the next wait.
        p.beginReadyWait();
        QCOMPARE(p.readyState(), ReadyState::Waiting);
        // The completion byte also counts as ready.
        p.take(Answer::Complete);
        QCOMPARE(p.readyState(), ReadyState::Ready);
    }

    void theAckWaitEndsOnItsAnswer_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<AckState>("state");
        QTest::newRow("ack") << 5 << bytes({0x06}) << AckState::Acknowledged;
        QTest::newRow("nothing yet") << 5 << QByteArray() << AckState::Waiting;
        QTest::newRow("a ready byte is no ack") << 5 << bytes({0x05}) << AckState::Waiting;
        QTest::newRow("completion before the last block") << 1015 << bytes({0x07}) << AckState::EndedEarly;
        QTest::newRow("ack and completion before the last block")
            << 500 << bytes({0x06, 0x07}) << AckState::EndedEarly;
        QTest::newRow("completion alone after the last block")
            << 1016 << bytes({0x07}) << AckState::Completed;
        QTest::newRow("ack after the last block") << 1016 << bytes({0x06}) << AckState::Acknowledged;
        QTest::newRow("ack and completion after the last block")
            << 1016 << bytes({0x06, 0x07}) << AckState::Completed;
    }
    void theAckWaitEndsOnItsAnswer()
    {
        QFETCH(int, block);
        QFETCH(QByteArray, answers);
        QFETCH(AckState, state);
        UpdateProtocol p;
        p.beginTransfer();
        p.take(Answer::Ack); // the previous block's answer
        p.beginBlock();
        for (Answer a : UpdateProtocol::answersIn(answers))
            p.take(a);
        QCOMPARE(p.ackState(block), state);
    }

    void aNewTransferForgetsTheLastOnesCompletion()
    {
        UpdateProtocol p;
        p.take(Answer::Complete);
        p.beginTransfer();
        p.beginBlock();
        QCOMPARE(p.ackState(1), AckState::Waiting);
    }

    void theNormalUpdateWaitsAfterEveryBlockButTheLastTheRecoveryAfterEvery_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("waits");
        QTest::addColumn<bool>("waitsAfterLast");
        QTest::newRow("normal") << Mode::Normal << 1015 << false;
        QTest::newRow("recovery") << Mode::Recovery << 1016 << true;
    }
    void theNormalUpdateWaitsAfterEveryBlockButTheLastTheRecoveryAfterEvery()
    {
        QFETCH(Mode, mode);
        QFETCH(int, waits);
        QFETCH(bool, waitsAfterLast);
        int count = 0;
        for (int b = 1; b <= UpdateProtocol::BlockCount; ++b)
            count += UpdateProtocol::awaitsAnswer(mode, b) ? 1 : 0;
        QCOMPARE(count, waits);
        QCOMPARE(UpdateProtocol::awaitsAnswer(mode, UpdateProtocol::BlockCount), waitsAfterLast);
    }

    void theProgressBarEndsAt130049()
    {
        QCOMPARE(UpdateProtocol::TransferSize, 130048);
        QCOMPARE(UpdateProtocol::imagePosAfter(1), 129);
        QCOMPARE(UpdateProtocol::imagePosAfter(UpdateProtocol::BlockCount), 130049);
    }

    void theProgressTextShowsPercentBlockAndTimeLeft_data()
    {
        QTest::addColumn<int>("blocks");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("before the first block") << 0 << qint64(0) << QStringLiteral("0 % · Block 0/1016");
        // 12 blocks in 1.2 s: 1004 blocks to go at 100 ms each.
        QTest::newRow("early") << 12 << qint64(1200) << QStringLiteral("1 % · Block 12/1016 · noch 1:41");
        // The real line: 133.3 ms a block, so about 67.7 s for the remaining 508.
        QTest::newRow("half way at 9600 baud")
            << 508 << qint64(67733) << QStringLiteral("50 % · Block 508/1016 · noch 1:08");
        QTest::newRow("last block") << 1016 << qint64(136000)
                                    << QStringLiteral("100 % · Block 1016/1016 · noch 0:00");
    }
    void theProgressTextShowsPercentBlockAndTimeLeft()
    {
        QFETCH(int, blocks);
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, text);
        QCOMPARE(UpdateProtocol::progressText(blocks, UpdateProtocol::remainingMs(blocks, elapsedMs)), text);
    }
};

QTEST_APPLESS_MAIN(TestUpdateProtocol)
#include "tst_updateprotocol.moc"
