// morvandell-sim: a simulated Morvandell display behind a pseudo-terminal.
//
// Prints the device path on stdout, logs the traffic on stderr and runs until SIGINT or SIGTERM.
// Point the tool at it with MORVANDELL_PORTS, for example:
//   morvandell-sim --link /tmp/morvandell-display &
//   MORVANDELL_PORTS=1=/tmp/morvandell-display morvandell

#include "simulator/displaysimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using morvandell::sim::DisplaySimulator;
using morvandell::sim::SimulatorConfig;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &c, 1);
    errno = saved;
}

void err(const QString& line)
{
    const QByteArray text = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toLocal8Bit() +
                            line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

void dumpRecords(const DisplaySimulator& sim)
{
    const QString dump = sim.dumpRecords();
    err(dump.isEmpty() ? QStringLiteral("records: none written") : QStringLiteral("records:\n") + dump);
}

bool parseInt(const QCommandLineParser& p, const QCommandLineOption& o, int min, int* out)
{
    if (!p.isSet(o))
        return true;
    bool ok = false;
    const int v = p.value(o).toInt(&ok);
    if (!ok || v < min) {
        err(QStringLiteral("invalid value for --%1: %2").arg(o.names().constFirst(), p.value(o)));
        return false;
    }
    *out = v;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morvandell-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANDELL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated Morvandell display on a pseudo-terminal. Prints the device path on stdout, "
                       "logs frames and answers on stderr, runs until SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("Firmware text of the identification (max. 16 bytes)."),
                                      QStringLiteral("TEXT"), QStringLiteral("V1.0"));
    const QCommandLineOption answer(QStringLiteral("answer"),
                                    QStringLiteral("Text message answering a write frame."),
                                    QStringLiteral("TEXT"), QStringLiteral("OK"));
    const QCommandLineOption resetText(QStringLiteral("reset-text"),
                                       QStringLiteral("Text message answering the reset frame."),
                                       QStringLiteral("TEXT"), QStringLiteral("Reset"));
    const QCommandLineOption eeprom(QStringLiteral("eeprom-report"),
                                    QStringLiteral("Answer write frames with an EEPROM read report."));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Never answer in control mode."));
    const QCommandLineOption delay(
        QStringLiteral("delay"), QStringLiteral("Delay before every answer message."), QStringLiteral("MS"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send answer messages byte by byte, 1 ms apart."));
    const QCommandLineOption noise(
        QStringLiteral("noise"), QStringLiteral("Bytes (hex, e.g. 0d0a41) sent before every answer message."),
        QStringLiteral("HEX"));
    const QCommandLineOption closeAfterFrames(QStringLiteral("close-after-frames"),
                                              QStringLiteral("Close the device on receiving frame N."),
                                              QStringLiteral("N"));
    const QCommandLineOption recovery(QStringLiteral("recovery"), QStringLiteral("Start in update mode."));
    const QCommandLineOption readyDelay(
        QStringLiteral("ready-delay"),
        QStringLiteral("Delay between update frame and ready byte (default 200)."), QStringLiteral("MS"));
    const QCommandLineOption noReady(QStringLiteral("no-ready"),
                                     QStringLiteral("Never send the ready byte."));
    const QCommandLineOption stopAck(QStringLiteral("stop-ack-after"),
                                     QStringLiteral("Acknowledge update blocks 1..K only."),
                                     QStringLiteral("K"));
    const QCommandLineOption coalesce(QStringLiteral("coalesce-final"),
                                      QStringLiteral("Answer the last block with 0x06 0x07 in one write."));
    const QCommandLineOption finalAckOnly(
        QStringLiteral("final-ack-only"),
        QStringLiteral("Answer the last block with a lone 0x06 and no completion byte."));
    const QCommandLineOption adapterLatency(
        QStringLiteral("adapter-latency"),
        QStringLiteral("Hold every answer back MS milliseconds, as a USB adapter's latency timer does "
                       "(FTDI: 16 by default, 1 in low-latency mode)."),
        QStringLiteral("MS"));
    const QCommandLineOption closeAfterBlock(
        QStringLiteral("close-after-block"),
        QStringLiteral("Close the device after receiving update block K."), QStringLiteral("K"));
    const QCommandLineOption pace(QStringLiteral("pace-9600"),
                                  QStringLiteral("Take update bytes at the 9600-baud byte time."));
    const QCommandLineOption ackDelay(QStringLiteral("ack-delay"),
                                      QStringLiteral("Extra delay before each block acknowledgement."),
                                      QStringLiteral("MS"));
    const QCommandLineOption ackDelayBlock(
        QStringLiteral("ack-delay-block"),
        QStringLiteral("Apply --ack-delay to block K's acknowledgement only."), QStringLiteral("K"));
    const QCommandLineOption imageOut(
        QStringLiteral("image-out"),
        QStringLiteral("Write the received image to FILE when a transfer completes."),
        QStringLiteral("FILE"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Create a symbolic link PATH to the device (removed on exit)."),
        QStringLiteral("PATH"));
    parser.addOptions({firmware, answer,   resetText,        eeprom,        silent,     delay,
                       split,    noise,    closeAfterFrames, recovery,      readyDelay, noReady,
                       stopAck,  coalesce, closeAfterBlock,  pace,          ackDelay,   ackDelayBlock,
                       imageOut, link,     finalAckOnly,     adapterLatency});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        err(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst()));
        return 2;
    }

    SimulatorConfig cfg;
    cfg.firmware = parser.value(firmware).toLocal8Bit();
    cfg.answerText = parser.value(answer).toLocal8Bit();
    cfg.resetText = parser.value(resetText).toLocal8Bit();
    if (parser.isSet(eeprom))
        cfg.writeAnswer = SimulatorConfig::WriteAnswer::EepromReport;
    cfg.silent = parser.isSet(silent);
    cfg.splitBytes = parser.isSet(split);
    if (parser.isSet(noise)) {
        const QString hex = parser.value(noise);
        cfg.noisePrefix = QByteArray::fromHex(hex.toLatin1());
        if (cfg.noisePrefix.size() * 2 != hex.size()) {
            err(QStringLiteral("invalid value for --noise: %1 (expected hex digits)").arg(hex));
            return 2;
        }
    }
    cfg.recovery = parser.isSet(recovery);
    cfg.noReady = parser.isSet(noReady);
    cfg.coalesceFinal = parser.isSet(coalesce);
    cfg.finalAckOnly = parser.isSet(finalAckOnly);
    cfg.pace9600 = parser.isSet(pace);
    cfg.imageOut = parser.value(imageOut);
    if (!parseInt(parser, delay, 0, &cfg.answerDelayMs) ||
        !parseInt(parser, closeAfterFrames, 1, &cfg.closeAfterFrames) ||
        !parseInt(parser, readyDelay, 0, &cfg.readyDelayMs) ||
        !parseInt(parser, stopAck, 0, &cfg.stopAckAfterBlock) ||
        !parseInt(parser, closeAfterBlock, 1, &cfg.closeAfterBlock) ||
        !parseInt(parser, ackDelay, 0, &cfg.ackDelayMs) ||
        !parseInt(parser, adapterLatency, 0, &cfg.adapterLatencyMs) ||
        !parseInt(parser, ackDelayBlock, 1, &cfg.ackDelayBlock))
        return 2;

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        err(QStringLiteral("socketpair: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    QSocketNotifier signalNotifier(signalPipe[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], buf, sizeof buf);
        QCoreApplication::quit();
    });

    DisplaySimulator sim(cfg);
    QObject::connect(&sim, &DisplaySimulator::logLine, &app, [](const QString& line) { err(line); });
    QObject::connect(&sim, &DisplaySimulator::recordChanged, &app, [&sim] { dumpRecords(sim); });
    // The device is gone for good (like an unplugged display): nothing left to do.
    QObject::connect(&sim, &DisplaySimulator::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QString error;
    if (!sim.start(&error)) {
        err(QStringLiteral("cannot open a pseudo-terminal: %1").arg(error));
        return 1;
    }

    const QString linkPath = parser.value(link);
    bool linked = false;
    if (!linkPath.isEmpty()) {
        const QFileInfo existing(linkPath);
        if (existing.isSymLink()) {
            ::unlink(QFile::encodeName(linkPath).constData());
        } else if (existing.exists()) {
            err(QStringLiteral("--link: %1 exists and is not a symbolic link").arg(linkPath));
            return 1;
        }
        if (::symlink(QFile::encodeName(sim.devicePath()).constData(),
                      QFile::encodeName(linkPath).constData()) != 0) {
            err(QStringLiteral("--link: cannot create %1: %2")
                    .arg(linkPath, QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        linked = true;
        err(QStringLiteral("   %1 -> %2").arg(linkPath, sim.devicePath()));
    }

    std::fprintf(stdout, "%s\n", QFile::encodeName(sim.devicePath()).constData());
    std::fflush(stdout);

    const int rc = QCoreApplication::exec();

    dumpRecords(sim);
    if (linked) {
        // Remove the link only if it still points at our device.
        if (QFileInfo(linkPath).symLinkTarget() == QFileInfo(sim.devicePath()).absoluteFilePath())
            ::unlink(QFile::encodeName(linkPath).constData());
    }
    err(QStringLiteral("   stopped"));
    return rc;
}
