#pragma once

#include <QMap>
#include <QString>

#include <memory>

namespace morvandell {

// Maps the port numbers the windows work with (1..16, "Com #n") to devices.
// On Windows port n is simply COMn. Elsewhere the numbers come from MORVANDELL_PORTS
// ("1=/dev/pts/3,5=/dev/ttyUSB0") first; the remaining numbers go, in order, to the
// machine's serial ports, USB and ACM adapters before built-in ttyS ports.
class PortDirectory
{
public:
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 16;

    struct Entry
    {
        QString device;      // path (or COMn) handed to QSerialPort
        QString description; // shown in the port list's tool tip
    };

    PortDirectory() = default;

    // Explicit map, for tests and for MORVANDELL_PORTS.
    explicit PortDirectory(QMap<int, Entry> entries);

    // The machine's ports, with the environment's explicit numbers taking precedence.
    static std::shared_ptr<const PortDirectory> fromSystem();

    // Parses "1=/dev/pts/3,5=/dev/ttyUSB0". Malformed items are reported in *error and skipped.
    static QMap<int, Entry> parseExplicit(const QString& text, QString* error = nullptr);

    // Orders system port names: ttyUSB*, ttyACM*, other adapters, then ttyS*; each family numerically.
    static QStringList sortedSystemPorts(QStringList names);

    bool contains(int number) const { return m_entries.contains(number); }
    Entry entry(int number) const { return m_entries.value(number); }
    QMap<int, Entry> entries() const { return m_entries; }

private:
    QMap<int, Entry> m_entries;
};

} // namespace morvandell
