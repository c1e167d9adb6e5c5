#include "app/arguments.h"

namespace morvandell {

namespace {

// The help text's lines, without their line ends.
const char* const usageLines[] = {
    "Usage: morvandell [--demo] [PROFILE]",
    "       morvandell --help | --version",
    "Configuration tool for the Morvandell dashboard display: assigns the ECU's channels",
    "to the display's slots, connects to the display, resets it and updates its firmware.",
    "",
    "  PROFILE        start with this profile (*.morvandell.json) loaded; nothing is sent",
    "      --demo     offer a simulated display as \"Com #1\", to try everything without hardware",
    "  -h, --help     show this text and exit",
    "  -v, --version  show the version and exit",
    "",
};
const char* const qtLines[] = {
    "Qt's own options (e.g. -platform) are accepted as well.",
    "MORVANDELL_PORTS names devices for port numbers, e.g. 1=/dev/pts/3,5=/dev/ttyUSB0.",
    "More in the manual page: man morvandell",
};
const char* const windowsLines[] = {
    "Port n of the list (\"Com #n\") is the serial port COMn.",
};

} // namespace

Arguments Arguments::read(const std::vector<std::string>& args, Program program)
{
    const bool windows = program == Program::Windows;
    const std::string newline = windows ? "\r\n" : "\n";
    // Help and version: true when arg asks for one of them (result says which).
    const auto answer = [&](const std::string& arg, Arguments& result) {
        if (arg == "--help" || arg == "-h" || (windows && arg == "/?")) {
            result.action = Action::ShowHelp;
            for (const char* line : usageLines)
                result.text += line + newline;
            if (windows) {
                for (const char* line : windowsLines)
                    result.text += line + newline;
            } else {
                for (const char* line : qtLines)
                    result.text += line + newline;
            }
            return true;
        }
        if (arg == "--version" || arg == "-v") {
            result.action = Action::ShowVersion;
            result.text = "morvandell " MORVANDELL_VERSION + newline;
            return true;
        }
        return false;
    };

    if (!windows) {
        for (const std::string& arg : args) {
            Arguments asked;
            if (answer(arg, asked))
                return asked;
        }
    }
    Arguments result;
    for (const std::string& arg : args) {
        Arguments asked;
        if (answer(arg, asked))
            return asked;
        if (arg == "--demo") {
            result.demo = true;
        } else if (!arg.empty() && arg[0] != '-' && result.profile.empty()) {
            result.profile = arg;
        } else {
            Arguments refused;
            refused.action = Action::Refuse;
            refused.text = "morvandell: unknown argument: " + arg + " (see morvandell --help)" + newline;
            refused.exitCode = 1;
            return refused;
        }
    }
    return result;
}

} // namespace morvandell
