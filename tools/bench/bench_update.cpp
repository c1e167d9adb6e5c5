// Time and CPU cost of a full firmware transfer (1016 blocks, 130048 bytes) through the update window,
// against the display simulator over a pseudo-terminal: with instant answers, with every answer held back
// by a USB adapter's latency timer (16 ms by default, 1 ms in low-latency mode), and with the display
// taking bytes at the 9600-baud byte time. Each timing is set against a lean reference loop (raw file
// descriptor, write() and select(), no Qt) that does the same exchange with the same simulator.
//
// Run: build/tools/bench_update [--instant-only | --paced-only]
// The simulator runs as the separate morvandell-sim program beside this one when it is found there, so
// the CPU figures are the tool's alone; otherwise it runs in a thread of this process (and is counted).

#include "control/form1.h"
#include "serial/serialservice.h"
#include "simulator/displaysimulator.h"
#include "ui/userdialogs.h"
#include "updater/form2.h"
#include "updater/updateprotocol.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using morvandell::UpdateProtocol;

namespace {

// The display needs a moment to switch into its update mode; a ready byte sent before the tool has
// reopened the port at 9600 baud would be lost, as on a real line.
constexpr int ReadyDelayMs = 20;

class BenchDialogs : public morvandell::UserDialogs
{
public:
    void message(QWidget*, const QString& title, const QString& text, Icon) override
    {
        messages << QStringLiteral("[%1] %2").arg(title, text);
    }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return file;
    }
    std::optional<QString> textPrompt(QWidget*, const QString&, const QString&) override
    {
        return QStringLiteral("3");
    }
    QString file;
    QStringList messages;
};

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sleeps in an event loop until done() holds; checks every few milliseconds.
bool processEventsUntil(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// The display: the morvandell-sim program when it is beside this one, else a thread in this process.
class Display
{
public:
    Display(bool paced, const QString& imageOut, int latencyMs = 0)
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/morvandell-sim");
        if (QFileInfo(program).isExecutable()) {
            m_process = std::make_unique<QProcess>();
            QStringList args{QStringLiteral("--ready-delay"), QString::number(ReadyDelayMs),
                             QStringLiteral("--image-out"), imageOut};
            if (paced)
                args << QStringLiteral("--pace-9600");
            if (latencyMs > 0)
                args << QStringLiteral("--adapter-latency") << QString::number(latencyMs);
            m_process->setProcessChannelMode(QProcess::SeparateChannels);
            m_process->setStandardErrorFile(qEnvironmentVariable("BENCH_SIM_LOG", QProcess::nullDevice()));
            m_process->start(program, args);
            if (m_process->waitForStarted(5000) && m_process->waitForReadyRead(5000))
                m_device = QString::fromLocal8Bit(m_process->readLine().trimmed());
            return;
        }
        morvandell::sim::SimulatorConfig config;
        config.readyDelayMs = ReadyDelayMs;
        config.pace9600 = paced;
        config.imageOut = imageOut;
        config.adapterLatencyMs = latencyMs;
        m_thread = std::make_unique<morvandell::sim::SimulatorThread>(config);
        if (m_thread->start())
            m_device = m_thread->devicePath();
    }
    ~Display() { stop(); }
    // Ends the simulator program; afterwards its CPU time is in RUSAGE_CHILDREN.
    void stop()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            m_process->waitForFinished(5000);
        }
    }
    bool separate() const { return m_process != nullptr; }
    QString device() const { return m_device; }

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<morvandell::sim::SimulatorThread> m_thread;
    QString m_device;
};

struct Figures
{
    bool ok = false;
    double totalS = 0;
    double cpuS = 0;
};

bool imageArrived(const QString& imageOut, const QByteArray& expected)
{
    QFile out(imageOut);
    return processEventsUntil([&] { return QFileInfo(imageOut).size() == expected.size(); }, 3000) &&
           out.open(QIODevice::ReadOnly) && out.readAll() == expected;
}

// The reference: the normal update as a plain loop on the raw descriptor. Frame, switch to 9600 baud,
// ready byte, then per block one write() and select()/read() until the acknowledgement; after the last
// block, the completion byte.
Figures leanLoop(const QString& device)
{
    Figures f;
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return f;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    ::tcsetattr(fd, TCSANOW, &tio);
    const auto awaitByte = [fd](char wanted) {
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            timeval limit{5, 0};
            if (::select(fd + 1, &set, nullptr, nullptr, &limit) <= 0)
                return false;
            char buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == wanted)
                    return true;
        }
    };
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    char frame[22] = {0x55, 0x04};
    frame[21] = 0x0D;
    bool ok = ::write(fd, frame, sizeof frame) == ssize_t(sizeof frame);
    ::tcdrain(fd);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(fd, TCSANOW, &tio);
    ok = ok && awaitByte(0x05);
    QFile image(QString::fromLocal8Bit(qgetenv("BENCH_IMAGE")));
    ok = ok && image.open(QIODevice::ReadOnly);
    char block[UpdateProtocol::BlockSize];
    for (int b = 1; ok && b <= UpdateProtocol::BlockCount; ++b) {
        ok = image.read(block, sizeof block) == qint64(sizeof block) &&
             ::write(fd, block, sizeof block) == ssize_t(sizeof block) &&
             awaitByte(b < UpdateProtocol::BlockCount ? 0x06 : 0x07);
    }
    f.totalS = double(clock.nsecsElapsed()) / 1e9;
    f.cpuS = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    f.ok = ok;
    ::close(fd);
    return f;
}

Figures runLean(bool paced, int latencyMs, const QByteArray& expected, const QString& folder)
{
    const QString imageOut = folder + QStringLiteral("/lean.out");
    QFile::remove(imageOut);
    Display display(paced, imageOut, latencyMs);
    Figures f = leanLoop(display.device());
    f.ok = f.ok && imageArrived(imageOut, expected);
    return f;
}

Figures runOnce(bool paced, int latencyMs, const QString& imagePath, const QByteArray& expected,
                const QString& folder)
{
    Figures figures;
    const QString imageOut = folder + QStringLiteral("/tool.out");
    QFile::remove(imageOut);
    Display display(paced, imageOut, latencyMs);
    if (display.device().isEmpty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return figures;
    }
    BenchDialogs dialogs;
    dialogs.file = imagePath;
    QMap<int, morvandell::PortDirectory::Entry> entries{{3, {display.device(), QString()}}};
    morvandell::Form1 form1(std::make_shared<const morvandell::PortDirectory>(entries), &dialogs);
    form1.Command4_Click(); // the update window asks for the port: 3
    morvandell::Form2* form2 = form1.updateWindow();
    form2->Command1->click();

    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    // The end is the moment the completion byte has been taken ("Fertig."), seen right after the
    // window's receiver.
    const auto finished = [form2] {
        return form2->statusText() == QLatin1String("Fertig.");
    };
    QElapsedTimer clock;
    qint64 endNs = -1;
    QObject::connect(&form2->serialPort(), &morvandell::SerialService::received, form2, [&] {
        if (endNs < 0 && finished())
            endNs = clock.nsecsElapsed();
    });
    clock.start();
    form2->Command2->click();
    const qint64 handlerMs = clock.elapsed();
    const bool completed = processEventsUntil(finished, 10000);
    const double totalS = double(endNs < 0 ? clock.nsecsElapsed() : endNs) / 1e9;
    const double cpuS = cpuSeconds(RUSAGE_SELF) - cpuBefore;

    const bool imageOk = imageArrived(imageOut, expected);
    display.stop();
    const double simCpuS = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
    form2->hide();

    const double lineS = UpdateProtocol::lineSeconds();
    if (latencyMs > 0)
        std::printf("%s, adapter latency %d ms\n", paced ? "9600-baud pacing" : "instant answers", latencyMs);
    else
        std::printf("%s\n", paced ? "9600-baud pacing" : "instant answers");
    std::printf("  simulator               : %s\n", display.separate()
                                                        ? "separate process (morvandell-sim)"
                                                        : "thread in this process (counted below)");
    std::printf("  completed               : %s, image %s, messages: %s\n", completed ? "yes" : "NO",
                imageOk ? "identical" : "DIFFERENT", qPrintable(dialogs.messages.join(QLatin1String("; "))));
    std::printf("  total time              : %.3f s (handler returned after %.3f s)\n", totalS,
                handlerMs / 1000.0);
    if (paced) {
        std::printf("  line time 130048 B      : %.3f s\n", lineS);
        std::printf("  overhead per block      : %.3f ms ((total - line time) / 1016)\n",
                    (totalS - lineS) * 1000.0 / UpdateProtocol::BlockCount);
    } else {
        std::printf("  time per block          : %.3f ms (total / 1016: write, answer, wake-up)\n",
                    totalS * 1000.0 / UpdateProtocol::BlockCount);
    }
    std::printf("  CPU time of the tool    : %.3f s (%.1f %% of the wall time, %.1f us per block)\n", cpuS,
                100.0 * cpuS / totalS, cpuS * 1e6 / UpdateProtocol::BlockCount);
    if (display.separate())
        std::printf("  CPU time of the display : %.3f s\n", simCpuS);
    std::fflush(stdout);
    figures.ok = completed && imageOk && dialogs.messages.isEmpty();
    figures.totalS = totalS;
    figures.cpuS = cpuS;
    return figures;
}

// The tool against the lean loop, same simulator settings, `rounds` times each, in turns; the best of
// each is compared (the machine is shared: the best round is the one least disturbed).
bool compare(bool paced, int rounds, const QString& imagePath, const QByteArray& image, const QString& folder)
{
    bool ok = true;
    Figures bestTool;
    Figures bestLean;
    bestTool.totalS = bestLean.totalS = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const Figures tool = runOnce(paced, 0, imagePath, image, folder);
        const Figures lean = runLean(paced, 0, image, folder);
        std::printf("  lean reference loop     : %.3f s, CPU %.3f s (%s)\n\n", lean.totalS, lean.cpuS,
                    lean.ok ? "image identical" : "FAILED");
        ok = ok && tool.ok && lean.ok;
        if (tool.totalS < bestTool.totalS)
            bestTool = tool;
        if (lean.totalS < bestLean.totalS)
            bestLean = lean;
    }
    std::printf("%s, best of %d: tool %.3f s (CPU %.1f us per block), lean loop %.3f s (CPU %.1f us per "
                "block): tool / lean loop = %.3fx\n\n",
                paced ? "9600-baud pacing" : "instant answers", rounds, bestTool.totalS,
                bestTool.cpuS * 1e6 / UpdateProtocol::BlockCount, bestLean.totalS,
                bestLean.cpuS * 1e6 / UpdateProtocol::BlockCount, bestTool.totalS / bestLean.totalS);
    std::fflush(stdout);
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool instantOnly = app.arguments().contains(QStringLiteral("--instant-only"));
    const bool pacedOnly = app.arguments().contains(QStringLiteral("--paced-only"));

    QTemporaryDir folder;
    QByteArray image(UpdateProtocol::TransferSize, '\0');
    QRandomGenerator random(2024);
    for (char& c : image)
        c = char(random.bounded(256));
    const QString imagePath = folder.filePath(QStringLiteral("firmware.bin"));
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    qputenv("BENCH_IMAGE", QFile::encodeName(imagePath));

    bool ok = true;
    if (pacedOnly)
        return compare(true, 1, imagePath, image, folder.path()) ? 0 : 1;
    ok = compare(false, 5, imagePath, image, folder.path());
    // What low latency buys: every acknowledgement held back by the adapter's timer.
    for (const int latency : {16, 1}) {
        const Figures f = runOnce(false, latency, imagePath, image, folder.path());
        std::printf("  => with instant answers the total is the adapter's share: %.1f s (%.1f %% of the "
                    "%.2f s line time at 9600 baud)\n\n",
                    f.totalS, 100.0 * f.totalS / UpdateProtocol::lineSeconds(),
                    UpdateProtocol::lineSeconds());
        ok = f.ok && ok;
    }
    if (!instantOnly)
        ok = compare(true, 1, imagePath, image, folder.path()) && ok;
    return ok ? 0 : 1;
}
