// Time and CPU cost of a full firmware transfer (1016 blocks, 130048 bytes) through the update window,
// against the display simulator over a pseudo-terminal: once with instant answers, once with the display
// taking bytes at the 9600-baud byte time.
//
// Run: build/tools/bench_update [--instant-only]
// The simulator runs as the separate morvandell-sim program beside this one when it is found there, so
// the CPU figures are the tool's alone; otherwise it runs in a thread of this process (and is counted).

#include "control/form1.h"
#include "ui/userdialogs.h"
#include "serial/serialservice.h"
#include "simulator/displaysimulator.h"
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

#include <sys/resource.h>

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
    Display(bool paced, const QString& imageOut)
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/morvandell-sim");
        if (QFileInfo(program).isExecutable()) {
            m_process = std::make_unique<QProcess>();
            QStringList args{QStringLiteral("--ready-delay"), QString::number(ReadyDelayMs),
                             QStringLiteral("--image-out"), imageOut};
            if (paced)
                args << QStringLiteral("--pace-9600");
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

bool runOnce(bool paced, const QString& imagePath, const QByteArray& expected, const QString& folder)
{
    const QString imageOut = folder + (paced ? QStringLiteral("/paced.out") : QStringLiteral("/instant.out"));
    Display display(paced, imageOut);
    if (display.device().isEmpty()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
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
    QElapsedTimer clock;
    clock.start();
    form2->Command2->click();
    const qint64 handlerMs = clock.elapsed();
    const bool completed =
        processEventsUntil([&] { return form2->statusText() == QLatin1String("Fertig."); }, 10000);
    const double totalS = double(clock.nsecsElapsed()) / 1e9;
    const double cpuS = cpuSeconds(RUSAGE_SELF) - cpuBefore;

    QFile out(imageOut);
    const bool imageOk =
        processEventsUntil([&] { return QFileInfo(imageOut).size() == expected.size(); }, 3000) &&
        out.open(QIODevice::ReadOnly) && out.readAll() == expected;
    display.stop();
    const double simCpuS = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
    form2->hide();

    const double lineS = UpdateProtocol::lineSeconds();
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
    return completed && imageOk && dialogs.messages.isEmpty();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool instantOnly = app.arguments().contains(QStringLiteral("--instant-only"));

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

    bool ok = runOnce(false, imagePath, image, folder.path());
    if (!instantOnly)
        ok = runOnce(true, imagePath, image, folder.path()) && ok;
    return ok ? 0 : 1;
}
