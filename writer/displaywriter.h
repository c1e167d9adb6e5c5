#pragma once

#include "platform/bytes.h"
#include "platform/signal.h"
#include "loop/eventwait.h"
#include "writer/displayconfiguration.h"
#include "writer/messageframer.h"
#include "writer/writeverdict.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace morvandell {

class SerialService;

// The display's configuration protocol without widgets: sends command frames, waits for the answer
// after each (waitForReply), and runs the slot data write and the settings write. The receiver's part
// is receive(): the owner calls it on every receive notification of the port.
//
// The answer flag is the owner's (the control window's `weiter`): 0 while a wait runs, 1 once a text
// message or EEPROM read report came. The wait is the owner's too, so that the owner can end it.
//
// Every answered write frame gets a verdict on its answer (WriteVerdict): an EEPROM read report for the
// frame's own address must carry the record that was sent. A record that differs does not stop a
// write: the display has answered.
class DisplayWriter
{
public:
    static constexpr std::chrono::milliseconds ReplyTimeout{3000};

    enum class Result {
        Answered,    // every frame was answered
        WriteFailed, // the port refused the bytes (port closed, device gone)
        TimedOut,    // no answer within ReplyTimeout
        Aborted,     // the wait was ended from outside (device gone, window closed, Ctrl+C)
    };

    // Gives slot k's values just before its frame goes out, so edits made during the earlier waits count.
    using SlotSource = std::function<SlotSetting(int slot)>;
    using ViewSource = std::function<std::uint8_t()>;

    DisplayWriter(SerialService& port, std::optional<std::int16_t>& weiter, EventWait& wait);
    DisplayWriter(const DisplayWriter&) = delete;
    DisplayWriter& operator=(const DisplayWriter&) = delete;

    // Hands the frame to the port. False when the port refused it.
    bool writeFrame(const Bytes& frame);
    // Clears the answer flag and waits until the receiver sets it (or the time limit, or an abort).
    Result waitForReply();
    // An answered write frame gets its verdict (verdicts(), verdictGiven).
    Result sendAndWait(const Bytes& frame);

    // The nine frames of "Daten schreiben": slots 1..8 at 0x0010..0x0080, then the settings record.
    // Stops at the first frame that is not answered.
    Result writeSlotData(const SlotSource& slot, const ViewSource& defaultView);
    Result writeSlotData(const DisplayConfiguration& configuration);
    // The settings frame alone ("Einstellungen schreiben").
    Result writeSettings(std::uint8_t defaultView);

    // The verdicts on the answered write frames of the last writeSlotData() or writeSettings() (and of
    // write frames sent alone since), in sending order.
    const std::vector<WriteVerdict>& verdicts() const { return m_verdicts; }
    // A write frame was answered: its verdict, right after the answer ended the wait.
    Signal<const WriteVerdict&> verdictGiven;

    // Reads what the port received and returns the complete device messages. A text message or an
    // EEPROM read report sets the answer flag and wakes the wait.
    std::vector<DeviceMessage> receive();

    // The name and unit of the last slot frame, fitted to 8 and 3 bytes.
    const Bytes& frameName() const { return m_frameName; }
    const Bytes& frameUnit() const { return m_frameUnit; }
    const MessageFramer& framer() const { return m_framer; }

private:
    SerialService& m_port;
    std::optional<std::int16_t>& m_weiter;
    EventWait& m_wait;
    MessageFramer m_framer;
    std::optional<DeviceMessage> m_answer; // the first answer since the wait began
    std::vector<WriteVerdict> m_verdicts;
    Bytes m_frameName = Bytes(8, 0x00);
    Bytes m_frameUnit = Bytes(3, 0x00);
};

} // namespace morvandell
