// How long the port list takes to rebuild when the user opens it: 16 mapped devices (pseudo-terminals
// behind links, as MORVANDELL_PORTS names them), and the machine's own ports as the system lists them.
// Run: build/tools/bench_ports   (needs QT_QPA_PLATFORM=offscreen without a display)
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "ui/combobox.h"
#include "ui/userdialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Rounds = 200;

class QuietDialogs : public morvandell::UserDialogs
{
public:
    void message(QWidget*, const QString&, const QString&, Icon) override {}
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QString> textPrompt(QWidget*, const QString&, const QString&) override
    {
        return std::nullopt;
    }
};

void measure(const char* what, const std::function<void()>& step)
{
    std::vector<double> ms;
    for (int i = 0; i < Rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %.3f ms, 95th %.3f ms, max %.3f ms (%d rounds)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 95 / 100], ms.back(), Rounds);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    using morvandell::PortDirectory;

    QTemporaryDir dir;
    QMap<int, QString> mapped;
    std::vector<int> fds;
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "openpty failed\n");
            return 1;
        }
        fds.push_back(master);
        fds.push_back(slave);
        const QString link = dir.filePath(QStringLiteral("port%1").arg(n));
        QFile::link(QString::fromLocal8Bit(name), link);
        mapped.insert(n, link);
    }

    QuietDialogs dialogs;
    const auto withSystem =
        std::make_shared<const PortDirectory>(mapped, [] { return morvandell::PortInfo::systemPorts(); });
    morvandell::Form1 form(withSystem, &dialogs);
    measure("port list rebuild, 16 mapped + system ports (Combo5)", [&] { form.Combo5_DropDown(); });
    std::printf("  entries listed: %d\n", form.Combo5->count());

    const auto mappedOnly =
        std::make_shared<const PortDirectory>(mapped, [] { return QList<morvandell::PortInfo>{}; });
    measure("directory refresh, 16 mapped only", [&] { mappedOnly->refresh(); });
    const PortDirectory systemOnly({}, [] { return morvandell::PortInfo::systemPorts(); });
    measure("directory refresh, this machine's ports only", [&] { systemOnly.refresh(); });

    for (int fd : fds)
        ::close(fd);
    return 0;
}
