#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace morvandell {

// What the system knows about one serial device: where it is, what it is, and who drives it.
struct PortInfo
{
    QString device;       // path handed to the serial port (may be a link)
    QString description;  // product text, e.g. "USB2.0-Serial"
    QString manufacturer; // e.g. "FTDI"
    QString serialNumber; // the adapter's own serial number, empty when it has none
    QString driver;       // kernel driver from sysfs, e.g. "ch341-uart", "cdc_acm"
    QString byIdName;     // its name under /dev/serial/by-id, when there is one
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;

    // The device path with every link resolved; the path itself when it does not resolve (yet).
    QString resolvedPath() const;
    // What names this device across unplugging: its serial number, else its by-id name, else its path.
    QString identity() const;
    // One line per known fact, for the port list's tool tip.
    QString toolTip() const;

    // The machine's serial ports with description, USB ids and driver (sysfs under `root`).
    static QList<PortInfo> systemPorts(const QString& root = QStringLiteral("/"));
    // The kernel driver of a tty from sysfs (`root`/sys/class/tty/<name>/device/driver), or empty.
    static QString driverOf(const QString& ttyName, const QString& root = QStringLiteral("/"));
};

} // namespace morvandell
