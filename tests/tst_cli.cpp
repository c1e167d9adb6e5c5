// morvandell-cli end to end: the built program against the simulated display over a pseudo-terminal.
// Each command, each exit status, and the trace of the connect frame and its answer.

#include "testsupport.h"
#include "updater/updateprotocol.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace morvandell;

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

QProcess* start(const QStringList& args, const QString& ports = QString())
{
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MORVANDELL_PORTS"), ports);
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(MORVANDELL_CLI), args);
    return process;
}

Run finish(QProcess* process, int ms = 20000)
{
    Run run;
    // The simulator runs in its own thread; this thread only waits for the program.
    if (!process->waitForFinished(ms)) {
        process->kill();
        process->waitForFinished();
    }
    run.status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    run.out = QString::fromUtf8(process->readAllStandardOutput());
    run.err = QString::fromUtf8(process->readAllStandardError());
    delete process;
    return run;
}

Run cli(const QStringList& args, const QString& ports = QString())
{
    return finish(start(args, ports));
}

QString sample()
{
    return QStringLiteral(MORVANDELL_TEST_DATA "/logdef_sample.xml");
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void commandsAgainstTheDisplay_data();
    void commandsAgainstTheDisplay();
    void configureSendsTheNineFramesOfTheWindow();
    void traceHoldsTheConnectFrameAndItsAnswer();
    void flashSendsTheImageAndEndsWithTheCompletion();
    void ctrlCStopsAFlashCleanly();
};

void TestCli::commandsAgainstTheDisplay_data()
{
    QTest::addColumn<QString>("fault");    // "", "silent", "gone"
    QTest::addColumn<QStringList>("args"); // PORT stands for the simulator's device
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outHas");
    QTest::addColumn<QString>("errHas");

    const QString img = test::writeTempFile(QStringLiteral("big.bin"), QByteArray(130085, 'x'));
    const QString p = QStringLiteral("PORT");
    QTest::newRow("help") << "" << QStringList{"flash", "--help"} << 0 << "Exit-Status"
                          << "";
    QTest::newRow("version") << "" << QStringList{"--version"} << 0 << MORVANDELL_VERSION << "";
    QTest::newRow("no command") << "" << QStringList{} << 1 << ""
                                << "Kein Befehl";
    QTest::newRow("port missing") << "" << QStringList{"reset"} << 1 << ""
                                  << "--port PORT fehlt";
    QTest::newRow("port 17") << "" << QStringList{"reset", "--port", "17"} << 1 << ""
                             << "1 bis 16";
    QTest::newRow("identify by number") << "" << QStringList{"identify", "--port", "3"} << 0 << "V1.0"
                                        << "";
    QTest::newRow("identify by path") << "" << QStringList{"identify", "--port", p} << 0 << "V1.0"
                                      << "";
    QTest::newRow("ports") << "" << QStringList{"ports"} << 0 << "3\tPORT"
                           << "";
    QTest::newRow("reset") << "" << QStringList{"reset", "--port", p} << 0 << "-> Reset"
                           << "";
    QTest::newRow("doctor") << "" << QStringList{"doctor", "--port", "3"} << 0 << "Zugriff: ja"
                            << "";
    QTest::newRow("no device") << "" << QStringList{"identify", "--port", "/dev/nothing-here"} << 2 << ""
                               << "kein Gerät gefunden";
    QTest::newRow("silent display") << "silent" << QStringList{"identify", "--port", p} << 3 << ""
                                    << "Timeout";
    QTest::newRow("device gone during configure")
        << "gone" << QStringList{"configure", "--port", p, "--logdef", sample()} << 4 << "-> OK"
        << "Verbindung zu Com #";
    QTest::newRow("unreadable log definition")
        << "" << QStringList{"configure", "--port", p, "--logdef", "/nonexistent.xml"} << 5 << ""
        << "nonexistent.xml";
    QTest::newRow("unknown channel") << "" << QStringList{"configure", "--port", p,       "--logdef",
                                                          sample(),    "--slot", "1=Nope"}
                                     << 1 << ""
                                     << "„Nope“";
    QTest::newRow("profile") << "" << QStringList{"configure", "--port", p, "--profile", "x.profile"} << 5
                             << ""
                             << "x.profile";
    const QString fw = test::writeTempFile(QStringLiteral("small.bin"), QByteArray(300, 'f'));
    QTest::newRow("flash: no ready byte") << "noready" << QStringList{"flash", "--port", p, fw} << 3 << ""
                                          << "--recovery";
    QTest::newRow("flash: device gone at block 5")
        << "gone" << QStringList{"flash", "--port", p, fw} << 4 << ""
        << "5 von 1016 Blöcken";
    QTest::newRow("image too large") << "" << QStringList{"flash", "--port", p, img} << 5 << ""
                                     << "Datei zu groß!";
}

void TestCli::commandsAgainstTheDisplay()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, outHas);
    QFETCH(QString, errHas);
    sim::SimulatorConfig config;
    config.silent = fault == QLatin1String("silent");
    config.noReady = fault == QLatin1String("noready");
    config.readyDelayMs = 20;
    if (fault == QLatin1String("gone")) {
        config.closeAfterFrames = 4; // connect frame and two slot frames answered
        config.closeAfterBlock = 5;
    }
    sim::SimulatorThread sim(config);
    QVERIFY(sim.start());
    args.replaceInStrings(QStringLiteral("PORT"), sim.devicePath());
    const Run run = cli(args, QStringLiteral("3=") + sim.devicePath());
    QVERIFY2(run.status == status,
             qPrintable(QStringLiteral("%1\n%2%3").arg(run.status).arg(run.out, run.err)));
    QVERIFY2(run.out.contains(outHas.replace(QStringLiteral("PORT"), sim.devicePath())), qPrintable(run.out));
    QVERIFY2(run.err.contains(errHas), qPrintable(run.err));
    // Every failure is one line on standard error.
    if (status != 0)
        QCOMPARE(run.err.count(QLatin1String("morvandell-cli: ")), 1);
}

void TestCli::configureSendsTheNineFramesOfTheWindow()
{
    sim::SimulatorThread sim({});
    QVERIFY(sim.start());
    const QString profile = QDir(QDir::tempPath())
                                .filePath(QStringLiteral("cli-%1.morvandell.json")
                                              .arg(QCoreApplication::applicationPid()));
    QFile::remove(profile);
    const Run run = cli({"configure", "--port", sim.devicePath(), "--logdef", sample(), "--slot", "2=Oil_P",
                         "--name", "2=Oeldruck_lang", "--unit", "5=Volt", "--view", "3", "--save-profile",
                         profile});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out.count(QLatin1String("-> OK")), 9);
    QVERIFY(run.out.contains(QLatin1String("online Firmware: V1.0")));
    const QList<QByteArray> frames = sim.simulator()->receivedFrames();
    QCOMPARE(frames.size(), 10); // connect, 8 slots, settings
    QCOMPARE(frames.at(0), test::hex("55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));
    // Oil_P: channel 12, divider 10, unit bar; the typed name cut to 8 characters as the box cuts it.
    QCOMPARE(frames.at(2), QByteArray::fromHex("55010020") + "Oeldruck" + QByteArray::fromHex("000C0A") +
                               "bar" + QByteArray::fromHex("0000000D"));
    QCOMPARE(frames.at(5).mid(12, 6), QByteArray::fromHex("000000") + "Vol"); // slot 5: never picked
    QCOMPARE(frames.at(9), test::hex("55 01 00 90 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D"));

    // The saved profile writes the same frames without the log-definition file.
    sim::SimulatorThread again({});
    QVERIFY(again.start());
    const Run fromProfile = cli({"configure", "--port", again.devicePath(), "--profile", profile});
    QVERIFY2(fromProfile.status == 0, qPrintable(fromProfile.err));
    QCOMPARE(again.simulator()->receivedFrames(), frames);
    QFile::remove(profile);
}

void TestCli::traceHoldsTheConnectFrameAndItsAnswer()
{
    sim::SimulatorThread sim({});
    QVERIFY(sim.start());
    const QString trace =
        QDir(QDir::tempPath())
            .filePath(QStringLiteral("morvandell-cli-trace-%1.txt").arg(QCoreApplication::applicationPid()));
    const Run run = cli({"identify", "--port", sim.devicePath(), "--trace", trace});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QFile file(trace);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    file.remove();
    QVERIFY2(text.contains(QStringLiteral("Programm: " MORVANDELL_VERSION ", Qt ")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Gerät: %1, Einstellungen: 19200,n,8,1").arg(sim.devicePath())));
    // A pseudo-terminal refuses the low-latency request; the trace says so for a support request.
    QVERIFY(text.contains(QStringLiteral("Niedrige Latenz: vom Treiber nicht unterstützt")));
    QVERIFY(text.contains(QRegularExpression(QStringLiteral(
        "\\n +\\d+ > 55 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0D \\|U\\.+\\|\\n"))));
    // The answer may come in pieces: every received line is hex with its characters.
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("\\n +\\d+ < 55 FD 00 00 56 31 2E 30 "))));
}

void TestCli::flashSendsTheImageAndEndsWithTheCompletion()
{
    sim::SimulatorConfig config;
    config.readyDelayMs = 20;
    sim::SimulatorThread sim(config);
    QVERIFY(sim.start());
    QByteArray image(1000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    const QString path = test::writeTempFile(QStringLiteral("fw.bin"), image);
    const Run run = cli({"flash", "--port", sim.devicePath(), path});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("Fertig.\n"));
    // Not a terminal: at most one progress line per 10 % (progress comes at the screen's pace, so a fast
    // transfer may skip steps), with block, percentage and time left, the last one at the end.
    const int lines = run.err.count(QLatin1Char('\n'));
    QVERIFY2(lines >= 1 && lines <= 11, qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("Block 1016/1016")), qPrintable(run.err));
    QCOMPARE(sim.simulator()->receivedImage(),
             image + QByteArray(UpdateProtocol::TransferSize - image.size(), char(0xFF)));
}

void TestCli::ctrlCStopsAFlashCleanly()
{
    sim::SimulatorConfig config;
    config.readyDelayMs = 20;
    config.pace9600 = true;
    sim::SimulatorThread sim(config);
    QVERIFY(sim.start());
    const QString path = test::writeTempFile(QStringLiteral("fw2.bin"), QByteArray(5000, 'a'));
    QProcess* process = start({"flash", "--port", sim.devicePath(), path});
    QVERIFY(process->waitForStarted());
    QVERIFY(test::waitUntil([&] { return sim.simulator()->blocksReceived() >= 3; }, 10000));
    const int blocks = sim.simulator()->blocksReceived();
    ::kill(pid_t(process->processId()), SIGINT);
    const Run run = finish(process, 5000);
    QCOMPARE(run.status, 130);
    QVERIFY2(run.err.contains(QStringLiteral("--recovery")), qPrintable(run.err));
    // At most the block on the line (and one in the output queue) still arrives; nothing more goes out.
    QTest::qWait(500);
    QVERIFY2(sim.simulator()->blocksReceived() <= blocks + 2, qPrintable(QString::number(blocks)));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
