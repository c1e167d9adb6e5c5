#include "cli/clitool.h"

#include "catalogue/logdefinitionreader.h"
#include "platform/files.h"
#include "platform/text.h"
#include "serial/portdoctor.h"
#include "serial/serialservice.h"
#include "updater/firmwareimage.h"
#include "updater/updateprotocol.h"
#include "updater/updatetransfer.h"
#include "writer/framebuilder.h"
#include "writer/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define morvandell_isatty(f) ::_isatty(::_fileno(f))
#else
#include <unistd.h>
#define morvandell_isatty(f) ::isatty(::fileno(f))
#endif

namespace morvandell {

namespace {

// The control window's lists hold at most this many names; a --slot pick sees the same entries.
constexpr std::size_t MaxListEntries = 1024;
constexpr std::size_t NameBoxLength = 8;
constexpr std::size_t UnitBoxLength = 3;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Failure texts from the windows span lines; a failure here is one line: every run of blanks and line
// ends becomes one blank, none at either end.
std::string oneLine(const std::string& text)
{
    std::string line;
    bool blank = false;
    for (const char c : text) {
        if (isBlank(c)) {
            blank = !line.empty();
            continue;
        }
        if (blank)
            line += ' ';
        blank = false;
        line += c;
    }
    return line;
}

// The first `count` characters as a text box keeps them: counted in UTF-16 units, a character beyond
// U+FFFF counting two, never half of one.
std::string boxText(const std::string& utf8, std::size_t count)
{
    std::u32string kept;
    std::size_t units = 0;
    for (const char32_t c : text::toCodePoints(utf8)) {
        units += c > 0xFFFF ? 2 : 1;
        if (units > count)
            break;
        kept += c;
    }
    return text::fromCodePoints(kept);
}

} // namespace

CliTool::CliTool(EventLoop& loop, std::shared_ptr<const PortDirectory> ports, std::FILE* out, std::FILE* err)
    : m_loop(loop)
    , m_out(out)
    , m_err(err)
    , m_systemPorts(std::move(ports))
    , m_interrupt(loop)
    , m_wait(loop)
{
    m_interrupt.interrupted.connect([this] { onInterrupted(); });
}

CliTool::~CliTool()
{
    if (m_port) {
        m_port->close();
        m_port->setTrace(nullptr);
    }
    m_trace.setSink(nullptr);
}

void CliTool::print(const std::string& line)
{
    std::fputs((line + "\n").c_str(), m_out);
    std::fflush(m_out);
}

void CliTool::fail(const std::string& line)
{
    if (m_progressOnTerminal && m_progressStep >= 0)
        std::fputc('\n', m_err);
    m_progressStep = -1;
    std::fputs(("morvandell-cli: " + oneLine(line) + "\n").c_str(), m_err);
    std::fflush(m_err);
}

void CliTool::warn(const std::string& text)
{
    for (const std::string& line : text::split(text, '\n'))
        if (!line.empty())
            std::fputs(("Warnung: " + line + "\n").c_str(), m_err);
    std::fflush(m_err);
}

int CliTool::run(const Invocation& invocation)
{
    m_inv = invocation;
    m_ports = m_systemPorts;
    if (!m_inv.port.empty() && !resolvePort(m_inv.port))
        return ExitStatus::Usage;
    if (!m_inv.trace.empty() && !startTrace())
        return ExitStatus::FileFailed;

    switch (m_inv.command) {
    case Invocation::Command::Ports:
        return ports();
    case Invocation::Command::Identify:
        return identify();
    case Invocation::Command::Configure:
        return configure();
    case Invocation::Command::Reset:
        return reset();
    case Invocation::Command::Flash:
        return flash();
    case Invocation::Command::Doctor:
        return doctor();
    case Invocation::Command::None:
        break;
    }
    fail("Kein Befehl angegeben.");
    return ExitStatus::Usage;
}

bool CliTool::resolvePort(const std::string& portText)
{
    if (const std::optional<int> number = Invocation::number(portText)) {
        if (*number < PortDirectory::FirstPort || *number > PortDirectory::LastPort) {
            fail(text::arg("Portnummer %1 gibt es nicht: erlaubt sind 1 bis 16 oder ein Gerätepfad.", {portText}));
            return false;
        }
        m_number = *number;
        return true;
    }
    // A device path: its number in the port directory when it has one, so messages name it alike.
    const std::string canonical = files::canonicalPath(portText);
    for (const auto& [number, entry] : m_systemPorts->entries()) {
        if (entry.device == portText || (!canonical.empty() && files::canonicalPath(entry.device) == canonical)) {
            m_number = number;
            return true;
        }
    }
    m_number = PortDirectory::FirstPort;
    m_ports = std::make_shared<const PortDirectory>(
        std::map<int, PortDirectory::Entry>{{m_number, PortDirectory::Entry{portText, std::string(), nullptr}}});
    return true;
}

bool CliTool::startTrace()
{
    errno = 0;
    m_traceFile.open(files::toPath(m_inv.trace), std::ios::binary | std::ios::trunc);
    if (!m_traceFile) {
        const int why = errno;
        fail(text::arg("Das Verbindungsprotokoll %1 kann nicht geschrieben werden: %2",
                       {m_inv.trace, why ? std::strerror(why) : "Unbekannter Fehler"}));
        return false;
    }
    m_trace.setPort(m_number, m_number ? m_ports->entry(m_number).device : std::string(),
                    LineSettings().toString());
    m_trace.setSink([this](std::string_view lines) {
        m_traceFile.write(lines.data(), std::streamsize(lines.size()));
        m_traceFile.flush(); // what was traced survives however the program ends
    });
    return true;
}

std::optional<int> CliTool::openPort()
{
    m_port = std::make_unique<SerialService>(m_loop, m_ports);
    m_port->setTrace(m_traceFile.is_open() ? &m_trace : nullptr);
    m_port->setCommPort(m_number);
    m_port->received.connect([this] { onReceived(); });
    m_port->deviceLost.connect([this](const std::string& reason) { onDeviceLost(reason); });
    m_writer = std::make_unique<DisplayWriter>(*m_port, m_weiter, m_wait);
    // Right below the answer's log line: what the answer proves about the record stored.
    m_writer->verdictGiven.connect([this](const WriteVerdict& verdict) { print(verdict.line()); });
    if (!m_port->open()) {
        fail(text::arg("Com #%1 kann nicht geöffnet werden. %2", {m_number, m_port->describeLastError()}));
        return ExitStatus::PortFailed;
    }
    return std::nullopt;
}

// --- receiving ---------------------------------------------------------------------------------------

void CliTool::onReceived()
{
    if (m_transfer && m_transfer->isRunning()) {
        // The update receiver: the display's one-byte answers.
        for (const UpdateProtocol::Answer answer : UpdateProtocol::answersIn(m_port->input())) {
            if (answer == UpdateProtocol::Answer::Complete)
                m_port->close();
            m_transfer->take(answer);
        }
        return;
    }
    if (m_transfer) {
        // After the transfer only the completion byte matters.
        const auto answers = UpdateProtocol::answersIn(m_port->input());
        if (std::find(answers.begin(), answers.end(), UpdateProtocol::Answer::Complete) != answers.end()) {
            m_port->close();
            m_firmware = std::string();
            m_wait.wake();
        }
        return;
    }
    for (const DeviceMessage& message : m_writer->receive()) {
        const std::string line = message.logLine(text::longTimeText(std::chrono::system_clock::now()));
        if (message.type() == DeviceMessage::Identification) {
            m_firmware = message.payloadText();
            m_wait.wake();
            if (m_inv.command == Invocation::Command::Identify)
                continue; // identify prints the firmware text alone
        }
        if (!line.empty())
            print(line);
    }
}

void CliTool::onDeviceLost(const std::string& reason)
{
    m_lost = true;
    m_lostReason = reason;
    if (m_transfer && m_transfer->isRunning())
        m_transfer->noteDeviceLost();
    m_wait.abort();
}

void CliTool::onInterrupted()
{
    if (m_transfer && m_transfer->isRunning())
        m_transfer->cancel();
    m_wait.abort();
}

int CliTool::interruptedStatus()
{
    fail("Abgebrochen (Strg+C).");
    return ExitStatus::Interrupted;
}

int CliTool::replyStatus(DisplayWriter::Result result, const std::string& what)
{
    switch (result) {
    case DisplayWriter::Result::Answered:
        return ExitStatus::Done;
    case DisplayWriter::Result::TimedOut:
        fail(text::arg("Timeout: das Display hat %1 nicht innerhalb von %2 ms beantwortet.",
                       {what, static_cast<long long>(DisplayWriter::ReplyTimeout.count())}));
        return ExitStatus::NoAnswer;
    case DisplayWriter::Result::Aborted:
        break;
    case DisplayWriter::Result::WriteFailed:
        // A vanished device shows first as a refused write; the port reports the loss right after.
        if (!m_lost && !m_interrupt.isInterrupted())
            m_wait.waitUntil([this] { return m_lost; }, LossGrace);
        break;
    }
    if (m_interrupt.isInterrupted())
        return interruptedStatus();
    if (m_lost || !m_port->isOpen()) {
        fail(text::arg("Verbindung zu Com #%1 unterbrochen: das Gerät ist nicht mehr erreichbar (%2).",
                       {m_number, m_lostReason.empty() ? m_port->lastErrorText() : m_lostReason}));
        return ExitStatus::DeviceGone;
    }
    fail(text::arg("Senden an Com #%1 fehlgeschlagen. %2", {m_number, m_port->describeLastError()}));
    return ExitStatus::DeviceGone;
}

// --- commands ----------------------------------------------------------------------------------------

int CliTool::ports()
{
    // As the port list: each number judged by its own open attempt; listed when it opens, or when it
    // exists but is busy or not permitted.
    SerialService probe(m_loop, m_systemPorts);
    probe.setTrace(m_traceFile.is_open() ? &m_trace : nullptr);
    int listed = 0;
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        probe.setCommPort(n);
        const bool opened = probe.open();
        if (opened || probe.lastError() == SerialError::Unavailable) {
            const PortDirectory::Entry entry = m_systemPorts->entry(n);
            std::string line = text::arg("%1\t%2\t%3", {n, entry.device, entry.description});
            if (!opened)
                line += probe.lastCause() == SerialService::Cause::NoPermission ? " (keine Berechtigung)"
                                                                                : " (belegt)";
            print(line);
            ++listed;
        }
        probe.close();
    }
    if (listed == 0)
        warn("Keine benutzbaren Ports gefunden.");
    return ExitStatus::Done;
}

std::optional<int> CliTool::connectDisplay()
{
    if (const auto failed = openPort())
        return failed;
    if (!m_writer->writeFrame(FrameBuilder::connectFrame()))
        return replyStatus(DisplayWriter::Result::WriteFailed, std::string());
    const auto waited = m_wait.waitUntil([this] { return m_firmware.has_value(); }, IdentifyTimeout);
    if (waited == EventWait::Result::Satisfied)
        return std::nullopt;
    if (waited == EventWait::Result::TimedOut) {
        fail(text::arg("Timeout: das Display an Com #%1 hat sich nicht innerhalb von %2 ms gemeldet.",
                       {m_number, static_cast<long long>(IdentifyTimeout.count())}));
        return ExitStatus::NoAnswer;
    }
    return replyStatus(DisplayWriter::Result::Aborted, std::string());
}

int CliTool::identify()
{
    if (const auto failed = connectDisplay())
        return *failed;
    print(*m_firmware);
    return ExitStatus::Done;
}

int CliTool::reset()
{
    if (const auto failed = connectDisplay())
        return *failed;
    return replyStatus(m_writer->sendAndWait(FrameBuilder::resetFrame()), "den Reset");
}

int CliTool::configure()
{
    DisplayConfiguration configuration;
    std::string error;
    if (!m_inv.profile.empty()) {
        std::optional<DisplayConfiguration> loaded = Profile::load(m_inv.profile, &error);
        if (!loaded) {
            fail(error);
            return ExitStatus::FileFailed;
        }
        configuration = std::move(*loaded);
    } else {
        auto catalogue = std::make_unique<Catalogue>();
        ReadReport report;
        const bool read = LogDefinitionReader::readFile(m_inv.logDef, *catalogue, &report, &error);
        if (!read && report.entries.empty()) {
            fail(error);
            return ExitStatus::FileFailed;
        }
        if (!read)
            warn(error);
        warn(report.warningText());

        configuration.logDefinition = m_inv.logDef;
        configuration.defaultView = static_cast<std::uint8_t>(m_inv.view);
        const std::size_t listed = std::min(report.entries.size(), MaxListEntries);
        for (const auto& [slotNumber, channel] : m_inv.slotChannels) {
            // As a pick in the slot's list: the first entry of that exact name.
            int index = -1;
            for (std::size_t i = 0; i < listed && index < 0; ++i)
                if (report.entries[i].name == channel)
                    index = report.entries[i].index;
            if (index < 0 || index > Catalogue::LastIndex) {
                fail(text::arg("Kanal „%1“ (--slot %2) steht nicht in %3.", {channel, slotNumber, m_inv.logDef}));
                return ExitStatus::Usage;
            }
            const auto at = std::size_t(index);
            SlotSetting slot;
            slot.channel = channel;
            slot.name = boxText(channel, NameBoxLength);
            slot.number = catalogue->number[at];
            slot.unit = boxText(catalogue->unit[at], UnitBoxLength);
            slot.divider = catalogue->divider[at];
            configuration.slotSettings[std::size_t(slotNumber)] = slot;
        }
        // Typed into the boxes, which keep the first 8 (name) or 3 (unit) characters.
        for (const auto& [slotNumber, name] : m_inv.names) {
            SlotSetting slot = configuration.slotOrBlank(slotNumber);
            slot.name = boxText(name, NameBoxLength);
            configuration.slotSettings[std::size_t(slotNumber)] = slot;
        }
        for (const auto& [slotNumber, unit] : m_inv.units) {
            SlotSetting slot = configuration.slotOrBlank(slotNumber);
            slot.unit = boxText(unit, UnitBoxLength);
            configuration.slotSettings[std::size_t(slotNumber)] = slot;
        }
    }

    if (const auto failed = connectDisplay())
        return *failed;
    const int status = replyStatus(m_writer->writeSlotData(configuration), "einen Schreibbefehl");
    // The profile records what was chosen and sent: only after every frame was answered (also when the
    // display stored a record otherwise).
    if (status == ExitStatus::Done && !m_inv.saveProfile.empty()) {
        if (!Profile::save(m_inv.saveProfile, configuration, &error)) {
            fail(error);
            return ExitStatus::FileFailed;
        }
        print(text::arg("Profil gespeichert: %1", {m_inv.saveProfile}));
    }
    if (status == ExitStatus::Done) {
        const std::string differing = differingRecords(m_writer->verdicts());
        if (!differing.empty()) {
            fail(text::arg("Das Display hat nicht gespeichert, was gesendet wurde: %1.", {differing}));
            return ExitStatus::RecordDiffers;
        }
    }
    return status;
}

void CliTool::onProgress(int blocksSent, const std::string& text)
{
    if (m_progressOnTerminal) {
        std::fputs(("\r" + text + "\033[K").c_str(), m_err);
        m_progressStep = blocksSent;
    } else {
        const int step = blocksSent * 10 / UpdateProtocol::BlockCount;
        if (step <= m_progressStep)
            return;
        m_progressStep = step;
        std::fputs((text + "\n").c_str(), m_err);
    }
    std::fflush(m_err);
}

int CliTool::flash()
{
    std::string error;
    const std::optional<std::int64_t> length = FirmwareImage::measure(m_inv.image, &error);
    if (!length) {
        fail(error);
        return ExitStatus::FileFailed;
    }
    if (FirmwareImage::isTooLarge(*length)) {
        fail(text::arg("Datei zu groß! %1 hat %2 Bytes, höchstens %3 sind erlaubt.",
                       {m_inv.image, static_cast<long long>(*length),
                        static_cast<long long>(FirmwareImage::SizeLimit)}));
        return ExitStatus::FileFailed;
    }
    if (const auto failed = openPort())
        return *failed;

    const auto mode = m_inv.recovery ? UpdateProtocol::Mode::Recovery : UpdateProtocol::Mode::Normal;
    UpdateTransfer transfer(*m_port);
    m_transfer = &transfer;
    struct Forget
    {
        UpdateTransfer*& transfer;
        ~Forget() { transfer = nullptr; }
    } forget{m_transfer};
    m_progressOnTerminal = morvandell_isatty(m_err) == 1;
    transfer.progress.connect([this](int blocks, int, const std::string& text) { onProgress(blocks, text); });

    const UpdateTransfer::Outcome outcome = transfer.run(mode, m_inv.image, *length);
    if (m_progressOnTerminal && m_progressStep >= 0)
        std::fputc('\n', m_err);
    m_progressStep = -1;

    const std::string resend = text::arg("„morvandell-cli flash --port %1 --recovery %2“", {m_inv.port, m_inv.image});
    int status = ExitStatus::Done;
    switch (outcome.result) {
    case UpdateTransfer::Result::Finished:
        break;
    case UpdateTransfer::Result::Cancelled:
        fail(text::arg("Abgebrochen (Strg+C) nach %1 von %2 Blöcken. Das Display wartet im Update-Modus: %3 "
                       "sendet die Firmware erneut.",
                       {outcome.blocksSent, UpdateProtocol::BlockCount, resend}));
        return ExitStatus::Interrupted;
    case UpdateTransfer::Result::FileFailed:
        status = ExitStatus::FileFailed;
        break;
    case UpdateTransfer::Result::PortFailed:
        status = ExitStatus::PortFailed;
        break;
    case UpdateTransfer::Result::DeviceLost:
        status = ExitStatus::DeviceGone;
        break;
    case UpdateTransfer::Result::ReadyTimeout:
    case UpdateTransfer::Result::AckTimeout:
    case UpdateTransfer::Result::EndedEarly:
        status = ExitStatus::NoAnswer;
        break;
    }
    if (status != ExitStatus::Done) {
        std::string message = outcome.message;
        if (outcome.result == UpdateTransfer::Result::ReadyTimeout) {
            // What the time-out means, right after the word itself.
            const std::string why = text::arg(": das Display an Com #%1 hat sich nicht innerhalb von %2 ms zum "
                                              "Update bereit gemeldet. Wartet es schon im Update-Modus, hilft "
                                              "--recovery.",
                                              {m_number, static_cast<long long>(UpdateTransfer::ReadyTimeout.count())});
            const std::size_t end = text::startsWith(message, "Timeout") ? std::strlen("Timeout") : message.size();
            message.insert(end, why);
        }
        fail(text::replaceAll(message, "„Update - Recovery“", resend));
        return status;
    }

    // "Fertig" once the last block is out; "Fertig." when the display reports completion.
    bool completed = transfer.protocol().completed;
    if (!completed && mode == UpdateProtocol::Mode::Normal && m_port->isOpen()) {
        m_firmware.reset();
        completed = m_wait.waitUntil([this] { return m_firmware.has_value(); }, CompletionTimeout) ==
                    EventWait::Result::Satisfied;
    }
    if (m_interrupt.isInterrupted())
        return interruptedStatus();
    print(completed ? "Fertig." : "Fertig");
    return ExitStatus::Done;
}

int CliTool::doctor()
{
    // Without --port: every port the directory knows.
    const std::unique_ptr<PortDoctor> doctor = PortDoctor::system();
    std::fputs((doctor->report(*m_ports, m_inv.port.empty() ? 0 : m_number) + "\n").c_str(), m_out);
    std::fflush(m_out);
    return ExitStatus::Done;
}

} // namespace morvandell
