#include "serial/portdoctor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace morvandell {

namespace {

// Where Qt puts its serial-port lock files; it takes the first of these that it may write to.
const char* const LockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                   "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};
const char* const RuleFolders[] = {"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
const char* const BrlttyPrograms[] = {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/brltty", "/sbin/brltty"};

// USB serial chips that brltty's udev rules claim as braille displays.
struct Chip
{
    const char* vendor;
    const char* product;
    const char* name;
};
const Chip BrlttyChips[] = {
    {"1a86", "7523", "CH340"},
    {"10c4", "ea60", "CP210x"},
    {"0403", "6001", "FTDI FT232"},
};

QString readLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readLine(256)).trimmed();
}

QList<QStringList> readColonFile(const QString& path)
{
    QList<QStringList> rows;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    while (!file.atEnd()) {
        const QString line = QString::fromLocal8Bit(file.readLine()).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            rows << line.split(QLatin1Char(':'));
    }
    return rows;
}

// Qt's lock-file name for a device path: "/dev/ttyUSB0" -> "LCK..ttyUSB0", "/dev/pts/3" -> "LCK..pts_3".
QString lockFileName(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

} // namespace

PortDoctor::PortDoctor(QString root)
    : m_root(std::move(root))
{}

PortDoctor::Credentials PortDoctor::currentProcess()
{
    Credentials c;
#ifdef Q_OS_UNIX
    c.uid = ::geteuid();
    c.gid = ::getegid();
    c.pid = ::getpid();
    if (const passwd* pw = ::getpwuid(c.uid))
        c.user = QString::fromLocal8Bit(pw->pw_name);
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> ids(static_cast<size_t>(count));
        const int got = ::getgroups(count, ids.data());
        for (int i = 0; i < got; ++i)
            c.groups << ids[static_cast<size_t>(i)];
    }
    c.groups << c.gid;
#endif
    if (c.user.isEmpty())
        c.user = qEnvironmentVariable("USER", QStringLiteral("$USER"));
    return c;
}

QString PortDoctor::at(const QString& path) const
{
    if (m_root == QLatin1String("/") || m_root.isEmpty())
        return path;
    return QDir(m_root).filePath(path.startsWith(QLatin1Char('/')) ? path.mid(1) : path);
}

QString PortDoctor::resolved(const QString& device) const
{
    const QString canonical = QFileInfo(at(device)).canonicalFilePath();
    if (canonical.isEmpty())
        return device;
    if (m_root == QLatin1String("/") || m_root.isEmpty())
        return canonical;
    const QString root = QFileInfo(m_root).canonicalFilePath();
    return canonical.startsWith(root + QLatin1Char('/')) ? canonical.mid(root.size()) : canonical;
}

QString PortDoctor::groupName(uint gid) const
{
    for (const QStringList& row : readColonFile(at(QStringLiteral("/etc/group"))))
        if (row.size() >= 3 && row.at(2).toUInt() == gid && !row.at(2).isEmpty())
            return row.at(0);
#ifdef Q_OS_UNIX
    if (m_root == QLatin1String("/"))
        if (const group* g = ::getgrgid(gid))
            return QString::fromLocal8Bit(g->gr_name);
#endif
    return QString::number(gid);
}

QStringList PortDoctor::groupMembers(const QString& group) const
{
    for (const QStringList& row : readColonFile(at(QStringLiteral("/etc/group"))))
        if (row.size() >= 4 && row.at(0) == group)
            return row.at(3).split(QLatin1Char(','), Qt::SkipEmptyParts);
    return {};
}

bool PortDoctor::userInGroupDatabase(const QString& group, uint gid) const
{
    if (groupMembers(group).contains(m_credentials.user))
        return true;
    // The user's primary group is in /etc/passwd, not in the member list.
    for (const QStringList& row : readColonFile(at(QStringLiteral("/etc/passwd"))))
        if (row.size() >= 4 && row.at(0) == m_credentials.user)
            return row.at(3).toUInt() == gid;
    return false;
}

QString PortDoctor::groupOf(const QString& device) const
{
#ifdef Q_OS_UNIX
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(at(device)).constData(), &st) != 0)
        return {};
    return groupName(st.st_gid);
#else
    Q_UNUSED(device);
    return {};
#endif
}

bool PortDoctor::mayOpen(const QString& device) const
{
#ifdef Q_OS_UNIX
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(at(device)).constData(), &st) != 0)
        return false;
    if (m_credentials.uid == 0)
        return true;
    mode_t need = S_IROTH | S_IWOTH;
    if (st.st_uid == m_credentials.uid)
        need = S_IRUSR | S_IWUSR;
    else if (m_credentials.groups.contains(st.st_gid))
        need = S_IRGRP | S_IWGRP;
    return (st.st_mode & need) == need;
#else
    Q_UNUSED(device);
    return true;
#endif
}

QString PortDoctor::processName(qint64 pid) const
{
    return readLine(at(QStringLiteral("/proc/%1/comm").arg(pid)));
}

QList<PortDoctor::Holder> PortDoctor::holders(const QString& device) const
{
    QList<Holder> found;
    auto add = [&](qint64 pid, bool fromLock) {
        for (const Holder& h : std::as_const(found))
            if (h.pid == pid)
                return;
        found << Holder{pid, processName(pid), fromLock};
    };

    // Qt's lock file, under the name used to open and under the device's own name.
    const QString real = resolved(device);
    QStringList names{lockFileName(device)};
    if (real != device)
        names << lockFileName(real);
    for (const char* folder : LockFolders) {
        for (const QString& name : std::as_const(names)) {
            bool ok = false;
            const qint64 pid =
                readLine(at(QString::fromLatin1(folder) + QLatin1Char('/') + name)).toLongLong(&ok);
            if (ok && pid > 0 && QFileInfo::exists(at(QStringLiteral("/proc/%1").arg(pid))))
                add(pid, true);
        }
    }

    // Every process whose open files we may see.
    const QDir proc(at(QStringLiteral("/proc")));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (target == real || target == device) {
                add(pid, false);
                break;
            }
        }
    }
    return found;
}

QString PortDoctor::installedRule() const
{
    for (const char* folder : RuleFolders) {
        const QString path = QString::fromLatin1(folder) + QLatin1Char('/') + QLatin1String(RuleName);
        if (QFileInfo::exists(at(path)))
            return path;
    }
    return {};
}

std::optional<qint64> PortDoctor::modemManagerPid() const
{
    const QDir proc(at(QStringLiteral("/proc")));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && processName(pid) == QLatin1String("ModemManager"))
            return pid;
    }
    return std::nullopt;
}

bool PortDoctor::brlttyInstalled() const
{
    for (const char* program : BrlttyPrograms)
        if (QFileInfo::exists(at(QString::fromLatin1(program))))
            return true;
    return false;
}

QStringList PortDoctor::adaptersWithoutTty() const
{
    QStringList adapters;
    const QDir usb(at(QStringLiteral("/sys/bus/usb/devices")));
    const QStringList entries = usb.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& device : entries) {
        if (device.contains(QLatin1Char(':')))
            continue; // an interface, not a device
        const QString vendor = readLine(usb.filePath(device + QStringLiteral("/idVendor")));
        const QString product = readLine(usb.filePath(device + QStringLiteral("/idProduct")));
        const Chip* chip = nullptr;
        for (const Chip& c : BrlttyChips)
            if (vendor == QLatin1String(c.vendor) && product == QLatin1String(c.product))
                chip = &c;
        if (!chip)
            continue;
        // A bound serial driver puts ttyUSB<n> (or tty/ttyACM<n>) into one of the device's interfaces.
        bool hasTty = false;
        for (const QString& iface : entries) {
            if (!iface.startsWith(device + QLatin1Char(':')))
                continue;
            const QDir dir(usb.filePath(iface));
            if (!dir.entryList({QStringLiteral("tty*")}, QDir::Dirs | QDir::NoDotAndDotDot).isEmpty())
                hasTty = true;
        }
        if (!hasTty)
            adapters << QStringLiteral("%1 (USB %2:%3)").arg(QLatin1String(chip->name), vendor, product);
    }
    return adapters;
}

QString PortDoctor::noPermission(const QString& device) const
{
    QStringList lines;
    const QString group = groupOf(device);
    const QString user = m_credentials.user;
#ifdef Q_OS_UNIX
    struct stat st
    {
    };
    const bool known = ::stat(QFile::encodeName(at(device)).constData(), &st) == 0;
    const uint gid = known ? st.st_gid : 0;
#else
    const bool known = false;
    const uint gid = 0;
#endif
    // root's and tty's devices are not meant to be shared through a group: no group advice there.
    if (!known || group.isEmpty() || group == QLatin1String("root") || group == QLatin1String("tty")) {
        lines << QStringLiteral("Keine Berechtigung für %1.").arg(device);
    } else if (m_credentials.groups.contains(gid)) {
        lines << QStringLiteral("Keine Berechtigung für %1, obwohl dieses Programm in der Gruppe „%2“ läuft: "
                                "das Gerät gibt der Gruppe keine Lese- und Schreibrechte.")
                     .arg(device, group);
    } else if (userInGroupDatabase(group, gid)) {
        lines << QStringLiteral(
                     "Keine Berechtigung für %1. Der Benutzer „%2“ ist bereits in der Gruppe „%3“, "
                     "diese Sitzung aber noch nicht: bitte einmal ab- und wieder anmelden "
                     "(oder den Rechner neu starten).")
                     .arg(device, user, group);
    } else {
        lines << QStringLiteral("Keine Berechtigung für %1. Zugriff erhalten Mitglieder der Gruppe „%2“; "
                                "der Benutzer „%3“ ist es nicht. Beitreten mit:")
                     .arg(device, group, user);
        lines << QStringLiteral("    sudo usermod -aG %1 %2").arg(group, user);
        lines << QStringLiteral("danach einmal ab- und wieder anmelden.");
    }
    const QString rule = installedRule();
    if (rule.isEmpty())
        lines << QStringLiteral(
                     "Alternativ die udev-Regel dieses Programms installieren (mit seinem Paket, oder "
                     "%1 aus packaging/linux nach /etc/udev/rules.d kopieren, dann „sudo udevadm "
                     "control --reload-rules“ und „sudo udevadm trigger“): sie gibt dem angemeldeten "
                     "Benutzer Zugriff auf FTDI-, CH340-, CP210x- und PL2303-Adapter.")
                     .arg(QLatin1String(RuleName));
    else
        lines << QStringLiteral("Die udev-Regel %1 ist installiert; den Adapter einmal ab- und wieder "
                                "anstecken, damit sie greift.")
                     .arg(rule);
    return lines.join(QLatin1Char('\n'));
}

QString PortDoctor::holderText(const QList<Holder>& list) const
{
    QStringList names;
    for (const Holder& h : list) {
        QString text =
            QStringLiteral("%1 (PID %2)").arg(h.name.isEmpty() ? QStringLiteral("?") : h.name).arg(h.pid);
        if (h.pid == m_credentials.pid)
            text += QStringLiteral(", dieses Programm selbst");
        names << text;
    }
    return names.join(QStringLiteral(", "));
}

QString PortDoctor::busy(const QString& device) const
{
    QStringList lines;
    const QList<Holder> found = holders(device);
    const bool modemManager = std::any_of(found.cbegin(), found.cend(), [](const Holder& h) {
        return h.name == QLatin1String("ModemManager");
    });
    if (found.isEmpty()) {
        lines << QStringLiteral("%1 ist belegt: ein anderes Programm benutzt den Port.").arg(device);
        if (const auto pid = modemManagerPid())
            lines << QStringLiteral("Vermutlich ModemManager (PID %1), der neue Geräte prüft.").arg(*pid);
        else
            lines << QStringLiteral("Das Programm, das ihn hält, ist nicht sichtbar (läuft es als anderer "
                                    "Benutzer?). Terminalprogramme und eine zweite Kopie dieses Programms "
                                    "schließen, dann erneut verbinden.");
    } else {
        lines << QStringLiteral("%1 ist belegt von: %2.").arg(device, holderText(found));
        if (!modemManager)
            lines << QStringLiteral("Das Programm beenden oder dort die Verbindung trennen, dann erneut "
                                    "verbinden.");
    }
    if (modemManager || (found.isEmpty() && modemManagerPid())) {
        lines << QStringLiteral(
                     "ModemManager hält neue Seriell-Adapter einige Sekunden lang fest. Die "
                     "udev-Regel %1 dieses Programms hält ihn fern (ENV{ID_MM_DEVICE_IGNORE}=\"1\"); "
                     "sofort hilft „sudo systemctl stop ModemManager“.")
                     .arg(QLatin1String(RuleName));
    }
    return lines.join(QLatin1Char('\n'));
}

QString PortDoctor::notThere(const PortDirectory& directory, int number) const
{
    QStringList lines;
    if (!directory.contains(number)) {
        lines << QStringLiteral("Für Com #%1 ist kein Gerät angeschlossen.").arg(number);
    } else {
        const PortDirectory::History h = directory.history(number);
        QString when;
        if (h.vanished.isValid())
            when = QStringLiteral("; seit %1 ist es nicht mehr da")
                       .arg(h.vanished.toString(QStringLiteral("HH:mm:ss")));
        if (h.atStartUp)
            lines << QStringLiteral("Das Gerät war beim Programmstart angeschlossen%1.").arg(when);
        else if (h.firstSeen.isValid())
            lines << QStringLiteral("Das Gerät kam um %1 dazu%2.")
                         .arg(h.firstSeen.toString(QStringLiteral("HH:mm:ss")), when);
        else
            lines << QStringLiteral("Das Gerät war in dieser Sitzung noch nie angeschlossen.");
    }
    QStringList there;
    for (int n : directory.listed())
        there << QStringLiteral("Com #%1").arg(n);
    lines << (there.isEmpty()
                  ? QStringLiteral("Zurzeit ist kein Seriell-Port angeschlossen.")
                  : QStringLiteral("Angeschlossen sind: %1.").arg(there.join(QStringLiteral(", "))));
    const QStringList claimed = adaptersWithoutTty();
    if (brlttyInstalled() && !claimed.isEmpty()) {
        lines << QStringLiteral("Am USB steckt %1, aber ohne Seriell-Port: wahrscheinlich hat der "
                                "Braillezeilen-Dienst brltty den Adapter übernommen. Abhilfe: "
                                "„sudo apt remove brltty“ oder „sudo systemctl mask brltty-udev.service "
                                "brltty.service“, dann den Adapter neu anstecken.")
                     .arg(claimed.join(QStringLiteral(", ")));
    } else {
        lines << QStringLiteral("Adapter anstecken (Kabel prüfen) und die Portliste erneut öffnen.");
    }
    return lines.join(QLatin1Char('\n'));
}

QString PortDoctor::report(const PortDirectory& directory, int number) const
{
    QStringList lines;
    QStringList groups;
    for (uint gid : m_credentials.groups)
        if (!groups.contains(groupName(gid)))
            groups << groupName(gid);
    lines << QStringLiteral("Benutzer: %1 (uid %2), Gruppen dieses Prozesses: %3")
                 .arg(m_credentials.user)
                 .arg(m_credentials.uid)
                 .arg(groups.join(QStringLiteral(", ")));
    const QString rule = installedRule();
    lines << QStringLiteral("udev-Regel %1: %2")
                 .arg(QLatin1String(RuleName), rule.isEmpty() ? QStringLiteral("nicht installiert") : rule);
    const auto mm = modemManagerPid();
    lines << QStringLiteral("ModemManager: %1")
                 .arg(mm ? QStringLiteral("läuft (PID %1)").arg(*mm) : QStringLiteral("läuft nicht"));
    const QStringList claimed = adaptersWithoutTty();
    lines << QStringLiteral("brltty: %1%2")
                 .arg(brlttyInstalled() ? QStringLiteral("installiert") : QStringLiteral("nicht installiert"),
                      claimed.isEmpty() ? QString()
                                        : QStringLiteral("; Adapter ohne Seriell-Port: ") +
                                              claimed.join(QStringLiteral(", ")));

    QList<int> numbers;
    if (number)
        numbers << number;
    else
        numbers = directory.entries().keys();
    if (numbers.isEmpty())
        lines << QStringLiteral("Keine Seriell-Ports bekannt.");
    for (int n : std::as_const(numbers)) {
        lines << QString();
        if (!directory.contains(n)) {
            lines << QStringLiteral("Com #%1: kein Gerät").arg(n);
            continue;
        }
        const PortInfo info = directory.info(n);
        lines << QStringLiteral("Com #%1: %2")
                     .arg(n)
                     .arg(info.toolTip().replace(QLatin1Char('\n'), QStringLiteral("; ")));
        if (!QFileInfo::exists(at(info.device))) {
            lines << QStringLiteral("  nicht angeschlossen");
            continue;
        }
        const QString group = groupOf(info.device);
        lines << QStringLiteral("  Zugriff: %1 (Gruppe %2)")
                     .arg(mayOpen(info.device) ? QStringLiteral("ja") : QStringLiteral("nein"), group);
        const QList<Holder> found = holders(info.device);
        lines << QStringLiteral("  belegt von: %1")
                     .arg(found.isEmpty() ? QStringLiteral("niemand (sichtbar)") : holderText(found));
        const QString tty = QFileInfo(resolved(info.device)).fileName();
        const QString latency =
            readLine(at(QStringLiteral("/sys/class/tty/%1/device/latency_timer").arg(tty)));
        lines << QStringLiteral("  Latenz-Timer: %1")
                     .arg(latency.isEmpty() ? QStringLiteral("unbekannt") : latency + QStringLiteral(" ms"));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace morvandell
