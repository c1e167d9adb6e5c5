#include "cli/invocation.h"

#include <QSet>

namespace morvandell {

namespace {

using Command = Invocation::Command;

constexpr int SlotCount = 8;

std::optional<Command> commandNamed(const QString& name)
{
    static const QMap<QString, Command> commands{
        {QStringLiteral("ports"), Command::Ports},         {QStringLiteral("identify"), Command::Identify},
        {QStringLiteral("configure"), Command::Configure}, {QStringLiteral("reset"), Command::Reset},
        {QStringLiteral("flash"), Command::Flash},         {QStringLiteral("doctor"), Command::Doctor},
    };
    const auto it = commands.constFind(name);
    if (it == commands.constEnd())
        return std::nullopt;
    return *it;
}

// "N=TEXT" with N in 1..8.
bool parseSlotValue(const QString& option, const QString& value, QMap<int, QString>* into, QString* error)
{
    const qsizetype equals = value.indexOf(QLatin1Char('='));
    bool ok = false;
    const int slot = equals > 0 ? value.left(equals).toInt(&ok) : 0;
    if (!ok || slot < 1 || slot > SlotCount) {
        *error = QStringLiteral("%1 erwartet N=WERT mit einem Platz N von 1 bis 8, nicht „%2“.")
                     .arg(option, value);
        return false;
    }
    if (into->contains(slot)) {
        *error = QStringLiteral("%1 für Platz %2 ist doppelt angegeben.").arg(option).arg(slot);
        return false;
    }
    into->insert(slot, value.mid(equals + 1));
    return true;
}

} // namespace

std::optional<Invocation> Invocation::parse(const QStringList& arguments, QString* error)
{
    Invocation inv;
    QStringList positional;
    QSet<QString> seen;
    const QSet<QString> withValue{
        QStringLiteral("--port"),    QStringLiteral("--trace"),        QStringLiteral("--logdef"),
        QStringLiteral("--profile"), QStringLiteral("--save-profile"), QStringLiteral("--slot"),
        QStringLiteral("--name"),    QStringLiteral("--unit"),         QStringLiteral("--view")};
    const QSet<QString> flags{QStringLiteral("--recovery"), QStringLiteral("--help"),
                              QStringLiteral("--version")};
    const QSet<QString> repeatable{QStringLiteral("--slot"), QStringLiteral("--name"),
                                   QStringLiteral("--unit")};

    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            if (arg == QLatin1String("--") && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            positional << arg;
            continue;
        }
        QString name = arg;
        std::optional<QString> value;
        if (const qsizetype equals = arg.indexOf(QLatin1Char('=')); equals > 0) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
        }
        if (flags.contains(name)) {
            if (value) {
                *error = QStringLiteral("%1 nimmt keinen Wert.").arg(name);
                return std::nullopt;
            }
            if (name == QLatin1String("--help"))
                inv.help = true;
            else if (name == QLatin1String("--version"))
                inv.version = true;
            else
                inv.recovery = true;
            seen.insert(name);
            continue;
        }
        if (!withValue.contains(name)) {
            *error = QStringLiteral("Unbekannte Option %1.").arg(name);
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 braucht einen Wert.").arg(name);
                return std::nullopt;
            }
            value = arguments.at(++i);
        }
        if (seen.contains(name) && !repeatable.contains(name)) {
            *error = QStringLiteral("%1 ist doppelt angegeben.").arg(name);
            return std::nullopt;
        }
        seen.insert(name);
        if (name == QLatin1String("--port"))
            inv.port = *value;
        else if (name == QLatin1String("--trace"))
            inv.trace = *value;
        else if (name == QLatin1String("--logdef"))
            inv.logDef = *value;
        else if (name == QLatin1String("--profile"))
            inv.profile = *value;
        else if (name == QLatin1String("--save-profile"))
            inv.saveProfile = *value;
        else if (name == QLatin1String("--view")) {
            bool ok = false;
            inv.view = value->toInt(&ok);
            if (!ok || inv.view < 0 || inv.view > 3) {
                *error = QStringLiteral("--view erwartet 0, 1, 2 oder 3, nicht „%1“.").arg(*value);
                return std::nullopt;
            }
        } else {
            QMap<int, QString>* into = name == QLatin1String("--slot")   ? &inv.slotChannels
                                       : name == QLatin1String("--name") ? &inv.names
                                                                         : &inv.units;
            if (!parseSlotValue(name, *value, into, error))
                return std::nullopt;
        }
    }

    if (inv.help || inv.version)
        return inv;

    if (positional.isEmpty()) {
        *error = QStringLiteral("Kein Befehl angegeben.");
        return std::nullopt;
    }
    const QString commandName = positional.takeFirst();
    const auto command = commandNamed(commandName);
    if (!command) {
        *error = QStringLiteral("Unbekannter Befehl „%1“.").arg(commandName);
        return std::nullopt;
    }
    inv.command = *command;

    // Which options each command takes.
    QSet<QString> allowed{QStringLiteral("--trace"), QStringLiteral("--port")};
    switch (inv.command) {
    case Command::Ports:
        allowed.remove(QStringLiteral("--port"));
        break;
    case Command::Configure:
        allowed += {QStringLiteral("--logdef"), QStringLiteral("--profile"), QStringLiteral("--save-profile"),
                    QStringLiteral("--slot"),   QStringLiteral("--name"),    QStringLiteral("--unit"),
                    QStringLiteral("--view")};
        break;
    case Command::Flash:
        allowed += QStringLiteral("--recovery");
        break;
    default:
        break;
    }
    for (const QString& option : std::as_const(seen)) {
        if (!allowed.contains(option)) {
            *error = QStringLiteral("%1 gehört nicht zu diesem Befehl.").arg(option);
            return std::nullopt;
        }
    }
    const bool needsPort = inv.command != Command::Ports && inv.command != Command::Doctor;
    if (needsPort && inv.port.isEmpty()) {
        *error = QStringLiteral("--port PORT fehlt.");
        return std::nullopt;
    }
    if (inv.command == Command::Flash) {
        if (positional.size() != 1) {
            *error = QStringLiteral("flash erwartet genau eine Firmware-Datei.");
            return std::nullopt;
        }
        inv.image = positional.takeFirst();
    }
    if (!positional.isEmpty()) {
        *error = QStringLiteral("Überzähliges Argument „%1“.").arg(positional.constFirst());
        return std::nullopt;
    }
    if (inv.command == Command::Configure) {
        if (inv.logDef.isEmpty() == inv.profile.isEmpty()) {
            *error = QStringLiteral("configure braucht entweder --logdef FILE oder --profile FILE.");
            return std::nullopt;
        }
        const bool logDefOnly = !inv.slotChannels.isEmpty() || !inv.names.isEmpty() || !inv.units.isEmpty() ||
                                seen.contains(QStringLiteral("--view")) || !inv.saveProfile.isEmpty();
        if (!inv.profile.isEmpty() && logDefOnly) {
            *error = QStringLiteral("--slot, --name, --unit, --view und --save-profile gehören zu --logdef, "
                                    "nicht zu --profile.");
            return std::nullopt;
        }
    }
    return inv;
}

QString Invocation::usage()
{
    return QStringLiteral(
        "Aufruf:\n"
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
        "  configure  schreibt die acht Plätze und die Standardansicht wie „Daten schreiben“\n"
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
        "Zeit, 4 Gerät getrennt, 5 Datei nicht lesbar oder abgelehnt, 130 mit Strg+C abgebrochen.\n");
}

} // namespace morvandell
