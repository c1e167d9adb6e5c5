#pragma once

#include "platform/bytes.h"
#include "writer/messageframer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace morvandell {

// What the display's answer to one write frame proves. The display may answer a write frame with an
// EEPROM read report; when it reports the frame's own record address, its 16 bytes are the record it
// stored, and they must be the record that was sent. A text message, or a report for another address,
// proves nothing either way.
struct WriteVerdict
{
    enum class Kind {
        Verified,     // a report for the same address carried the record that was sent
        TextAnswer,   // a text message answered: not verified
        OtherAddress, // a report for another address answered: not verified
        Differs,      // a report for the same address carried another record
    };

    Kind kind = Kind::TextAnswer;
    std::uint16_t address = 0;          // the frame's record address
    Bytes sent;                         // the 16 bytes of the record sent
    Bytes stored;                       // the report's 16 bytes (empty after a text answer)
    std::uint16_t reportedAddress = 0;  // the report's address (OtherAddress)

    // The verdict on `answer`, the first text message or EEPROM read report after the write frame.
    static WriteVerdict judge(const Bytes& frame, const DeviceMessage& answer);

    bool differs() const { return kind == Kind::Differs; }

    // "Platz 3", "Einstellungen", or "Adresse 0xA0" for a record of neither kind.
    static std::string recordName(std::uint16_t address);
    // The record as the user knows its fields: "Name „RPM     “, Kanal 12, Teiler 1, Einheit „rpm“" for
    // a slot, "Standardansicht 1" for the settings. Names and units through Windows-1252 as the frames
    // encode them, bytes that are no text as <0D>. With `fillersToo`, the bytes that carry no field
    // are added in hex ("Füllbytes 00 00 00").
    static std::string describeRecord(std::uint16_t address, const Bytes& record, bool fillersToo = false);

    // One line for the command line: "Platz 3: geprüft", "Platz 3: nicht geprüft (Textantwort)",
    // "Platz 3: abweichend gespeichert: gesendet …; gespeichert …".
    std::string line() const;
};

// The text of the message after a write: every record that the display stored otherwise than sent,
// each with both values; empty when none differs.
std::string differenceReport(const std::vector<WriteVerdict>& verdicts);
// The records that differ, by name ("Platz 3, Einstellungen"); empty when none differs.
std::string differingRecords(const std::vector<WriteVerdict>& verdicts);

} // namespace morvandell
