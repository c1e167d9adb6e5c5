#include "serial/portinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

namespace morvandell {

namespace {

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

} // namespace

QString PortInfo::resolvedPath() const
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString PortInfo::identity() const
{
    if (!serialNumber.isEmpty())
        return QStringLiteral("serial:%1:%2:%3")
            .arg(vendorId ? hex4(*vendorId) : QString(), productId ? hex4(*productId) : QString(),
                 serialNumber);
    if (!byIdName.isEmpty())
        return QStringLiteral("by-id:") + byIdName;
    return QStringLiteral("path:") + resolvedPath();
}

QString PortInfo::toolTip() const
{
    QStringList lines;
    const QString resolved = resolvedPath();
    lines << (resolved == device ? device : QStringLiteral("%1 → %2").arg(device, resolved));
    if (!description.isEmpty())
        lines << description;
    if (!manufacturer.isEmpty())
        lines << QStringLiteral("Hersteller: ") + manufacturer;
    if (vendorId && productId)
        lines << QStringLiteral("USB %1:%2").arg(hex4(*vendorId), hex4(*productId));
    if (!serialNumber.isEmpty())
        lines << QStringLiteral("Seriennummer: ") + serialNumber;
    if (!driver.isEmpty())
        lines << QStringLiteral("Treiber: ") + driver;
    return lines.join(QLatin1Char('\n'));
}

QString PortInfo::driverOf(const QString& ttyName, const QString& root)
{
    const QFileInfo link(QDir(root).filePath(QStringLiteral("sys/class/tty/%1/device/driver").arg(ttyName)));
    const QString target = link.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

QList<PortInfo> PortInfo::systemPorts(const QString& root)
{
    QList<PortInfo> ports;
#ifdef Q_OS_WIN
    Q_UNUSED(root);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo port;
        port.device = info.portName();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
        }
        ports << port;
    }
#else
    // /dev/serial/by-id names, keyed by the device they point at.
    QHash<QString, QString> byId;
    const QDir byIdDir(QDir(root).filePath(QStringLiteral("dev/serial/by-id")));
    for (const QFileInfo& link : byIdDir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(link.canonicalFilePath(), link.fileName());

    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo port;
        port.device = info.systemLocation();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            port.vendorId = info.vendorIdentifier();
            port.productId = info.productIdentifier();
        }
        port.driver = driverOf(info.portName(), root);
        port.byIdName = byId.value(port.resolvedPath());
        ports << port;
    }
#endif
    return ports;
}

} // namespace morvandell
