#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morvandell {

// Exit statuses of morvandell-cli.
namespace ExitStatus {
constexpr int Done = 0;
constexpr int Usage = 1;         // wrong usage
constexpr int PortFailed = 2;    // the port cannot be opened
constexpr int NoAnswer = 3;      // the display did not answer in time
constexpr int DeviceGone = 4;    // the device went away
constexpr int FileFailed = 5;    // a file cannot be read or is refused
constexpr int RecordDiffers = 7; // the display stored a record that differs from what was sent
constexpr int Interrupted = 130; // stopped by Ctrl+C
} // namespace ExitStatus

// One command line of morvandell-cli, checked for form: command, options and their values. Texts are
// UTF-8.
struct Invocation
{
    enum class Command { None, Ports, Identify, Configure, Reset, Flash, Doctor };

    Command command = Command::None;
    bool help = false;
    bool version = false;
    std::string port;                        // --port: a number 1..16 or a device path
    std::string trace;                       // --trace FILE
    std::string logDef;                      // --logdef FILE
    std::string profile;                     // --profile FILE
    std::string saveProfile;                 // --save-profile FILE
    std::map<int, std::string> slotChannels; // --slot N=CHANNEL
    std::map<int, std::string> names;        // --name N=TEXT
    std::map<int, std::string> units;        // --unit N=TEXT
    int view = 1;                            // --view V (0..3)
    bool recovery = false;                   // --recovery
    std::string image;                       // flash IMAGE

    // Parses the arguments after the program name. Nothing, with *error (German, one line), for a
    // command line that does not fit the interface. --help and --version need nothing else.
    static std::optional<Invocation> parse(const std::vector<std::string>& arguments, std::string* error);

    // The interface, as --help prints it.
    static std::string usage();

    // A whole number as the command line takes it: blanks around it allowed, an optional sign.
    static std::optional<int> number(const std::string& text);
};

} // namespace morvandell
