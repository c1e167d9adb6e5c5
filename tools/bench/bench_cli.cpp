// Time and CPU cost of `morvandell-cli flash` (1016 blocks, 130048 bytes) against the display simulator
// with instant answers, to set beside the update window's figure from bench_update --instant-only.
//
// Run: build/tools/bench_cli [runs]
// Both the simulator (morvandell-sim) and the tool (morvandell-cli) run as separate programs; the CPU
// figure is the tool's alone.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int TransferSize = 130048;
constexpr int ReadyDelayMs = 20; // as in bench_update

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(1, app.arguments().value(1, QStringLiteral("3")).toInt());
    const QString dir = QCoreApplication::applicationDirPath();
    const QString sim = dir + QStringLiteral("/morvandell-sim");
    const QString cli = dir + QStringLiteral("/../cli/morvandell-cli");
    if (!QFileInfo(sim).isExecutable() || !QFileInfo(cli).isExecutable()) {
        std::fprintf(stderr, "morvandell-sim or morvandell-cli not built\n");
        return 1;
    }

    QTemporaryDir folder;
    QByteArray image(TransferSize, '\0');
    QRandomGenerator random(2024);
    for (char& c : image)
        c = char(random.bounded(256));
    const QString imagePath = folder.filePath(QStringLiteral("firmware.bin"));
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    std::vector<double> walls, cpus;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        const QString imageOut = folder.filePath(QStringLiteral("out%1.bin").arg(run));
        QProcess display;
        display.setStandardErrorFile(QProcess::nullDevice());
        display.start(sim, {QStringLiteral("--ready-delay"), QString::number(ReadyDelayMs),
                            QStringLiteral("--image-out"), imageOut});
        if (!display.waitForStarted(5000) || !display.waitForReadyRead(5000))
            return 1;
        const QString device = QString::fromLocal8Bit(display.readLine().trimmed());

        QProcess tool;
        const double cpuBefore = childCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        tool.start(cli, {QStringLiteral("flash"), QStringLiteral("--port"), device, imagePath});
        tool.waitForFinished(60000);
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = childCpuSeconds() - cpuBefore;
        const QByteArray out = tool.readAllStandardOutput();
        display.terminate();
        display.waitForFinished(5000);
        QFile received(imageOut);
        const bool same = received.open(QIODevice::ReadOnly) && received.readAll() == image;
        const bool done = tool.exitCode() == 0 && out == "Fertig.\n" && same;
        ok = ok && done;
        walls.push_back(wall);
        cpus.push_back(cpu);
        std::printf("run %d: %.3f s in all (program start to exit), %.3f s CPU of the tool, %s\n", run + 1,
                    wall, cpu, done ? "image identical" : "FAILED");
    }
    std::printf("morvandell-cli flash, instant answers: %.3f-%.3f s, CPU %.3f-%.3f s\n",
                *std::min_element(walls.begin(), walls.end()), *std::max_element(walls.begin(), walls.end()),
                *std::min_element(cpus.begin(), cpus.end()), *std::max_element(cpus.begin(), cpus.end()));
    return ok ? 0 : 1;
}
