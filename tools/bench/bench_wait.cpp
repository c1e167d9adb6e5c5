// CPU time the tool uses while it waits for a display that never answers (one full reply wait).
// Run: build/tools/bench_wait   (needs QT_QPA_PLATFORM=offscreen without a display)
#include "ui/combobox.h"
#include "control/form1.h"
#include "ui/userdialogs.h"
#include "simulator/displaysimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>

namespace {

class QuietDialogs : public morvandell::UserDialogs
{
public:
    void message(QWidget*, const QString&, const QString& text, Icon) override { last = text; }
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> textPrompt(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    QString last;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    morvandell::sim::SimulatorConfig config;
    config.silent = true;
    morvandell::sim::SimulatorThread sim(config);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    QuietDialogs dialogs;
    QMap<int, morvandell::PortDirectory::Entry> entries{{1, {sim.devicePath(), QString()}}};
    morvandell::Form1 form(std::make_shared<const morvandell::PortDirectory>(entries), &dialogs);
    form.Combo5->setCurrentIndex(0);
    emit form.Combo5->activated(0);
    form.Command3->click();
    form.deviceFound = 1; // the silent display never identifies itself; let the reset go out anyway

    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    form.Command5->click(); // reset frame, then a wait that runs into its time limit
    const double wall = clock.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("unanswered reply wait: %.2f s wall, %.4f s CPU (%.2f %% of one core), ended with \"%s\"\n",
                wall, cpu, 100.0 * cpu / wall, qPrintable(dialogs.last));
    return 0;
}
