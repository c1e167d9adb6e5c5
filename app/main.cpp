#include "control/form1.h"
#include "serial/portdirectory.h"
#include "simulator/demodisplay.h"
#include "ui/qt/qtfrontend.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* usage =
    "Usage: morvandell [--demo] [PROFILE]\n"
    "       morvandell --help | --version\n"
    "Configuration tool for the Morvandell dashboard display: assigns the ECU's channels\n"
    "to the display's slots, connects to the display, resets it and updates its firmware.\n"
    "\n"
    "  PROFILE        start with this profile (*.morvandell.json) loaded; nothing is sent\n"
    "      --demo     offer a simulated display as \"Com #1\", to try everything without hardware\n"
    "  -h, --help     show this text and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Qt's own options (e.g. -platform) are accepted as well.\n"
    "MORVANDELL_PORTS names devices for port numbers, e.g. 1=/dev/pts/3,5=/dev/ttyUSB0.\n"
    "More in the manual page: man morvandell\n";

} // namespace

int main(int argc, char* argv[])
{
    // Answered before anything needs a display, so that both work on a console and in scripts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::fputs("morvandell " MORVANDELL_VERSION "\n", stdout);
            return 0;
        }
    }
#ifdef Q_OS_LINUX
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("morvandell: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Start it from a desktop session, or under a virtual display: xvfb-run -a morvandell\n",
                   stderr);
        return 2;
    }
#endif
    QApplication app(argc, argv);
    // QApplication took Qt's own options out of argv; what is left is ours.
    bool demo = false;
    std::string profile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--demo") {
            demo = true;
        } else if (!arg.empty() && arg[0] != '-' && profile.empty()) {
            profile = arg;
        } else {
            std::fprintf(stderr, "morvandell: unknown argument: %s (see morvandell --help)\n", argv[i]);
            return 1;
        }
    }
    QApplication::setApplicationName(QStringLiteral("Morvandell"));
    QApplication::setApplicationVersion(QStringLiteral(MORVANDELL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("de.morvandell.Morvandell"));
    QIcon icon;
    for (const int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/morvandell-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    using namespace morvandell;
    std::map<int, PortDirectory::Entry> extra;
    if (demo)
        extra[sim::DemoDisplay::PortNumber] = sim::DemoDisplay::portEntry();
    ui::qt::QtFrontEnd frontEnd;
    Form1 form(frontEnd, PortDirectory::fromSystem(std::move(extra)));
    form.view().showWindow();
    if (!profile.empty())
        form.openProfileAtStart(profile); // a profile that cannot be read is reported; the window stays
    return app.exec();
}
