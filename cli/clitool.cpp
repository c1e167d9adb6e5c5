#include "cli/clitool.h"

#include "catalogue/logdefinitionreader.h"
#include "cli/interruptnotifier.h"
#include "cli/profileaccess.h"
#include "serial/portdoctor.h"
#include "serial/serialservice.h"
#include "updater/firmwareimage.h"
#include "updater/updateprotocol.h"
#include "updater/updatetransfer.h"
#include "writer/framebuilder.h"

#include <QFileInfo>
#include <QTime>
#include <QTimer>

#include <unistd.h>


namespace morvandell {

namespace {

// The control window's lists hold at most this many names; a --slot pick sees the same entries.
constexpr qsizetype MaxListEntries = 1024;
constexpr int NameBoxLength = 8;
constexpr int UnitBoxLength = 3;

// Failure texts from the windows span lines; a failure here is one line.
QString oneLine(QString text)
{
    text.replace(QLatin1String("\n\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

} // namespace

CliTool::CliTool(std::shared_ptr<const PortDirectory> ports, FILE* out, FILE* err, QObject* parent)
    : QObject(parent)
    , m_out(out)
    , m_err(err)
    , m_systemPorts(std::move(ports))
{
    m_interrupt = new InterruptNotifier(this);
    connect(m_interrupt, &InterruptNotifier::interrupted, this, &CliTool::onInterrupted);
}

CliTool::~CliTool()
{
    if (m_port) {
        m_port->close();
        m_port->setTrace(nullptr);
    }
    m_trace.setSink(nullptr);
}

void CliTool::print(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), m_out);
    std::fflush(m_out);
}

void CliTool::fail(const QString& line)
{
    if (m_progressOnTerminal && m_progressStep >= 0)
        std::fputc('\n', m_err);
    m_progressStep = -1;
    std::fputs((QStringLiteral("morvandell-cli: ") + oneLine(line) + QLatin1Char('\n')).toUtf8().constData(),
               m_err);
    std::fflush(m_err);
}

void CliTool::warn(const QString& text)
{
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        std::fputs((QStringLiteral("Warnung: ") + line + QLatin1Char('\n')).toUtf8().constData(), m_err);
    std::fflush(m_err);
}

int CliTool::run(const Invocation& invocation)
{
    m_inv = invocation;
    m_ports = m_systemPorts;
    if (!m_inv.port.isEmpty() && !resolvePort(m_inv.port))
        return ExitStatus::Usage;
    if (!m_inv.trace.isEmpty() && !startTrace())
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
    fail(QStringLiteral("Kein Befehl angegeben."));
    return ExitStatus::Usage;
}

bool CliTool::resolvePort(const QString& portText)
{
    bool isNumber = false;
    const int number = portText.toInt(&isNumber);
    if (isNumber) {
        if (number < PortDirectory::FirstPort || number > PortDirectory::LastPort) {
            fail(QStringLiteral("Portnummer %1 gibt es nicht: erlaubt sind 1 bis 16 oder ein Gerätepfad.")
                     .arg(portText));
            return false;
        }
        m_number = number;
        return true;
    }
    // A device path: its number in the port directory when it has one, so messages name it alike.
    const QString canonical = QFileInfo(portText).canonicalFilePath();
    const auto entries = m_systemPorts->entries();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it->device == portText ||
            (!canonical.isEmpty() && QFileInfo(it->device).canonicalFilePath() == canonical)) {
            m_number = it.key();
            return true;
        }
    }
    m_number = PortDirectory::FirstPort;
    m_ports =
        std::make_shared<const PortDirectory>(QMap<int, PortDirectory::Entry>{{m_number, {portText, QString()}}});
    return true;
}

bool CliTool::startTrace()
{
    m_traceFile.setFileName(m_inv.trace);
    if (!m_traceFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("Das Verbindungsprotokoll %1 kann nicht geschrieben werden: %2")
                 .arg(m_inv.trace, m_traceFile.errorString()));
        return false;
    }
    m_trace.setPort(m_number, m_number ? m_ports->entry(m_number).device : QString(),
                    LineSettings().toString());
    m_trace.setSink(&m_traceFile);
    return true;
}

std::optional<int> CliTool::openPort()
{
    m_port = new SerialService(m_ports, this);
    m_port->setTrace(m_traceFile.isOpen() ? &m_trace : nullptr);
    m_port->setCommPort(m_number);
    connect(m_port, &SerialService::received, this, &CliTool::onReceived);
    connect(m_port, &SerialService::deviceLost, this, &CliTool::onDeviceLost);
    m_writer = new DisplayWriter(*m_port, m_weiter, m_wait, this);
    if (!m_port->open()) {
        fail(QStringLiteral("Com #%1 kann nicht geöffnet werden. %2")
                 .arg(m_number)
                 .arg(m_port->describeLastError()));
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
        if (answers.contains(UpdateProtocol::Answer::Complete)) {
            m_port->close();
            m_firmware = QString();
            m_wait.wake();
        }
        return;
    }
    for (const DeviceMessage& message : m_writer->receive()) {
        const QString line = message.logLine(longTimeText(QTime::currentTime()));
        if (message.type() == DeviceMessage::Identification) {
            m_firmware = message.payloadText();
            m_wait.wake();
            if (m_inv.command == Invocation::Command::Identify)
                continue; // identify prints the firmware text alone
        }
        if (!line.isEmpty())
            print(line);
    }
}

void CliTool::onDeviceLost(const QString& reason)
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
    fail(QStringLiteral("Abgebrochen (Strg+C)."));
    return ExitStatus::Interrupted;
}

int CliTool::replyStatus(DisplayWriter::Result result, const QString& what)
{
    switch (result) {
    case DisplayWriter::Result::Answered:
        return ExitStatus::Done;
    case DisplayWriter::Result::TimedOut:
        fail(QStringLiteral("Timeout: das Display hat %1 nicht innerhalb von %2 ms beantwortet.")
                 .arg(what)
                 .arg(DisplayWriter::ReplyTimeout.count()));
        return ExitStatus::NoAnswer;
    case DisplayWriter::Result::Aborted:
    case DisplayWriter::Result::WriteFailed:
        break;
    }
    if (m_interrupt->isInterrupted())
        return interruptedStatus();
    if (m_lost || !m_port->isOpen()) {
        fail(QStringLiteral("Verbindung zu Com #%1 unterbrochen: das Gerät ist nicht mehr erreichbar (%2).")
                 .arg(m_number)
                 .arg(m_lostReason.isEmpty() ? m_port->lastErrorText() : m_lostReason));
        return ExitStatus::DeviceGone;
    }
    fail(QStringLiteral("Senden an Com #%1 fehlgeschlagen. %2")
             .arg(m_number)
             .arg(m_port->describeLastError()));
    return ExitStatus::DeviceGone;
}

// --- commands ----------------------------------------------------------------------------------------

int CliTool::ports()
{
    // As the port list: each number judged by its own open attempt; listed when it opens, or when it
    // exists but is busy or not permitted.
    SerialService probe(m_systemPorts);
    probe.setTrace(m_traceFile.isOpen() ? &m_trace : nullptr);
    int listed = 0;
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        probe.setCommPort(n);
        const bool opened = probe.open();
        if (opened || probe.lastError() == SerialError::Unavailable) {
            const PortDirectory::Entry entry = m_systemPorts->entry(n);
            QString line = QStringLiteral("%1\t%2\t%3").arg(n).arg(entry.device, entry.description);
            if (!opened)
                line += probe.lastCause() == SerialService::Cause::NoPermission
                            ? QStringLiteral(" (keine Berechtigung)")
                            : QStringLiteral(" (belegt)");
            print(line);
            ++listed;
        }
        probe.close();
    }
    if (listed == 0)
        warn(QStringLiteral("Keine benutzbaren Ports gefunden."));
    return ExitStatus::Done;
}

std::optional<int> CliTool::connectDisplay()
{
    if (const auto failed = openPort())
        return failed;
    if (!m_writer->writeFrame(FrameBuilder::connectFrame()))
        return replyStatus(DisplayWriter::Result::WriteFailed, QString());
    const auto waited = m_wait.waitUntil([this] { return m_firmware.has_value(); }, IdentifyTimeout);
    if (waited == EventWait::Result::Satisfied)
        return std::nullopt;
    if (waited == EventWait::Result::TimedOut) {
        fail(QStringLiteral("Timeout: das Display an Com #%1 hat sich nicht innerhalb von %2 ms gemeldet.")
                 .arg(m_number)
                 .arg(IdentifyTimeout.count()));
        return ExitStatus::NoAnswer;
    }
    return replyStatus(DisplayWriter::Result::Aborted, QString());
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
    return replyStatus(m_writer->sendAndWait(FrameBuilder::resetFrame()), QStringLiteral("den Reset"));
}

int CliTool::configure()
{
    DisplayConfiguration configuration;
    QString error;
    if (!m_inv.profile.isEmpty()) {
        if (!loadProfile(m_inv.profile, &configuration, &error)) {
            fail(error);
            return ExitStatus::FileFailed;
        }
    } else {
        Catalogue catalogue;
        ReadReport report;
        const bool read = LogDefinitionReader::readFile(m_inv.logDef, catalogue, &report, &error);
        if (!read && report.entries.isEmpty()) {
            fail(error);
            return ExitStatus::FileFailed;
        }
        if (!read)
            warn(error);
        warn(report.warningText());

        configuration.logDefinition = m_inv.logDef;
        configuration.defaultView = static_cast<std::uint8_t>(m_inv.view);
        const qsizetype listed = std::min<qsizetype>(report.entries.size(), MaxListEntries);
        for (auto it = m_inv.slotChannels.cbegin(); it != m_inv.slotChannels.cend(); ++it) {
            // As a pick in the slot's list: the first entry of that exact name.
            int index = -1;
            for (qsizetype i = 0; i < listed && index < 0; ++i)
                if (report.entries.at(i).name == it.value())
                    index = report.entries.at(i).index;
            if (index < 0 || index > Catalogue::LastIndex) {
                fail(QStringLiteral("Kanal „%1“ (--slot %2) steht nicht in %3.")
                         .arg(it.value())
                         .arg(it.key())
                         .arg(m_inv.logDef));
                return ExitStatus::Usage;
            }
            SlotSetting slot;
            slot.channel = it.value();
            slot.name = it.value().left(NameBoxLength);
            slot.number = catalogue.number[index];
            slot.unit = catalogue.unit[index].left(UnitBoxLength);
            slot.divider = catalogue.divider[index];
            configuration.slotSettings[it.key()] = slot;
        }
        // Typed into the boxes, which keep the first 8 (name) or 3 (unit) characters.
        for (auto it = m_inv.names.cbegin(); it != m_inv.names.cend(); ++it) {
            SlotSetting slot = configuration.slotOrBlank(it.key());
            slot.name = it.value().left(NameBoxLength);
            configuration.slotSettings[it.key()] = slot;
        }
        for (auto it = m_inv.units.cbegin(); it != m_inv.units.cend(); ++it) {
            SlotSetting slot = configuration.slotOrBlank(it.key());
            slot.unit = it.value().left(UnitBoxLength);
            configuration.slotSettings[it.key()] = slot;
        }
    }

    if (const auto failed = connectDisplay())
        return *failed;
    const int status =
        replyStatus(m_writer->writeSlotData(configuration), QStringLiteral("einen Schreibbefehl"));
    // The profile records what the display took: only after every frame was answered.
    if (status == ExitStatus::Done && !m_inv.saveProfile.isEmpty()) {
        if (!saveProfile(m_inv.saveProfile, configuration, &error)) {
            fail(error);
            return ExitStatus::FileFailed;
        }
        print(QStringLiteral("Profil gespeichert: %1").arg(m_inv.saveProfile));
    }
    return status;
}

void CliTool::onProgress(int blocksSent, const QString& text)
{
    if (m_progressOnTerminal) {
        std::fputs(("\r" + text + "\033[K").toUtf8().constData(), m_err);
        m_progressStep = blocksSent;
    } else {
        const int step = blocksSent * 10 / UpdateProtocol::BlockCount;
        if (step <= m_progressStep)
            return;
        m_progressStep = step;
        std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), m_err);
    }
    std::fflush(m_err);
}

int CliTool::flash()
{
    QString error;
    const std::optional<qint64> length = FirmwareImage::measure(m_inv.image, &error);
    if (!length) {
        fail(error);
        return ExitStatus::FileFailed;
    }
    if (FirmwareImage::isTooLarge(*length)) {
        fail(QStringLiteral("Datei zu groß! %1 hat %2 Bytes, höchstens %3 sind erlaubt.")
                 .arg(m_inv.image)
                 .arg(*length)
                 .arg(FirmwareImage::SizeLimit));
        return ExitStatus::FileFailed;
    }
    if (const auto failed = openPort())
        return *failed;

    const auto mode = m_inv.recovery ? UpdateProtocol::Mode::Recovery : UpdateProtocol::Mode::Normal;
    QTimer readyTimer; // Timer1 of the update window
    readyTimer.setInterval(UpdateTransfer::ReadyTimeout);
    readyTimer.setSingleShot(true);
    readyTimer.setTimerType(Qt::PreciseTimer);
    UpdateTransfer transfer(*m_port, readyTimer);
    m_transfer = &transfer;
    m_progressOnTerminal = ::isatty(::fileno(m_err)) == 1;
    connect(&transfer, &UpdateTransfer::progress, this,
            [this](int blocks, int, const QString& text) { onProgress(blocks, text); });

    const UpdateTransfer::Outcome outcome = transfer.run(mode, m_inv.image, *length);
    if (m_progressOnTerminal && m_progressStep >= 0)
        std::fputc('\n', m_err);
    m_progressStep = -1;

    const QString recover =
        QStringLiteral("Das Display wartet im Update-Modus: „morvandell-cli flash --port %1 "
                       "--recovery %2“ sendet die Firmware erneut.")
            .arg(m_inv.port, m_inv.image);
    int status = ExitStatus::Done;
    switch (outcome.result) {
    case UpdateTransfer::Result::Finished:
        break;
    case UpdateTransfer::Result::Cancelled:
        m_transfer = nullptr;
        fail(QStringLiteral("Abgebrochen (Strg+C) nach %1 von %2 Blöcken. %3")
                 .arg(outcome.blocksSent)
                 .arg(UpdateProtocol::BlockCount)
                 .arg(recover));
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
        m_transfer = nullptr;
        QString message = outcome.message;
        if (outcome.result == UpdateTransfer::Result::ReadyTimeout)
            message +=
                QStringLiteral(": das Display an Com #%1 hat sich nicht innerhalb von %2 ms zum Update "
                               "bereit gemeldet. Wartet es schon im Update-Modus, hilft --recovery.")
                    .arg(m_number)
                    .arg(UpdateTransfer::ReadyTimeout.count());
        message.replace(
            QStringLiteral("„Update - Recovery“"),
            QStringLiteral("„morvandell-cli flash --port %1 --recovery %2“").arg(m_inv.port, m_inv.image));
        fail(message);
        return status;
    }

    // "Fertig" once the last block is out; "Fertig." when the display reports completion.
    bool completed = transfer.protocol().completed;
    if (!completed && mode == UpdateProtocol::Mode::Normal && m_port->isOpen()) {
        m_firmware.reset();
        completed = m_wait.waitUntil([this] { return m_firmware.has_value(); }, CompletionTimeout) ==
                    EventWait::Result::Satisfied;
    }
    m_transfer = nullptr;
    if (m_interrupt->isInterrupted())
        return interruptedStatus();
    print(completed ? QStringLiteral("Fertig.") : QStringLiteral("Fertig"));
    return ExitStatus::Done;
}

int CliTool::doctor()
{
    // Without --port: every port the directory knows.
    std::fputs((PortDoctor().report(*m_ports, m_inv.port.isEmpty() ? 0 : m_number) + QLatin1Char('\n'))
                   .toUtf8()
                   .constData(),
               m_out);
    std::fflush(m_out);
    return ExitStatus::Done;
}

} // namespace morvandell
