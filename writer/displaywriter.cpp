#include "writer/displaywriter.h"

#include "serial/serialservice.h"
#include "writer/framebuilder.h"

namespace morvandell {

DisplayWriter::DisplayWriter(SerialService& port, std::optional<std::int16_t>& weiter, EventWait& wait)
    : m_port(port)
    , m_weiter(weiter)
    , m_wait(wait)
{}

bool DisplayWriter::writeFrame(const Bytes& frame)
{
    return m_port.output(frame);
}

DisplayWriter::Result DisplayWriter::waitForReply()
{
    m_weiter = 0;
    m_answer.reset();
    switch (m_wait.waitUntil([this] { return m_weiter == 1; }, ReplyTimeout)) {
    case EventWait::Result::Satisfied:
        return Result::Answered;
    case EventWait::Result::TimedOut:
        return Result::TimedOut;
    case EventWait::Result::Aborted:
        break;
    }
    return Result::Aborted;
}

DisplayWriter::Result DisplayWriter::sendAndWait(const Bytes& frame)
{
    if (!writeFrame(frame))
        return Result::WriteFailed;
    const Result result = waitForReply();
    if (result == Result::Answered && frame.size() == FrameBuilder::FrameSize && frame[1] == FrameBuilder::Write &&
        m_answer) {
        m_verdicts.push_back(WriteVerdict::judge(frame, *m_answer));
        verdictGiven(m_verdicts.back());
    }
    return result;
}

DisplayWriter::Result DisplayWriter::writeSlotData(const SlotSource& slot, const ViewSource& defaultView)
{
    m_verdicts.clear();
    for (int k = 1; k <= DisplayConfiguration::SlotCount; ++k) {
        const SlotSetting setting = slot(k);
        m_frameName = FrameBuilder::fitText(setting.name, FrameBuilder::NameWidth);
        m_frameUnit = FrameBuilder::fitText(setting.unit, FrameBuilder::UnitWidth);
        const Result result = sendAndWait(
            FrameBuilder::slotFrameFitted(k, m_frameName, setting.number, setting.divider, m_frameUnit));
        if (result != Result::Answered)
            return result;
    }
    return sendAndWait(FrameBuilder::settingsFrame(defaultView()));
}

DisplayWriter::Result DisplayWriter::writeSlotData(const DisplayConfiguration& configuration)
{
    return writeSlotData([&configuration](int k) { return configuration.slotOrBlank(k); },
                         [&configuration] { return configuration.defaultView; });
}

DisplayWriter::Result DisplayWriter::writeSettings(std::uint8_t defaultView)
{
    m_verdicts.clear();
    return sendAndWait(FrameBuilder::settingsFrame(defaultView));
}

std::vector<DeviceMessage> DisplayWriter::receive()
{
    const Bytes bytes = m_port.input();
    if (bytes.empty())
        return {};
    std::vector<DeviceMessage> messages = m_framer.feed(bytes);
    for (const DeviceMessage& message : messages) {
        if (message.type() == DeviceMessage::Text || message.type() == DeviceMessage::EepromReport) {
            if (!m_answer)
                m_answer = message;
            m_weiter = 1;
            m_wait.wake();
        }
    }
    return messages;
}

} // namespace morvandell
