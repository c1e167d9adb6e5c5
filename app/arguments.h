#pragma once

#include <string>
#include <vector>

namespace morvandell {

// What the command line of the window program (morvandell) asks for: its help or version, or to start,
// with the demo display and a profile to open. The Qt program and the Windows program read it alike;
// they differ in their line ends, the end of the help text, and "/?", which asks for help on Windows.
struct Arguments
{
    enum class Program { Qt, Windows };
    enum class Action { Start, ShowHelp, ShowVersion, Refuse };

    Action action = Action::Start;
    // The help or version text (for standard output), or why the command line is refused (for
    // standard error); with the program's line ends.
    std::string text;
    // What the program exits with when it does not start.
    int exitCode = 0;
    bool demo = false;
    std::string profile; // empty: none

    // args: the arguments after the program's name. The Qt program answers help and version wherever
    // they stand, before anything needs a display; it reads the arguments again once Qt has taken its
    // own options (-platform ...) out. The Windows program reads them once, in order: the first
    // argument that asks for help or version, or is refused, decides.
    static Arguments read(const std::vector<std::string>& args, Program program);
};

} // namespace morvandell
