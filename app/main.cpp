#include "app/arguments.h"
#include "control/form1.h"
#include "serial/portdirectory.h"
#include "simulator/demodisplay.h"
#include "ui/qt/qtfrontend.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    using morvandell::Arguments;
    // Help and version are answered before anything needs a display, so that both work on a console and
    // in scripts.
    const Arguments asked = Arguments::read({argv + 1, argv + argc}, Arguments::Program::Qt);
    if (asked.action == Arguments::Action::ShowHelp || asked.action == Arguments::Action::ShowVersion) {
        std::fputs(asked.text.c_str(), stdout);
        return asked.exitCode;
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
    const Arguments arguments = Arguments::read({argv + 1, argv + argc}, Arguments::Program::Qt);
    if (arguments.action != Arguments::Action::Start) {
        std::fputs(arguments.text.c_str(), arguments.action == Arguments::Action::Refuse ? stderr : stdout);
        return arguments.exitCode;
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
    if (arguments.demo)
        extra[sim::DemoDisplay::PortNumber] = sim::DemoDisplay::portEntry();
    ui::qt::QtFrontEnd frontEnd;
    Form1 form(frontEnd, PortDirectory::fromSystem(std::move(extra)));
    form.view().showWindow();
    if (!arguments.profile.empty())
        form.openProfileAtStart(arguments.profile); // a profile that cannot be read is reported; the window stays
    return app.exec();
}
