#pragma once

#include "serial/portinfo.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

namespace morvandell {

// Maps the port numbers the windows work with (1..16, "Com #n") to devices.
// On Windows port n is simply COMn. Elsewhere the numbers come from MORVANDELL_PORTS
// ("1=/dev/pts/3,5=/dev/ttyUSB0") first; the remaining numbers go, in order, to the
// machine's serial ports, USB and ACM adapters before built-in ttyS ports.
//
// The directory follows the machine: refresh() scans again. A device keeps the number it first got for
// as long as the program runs (known by its serial number, by-id name or path); one that comes back
// gets its old number when that is free. A number whose device is gone keeps pointing at it until
// the number is needed for another device, and a number the caller still uses is never handed on.
class PortDirectory
{
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 16;

    struct Entry
    {
        QString device;      // path (or COMn) handed to QSerialPort
        QString description; // what the system says about it (product, maker, USB ids)
    };

    // When a number's device was seen; invalid times mean "not (yet) seen" / "not gone".
    struct History
    {
        bool atStartUp = false;
        QDateTime firstSeen;
        QDateTime vanished;
    };

    using Scanner = std::function<QList<PortInfo>()>;

    PortDirectory() = default;

    // Fixed map, for tests: refresh() only checks which of the devices exist.
    explicit PortDirectory(QMap<int, Entry> entries);

    // Explicit numbers plus whatever the scanner finds, scanned once now.
    PortDirectory(QMap<int, QString> explicitPaths, Scanner scanner);

    // The machine's ports, with the environment's explicit numbers taking precedence.
    static std::shared_ptr<const PortDirectory> fromSystem();

    // Parses "1=/dev/pts/3,5=/dev/ttyUSB0". Malformed items are reported in *error and skipped.
    static QMap<int, Entry> parseExplicit(const QString& text, QString* error = nullptr);

    // Orders system port names: ttyUSB*, ttyACM*, other adapters, then ttyS*; each family numerically.
    static QStringList sortedSystemPorts(QStringList names);

    bool contains(int number) const { return m_slots.contains(number); }
    Entry entry(int number) const;
    QMap<int, Entry> entries() const;

    // Scans again. Numbers in `inUse` (selected or open somewhere) keep their device even when it is gone.
    // The directory stands for the machine, which changes under it: that is why this is const.
    void refresh(const QSet<int>& inUse = {}) const;
    // Whether the number's device is there (as of the last refresh).
    bool isPresent(int number) const;
    // The numbers a port list offers now, in order: those whose device is there, plus `inUse`.
    QList<int> listed(const QSet<int>& inUse = {}) const;
    PortInfo info(int number) const { return m_slots.value(number).info; }
    QString toolTip(int number) const;
    History history(int number) const { return m_slots.value(number).history; }

private:
    struct Slot
    {
        PortInfo info;
        QString identity;
        bool fixed = false; // explicit number: never handed to another device
        bool present = false;
        History history;
    };

    void markPresent(Slot& slot, bool present) const;

    Scanner m_scanner;
    QMap<int, QString> m_explicit;
    mutable QMap<int, Slot> m_slots;
    mutable QHash<QString, int> m_firstNumber; // identity -> the number it first got
    mutable bool m_scanned = false;
};

} // namespace morvandell
