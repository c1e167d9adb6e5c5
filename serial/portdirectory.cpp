#include "serial/portdirectory.h"

#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>

namespace morvandell {

PortDirectory::PortDirectory(QMap<int, Entry> entries)
    : m_entries(std::move(entries))
{}

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
    QMap<int, Entry> entries;
#ifdef Q_OS_WIN
    for (int n = FirstPort; n <= LastPort; ++n)
        entries.insert(n, {QStringLiteral("COM%1").arg(n), QString()});
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (name.startsWith(QLatin1String("COM"))) {
            const int n = name.mid(3).toInt();
            if (entries.contains(n))
                entries[n].description = info.description();
        }
    }
#else
    entries = parseExplicit(qEnvironmentVariable("MORVANDELL_PORTS"));
    QSet<QString> taken;
    for (const Entry& e : std::as_const(entries))
        taken.insert(e.device);

    QMap<QString, QSerialPortInfo> byName;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        byName.insert(info.portName(), info);
    int next = FirstPort;
    for (const QString& name : sortedSystemPorts(byName.keys())) {
        const QSerialPortInfo& info = byName[name];
        if (taken.contains(info.systemLocation()))
            continue;
        while (next <= LastPort && entries.contains(next))
            ++next;
        if (next > LastPort)
            break;
        QStringList parts;
        for (const QString& part : {info.description(), info.manufacturer()})
            if (!part.isEmpty())
                parts << part;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            parts << QStringLiteral("USB %1:%2")
                         .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                         .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        entries.insert(next, {info.systemLocation(), parts.join(QLatin1String(", "))});
    }
#endif
    return std::make_shared<const PortDirectory>(entries);
}

} // namespace morvandell
