// The widget-free writer against the simulated display over a pseudo-terminal: frames and their order,
// the reply wait's time limit, a device that goes away; and the trace's bound.

#include "serial/serialservice.h"
#include "serial/tracerecorder.h"
#include "testsupport.h"
#include "writer/displaywriter.h"

#include <QElapsedTimer>
#include <QTest>

using namespace morvandell;

namespace {

// The writer on a port to a simulated display, with the receiver wired as the windows wire it.
struct WriterRig
{
    explicit WriterRig(sim::SimulatorConfig config)
        : sim(std::move(config))
    {
        if (!sim.start())
            qFatal("simulator did not start");
        port = std::make_unique<SerialService>(test::directoryOf({{3, sim.devicePath()}}));
        port->setCommPort(3);
        writer = std::make_unique<DisplayWriter>(*port, weiter, wait);
        QObject::connect(port.get(), &SerialService::received, [this] { writer->receive(); });
        QObject::connect(port.get(), &SerialService::deviceLost, [this] { wait.abort(); });
    }

    sim::SimulatorThread sim;
    std::unique_ptr<SerialService> port;
    std::optional<qint16> weiter;
    EventWait wait;
    std::unique_ptr<DisplayWriter> writer;
};

} // namespace

class TestDisplayWriter : public QObject
{
    Q_OBJECT
private slots:
    void slotDataGoesOutFrameByFrameEachAfterItsAnswer_data();
    void slotDataGoesOutFrameByFrameEachAfterItsAnswer();
    void aWriteStopsAtTheFrameThatIsNotAnswered_data();
    void aWriteStopsAtTheFrameThatIsNotAnswered();
    void traceKeepsTheNewestLinesWithinItsLimit();
};

void TestDisplayWriter::slotDataGoesOutFrameByFrameEachAfterItsAnswer_data()
{
    QTest::addColumn<bool>("eepromAnswers");
    QTest::addColumn<bool>("splitAndNoisy");
    QTest::newRow("text answers") << false << false;
    QTest::newRow("EEPROM reports as answers") << true << false;
    QTest::newRow("answers byte by byte after noise") << false << true;
}

void TestDisplayWriter::slotDataGoesOutFrameByFrameEachAfterItsAnswer()
{
    QFETCH(bool, eepromAnswers);
    QFETCH(bool, splitAndNoisy);
    sim::SimulatorConfig config;
    if (eepromAnswers)
        config.writeAnswer = sim::SimulatorConfig::WriteAnswer::EepromReport;
    config.splitBytes = splitAndNoisy;
    if (splitAndNoisy)
        config.noisePrefix = "\x01\x0D\x0A";
    WriterRig rig(config);
    QVERIFY(rig.port->open());

    // Each slot is asked for just before its frame: by then every earlier frame has been answered.
    QList<int> framesSeenWhenAsked;
    const auto slot = [&](int k) {
        framesSeenWhenAsked << int(rig.sim.simulator()->receivedFrames().size());
        SlotSetting s;
        if (k == 2) {
            s.name = QStringLiteral("RPM");
            s.number = 12;
            s.divider = 1;
            s.unit = QStringLiteral("rpm");
        }
        return s;
    };
    QCOMPARE(rig.writer->writeSlotData(slot, [] { return std::uint8_t(3); }),
             DisplayWriter::Result::Answered);
    QCOMPARE(framesSeenWhenAsked, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(rig.weiter, std::optional<qint16>(1));

    const QList<QByteArray> frames = rig.sim.simulator()->receivedFrames();
    QCOMPARE(frames.size(), 9);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(quint8(frames.at(i).at(3)), quint8(0x10 * (i + 1)));
    QCOMPARE(frames.at(1), test::hex("55 01 00 20 52 50 4D 20 20 20 20 20 00 0C 01 72 70 6D 00 00 00 0D"));
    QCOMPARE(frames.at(0), test::hex("55 01 00 10 20 20 20 20 20 20 20 20 00 00 00 20 20 20 00 00 00 0D"));
    QCOMPARE(frames.at(8), test::hex("55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));
    QCOMPARE(rig.sim.simulator()->framesBeforeAnswer(), 0);
    QCOMPARE(rig.writer->frameName(), QByteArray(8, ' '));
}

void TestDisplayWriter::aWriteStopsAtTheFrameThatIsNotAnswered_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("display never answers")
        << true << int(DisplayWriter::Result::TimedOut) << 1 << 2900 << 4500;
    QTest::newRow("device gone at the third frame")
        << false << int(DisplayWriter::Result::Aborted) << 3 << 0 << 2000;
}

void TestDisplayWriter::aWriteStopsAtTheFrameThatIsNotAnswered()
{
    QFETCH(bool, silent);
    QFETCH(int, expected);
    QFETCH(int, framesSent);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    sim::SimulatorConfig config;
    config.silent = silent;
    if (!silent)
        config.closeAfterFrames = 3;
    WriterRig rig(config);
    QVERIFY(rig.port->open());

    QElapsedTimer clock;
    clock.start();
    const auto result = rig.writer->writeSlotData(DisplayConfiguration{});
    const qint64 ms = clock.elapsed();
    // A vanished device may also show as a refused write; never as a time-out.
    if (expected == int(DisplayWriter::Result::Aborted))
        QVERIFY2(result == DisplayWriter::Result::Aborted || result == DisplayWriter::Result::WriteFailed,
                 qPrintable(QString::number(int(result))));
    else
        QCOMPARE(int(result), expected);
    QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));
    QTest::qWait(100);
    QCOMPARE(rig.sim.simulator()->receivedFrames().size(), framesSent);
}

void TestDisplayWriter::traceKeepsTheNewestLinesWithinItsLimit()
{
    TraceRecorder trace(400);
    trace.setPort(3, QStringLiteral("/dev/pts/9"), QStringLiteral("19200,n,8,1"));
    for (int i = 0; i < 50; ++i)
        trace.record(TraceRecorder::Direction::Sent, QByteArray(1, char(i)));
    trace.record(TraceRecorder::Direction::Received, test::hex("55 FD 56 31 0D 0A"));
    QVERIFY(trace.size() <= 400);
    const QByteArray text = trace.text();
    QVERIFY(text.contains("Com #3, Gerät: /dev/pts/9, Einstellungen: 19200,n,8,1"));
    QVERIFY(text.contains("< 55 FD 56 31 0D 0A |U.V1..|"));
    QVERIFY(text.contains("> 31 |1|"));
    QVERIFY(!text.contains("> 00 |.|")); // the oldest lines went first
    QVERIFY(text.contains("ältere Zeilen nicht mehr gespeichert"));
}

QTEST_GUILESS_MAIN(TestDisplayWriter)
#include "tst_displaywriter.moc"
