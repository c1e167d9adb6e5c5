#include "cli/invocation.h"

#include "platform/text.h"

#include <algorithm>
#include <climits>

namespace morvandell {

namespace {

using Command = Invocation::Command;

constexpr int SlotCount = 8;

std::optional<Command> commandNamed(const std::string& name)
{
    static const std::map<std::string, Command> commands{
        {"ports", Command::Ports},         {"identify", Command::Identify}, {"configure", Command::Configure},
        {"reset", Command::Reset},         {"flash", Command::Flash},       {"doctor", Command::Doctor},
    };
    const auto it = commands.find(name);
    if (it == commands.end())
        return std::nullopt;
    return it->second;
}

bool isOneOf(const std::string& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

// "N=TEXT" with N in 1..8.
bool parseSlotValue(const std::string& option, const std::string& value, std::map<int, std::string>* into,
                    std::string* error)
{
    const std::size_t equals = value.find('=');
    const bool hasSlot = equals != std::string::npos && equals > 0;
    const std::optional<int> slot = hasSlot ? Invocation::number(value.substr(0, equals)) : std::nullopt;
    if (!slot || *slot < 1 || *slot > SlotCount) {
        *error = text::arg("%1 erwartet N=WERT mit einem Platz N von 1 bis 8, nicht „%2“.", {option, value});
        return false;
    }
    if (into->count(*slot)) {
        *error = text::arg("%1 für Platz %2 ist doppelt angegeben.", {option, *slot});
        return false;
    }
    (*into)[*slot] = value.substr(equals + 1);
    return true;
}

} // namespace

std::optional<int> Invocation::number(const std::string& text)
{
    const std::optional<long long> value = text::toInteger(text::trimmed(text));
    if (!value || *value < INT_MIN || *value > INT_MAX)
        return std::nullopt;
    return int(*value);
}

std::optional<Invocation> Invocation::parse(const std::vector<std::string>& arguments, std::string* error)
{
    Invocation inv;
    std::vector<std::string> positional;
    std::vector<std::string> seen; // options given, in the order they first came
    auto wasSeen = [&](const std::string& name) { return std::find(seen.begin(), seen.end(), name) != seen.end(); };
    auto see = [&](const std::string& name) {
        if (!wasSeen(name))
            seen.push_back(name);
    };
    const auto takesValue = [](const std::string& name) {
        return isOneOf(name, {"--port", "--trace", "--logdef", "--profile", "--save-profile", "--slot", "--name",
                              "--unit", "--view"});
    };
    const auto isFlag = [](const std::string& name) { return isOneOf(name, {"--recovery", "--help", "--version"}); };
    const auto repeatable = [](const std::string& name) { return isOneOf(name, {"--slot", "--name", "--unit"}); };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (optionsEnded || !text::startsWith(arg, "--") || arg == "--") {
            if (arg == "--" && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            positional.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const std::size_t equals = arg.find('='); equals != std::string::npos && equals > 0) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (isFlag(name)) {
            if (value) {
                *error = text::arg("%1 nimmt keinen Wert.", {name});
                return std::nullopt;
            }
            if (name == "--help")
                inv.help = true;
            else if (name == "--version")
                inv.version = true;
            else
                inv.recovery = true;
            see(name);
            continue;
        }
        if (!takesValue(name)) {
            *error = text::arg("Unbekannte Option %1.", {name});
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                *error = text::arg("%1 braucht einen Wert.", {name});
                return std::nullopt;
            }
            value = arguments[++i];
        }
        if (wasSeen(name) && !repeatable(name)) {
            *error = text::arg("%1 ist doppelt angegeben.", {name});
            return std::nullopt;
        }
        see(name);
        if (name == "--port") {
            inv.port = *value;
        } else if (name == "--trace") {
            inv.trace = *value;
        } else if (name == "--logdef") {
            inv.logDef = *value;
        } else if (name == "--profile") {
            inv.profile = *value;
        } else if (name == "--save-profile") {
            inv.saveProfile = *value;
        } else if (name == "--view") {
            const std::optional<int> view = number(*value);
            if (!view || *view < 0 || *view > 3) {
                *error = text::arg("--view erwartet 0, 1, 2 oder 3, nicht „%1“.", {*value});
                return std::nullopt;
            }
            inv.view = *view;
        } else {
            std::map<int, std::string>* into = name == "--slot"   ? &inv.slotChannels
                                               : name == "--name" ? &inv.names
                                                                  : &inv.units;
            if (!parseSlotValue(name, *value, into, error))
                return std::nullopt;
        }
    }

    if (inv.help || inv.version)
        return inv;

    if (positional.empty()) {
        *error = "Kein Befehl angegeben.";
        return std::nullopt;
    }
    const std::string commandName = positional.front();
    positional.erase(positional.begin());
    const auto command = commandNamed(commandName);
    if (!command) {
        *error = text::arg("Unbekannter Befehl „%1“.", {commandName});
        return std::nullopt;
    }
    inv.command = *command;

    // Which options each command takes.
    std::vector<std::string> allowed{"--trace", "--port"};
    switch (inv.command) {
    case Command::Ports:
        allowed = {"--trace"};
        break;
    case Command::Configure:
        allowed.insert(allowed.end(),
                       {"--logdef", "--profile", "--save-profile", "--slot", "--name", "--unit", "--view"});
        break;
    case Command::Flash:
        allowed.push_back("--recovery");
        break;
    default:
        break;
    }
    for (const std::string& option : seen) {
        if (std::find(allowed.begin(), allowed.end(), option) == allowed.end()) {
            *error = text::arg("%1 gehört nicht zu diesem Befehl.", {option});
            return std::nullopt;
        }
    }
    const bool needsPort = inv.command != Command::Ports && inv.command != Command::Doctor;
    if (needsPort && inv.port.empty()) {
        *error = "--port PORT fehlt.";
        return std::nullopt;
    }
    if (inv.command == Command::Flash) {
        if (positional.size() != 1) {
            *error = "flash erwartet genau eine Firmware-Datei.";
            return std::nullopt;
        }
        inv.image = positional.front();
        positional.clear();
    }
    if (!positional.empty()) {
        *error = text::arg("Überzähliges Argument „%1“.", {positional.front()});
        return std::nullopt;
    }
    if (inv.command == Command::Configure) {
        if (inv.logDef.empty() == inv.profile.empty()) {
            *error = "configure braucht entweder --logdef FILE oder --profile FILE.";
            return std::nullopt;
        }
        const bool logDefOnly = !inv.slotChannels.empty() || !inv.names.empty() || !inv.units.empty() ||
                                wasSeen("--view") || !inv.saveProfile.empty();
        if (!inv.profile.empty() && logDefOnly) {
            *error = "--slot, --name, --unit, --view und --save-profile gehören zu --logdef, nicht zu --profile.";
            return std::nullopt;
        }
    }
    return inv;
}

std::string Invocation::usage()
{
    return "Aufruf:\n"
           "  morvandell-cli ports\n"
           "  morvandell-cli identify  --port PORT\n"
           "  morvandell-cli configure --port PORT --logdef FILE [--slot N=CHANNEL]... [--name N=TEXT]...\n"
           "                           [--unit N=TEXT]... [--view V] [--save-profile FILE]\n"
           "  morvandell-cli configure --port PORT --profile FILE\n"
           "  morvandell-cli reset     --port PORT\n"
           "  morvandell-cli flash     --port PORT [--recovery] IMAGE\n"
           "  morvandell-cli doctor    [--port PORT]\n"
           "Für jeden Befehl: --trace FILE, --help, --version\n"
           "\n"
           "  ports      listet die benutzbaren Ports: Nummer, Gerät, Beschreibung\n"
           "  identify   sendet den Connect-Befehl und gibt den Firmware-Text des Displays aus\n"
           "  configure  schreibt die acht Plätze und die Standardansicht wie „Daten schreiben“; meldet\n"
           "             das Display einen Datensatz zurück, wird er mit dem gesendeten verglichen\n"
           "  reset      sendet den Reset-Befehl\n"
           "  flash      schreibt eine Firmware (--recovery: Display wartet schon im Update-Modus)\n"
           "  doctor     prüft einen oder alle Ports, als Text für eine Support-Anfrage\n"
           "\n"
           "  PORT       Portnummer 1..16 wie in der Portliste (MORVANDELL_PORTS gilt) oder Gerätepfad\n"
           "  --slot N=CHANNEL  Platz N (1..8) bekommt den ersten Kanal dieses Namens\n"
           "  --name N=TEXT     Name von Platz N (höchstens 8 Zeichen), --unit N=TEXT Einheit (3 Zeichen)\n"
           "  --view V          Standardansicht: 1 Seite #1, 2 Seite #2, 3 Seite #3, 0 keine (Vorgabe 1)\n"
           "  --trace FILE      schreibt jedes gesendete und empfangene Byte mit Zeit in FILE\n"
           "\n"
           "Exit-Status: 0 erledigt, 1 falscher Aufruf, 2 Port nicht zu öffnen, 3 keine Antwort in der\n"
           "Zeit, 4 Gerät getrennt, 5 Datei nicht lesbar oder abgelehnt, 7 das Display hat einen Datensatz\n"
           "anders gespeichert als gesendet, 130 mit Strg+C abgebrochen.\n";
}

} // namespace morvandell
