// Self-test of the display simulator over a real pseudo-terminal: a plain QSerialPort in the test thread
// plays the tool, the simulator answers from its own thread.

#include "simulator/displaysimulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <climits>

using morvandell::sim::DisplaySimulator;
using morvandell::sim::SimulatorConfig;
using morvandell::sim::SimulatorThread;

Q_DECLARE_METATYPE(SimulatorConfig)

namespace {

constexpr int BlockSize = 128;
constexpr int BlockCount = 1016;

QByteArray commandFrame(int code, int address = 0, const QByteArray& record = {})
{
    QByteArray f;
    f.append(char(0x55)).append(char(code)).append(char(address >> 8)).append(char(address & 0xFF));
    f.append(record.leftJustified(16, '\0', true));
    f.append('\0').append('\r');
    return f;
}

QByteArray deviceMessage(int type, const QByteArray& payload, int address = 0)
{
    QByteArray m;
    m.append(char(0x55)).append(char(type)).append(char(address >> 8)).append(char(address & 0xFF));
    m.append(payload.leftJustified(16, '\0', true));
    m.append("\r\n");
    return m;
}

// A slot record as the tool builds it: name (8), 0, channel, divider, unit (3), 0, 0.
QByteArray slotRecord(const QByteArray& name, int channel, int divider, const QByteArray& unit)
{
    QByteArray r = name.leftJustified(8, ' ', true);
    r.append('\0').append(char(channel)).append(char(divider));
    r.append(unit.leftJustified(3, ' ', true));
    r.append(2, '\0');
    return r;
}

QByteArray testImage()
{
    QByteArray image(BlockSize * BlockCount, '\0');
    quint32 x = 12345;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return image;
}

struct Received
{
    QByteArray bytes;
    qint64 firstMs = -1; // arrival of the first and last piece, measured from the call
    qint64 lastMs = -1;
};

// Reads until n bytes have arrived or the time runs out; returns whatever came.
Received readBytes(QSerialPort& port, int n, int timeoutMs)
{
    Received r;
    QElapsedTimer clock;
    clock.start();
    QDeadlineTimer deadline(timeoutMs);
    while (r.bytes.size() < n) {
        if (port.bytesAvailable() == 0 &&
            !port.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            break;
        const QByteArray piece = port.readAll();
        if (!piece.isEmpty()) {
            if (r.firstMs < 0)
                r.firstMs = clock.elapsed();
            r.lastMs = clock.elapsed();
            r.bytes += piece;
        }
        if (deadline.hasExpired())
            break;
    }
    return r;
}

// Everything that arrives within ms.
QByteArray readFor(QSerialPort& port, int ms)
{
    return readBytes(port, INT_MAX, ms).bytes;
}

void send(QSerialPort& port, const QByteArray& bytes)
{
    QCOMPARE(port.write(bytes), qint64(bytes.size()));
    QVERIFY(port.waitForBytesWritten(1000));
}

// The simulator in its thread and the tool's end of the line.
struct Rig
{
    explicit Rig(const SimulatorConfig& config)
        : sim(config)
    {}

    bool open(qint32 baud = 19200)
    {
        QString error;
        if (!sim.start(&error)) {
            qWarning() << "simulator:" << error;
            return false;
        }
        port.setPortName(sim.devicePath());
        port.setBaudRate(baud);
        return port.open(QIODevice::ReadWrite);
    }
    DisplaySimulator& display() { return *sim.simulator(); }

    SimulatorThread sim;
    QSerialPort port;
};

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void identification_data();
    void identification();
    void controlAnswers_data();
    void controlAnswers();
    void answerOrder_data();
    void answerOrder();
    void recordDump();
    void portReopenedAndSymlink();
    void deviceVanishes_data();
    void deviceVanishes();
    void readyByte_data();
    void readyByte();
    void updateTransfer_data();
    void updateTransfer();
    void blockTiming_data();
    void blockTiming();
};

void TestSimulator::identification_data()
{
    QTest::addColumn<QByteArray>("firmware");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("short text padded with zeros")
        << QByteArray("V1.2") << QByteArray("V1.2").append(12, '\0');
    QTest::newRow("cut to 16 bytes") << QByteArray("Morvandell FW 2.01b") << QByteArray("Morvandell FW 2.");
    QTest::newRow("empty") << QByteArray() << QByteArray(16, '\0');
}

void TestSimulator::identification()
{
    QFETCH(QByteArray, firmware);
    QFETCH(QByteArray, payload);

    SimulatorConfig config;
    config.firmware = firmware;
    Rig rig(config);
    QVERIFY(rig.open());

    send(rig.port, commandFrame(5));
    QByteArray expected;
    expected.append(char(0x55)).append(char(0xFD)).append(2, '\0').append(payload).append("\r\n");
    QCOMPARE(expected.size(), 22);
    QCOMPARE(readBytes(rig.port, 22, 2000).bytes, expected);
    QCOMPARE(readFor(rig.port, 50), QByteArray());
    QCOMPARE(rig.display().receivedFrames(), QList<QByteArray>{commandFrame(5)});
}

void TestSimulator::controlAnswers_data()
{
    QTest::addColumn<SimulatorConfig>("config");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("frames");  // frames the display must have taken
    QTest::addColumn<int>("address"); // record that must be kept, -1 for none
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<int>("minSpreadMs"); // least time between first and last answer byte

    const QByteArray rpm = slotRecord("RPM", 12, 1, "rpm");
    const SimulatorConfig plain;

    QTest::newRow("write: text answer")
        << plain << commandFrame(1, 0x10, rpm) << deviceMessage(0, "OK") << 1 << 0x10 << rpm << 0;

    SimulatorConfig eeprom;
    eeprom.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    QTest::newRow("write: EEPROM report echoes address and record")
        << eeprom << commandFrame(1, 0x0130, rpm) << deviceMessage(2, rpm, 0x0130) << 1 << 0x0130 << rpm << 0;

    SimulatorConfig sdram;
    sdram.answerText = "Write SDram";
    QTest::newRow("write: configured text")
        << sdram << commandFrame(1, 0x90, QByteArray(1, '\x02')) << deviceMessage(0, "Write SDram") << 1
        << 0x90 << QByteArray(1, '\x02').append(15, '\0') << 0;

    // Channel 13 and divider 0x55 put a CR and a frame start inside the record.
    const QByteArray tricky = slotRecord("MAP", 0x0D, 0x55, "kPa");
    QTest::newRow("write: CR and 0x55 inside the record")
        << plain << commandFrame(1, 0x20, tricky) << deviceMessage(0, "OK") << 1 << 0x20 << tricky << 0;

    QTest::newRow("garbage before a frame is skipped")
        << plain << QByteArray("\x13\x55\x00\r\x55", 5) + commandFrame(1, 0x30, rpm) << deviceMessage(0, "OK")
        << 1 << 0x30 << rpm << 0;

    QTest::newRow("reset: reset text")
        << plain << commandFrame(255) << deviceMessage(0, "Reset") << 1 << -1 << QByteArray() << 0;

    QTest::newRow("unknown code: recorded, not answered")
        << plain << commandFrame(7) << QByteArray() << 1 << -1 << QByteArray() << 0;

    SimulatorConfig silent;
    silent.silent = true;
    QTest::newRow("silent: record kept, no answer")
        << silent << commandFrame(1, 0x40, rpm) << QByteArray() << 1 << 0x40 << rpm << 0;

    SimulatorConfig split;
    split.splitBytes = true;
    QTest::newRow("split: same bytes, spread out")
        << split << commandFrame(1, 0x50, rpm) << deviceMessage(0, "OK") << 1 << 0x50 << rpm << 15;

    SimulatorConfig noise;
    noise.noisePrefix = QByteArray("\r\n\x55", 3);
    QTest::newRow("noise before the message")
        << noise << commandFrame(255) << QByteArray("\r\n\x55", 3) + deviceMessage(0, "Reset") << 1 << -1
        << QByteArray() << 0;

    SimulatorConfig delayed;
    delayed.answerDelayMs = 80;
    QTest::newRow("delayed answer") << delayed << commandFrame(5) << deviceMessage(0xFD, "V1.0") << 1 << -1
                                    << QByteArray() << 0;
}

void TestSimulator::controlAnswers()
{
    QFETCH(SimulatorConfig, config);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answer);
    QFETCH(int, frames);
    QFETCH(int, address);
    QFETCH(QByteArray, record);
    QFETCH(int, minSpreadMs);

    Rig rig(config);
    QVERIFY(rig.open());
    QElapsedTimer sent;
    send(rig.port, input);
    sent.start();

    if (answer.isEmpty()) {
        QCOMPARE(readFor(rig.port, 150), QByteArray());
    } else {
        const Received got = readBytes(rig.port, int(answer.size()), 2000);
        QCOMPARE(got.bytes, answer);
        QVERIFY2(got.lastMs - got.firstMs >= minSpreadMs,
                 qPrintable(QString::number(got.lastMs - got.firstMs)));
        QVERIFY(sent.elapsed() >= config.answerDelayMs);
        QCOMPARE(readFor(rig.port, 50), QByteArray());
    }

    QCOMPARE(rig.display().receivedFrames().size(), frames);
    QCOMPARE(rig.display().receivedFrames().constLast(), input.right(22));
    QCOMPARE(rig.display().rawReceived(), input);
    if (address >= 0)
        QCOMPARE(rig.display().records(), (QMap<int, QByteArray>{{address, record}}));
    else
        QVERIFY(rig.display().records().isEmpty());
    QCOMPARE(rig.display().framesBeforeAnswer(), 0);
}

void TestSimulator::answerOrder_data()
{
    QTest::addColumn<bool>("waitForEachAnswer");
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("framesBeforeAnswer");

    QTest::newRow("waits for each answer") << true << false << 0;
    QTest::newRow("back to back") << false << false << 2;
    QTest::newRow("back to back, split answers") << false << true << 2;
}

void TestSimulator::answerOrder()
{
    QFETCH(bool, waitForEachAnswer);
    QFETCH(bool, split);
    QFETCH(int, framesBeforeAnswer);

    SimulatorConfig config;
    config.answerDelayMs = 40;
    config.splitBytes = split;
    config.answerText = "first";
    config.resetText = "second";
    Rig rig(config);
    QVERIFY(rig.open());

    const QList<QByteArray> frames{commandFrame(1, 0x10, "A"), commandFrame(255), commandFrame(1, 0x20, "B")};
    const QList<QByteArray> answers{deviceMessage(0, "first"), deviceMessage(0, "second"),
                                    deviceMessage(0, "first")};
    for (int i = 0; i < frames.size(); ++i) {
        send(rig.port, frames[i]);
        if (waitForEachAnswer)
            QCOMPARE(readBytes(rig.port, 22, 2000).bytes, answers[i]);
    }
    // Answers keep the order of the frames, however close together the frames came.
    if (!waitForEachAnswer)
        QCOMPARE(readBytes(rig.port, 66, 3000).bytes, answers[0] + answers[1] + answers[2]);
    QCOMPARE(rig.display().framesBeforeAnswer(), framesBeforeAnswer);
}

void TestSimulator::recordDump()
{
    Rig rig(SimulatorConfig{});
    QVERIFY(rig.open());
    const QList<QPair<int, QByteArray>> writes{{0x20, slotRecord("Old", 1, 1, "x")},
                                               {0x10, slotRecord("RPM", 12, 1, "rpm")},
                                               {0xA0, QByteArray(16, '\xFF')},
                                               {0x20, slotRecord("TPS", 9, 10, "%")}};
    for (const auto& [address, record] : writes) {
        send(rig.port, commandFrame(1, address, record));
        QCOMPARE(readBytes(rig.port, 22, 2000).bytes, deviceMessage(0, "OK"));
    }
    QCOMPARE(rig.display().dumpRecords(),
             QStringLiteral("0x0010: 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00\n"
                            "0x0020: 54 50 53 20 20 20 20 20 00 09 0A 25 20 20 00 00\n"
                            "0x00A0: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"));
}

// The tool closes and reopens its port (the update does so at every start); the display must stay
// reachable, also through a symbolic link as the command-line program's --link makes.
void TestSimulator::portReopenedAndSymlink()
{
    Rig rig(SimulatorConfig{});
    QVERIFY(rig.open());
    for (int i = 0; i < 3; ++i) {
        rig.port.close();
        rig.port.setBaudRate(i % 2 ? 19200 : 9600);
        QVERIFY2(rig.port.open(QIODevice::ReadWrite), qPrintable(rig.port.errorString()));
        send(rig.port, commandFrame(5));
        QCOMPARE(readBytes(rig.port, 22, 2000).bytes, deviceMessage(0xFD, "V1.0"));
    }
    rig.port.close();

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("display"));
    QVERIFY(QFile::link(rig.sim.devicePath(), link));
    QSerialPort viaLink(link);
    viaLink.setBaudRate(19200);
    QVERIFY2(viaLink.open(QIODevice::ReadWrite), qPrintable(viaLink.errorString()));
    send(viaLink, commandFrame(5));
    QCOMPARE(readBytes(viaLink, 22, 2000).bytes, deviceMessage(0xFD, "V1.0"));
    QCOMPARE(rig.display().receivedFrames().size(), 4);
}

void TestSimulator::deviceVanishes_data()
{
    QTest::addColumn<SimulatorConfig>("config");
    QTest::addColumn<int>("framesToSend");
    QTest::addColumn<int>("blocksToSend");
    QTest::addColumn<bool>("byRequest");
    QTest::addColumn<QByteArray>("answers"); // everything the tool gets before the device vanishes

    SimulatorConfig afterFrames;
    afterFrames.closeAfterFrames = 2;
    QTest::newRow("on frame 2") << afterFrames << 2 << 0 << false << deviceMessage(0xFD, "V1.0");

    SimulatorConfig afterBlock;
    afterBlock.recovery = true;
    afterBlock.closeAfterBlock = 3;
    QTest::newRow("after block 3") << afterBlock << 0 << 3 << false << QByteArray("\x06\x06");

    QTest::newRow("closeDevice()") << SimulatorConfig{} << 1 << 0 << true << deviceMessage(0xFD, "V1.0");
}

void TestSimulator::deviceVanishes()
{
    QFETCH(SimulatorConfig, config);
    QFETCH(int, framesToSend);
    QFETCH(int, blocksToSend);
    QFETCH(bool, byRequest);
    QFETCH(QByteArray, answers);

    Rig rig(config);
    QVERIFY(rig.open());
    QByteArray got;
    for (int i = 0; i < framesToSend; ++i) {
        send(rig.port, commandFrame(5));
        got += readFor(rig.port, 60);
    }
    for (int b = 0; b < blocksToSend; ++b) {
        send(rig.port, QByteArray(BlockSize, char(b)));
        got += readFor(rig.port, 60);
    }
    if (byRequest)
        rig.sim.closeDevice();
    QCOMPARE(got, answers);
    QTRY_VERIFY_WITH_TIMEOUT(rig.display().deviceClosed(), 2000);

    // The tool's side of the line fails instead of waiting for ever, and the device is gone for good.
    QVERIFY(!rig.port.waitForReadyRead(500));
    QVERIFY(rig.port.error() == QSerialPort::ReadError || rig.port.error() == QSerialPort::ResourceError);
    rig.port.close();
    QSerialPort again(rig.sim.devicePath());
    QVERIFY(!again.open(QIODevice::ReadWrite));
    QCOMPARE(again.error(), QSerialPort::DeviceNotFoundError);
}

void TestSimulator::readyByte_data()
{
    QTest::addColumn<bool>("noReady");
    QTest::addColumn<QByteArray>("early"); // bytes the tool sends too soon, right after the frame

    QTest::newRow("ready byte after the delay") << false << QByteArray();
    QTest::newRow("bytes before ready are ignored") << false << QByteArray(10, '\x55');
    QTest::newRow("no ready byte") << true << QByteArray();
}

void TestSimulator::readyByte()
{
    QFETCH(bool, noReady);
    QFETCH(QByteArray, early);

    SimulatorConfig config;
    config.readyDelayMs = 100;
    config.noReady = noReady;
    Rig rig(config);
    QVERIFY(rig.open());

    QElapsedTimer clock;
    send(rig.port, commandFrame(4) + early);
    clock.start();
    // The tool switches its line to 9600 baud in between.
    rig.port.close();
    rig.port.setBaudRate(9600);
    QVERIFY(rig.port.open(QIODevice::ReadWrite));
    QTRY_VERIFY_WITH_TIMEOUT(rig.display().inUpdateMode(), 1000);

    if (noReady) {
        QCOMPARE(readFor(rig.port, 300), QByteArray());
    } else {
        QCOMPARE(readBytes(rig.port, 1, 2000).bytes, QByteArray("\x05"));
        QVERIFY2(clock.elapsed() >= 95, qPrintable(QString::number(clock.elapsed())));
    }
    QCOMPARE(rig.display().bytesBeforeReady(), int(early.size()));
    QCOMPARE(rig.display().receivedFrames().size(), 1);
    QCOMPARE(rig.display().blocksReceived(), 0);
}

void TestSimulator::updateTransfer_data()
{
    QTest::addColumn<SimulatorConfig>("config");
    QTest::addColumn<int>("blocks");            // blocks the tool sends; each but the last must get 0x06
    QTest::addColumn<QByteArray>("lastAnswer"); // what follows the last block sent
    QTest::addColumn<bool>("finished");

    const QString imageOut = QDir::temp()
                                 .filePath(QStringLiteral("tst_simulator_image_%1.bin"))
                                 .arg(QCoreApplication::applicationPid());

    SimulatorConfig normal;
    normal.readyDelayMs = 20;
    normal.imageOut = imageOut;
    QTest::newRow("normal") << normal << BlockCount << QByteArray("\x07") << true;

    SimulatorConfig coalesced = normal;
    coalesced.coalesceFinal = true;
    coalesced.imageOut.clear();
    QTest::newRow("coalesced final answer") << coalesced << BlockCount << QByteArray("\x06\x07") << true;

    SimulatorConfig recovery;
    recovery.recovery = true;
    QTest::newRow("recovery") << recovery << BlockCount << QByteArray("\x07") << true;

    SimulatorConfig stopAck = normal;
    stopAck.stopAckAfterBlock = 3;
    stopAck.imageOut.clear();
    QTest::newRow("acknowledges blocks 1..3 only") << stopAck << 4 << QByteArray() << false;

    SimulatorConfig stopBeforeLast = recovery;
    stopBeforeLast.stopAckAfterBlock = BlockCount - 1;
    QTest::newRow("no completion byte") << stopBeforeLast << BlockCount << QByteArray() << true;
}

void TestSimulator::updateTransfer()
{
    QFETCH(SimulatorConfig, config);
    QFETCH(int, blocks);
    QFETCH(QByteArray, lastAnswer);
    QFETCH(bool, finished);

    if (!config.imageOut.isEmpty())
        QFile::remove(config.imageOut);
    Rig rig(config);
    QVERIFY(rig.open(9600));
    // The signals come from the simulator's thread.
    std::atomic<int> finishedSignals{0};
    std::atomic<int> blockSignals{0};
    std::atomic<int> lastBlockSignalled{0};
    QObject::connect(
        &rig.display(), &DisplaySimulator::updateFinished, &rig.display(), [&] { ++finishedSignals; },
        Qt::DirectConnection);
    QObject::connect(
        &rig.display(), &DisplaySimulator::blockReceived, &rig.display(),
        [&](int block) {
            ++blockSignals;
            lastBlockSignalled = block;
        },
        Qt::DirectConnection);

    if (!config.recovery) {
        send(rig.port, commandFrame(4));
        QCOMPARE(readBytes(rig.port, 1, 2000).bytes, QByteArray("\x05"));
    }
    QVERIFY(rig.display().inUpdateMode());

    const QByteArray image = testImage();
    for (int b = 1; b <= blocks; ++b) {
        send(rig.port, image.mid((b - 1) * BlockSize, BlockSize));
        if (b < blocks) {
            const QByteArray ack = readBytes(rig.port, 1, 2000).bytes;
            if (ack != QByteArray("\x06"))
                QFAIL(qPrintable(QStringLiteral("block %1 answered with '%2'").arg(b).arg(ack.toHex(' '))));
        }
    }
    if (lastAnswer.isEmpty())
        QCOMPARE(readFor(rig.port, 150), QByteArray());
    else
        QCOMPARE(readBytes(rig.port, int(lastAnswer.size()), 2000).bytes, lastAnswer);

    QCOMPARE(rig.display().blocksReceived(), blocks);
    QCOMPARE(rig.display().receivedImage(), image.left(blocks * BlockSize));
    QTRY_COMPARE_WITH_TIMEOUT(finishedSignals.load(), finished ? 1 : 0, 1000);
    QCOMPARE(blockSignals.load(), blocks);
    QCOMPARE(lastBlockSignalled.load(), blocks);
    QCOMPARE(rig.display().inUpdateMode(), !finished);
    QCOMPARE(rig.display().receivedFrames().size(), config.recovery ? 0 : 1);

    if (!config.imageOut.isEmpty()) {
        QFile out(config.imageOut);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), image);
        out.close();
        out.remove();
    }
    if (finished) {
        // Back in control mode.
        send(rig.port, commandFrame(5));
        QCOMPARE(readBytes(rig.port, 22, 2000).bytes, deviceMessage(0xFD, "V1.0"));
    }
}

void TestSimulator::blockTiming_data()
{
    QTest::addColumn<bool>("pace");
    QTest::addColumn<int>("ackDelayMs");
    QTest::addColumn<int>("minMs"); // least time from writing a block to its acknowledgement
    QTest::addColumn<int>("maxMs");

    // 128 bytes of 10 bits at 9600 baud take 133.3 ms.
    QTest::newRow("no pacing") << false << 0 << 0 << 60;
    QTest::newRow("9600 baud") << true << 0 << 133 << 250;
    QTest::newRow("ack delay") << false << 50 << 50 << 150;
    QTest::newRow("9600 baud plus ack delay") << true << 50 << 183 << 300;
}

void TestSimulator::blockTiming()
{
    QFETCH(bool, pace);
    QFETCH(int, ackDelayMs);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    SimulatorConfig config;
    config.recovery = true;
    config.pace9600 = pace;
    config.ackDelayMs = ackDelayMs;
    Rig rig(config);
    QVERIFY(rig.open(9600));

    // Twice: the line clock starts afresh when the tool waited for the acknowledgement.
    for (int b = 0; b < 2; ++b) {
        QElapsedTimer clock;
        clock.start();
        send(rig.port, QByteArray(BlockSize, '\xA5'));
        QCOMPARE(readBytes(rig.port, 1, 2000).bytes, QByteArray("\x06"));
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QStringLiteral("acknowledged after %1 ms").arg(ms)));
    }
    QCOMPARE(rig.display().blocksReceived(), 2);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
