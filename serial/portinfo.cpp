#include "serial/portinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

namespace morvandell {

namespace {

#ifdef Q_OS_LINUX
QString readSysfs(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(256)).trimmed();
}
#endif

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
#ifdef Q_OS_LINUX
    // Straight from sysfs: a tty with a device behind it is a serial port, except built-in UARTs
    // that report no hardware (type 0). Much cheaper than asking udev for every tty.
    const QDir base(root);
    QHash<QString, QString> byId; // resolved device -> its /dev/serial/by-id name
    const QDir byIdDir(base.filePath(QStringLiteral("dev/serial/by-id")));
    for (const QFileInfo& link : byIdDir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(QFileInfo(link.symLinkTarget()).fileName(), link.fileName());

    const QDir ttys(base.filePath(QStringLiteral("sys/class/tty")));
    for (const QString& name : ttys.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot)) {
        const QDir tty(ttys.filePath(name));
        const QFileInfo device(tty.filePath(QStringLiteral("device")));
        if (!device.exists())
            continue;
        if (name.startsWith(QLatin1String("ttyS")) && readSysfs(tty.filePath(QStringLiteral("type"))) == "0")
            continue;
        PortInfo port;
        port.device = QStringLiteral("/dev/") + name;
        port.driver = driverOf(name, root);
        port.byIdName = byId.value(name);
        // The USB device is the first folder above the interface that has USB ids.
        QDir up(device.canonicalFilePath());
        for (int level = 0; level < 4 && !up.isRoot(); ++level, up.cdUp()) {
            const QString vendor = readSysfs(up.filePath(QStringLiteral("idVendor")));
            if (vendor.isEmpty())
                continue;
            bool okV = false, okP = false;
            const quint16 v = vendor.toUShort(&okV, 16);
            const quint16 p = readSysfs(up.filePath(QStringLiteral("idProduct"))).toUShort(&okP, 16);
            if (okV && okP) {
                port.vendorId = v;
                port.productId = p;
            }
            port.description = readSysfs(up.filePath(QStringLiteral("product")));
            port.manufacturer = readSysfs(up.filePath(QStringLiteral("manufacturer")));
            port.serialNumber = readSysfs(up.filePath(QStringLiteral("serial")));
            break;
        }
        ports << port;
    }
#else
    Q_UNUSED(root);
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
        ports << port;
    }
#endif
    return ports;
}

} // namespace morvandell
