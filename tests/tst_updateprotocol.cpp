// The update protocol in memory: which reads count as answers, when the block waits end, progress text.

#include "updater/updateprotocol.h"

#include <QTest>

using morvandell::UpdateProtocol;
using Answer = UpdateProtocol::Answer;
using AckState = UpdateProtocol::AckState;

Q_DECLARE_METATYPE(QList<Answer>)

class TestUpdateProtocol : public QObject
{
    Q_OBJECT
private slots:
    void aReadOfAnswerBytesIsTakenByteByByteAnyOtherReadIsNoise_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QList<Answer>>("answers");
        QTest::newRow("ready") << QByteArray("\x05") << QList<Answer>{Answer::Ready};
        QTest::newRow("ack and completion together")
            << QByteArray("\x06\x07") << QList<Answer>{Answer::Ack, Answer::Complete};
        QTest::newRow("order is kept")
            << QByteArray("\x07\x05\x06") << QList<Answer>{Answer::Complete, Answer::Ready, Answer::Ack};
        QTest::newRow("empty read") << QByteArray() << QList<Answer>{};
        QTest::newRow("noise after an ack") << QByteArray("\x06X") << QList<Answer>{};
        QTest::newRow("zero before an ack") << QByteArray("\x00\x06", 2) << QList<Answer>{};
        QTest::newRow("neighbours of the answer bytes") << QByteArray("\x04\x08") << QList<Answer>{};
    }
    void aReadOfAnswerBytesIsTakenByteByByteAnyOtherReadIsNoise()
    {
        QFETCH(QByteArray, read);
        QFETCH(QList<Answer>, answers);
        QCOMPARE(UpdateProtocol::answersIn(read), answers);
    }

    void aBlockWaitEndsOnItsAnswer_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<AckState>("state");
        QTest::newRow("ack") << 5 << QByteArray("\x06") << AckState::Acknowledged;
        QTest::newRow("a ready byte is no ack") << 5 << QByteArray("\x05") << AckState::Waiting;
        QTest::newRow("completion before the last block")
            << 1015 << QByteArray("\x06\x07") << AckState::EndedEarly;
        QTest::newRow("completion alone after the last block")
            << 1016 << QByteArray("\x07") << AckState::Completed;
        QTest::newRow("ack after the last block") << 1016 << QByteArray("\x06") << AckState::Acknowledged;
        QTest::newRow("two acknowledgements in one read")
            << 5 << QByteArray("\x06\x06") << AckState::Acknowledged;
    }
    void aBlockWaitEndsOnItsAnswer()
    {
        QFETCH(int, block);
        QFETCH(QByteArray, answers);
        QFETCH(AckState, state);
        UpdateProtocol p;
        p.take(Answer::Complete); // left over from an earlier transfer
        p.beginTransfer();
        p.take(Answer::Ack); // the previous block's answer
        p.beginBlock();
        QCOMPARE(p.ackState(block), AckState::Waiting);
        for (Answer a : UpdateProtocol::answersIn(answers))
            p.take(a);
        QCOMPARE(p.ackState(block), state);
        // A surplus answer never acknowledges the next block.
        p.beginBlock();
        if (state == AckState::Acknowledged && block < UpdateProtocol::BlockCount)
            QCOMPARE(p.ackState(block + 1), AckState::Waiting);
    }

    void theProgressTextShowsPercentBlockAndTimeLeft_data()
    {
        QTest::addColumn<int>("blocks");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("before the first block") << 0 << qint64(0) << QStringLiteral("0 % · Block 0/1016");
        // 1004 blocks to go at 100 ms each: 100.4 s, shown rounded up.
        QTest::newRow("early") << 12 << qint64(1200) << QStringLiteral("1 % · Block 12/1016 · noch 1:41");
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
