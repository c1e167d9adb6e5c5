#include "simulator/displaylogic.h"

#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace morvandell::sim {

namespace {

// Command frames (tool -> display).
constexpr Byte FrameStart = 0x55;
constexpr Byte FrameEnd = 0x0D;
constexpr int CodeWrite = 1;
constexpr int CodeUpdate = 4;
constexpr int CodeConnect = 5;
constexpr int CodeReset = 255;

// Device messages (display -> tool).
constexpr Byte TypeText = 0x00;
constexpr Byte TypeEepromReport = 0x02;
constexpr Byte TypeIdentification = 0xFD;

// Update mode.
constexpr Byte ReadyByte = 0x05;
constexpr Byte AckByte = 0x06;
constexpr Byte DoneByte = 0x07;
// One byte on a 9600-baud 8N1 line: start bit, 8 data bits, stop bit.
constexpr std::chrono::nanoseconds ByteTime{1041667};
// The pieces of a split answer leave this far apart.
constexpr std::chrono::milliseconds SplitPieceGap{1};

std::chrono::nanoseconds ms(int value)
{
    return std::chrono::milliseconds(value);
}

Bytes payload16(const Bytes& bytes)
{
    Bytes p = slice(bytes, 0, 16);
    p.resize(16, 0);
    return p;
}

Bytes deviceMessage(Byte type, Byte addrHi, Byte addrLo, const Bytes& payload)
{
    Bytes m;
    m.reserve(DisplayLogic::FrameSize);
    m.push_back(FrameStart);
    m.push_back(type);
    m.push_back(addrHi);
    m.push_back(addrLo);
    append(m, payload16(payload));
    m.push_back('\r');
    m.push_back('\n');
    return m;
}

std::string hexBytes(const Bytes& bytes)
{
    static const char* const digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0xF];
    }
    return s;
}

std::string hexAddress(int address)
{
    std::string digits = text::hexUpper(static_cast<unsigned>(address));
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return "0x" + digits;
}

// Text up to the first zero byte, with unprintable bytes shown as dots.
std::string printable(const Bytes& bytes)
{
    std::string s;
    for (const Byte b : bytes) {
        if (b == 0)
            break;
        s += (b >= 32 && b < 127) ? char(b) : '.';
    }
    return s;
}

} // namespace

DisplayLogic::DisplayLogic(SimulatorConfig config, DisplayLine& line)
    : m_cfg(std::move(config))
    , m_line(line)
{
    m_cfg.firmware = slice(m_cfg.firmware, 0, 16);
}

DisplayLogic::~DisplayLogic() = default;

void DisplayLogic::start(TimePoint now)
{
    m_now = std::max(m_now, now);
    if (m_cfg.recovery)
        enterUpdateMode(true);
}

bool DisplayLogic::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_closed;
}

void DisplayLogic::at(TimePoint due, std::function<void()> run)
{
    Action a{due, m_nextSeq++, std::move(run)};
    const auto pos = std::upper_bound(m_actions.begin(), m_actions.end(), a, [](const Action& x, const Action& y) {
        return x.due < y.due || (x.due == y.due && x.seq < y.seq);
    });
    m_actions.insert(pos, std::move(a));
    if (!m_runningActions && due <= m_now)
        runDue();
}

void DisplayLogic::runDue()
{
    if (m_runningActions)
        return;
    m_runningActions = true;
    while (!m_actions.empty() && m_actions.front().due <= m_now) {
        Action a = std::move(m_actions.front());
        m_actions.erase(m_actions.begin());
        a.run();
    }
    m_runningActions = false;
}

void DisplayLogic::advance(TimePoint now)
{
    m_now = std::max(m_now, now);
    runDue();
}

std::optional<DisplayLogic::TimePoint> DisplayLogic::nextDue() const
{
    if (m_actions.empty())
        return std::nullopt;
    return m_actions.front().due;
}

void DisplayLogic::answerWritten()
{
    if (m_pendingAnswers > 0)
        --m_pendingAnswers;
}

int DisplayLogic::listeningBaud() const
{
    return m_rx == Rx::Control ? ControlBaud : UpdateBaud;
}

DisplayLogic::TimePoint DisplayLogic::adapterPassesOn(TimePoint ready) const
{
    // The adapter's latency timer runs on its own; what the display has sent waits for its next tick,
    // between nothing and the whole period, depending on where the timer stands.
    if (m_cfg.adapterLatencyMs <= 0)
        return ready;
    const Nanoseconds period = ms(m_cfg.adapterLatencyMs);
    const Nanoseconds since = ready.time_since_epoch();
    const auto ticks = (since.count() + period.count() - 1) / period.count();
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(period * ticks));
}

void DisplayLogic::send(const Bytes& bytes, Nanoseconds delay, bool isAnswer, bool split, int baud)
{
    if (m_closed || bytes.empty())
        return;
    const TimePoint due = std::max(adapterPassesOn(m_now + delay), m_lastOutput);
    if (isAnswer)
        ++m_pendingAnswers;
    const std::size_t pieces = split ? bytes.size() : 1;
    for (std::size_t i = 0; i < pieces; ++i) {
        Bytes piece = split ? slice(bytes, i, 1) : bytes;
        const bool endsAnswer = isAnswer && i == pieces - 1;
        const TimePoint t = due + SplitPieceGap * static_cast<int>(i);
        m_lastOutput = t;
        at(t, [this, piece = std::move(piece), endsAnswer, baud] {
            const int tool = m_cfg.honourLineSpeed ? m_line.toolBaud() : 0;
            if (tool != 0 && tool != baud) {
                log(text::arg("!! %1 byte(s) lost: the tool's line is at %2 baud, the display sends at %3 baud",
                              {piece.size(), tool, baud}));
                if (endsAnswer)
                    answerWritten();
                return;
            }
            m_line.put(piece, endsAnswer);
        });
    }
}

void DisplayLogic::answer(const Bytes& message, const std::string& what)
{
    if (m_cfg.silent) {
        log(text::arg("   (silent, would answer %1)", {what}));
        return;
    }
    // Answers are given while their frame is handled: m_frameCount is that frame's number.
    if (m_frameCount == m_cfg.loseAnswerFrame) {
        log(text::arg("!! answer to frame %1 lost on the line: %2", {m_frameCount, what}));
        return;
    }
    const bool delayed = m_cfg.answerDelayFrame < 1 || m_frameCount == m_cfg.answerDelayFrame;
    const int delayMs = delayed ? m_cfg.answerDelayMs : 0;
    std::string line = "-> " + what;
    if (delayMs > 0)
        line += text::arg(" (after %1 ms)", {delayMs});
    log(line);
    Bytes bytes = m_cfg.noisePrefix;
    append(bytes, message);
    send(bytes, ms(delayMs), true, m_cfg.splitBytes, ControlBaud);
}

void DisplayLogic::noteWrongSpeed(int count, int baud, int listening)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytesAtWrongSpeed += count;
    }
    log(text::arg("!! %1 byte(s) at %2 baud not understood: the display listens at %3 baud",
                  {count, baud, listening}));
}

void DisplayLogic::receive(const Bytes& bytes, TimePoint arrival, int baud)
{
    if (m_closed || bytes.empty())
        return;
    m_now = std::max(m_now, arrival);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        append(m_raw, bytes);
    }
    // Bytes at the wrong speed are noted in runs, one line per run.
    int wrong = 0;
    int wrongListening = 0;
    auto noteRun = [&] {
        if (wrong > 0)
            noteWrongSpeed(wrong, baud, wrongListening);
        wrong = 0;
    };
    for (const Byte b : bytes) {
        if (m_closed)
            break;
        const bool judged = m_cfg.honourLineSpeed && baud != 0 && m_rx != Rx::UpdateWaiting;
        if (judged && baud != listeningBaud()) {
            if (wrong > 0 && wrongListening != listeningBaud())
                noteRun();
            wrongListening = listeningBaud();
            ++wrong;
            continue;
        }
        noteRun();
        switch (m_rx) {
        case Rx::Control:
            takeControlByte(b);
            break;
        case Rx::UpdateWaiting: {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_bytesBeforeReady;
            break;
        }
        case Rx::UpdateData:
            takeUpdateByte(b, arrival);
            break;
        }
    }
    if (!m_closed)
        noteRun();
}

void DisplayLogic::takeControlByte(Byte b)
{
    m_frameBuf.push_back(b);
    m_frameBufEarly.push_back(m_pendingAnswers > 0);
    extractFrames();
}

void DisplayLogic::extractFrames()
{
    int dropped = 0;
    auto drop = [this, &dropped](std::size_t n) {
        m_frameBuf.erase(m_frameBuf.begin(), m_frameBuf.begin() + static_cast<std::ptrdiff_t>(n));
        m_frameBufEarly.erase(m_frameBufEarly.begin(), m_frameBufEarly.begin() + static_cast<std::ptrdiff_t>(n));
        dropped += static_cast<int>(n);
    };
    while (!m_frameBuf.empty()) {
        const auto start = std::find(m_frameBuf.begin(), m_frameBuf.end(), FrameStart);
        if (start == m_frameBuf.end()) {
            drop(m_frameBuf.size());
            break;
        }
        if (start != m_frameBuf.begin())
            drop(static_cast<std::size_t>(start - m_frameBuf.begin()));
        if (m_frameBuf.size() < std::size_t(FrameSize))
            break;
        if (m_frameBuf[FrameSize - 1] != FrameEnd) {
            drop(1);
            continue;
        }
        if (dropped > 0) {
            log(text::arg("   skipped %1 byte(s) that begin no frame", {dropped}));
            dropped = 0;
        }
        const Bytes frame = slice(m_frameBuf, 0, FrameSize);
        const bool early = m_frameBufEarly.front();
        m_frameBuf.erase(m_frameBuf.begin(), m_frameBuf.begin() + FrameSize);
        m_frameBufEarly.erase(m_frameBufEarly.begin(), m_frameBufEarly.begin() + FrameSize);
        handleFrame(frame, early);
        if (m_rx != Rx::Control || m_closed) {
            m_frameBuf.clear();
            m_frameBufEarly.clear();
            return;
        }
    }
    if (dropped > 0)
        log(text::arg("   skipped %1 byte(s) that begin no frame", {dropped}));
}

void DisplayLogic::handleFrame(const Bytes& frame, bool early)
{
    const int code = frame[1];
    const int address = (frame[2] << 8) | frame[3];
    const Bytes record = slice(frame, 4, 16);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(frame);
        if (early)
            ++m_framesBeforeAnswer;
    }
    ++m_frameCount;
    frameReceived(frame);

    std::string what;
    switch (code) {
    case CodeConnect:
        what = "connect frame";
        break;
    case CodeWrite:
        what = text::arg("write frame @%1: %2 [%3]",
                         {hexAddress(address), hexBytes(record), printable(slice(record, 0, 8))});
        break;
    case CodeReset:
        what = "reset frame";
        break;
    case CodeUpdate:
        what = "update frame";
        break;
    default:
        what = text::arg("frame with unknown code %1: %2", {code, hexBytes(frame)});
        break;
    }
    log(text::arg("<- #%1 %2%3",
                  {m_frameCount, what, early ? " (!! sent before the previous answer)" : ""}));

    // Only write frames carry an address and a record; byte 21 is always zero.
    const Bytes mustBeZero = code == CodeWrite ? slice(frame, 20, 1) : slice(frame, 2, 19);
    if (std::any_of(mustBeZero.begin(), mustBeZero.end(), [](Byte b) { return b != 0; }))
        log(text::arg("!! frame #%1 has non-zero filler bytes: %2", {m_frameCount, hexBytes(frame)}));

    if (m_frameCount == m_cfg.closeAfterFrames) {
        close(text::arg("after frame %1", {m_frameCount}));
        return;
    }

    switch (code) {
    case CodeConnect:
        answer(deviceMessage(TypeIdentification, 0, 0, m_cfg.firmware),
               text::arg("identification \"%1\"", {printable(payload16(m_cfg.firmware))}));
        break;
    case CodeWrite: {
        Bytes stored = record;
        if (address == m_cfg.wrongRecordAddress) {
            stored[0] = Byte(stored[0] + 1);
            log(text::arg("!! record @%1 stored wrong: %2", {hexAddress(address), hexBytes(stored)}));
        }
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto it = m_records.find(address);
            changed = it == m_records.end() || it->second != stored;
            m_records[address] = stored;
        }
        if (changed)
            recordChanged(address, stored);
        if (m_cfg.writeAnswer == SimulatorConfig::WriteAnswer::EepromReport)
            answer(deviceMessage(TypeEepromReport, frame[2], frame[3], stored),
                   text::arg("EEPROM report @%1", {hexAddress(address)}));
        else
            answer(deviceMessage(TypeText, 0, 0, m_cfg.answerText),
                   text::arg("text \"%1\"", {printable(payload16(m_cfg.answerText))}));
        break;
    }
    case CodeReset:
        answer(deviceMessage(TypeText, 0, 0, m_cfg.resetText),
               text::arg("text \"%1\"", {printable(payload16(m_cfg.resetText))}));
        break;
    case CodeUpdate:
        enterUpdateMode(false);
        break;
    default:
        break;
    }
}

void DisplayLogic::enterUpdateMode(bool recovery)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_updateMode = true;
        m_blocks = 0;
        m_image.clear();
    }
    m_blockBuf.clear();
    m_blocksTaken = 0;
    m_lineTime = TimePoint{};
    if (recovery) {
        m_rx = Rx::UpdateData;
        log("   update mode (recovery): waiting for image blocks");
        return;
    }
    m_rx = Rx::UpdateWaiting;
    log(text::arg("   update mode: ready in %1 ms%2",
                  {m_cfg.readyDelayMs, m_cfg.noReady ? ", without ready byte" : ""}));
    at(m_now + ms(m_cfg.readyDelayMs), [this] {
        if (m_rx != Rx::UpdateWaiting)
            return;
        m_rx = Rx::UpdateData;
        int ignored = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ignored = m_bytesBeforeReady;
        }
        if (ignored > 0)
            log(text::arg("!! ignored %1 byte(s) received before ready", {ignored}));
        if (m_cfg.noReady) {
            log("   ready (no ready byte sent)");
            return;
        }
        log("-> ready 0x05");
        send(Bytes{ReadyByte}, Nanoseconds{0}, false, false, UpdateBaud);
    });
}

void DisplayLogic::takeUpdateByte(Byte b, TimePoint arrival)
{
    // With pacing each byte takes one byte time on the line after the previous one.
    const TimePoint t = m_cfg.pace9600 ? std::max(arrival, m_lineTime) + ByteTime : arrival;
    m_lineTime = t;
    m_blockBuf.push_back(b);
    if (m_blockBuf.size() < std::size_t(BlockSize))
        return;
    const int block = ++m_blocksTaken;
    Bytes data;
    data.swap(m_blockBuf);
    if (block == BlockCount) {
        // Whatever follows the last block is a command frame again.
        m_rx = Rx::Control;
        m_frameBuf.clear();
        m_frameBufEarly.clear();
    }
    at(t, [this, block, data = std::move(data)] { completeBlock(block, data); });
}

void DisplayLogic::completeBlock(int block, const Bytes& data)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        append(m_image, data);
        m_blocks = block;
    }
    blockReceived(block);
    if (block == 1 || block % 100 == 0 || block == BlockCount)
        log(text::arg("<- block %1/%2", {block, BlockCount}));

    if (block == m_cfg.closeAfterBlock) {
        close(text::arg("after block %1", {block}));
        return;
    }
    const bool acknowledge = m_cfg.stopAckAfterBlock < 0 || block <= m_cfg.stopAckAfterBlock;
    if (!acknowledge && block == m_cfg.stopAckAfterBlock + 1)
        log(text::arg("   no more acknowledgements from block %1 on", {block}));
    const bool delayed = m_cfg.ackDelayBlock < 1 || block == m_cfg.ackDelayBlock;
    const Nanoseconds delay = delayed ? ms(m_cfg.ackDelayMs) : Nanoseconds{0};
    if (block < BlockCount) {
        if (acknowledge)
            send(Bytes{AckByte}, delay, false, false, UpdateBaud);
        return;
    }

    if (acknowledge) {
        Bytes fin;
        if (m_cfg.coalesceFinal || m_cfg.finalAckOnly)
            fin.push_back(AckByte);
        if (!m_cfg.finalAckOnly)
            fin.push_back(DoneByte);
        log("-> completion " + hexBytes(fin));
        send(fin, delay, false, false, UpdateBaud);
    }
    if (!m_cfg.imageOut.empty()) {
        const Bytes image = receivedImage();
        errno = 0;
        std::ofstream out(files::toPath(m_cfg.imageOut), std::ios::binary | std::ios::trunc);
        if (out)
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (out)
            out.close();
        if (out)
            log("   image written to " + m_cfg.imageOut);
        else
            log(text::arg("!! cannot write the image to %1: %2",
                          {m_cfg.imageOut, errno != 0 ? std::strerror(errno) : "write error"}));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_updateMode = false;
    }
    log("   update finished, back in control mode");
    updateFinished();
}

void DisplayLogic::close(const std::string& why)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
    }
    m_line.close();
    m_actions.clear();
    m_pendingAnswers = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    log("   device closed " + why);
    closed();
}

std::vector<Bytes> DisplayLogic::receivedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::map<int, Bytes> DisplayLogic::records() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

Bytes DisplayLogic::receivedImage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

int DisplayLogic::blocksReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks;
}

bool DisplayLogic::inUpdateMode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_updateMode;
}

bool DisplayLogic::deviceClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

Bytes DisplayLogic::rawReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_raw;
}

int DisplayLogic::framesBeforeAnswer() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_framesBeforeAnswer;
}

int DisplayLogic::bytesBeforeReady() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytesBeforeReady;
}

int DisplayLogic::bytesAtWrongSpeed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytesAtWrongSpeed;
}

std::string DisplayLogic::dumpRecords() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const auto& [address, record] : m_records)
        lines.push_back(hexAddress(address) + ": " + hexBytes(record));
    return text::join(lines, "\n");
}

} // namespace morvandell::sim
