// morvandell-cli: configure, reset and update the display from a shell, without a window.

#include "cli/clitool.h"
#include "cli/invocation.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morvandell-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANDELL_VERSION));

    QString error;
    const auto invocation = morvandell::Invocation::parse(app.arguments().mid(1), &error);
    if (!invocation) {
        std::fprintf(stderr, "morvandell-cli: %s (morvandell-cli --help zeigt die Aufrufe)\n",
                     qPrintable(error));
        return morvandell::ExitStatus::Usage;
    }
    if (invocation->help) {
        std::fputs(morvandell::Invocation::usage().toUtf8().constData(), stdout);
        return morvandell::ExitStatus::Done;
    }
    if (invocation->version) {
        std::printf("morvandell-cli %s (Qt %s)\n", MORVANDELL_VERSION, qVersion());
        return morvandell::ExitStatus::Done;
    }
    morvandell::CliTool tool(morvandell::PortDirectory::fromSystem());
    return tool.run(*invocation);
}
