#include "windows/portdoctor.h"

#include "platform/text.h"
#include "serial/portdirectory.h"
#include "windows/ftdilatency.h"

namespace morvandell {

namespace win {

namespace {

std::string portText(const PortDirectory& directory, int number)
{
    const PortInfo info = directory.info(number);
    std::vector<std::string> facts;
    for (const std::string& part : {info.description, info.manufacturer})
        if (!part.empty())
            facts.push_back(part);
    if (info.vendorId && info.productId)
        facts.push_back("USB " + hex4(*info.vendorId) + ":" + hex4(*info.productId));
    if (!info.serialNumber.empty())
        facts.push_back("Seriennummer " + info.serialNumber);
    if (!info.driver.empty())
        facts.push_back("Treiber " + info.driver);
    std::string line = "Com #" + std::to_string(number) + ": " + (info.device.empty() ? "-" : info.device);
    if (!facts.empty())
        line += " (" + text::join(facts, ", ") + ")";
    return line;
}

std::string timeOf(PortDirectory::Time when)
{
    return text::longTimeText(when);
}

} // namespace

WindowsPortDoctor::Facts WindowsPortDoctor::systemFacts()
{
    Facts facts;
    facts.portlessAdapters = [] { return win::portlessAdapters(scanPorts()); };
    facts.ftdiLatency = [](const std::string& port) { return ftdiLatencyTimer(port); };
    return facts;
}

WindowsPortDoctor::WindowsPortDoctor(Facts facts)
    : m_facts(std::move(facts))
{}

std::string WindowsPortDoctor::busy(const std::string& device) const
{
    return device + " ist belegt: ein anderes Programm benutzt den Port.\n"
                    "Schließen Sie das Programm, das " +
           device +
           " geöffnet hat (ein Terminalprogramm, die ECU-Software oder ein zweites Fenster dieses Programms), "
           "und versuchen Sie es erneut.";
}

std::string WindowsPortDoctor::noPermission(const std::string& device) const
{
    return "Windows verweigert den Zugriff auf " + device +
           ".\nMeist hält ein anderes Programm den Port: schließen Sie es und versuchen Sie es erneut.";
}

std::vector<std::string> WindowsPortDoctor::adapterLines() const
{
    std::vector<std::string> lines;
    if (!m_facts.portlessAdapters)
        return lines;
    for (const PortlessAdapter& adapter : m_facts.portlessAdapters()) {
        std::string line = text::arg("Der Adapter %1 (USB %2:%3) ist angeschlossen, hat aber keinen COM-Port",
                                     {adapter.chip, hex4(adapter.vendorId), hex4(adapter.productId)});
        if (adapter.problem != 0)
            line += text::arg(" (Geräte-Manager: Problemcode %1)", {static_cast<long long>(adapter.problem)});
        line += ": sein Treiber fehlt oder arbeitet nicht. Installieren Sie den Treiber des Herstellers und "
                "stecken Sie den Adapter neu ein.";
        lines.push_back(line);
    }
    return lines;
}

std::string WindowsPortDoctor::notThere(const PortDirectory& directory, int number) const
{
    std::vector<std::string> lines;
    const PortInfo info = directory.info(number);
    const std::string name = info.device.empty() ? "Com #" + std::to_string(number) : info.device;
    lines.push_back(name + " ist nicht angeschlossen: Windows kennt diesen Port zur Zeit nicht.");
    const PortDirectory::History history = directory.history(number);
    if (history.vanished)
        lines.push_back("Das Gerät war da und ist seit " + timeOf(*history.vanished) + " fort (ausgesteckt?).");
    else if (!history.firstSeen)
        lines.push_back("Seit dem Programmstart war es nicht angeschlossen.");

    std::vector<std::string> present;
    for (const int n : directory.listed())
        if (n != number && directory.isPresent(n))
            present.push_back(directory.entry(n).device + " (Com #" + std::to_string(n) + ")");
    lines.push_back(present.empty() ? std::string("Zur Zeit ist kein COM-Port angeschlossen.")
                                    : "Angeschlossen sind jetzt: " + text::join(present, ", ") + ".");
    for (const std::string& line : adapterLines())
        lines.push_back(line);
    lines.push_back("Stecken Sie den Adapter ein (oder aus und wieder ein) und wählen Sie den Port dann in der Liste.");
    return text::join(lines, "\n");
}

std::string WindowsPortDoctor::report(const PortDirectory& directory, int number) const
{
    std::vector<std::string> lines;
    directory.refresh(number ? std::set<int>{number} : std::set<int>{});
    std::vector<int> numbers;
    if (number)
        numbers.push_back(number);
    else
        for (const auto& [n, entry] : directory.entries())
            numbers.push_back(n);
    for (const int n : numbers) {
        lines.push_back(portText(directory, n) + (directory.isPresent(n) ? "" : " – nicht angeschlossen"));
        const std::string device = directory.entry(n).device;
        if (m_facts.ftdiLatency && !device.empty())
            if (const auto timer = m_facts.ftdiLatency(device))
                lines.push_back("  " + describeFtdiLatency(device, *timer));
    }
    if (numbers.empty())
        lines.push_back("Kein COM-Port bekannt.");
    for (const std::string& line : adapterLines())
        lines.push_back(line);
    return text::join(lines, "\n");
}

} // namespace win

std::unique_ptr<PortDoctor> PortDoctor::system()
{
    return std::make_unique<win::WindowsPortDoctor>();
}

} // namespace morvandell
