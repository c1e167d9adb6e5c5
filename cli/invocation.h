#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace morvandell {

// Exit statuses of morvandell-cli.
namespace ExitStatus {
constexpr int Done = 0;
constexpr int Usage = 1;         // wrong usage
constexpr int PortFailed = 2;    // the port cannot be opened
constexpr int NoAnswer = 3;      // the display did not answer in time
constexpr int DeviceGone = 4;    // the device went away
constexpr int FileFailed = 5;    // a file cannot be read or is refused
constexpr int Interrupted = 130; // stopped by Ctrl+C
} // namespace ExitStatus

// One command line of morvandell-cli, checked for form: command, options and their values.
struct Invocation
{
    enum class Command { None, Ports, Identify, Configure, Reset, Flash, Doctor };

    Command command = Command::None;
    bool help = false;
    bool version = false;
    QString port;                    // --port: a number 1..16 or a device path
    QString trace;                   // --trace FILE
    QString logDef;                  // --logdef FILE
    QString profile;                 // --profile FILE
    QString saveProfile;             // --save-profile FILE
    QMap<int, QString> slotChannels; // --slot N=CHANNEL
    QMap<int, QString> names;        // --name N=TEXT
    QMap<int, QString> units;        // --unit N=TEXT
    int view = 1;                    // --view V (0..3)
    bool recovery = false;           // --recovery
    QString image;                   // flash IMAGE

    // Parses the arguments after the program name. Nothing, with *error (German, one line), for a
    // command line that does not fit the interface. --help and --version need nothing else.
    static std::optional<Invocation> parse(const QStringList& arguments, QString* error);

    // The interface, as --help prints it.
    static QString usage();
};

} // namespace morvandell
