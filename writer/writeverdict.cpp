#include "writer/writeverdict.h"

#include "platform/text.h"
#include "writer/displayconfiguration.h"
#include "writer/framebuilder.h"

namespace morvandell {

namespace {

constexpr std::size_t NameAt = 0;
constexpr std::size_t ChannelAt = 9;
constexpr std::size_t DividerAt = 10;
constexpr std::size_t UnitAt = 11;

std::string hexByte(Byte b)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    return {Hex[b >> 4], Hex[b & 0x0F]};
}

std::string hexBytes(const Bytes& bytes)
{
    std::string s;
    for (const Byte b : bytes)
        s += (s.empty() ? "" : " ") + hexByte(b);
    return s;
}

std::string hexAddress(std::uint16_t value)
{
    return "0x" + text::hexUpper(value);
}

bool isSlot(std::uint16_t address)
{
    return address % 16 == 0 && address >= FrameBuilder::slotAddress(1) &&
           address <= FrameBuilder::slotAddress(DisplayConfiguration::SlotCount);
}

// A name or unit field as the display would show it: Windows-1252 text, a byte without a printable
// character as <0D>.
std::string fieldText(const Bytes& field)
{
    std::string out;
    for (const Byte b : field) {
        const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        if (b < 0x20 || b == 0x7F || undefined)
            out += "<" + hexByte(b) + ">";
        else
            out += text::fromWindows1252(Bytes{b});
    }
    return "„" + out + "“";
}

// The bytes of a record that belong to no field.
Bytes fillers(std::uint16_t address, const Bytes& record)
{
    if (isSlot(address))
        return Bytes{record.at(8), record.at(14), record.at(15)};
    if (address == FrameBuilder::SettingsAddress)
        return slice(record, 1);
    return {};
}

} // namespace

WriteVerdict WriteVerdict::judge(const Bytes& frame, const DeviceMessage& answer)
{
    WriteVerdict verdict;
    verdict.address = static_cast<std::uint16_t>(frame.at(2) * 256 + frame.at(3));
    verdict.sent = slice(frame, 4, FrameBuilder::RecordSize);
    if (answer.type() != DeviceMessage::EepromReport) {
        verdict.kind = Kind::TextAnswer;
        return verdict;
    }
    verdict.reportedAddress = answer.address();
    verdict.stored = answer.payload();
    if (verdict.reportedAddress != verdict.address)
        verdict.kind = Kind::OtherAddress;
    else
        verdict.kind = verdict.stored == verdict.sent ? Kind::Verified : Kind::Differs;
    return verdict;
}

std::string WriteVerdict::recordName(std::uint16_t value)
{
    if (isSlot(value))
        return "Platz " + std::to_string(value / 16);
    if (value == FrameBuilder::SettingsAddress)
        return "Einstellungen";
    return "Adresse " + hexAddress(value);
}

std::string WriteVerdict::describeRecord(std::uint16_t value, const Bytes& record, bool fillersToo)
{
    if (record.size() != FrameBuilder::RecordSize)
        return "Bytes " + hexBytes(record);
    std::string text;
    if (isSlot(value)) {
        text = text::arg("Name %1, Kanal %2, Teiler %3, Einheit %4",
                         {fieldText(slice(record, NameAt, FrameBuilder::NameWidth)), int(record[ChannelAt]),
                          int(record[DividerAt]), fieldText(slice(record, UnitAt, FrameBuilder::UnitWidth))});
    } else if (value == FrameBuilder::SettingsAddress) {
        text = text::arg("Standardansicht %1", {int(record[0])});
    } else {
        return "Bytes " + hexBytes(record);
    }
    if (fillersToo)
        text += ", Füllbytes " + hexBytes(fillers(value, record));
    return text;
}

namespace {

// "gesendet …; gespeichert …" or two lines, with the filler bytes only where they make the difference.
std::pair<std::string, std::string> bothRecords(const WriteVerdict& verdict)
{
    const bool fillersDiffer = fillers(verdict.address, verdict.sent) != fillers(verdict.address, verdict.stored);
    return {WriteVerdict::describeRecord(verdict.address, verdict.sent, fillersDiffer),
            WriteVerdict::describeRecord(verdict.address, verdict.stored, fillersDiffer)};
}

} // namespace

std::string WriteVerdict::line() const
{
    const std::string name = recordName(address) + ": ";
    switch (kind) {
    case Kind::Verified:
        return name + "geprüft";
    case Kind::TextAnswer:
        return name + "nicht geprüft (Textantwort)";
    case Kind::OtherAddress:
        return name + "nicht geprüft (Bericht für Adresse " + hexAddress(reportedAddress) + ")";
    case Kind::Differs:
        break;
    }
    const auto [sentText, storedText] = bothRecords(*this);
    return name + "abweichend gespeichert: gesendet " + sentText + "; gespeichert " + storedText;
}

std::string differenceReport(const std::vector<WriteVerdict>& verdicts)
{
    std::string report;
    for (const WriteVerdict& verdict : verdicts) {
        if (!verdict.differs())
            continue;
        const auto [sentText, storedText] = bothRecords(verdict);
        report += "\n\n" + WriteVerdict::recordName(verdict.address) + "\ngesendet: " + sentText +
                  "\ngespeichert: " + storedText;
    }
    if (report.empty())
        return report;
    return "Das Display hat nicht gespeichert, was gesendet wurde:" + report +
           "\n\nBitte erneut schreiben. Bleibt die Abweichung, das Verbindungsprotokoll speichern "
           "(Rechtsklick auf das Protokoll) und dem Support schicken.";
}

std::string differingRecords(const std::vector<WriteVerdict>& verdicts)
{
    std::vector<std::string> names;
    for (const WriteVerdict& verdict : verdicts)
        if (verdict.differs())
            names.push_back(WriteVerdict::recordName(verdict.address));
    return text::join(names, ", ");
}

} // namespace morvandell
