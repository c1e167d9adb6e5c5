#include "serial/portdirectory.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace morvandell {

namespace {

bool deviceExists(const QString& device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return true; // COMn has no path to look at; opening tells
#else
    return QFileInfo::exists(device);
#endif
}

} // namespace

PortDirectory::PortDirectory(QMap<int, Entry> entries)
{
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        Slot slot;
        slot.info.device = it->device;
        slot.info.description = it->description;
        slot.identity = slot.info.identity();
        slot.fixed = true;
        m_slots.insert(it.key(), slot);
    }
    refresh();
}

PortDirectory::PortDirectory(QMap<int, QString> explicitPaths, Scanner scanner)
    : m_scanner(std::move(scanner))
    , m_explicit(std::move(explicitPaths))
{
    for (auto it = m_explicit.cbegin(); it != m_explicit.cend(); ++it) {
        Slot slot;
        slot.info.device = it.value();
        slot.info.description = QStringLiteral("MORVANDELL_PORTS");
        slot.fixed = true;
        m_slots.insert(it.key(), slot);
    }
    refresh();
}

QMap<int, PortDirectory::Entry> PortDirectory::parseExplicit(const QString& text, QString* error)
{
    QMap<int, Entry> result;
    QStringList problems;
    const auto items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& raw : items) {
        const QString item = raw.trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        bool ok = false;
        const int number = eq > 0 ? item.left(eq).trimmed().toInt(&ok) : 0;
        const QString device = eq > 0 ? item.mid(eq + 1).trimmed() : QString();
        if (!ok || number < FirstPort || number > LastPort || device.isEmpty()) {
            problems << item;
            continue;
        }
        result.insert(number, {device, QStringLiteral("MORVANDELL_PORTS")});
    }
    if (error)
        *error = problems.isEmpty()
                     ? QString()
                     : QStringLiteral("MORVANDELL_PORTS: ignoriert: %1").arg(problems.join(", "));
    return result;
}

QStringList PortDirectory::sortedSystemPorts(QStringList names)
{
    static const QRegularExpression split(QStringLiteral("^(.*?)(\\d*)$"));
    auto family = [](const QString& name) {
        if (name.startsWith(QLatin1String("ttyUSB")))
            return 0;
        if (name.startsWith(QLatin1String("ttyACM")))
            return 1;
        if (name.startsWith(QLatin1String("ttyS")))
            return 3;
        return 2;
    };
    std::stable_sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        const int fa = family(a), fb = family(b);
        if (fa != fb)
            return fa < fb;
        const auto ma = split.match(a), mb = split.match(b);
        if (ma.captured(1) != mb.captured(1))
            return ma.captured(1) < mb.captured(1);
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    });
    return names;
}

std::shared_ptr<const PortDirectory> PortDirectory::fromSystem()
{
#ifdef Q_OS_WIN
    QMap<int, Entry> entries;
    for (int n = FirstPort; n <= LastPort; ++n)
        entries.insert(n, {QStringLiteral("COM%1").arg(n), QString()});
    for (const PortInfo& info : PortInfo::systemPorts()) {
        if (info.device.startsWith(QLatin1String("COM"))) {
            const int n = info.device.mid(3).toInt();
            if (entries.contains(n))
                entries[n].description = info.description;
        }
    }
    return std::make_shared<const PortDirectory>(entries);
#else
    QMap<int, QString> paths;
    const auto explicitEntries = parseExplicit(qEnvironmentVariable("MORVANDELL_PORTS"));
    for (auto it = explicitEntries.cbegin(); it != explicitEntries.cend(); ++it)
        paths.insert(it.key(), it->device);
    return std::make_shared<const PortDirectory>(paths, [] { return PortInfo::systemPorts(); });
#endif
}

PortDirectory::Entry PortDirectory::entry(int number) const
{
    const auto it = m_slots.constFind(number);
    if (it == m_slots.cend())
        return {};
    const PortInfo& info = it->info;
    QStringList parts;
    for (const QString& part : {info.description, info.manufacturer})
        if (!part.isEmpty())
            parts << part;
    if (info.vendorId && info.productId)
        parts << QStringLiteral("USB %1:%2")
                     .arg(*info.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(*info.productId, 4, 16, QLatin1Char('0'));
    return {info.device, parts.join(QLatin1String(", "))};
}

QMap<int, PortDirectory::Entry> PortDirectory::entries() const
{
    QMap<int, Entry> result;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        result.insert(it.key(), entry(it.key()));
    return result;
}

bool PortDirectory::isPresent(int number) const
{
    return m_slots.value(number).present;
}

QList<int> PortDirectory::listed(const QSet<int>& inUse) const
{
    QList<int> numbers;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (it->present || inUse.contains(it.key()))
            numbers << it.key();
    return numbers;
}

QString PortDirectory::toolTip(int number) const
{
    const auto it = m_slots.constFind(number);
    if (it == m_slots.cend())
        return {};
    QString tip = it->info.toolTip();
    if (!it->present && m_scanned)
        tip += QStringLiteral("\nGerät nicht angeschlossen");
    return tip;
}

void PortDirectory::markPresent(Slot& slot, bool present) const
{
    const QDateTime now = QDateTime::currentDateTime();
    if (present && !slot.present) {
        if (!slot.history.firstSeen.isValid())
            slot.history.firstSeen = now;
        if (!m_scanned)
            slot.history.atStartUp = true;
        slot.history.vanished = QDateTime();
    } else if (!present && slot.present) {
        slot.history.vanished = now;
    }
    slot.present = present;
}

void PortDirectory::refresh(const QSet<int>& inUse) const
{
    const QList<PortInfo> scanned = m_scanner ? m_scanner() : QList<PortInfo>();

    // Explicit numbers first: their path wins over the same device in the system's list (compared
    // with every link resolved), and the system's facts about that device fill in its tool tip.
    QSet<QString> claimed; // resolved paths that already have a number
    for (auto it = m_slots.begin(); it != m_slots.end(); ++it) {
        Slot& slot = it.value();
        if (!slot.fixed)
            continue;
        const QString device = slot.info.device;
        const bool exists = deviceExists(device);
        if (exists && m_scanner) {
            const QString resolved = slot.info.resolvedPath();
            const auto same = std::find_if(scanned.cbegin(), scanned.cend(),
                                           [&](const PortInfo& p) { return p.resolvedPath() == resolved; });
            if (same != scanned.cend()) {
                slot.info = *same;
                slot.info.device = device;
            }
            claimed.insert(resolved);
        }
        markPresent(slot, exists);
    }

    // The system's ports in list order, each with the number its identity holds or first got.
    QList<PortInfo> ports;
    QStringList names;
    for (const PortInfo& port : scanned) {
        if (!claimed.contains(port.resolvedPath())) {
            ports << port;
            names << QFileInfo(port.device).fileName();
        }
    }
    const QStringList order = sortedSystemPorts(names);
    std::stable_sort(ports.begin(), ports.end(), [&](const PortInfo& a, const PortInfo& b) {
        return order.indexOf(QFileInfo(a.device).fileName()) < order.indexOf(QFileInfo(b.device).fileName());
    });

    QHash<QString, int> placed; // identity -> number, this scan
    QSet<int> taken;            // numbers whose device is there, this scan
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (it->fixed)
            taken.insert(it.key());

    auto place = [&](const PortInfo& port, int number) {
        Slot& slot = m_slots[number];
        const bool same = slot.identity == port.identity() && !slot.info.device.isEmpty();
        if (!same) {
            slot = Slot();
            slot.identity = port.identity();
        }
        slot.info = port;
        markPresent(slot, true);
        placed.insert(slot.identity, number);
        taken.insert(number);
        if (!m_firstNumber.contains(slot.identity))
            m_firstNumber.insert(slot.identity, number);
    };
    auto holderOf = [&](const QString& identity) {
        for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
            if (!it->fixed && it->identity == identity)
                return it.key();
        return 0;
    };
    // A number another device may take: nobody there now, not explicit, not in use.
    auto isFree = [&](int number) {
        return !taken.contains(number) && !inUse.contains(number) &&
               !(m_slots.contains(number) && m_slots[number].fixed);
    };

    // 1. Devices that still hold a number keep it.
    for (const PortInfo& port : std::as_const(ports)) {
        const int held = holderOf(port.identity());
        if (held && !taken.contains(held))
            place(port, held);
    }
    // 2. Devices coming back get their first number when it is free; then new devices take numbers
    //    nobody had this session, and only then numbers of devices that are gone.
    QList<PortInfo> waiting;
    for (const PortInfo& port : std::as_const(ports)) {
        if (placed.contains(port.identity()))
            continue;
        const int first = m_firstNumber.value(port.identity());
        if (first && isFree(first))
            place(port, first);
        else
            waiting << port;
    }
    for (const PortInfo& port : std::as_const(waiting)) {
        int number = 0;
        for (int n = FirstPort; n <= LastPort && !number; ++n)
            if (isFree(n) && !m_slots.contains(n))
                number = n;
        for (int n = FirstPort; n <= LastPort && !number; ++n)
            if (isFree(n))
                number = n;
        if (number)
            place(port, number);
    }

    for (auto it = m_slots.begin(); it != m_slots.end(); ++it)
        if (!it->fixed && !taken.contains(it.key()))
            markPresent(it.value(), false);
    m_scanned = true;
}

} // namespace morvandell
