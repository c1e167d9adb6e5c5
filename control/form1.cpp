#include "control/form1.h"

#include "catalogue/logdefinitionreader.h"
#include "platform/files.h"
#include "platform/text.h"
#include "serial/portlist.h"
#include "ui/model/userguide.h"
#include "updater/form2.h"
#include "writer/framebuilder.h"

#include <chrono>
#include <set>

namespace morvandell {

namespace {

constexpr auto LogDefinitionFolder = "C:\\Program Files (x86)\\Ecumaster\\EMU\\XML\\log\\";
constexpr auto ChooseText = "Bitte wählen...";

} // namespace

Form1::Form1(ui::FrontEnd& frontEnd, std::shared_ptr<const PortDirectory> ports)
    : m_frontEnd(frontEnd)
    , m_ports(ports ? std::move(ports) : PortDirectory::fromSystem())
    , MSComm1(frontEnd.loop(), m_ports)
    , replyWait(frontEnd.loop())
    , m_writer(MSComm1, weiter, replyWait)
{
    // The port scan's open attempts run while the window is built.
    m_startUpScan = PortList::start(*m_ports, MSComm1.settings());
    m_view = m_frontEnd.createWindow(definition(), *this);
    // An adapter that passes received bytes on at its event character hands each device message over
    // as soon as its last byte has arrived, instead of holding it for its latency timer.
    MSComm1.setEventChar(DeviceMessage::LastByte);
    MSComm1.setTrace(&m_trace);
    MSComm1.received.connect([this] { MSComm1_OnComm(); });
    MSComm1.deviceLost.connect([this](const std::string& reason) { onDeviceLost(reason); });
    replyWait.waitingChanged.connect([this](bool) { updateControlStates(); });
    Form_Load();
}

Form1::~Form1()
{
    *m_alive = false;
    replyWait.abort();
    m_form2.reset();
    // The port closes before the trace it writes into is gone.
    MSComm1.close();
    MSComm1.setTrace(nullptr);
    m_view.reset();
}

// --- events ------------------------------------------------------------------------------------------

int Form1::slotOfList(const std::string& control) const
{
    for (int k = 1; k <= SlotCount; ++k)
        if (control == slotRows()[std::size_t(k)].list)
            return k;
    return 0;
}

namespace {

// The buttons whose handlers open a dialog or wait for the display.
constexpr const char* HeldDuringUpdate[] = {"Command1", "Command2", "Command3", "Command5", "Command6"};

} // namespace

void Form1::click(const std::string& control)
{
    if (m_updateTransferring)
        for (const char* held : HeldDuringUpdate)
            if (control == held)
                return;
    if (control == "Combo5")
        Combo5_Click();
    else if (control == "Command3")
        Command3_Click();
    else if (control == "Command4")
        Command4_Click();
    else if (control == "List1")
        List1_Click();
    else if (control == "Command5")
        Command5_Click();
    else if (control == "Command1")
        Command1_Click();
    else if (control == "Command2")
        Command2_Click();
    else if (control == "Command6")
        Command6_Click();
    else if (const int slot = slotOfList(control))
        slotList_Click(slot);
}

void Form1::dropDown(const std::string& control)
{
    if (control == "Combo5" && !m_updateTransferring)
        Combo5_DropDown();
}

void Form1::command(const std::string& id)
{
    if (!commandEnabled(id))
        return;
    if (id == SaveProfileCommand)
        saveProfileClicked();
    else if (id == LoadProfileCommand)
        loadProfileClicked();
    else if (id == SaveTraceCommand)
        saveTrace();
    else if (id == ui::userguide::Command)
        ui::userguide::open(m_frontEnd, m_view.get());
}

bool Form1::commandEnabled(const std::string& id) const
{
    // A file dialog opened during a reply wait or the update window's transfer would hold it up; a load
    // would change the slots under a running write.
    if (id == SaveProfileCommand || id == LoadProfileCommand)
        return !replyWait.isWaiting() && !m_updateTransferring;
    if (id == SaveTraceCommand)
        return !m_updateTransferring;
    // Its message (a guide that is missing) would hold up a wait, or a transfer of the update window.
    if (id == ui::userguide::Command)
        return !replyWait.isWaiting() && !m_updateTransferring;
    return true;
}

// --- start-up ---------------------------------------------------------------------------------------

void Form1::Form_Load()
{
    // Each port is judged by its own open attempt: listed when it opens, or when it exists but is busy
    // or not permitted (8012). It is closed again at once.
    const std::vector<PortList::Entry> listed =
        m_startUpScan ? m_startUpScan->list() : PortList::scan(*m_ports, MSComm1.settings());
    m_startUpScan.reset();
    for (const PortList::Entry& entry : listed)
        appendPortEntry(entry.number, entry.toolTip);
    MSComm1.setCommPort(PortDirectory::LastPort); // CommPort holds the last number scanned

    for (const char* view : {"Seite #1 : 1-4", "Seite #2 : 5-8", "Seite #3 : 1-8"})
        m_view->addItem("Combo10", view);
    m_view->setListIndex("Combo10", 0);
    for (const char* comparison : {"na", "=>", "<="})
        m_view->addItem("Combo12", comparison);
    m_view->setListIndex("Combo12", 0);
    m_view->setText("Text17", "0");
    m_view->setText("Combo11", "Warnung");
}

// --- port choice and connection -----------------------------------------------------------------------

void Form1::appendPortEntry(int number, const std::string& toolTip)
{
    m_view->addItem("Combo5", "Com #" + std::to_string(number), toolTip);
    m_portEntries.push_back(number);
    m_portToolTips.push_back(toolTip);
}

void Form1::Combo5_DropDown()
{
    // Adapters plugged in since the last look appear, pulled-out ones go, each judged as at start-up;
    // the selected entry and the open port stay even when their device is gone, so that Connect can say so.
    const int index = m_view->listIndex("Combo5");
    const int selected = index >= 0 && index < int(m_portEntries.size()) ? m_portEntries[std::size_t(index)] : 0;
    const int open = MSComm1.isOpen() ? MSComm1.commPort() : 0;
    std::set<int> inUse;
    for (const int n : {selected, open})
        if (n > 0)
            inUse.insert(n);
    m_ports->refresh(inUse);
    const std::vector<PortList::Entry> listed = PortList::scan(*m_ports, MSComm1.settings(), inUse, open);

    const std::string shown = m_view->text("Combo5");
    m_view->clearItems("Combo5");
    m_portEntries.clear();
    m_portToolTips.clear();
    int again = -1;
    for (const PortList::Entry& entry : listed) {
        if (entry.number == selected)
            again = int(m_portEntries.size());
        appendPortEntry(entry.number, entry.toolTip);
    }
    if (again >= 0) {
        m_view->setListIndex("Combo5", again);
        m_view->setToolTip("Combo5", m_portToolTips[std::size_t(again)]);
    } else {
        m_view->setText("Combo5", shown);
    }
}

void Form1::Combo5_Click()
{
    const int index = m_view->listIndex("Combo5");
    if (index < 0 || index >= int(m_portEntries.size()))
        return;
    MSComm1.setCommPort(m_portEntries[std::size_t(index)]);
    m_view->setToolTip("Combo5", m_portToolTips[std::size_t(index)]);
    m_view->addItem("List1", "Commport: " + std::to_string(MSComm1.commPort()));
}

void Form1::Command3_Click()
{
    if (m_view->listIndex("Combo5") < 0) {
        m_frontEnd.dialogs().message(m_view.get(), "", "Bitte Comport wählen", ui::Dialogs::Icon::None);
        return;
    }
    if (!MSComm1.isOpen() && !MSComm1.open()) {
        showPortError(text::arg("Com #%1 kann nicht geöffnet werden.", {MSComm1.commPort()}));
        return;
    }
    if (!writeFrame(FrameBuilder::connectFrame()))
        return;
    comport = static_cast<std::int16_t>(MSComm1.commPort());
}

void Form1::Command4_Click()
{
    if (!m_form2) {
        std::weak_ptr<bool> alive = m_alive;
        UpdateHost host;
        host.comport = [this, alive]() { return alive.lock() ? comport : std::nullopt; };
        host.closePort = [this, alive]() {
            if (alive.lock())
                MSComm1.close();
        };
        host.otherWindowOpen = [this, alive]() {
            return alive.lock() && !m_closing && m_view->isWindowVisible();
        };
        m_form2 = std::make_unique<Form2>(m_frontEnd, std::move(host), m_ports);
        m_form2->serialPort().setTrace(&m_trace);
        m_form2->transferringChanged.connect([this, alive](bool transferring) {
            if (!alive.lock())
                return;
            m_updateTransferring = transferring;
            updateControlStates();
        });
    }
    m_form2->loadAndShow();
}

// --- device messages ------------------------------------------------------------------------------------

void Form1::MSComm1_OnComm()
{
    // The writer takes the answers (weiter := 1); the window logs them and takes the identification.
    const std::vector<DeviceMessage> messages = m_writer.receive();
    rxBuffer = m_writer.framer().buffer();
    for (const DeviceMessage& message : messages) {
        for (int i = 1; i <= 21; ++i)
            rxBytes[std::size_t(i)] = message.bytes.at(std::size_t(i - 1));
        const std::string line = message.logLine(text::longTimeText(std::chrono::system_clock::now()));
        switch (message.type()) {
        case DeviceMessage::Text:
        case DeviceMessage::EepromReport:
            logAtTop(line);
            break;
        case DeviceMessage::Identification:
            logAtTop(line);
            m_view->setCaption("Morvandell: " + message.payloadText());
            deviceFound = 1;
            break;
        default:
            break;
        }
    }
}

void Form1::logAtTop(const std::string& line)
{
    m_view->insertItem("List1", 0, line);
}

void Form1::List1_Click()
{
    m_view->clearItems("List1");
}

void Form1::onDeviceLost(const std::string& reason)
{
    // Every waiting command ends now; the user hears about it once.
    replyWait.abort();
    if (m_closing)
        return;
    showError(text::arg("Verbindung zu Com #%1 unterbrochen: das Gerät ist nicht mehr erreichbar (%2). "
                        "Der Port wurde geschlossen.",
                        {MSComm1.commPort(), reason}));
}

// --- frames and the reply wait -----------------------------------------------------------------------

bool Form1::writeFrame(const Bytes& frame)
{
    if (MSComm1.output(frame))
        return true;
    showPortError(text::arg("Senden an Com #%1 fehlgeschlagen.", {MSComm1.commPort()}));
    return false;
}

void Form1::showError(const std::string& text)
{
    m_frontEnd.dialogs().message(m_view.get(), "Error", text, ui::Dialogs::Icon::Error);
}

void Form1::showPortError(const std::string& what)
{
    showError(what + "\n" + MSComm1.describeLastError());
}

static_assert(Form1::ReplyTimeoutMs == DisplayWriter::ReplyTimeout.count());

bool Form1::reportReply(DisplayWriter::Result result)
{
    switch (result) {
    case DisplayWriter::Result::Answered:
        return true;
    case DisplayWriter::Result::WriteFailed:
        showPortError(text::arg("Senden an Com #%1 fehlgeschlagen.", {MSComm1.commPort()}));
        return false;
    case DisplayWriter::Result::TimedOut:
        showError("Timeout");
        return false;
    case DisplayWriter::Result::Aborted:
        return false;
    }
    return false;
}

bool Form1::waitForReply()
{
    return reportReply(m_writer.waitForReply());
}

bool Form1::sendAndWait(const Bytes& frame)
{
    return reportReply(m_writer.sendAndWait(frame));
}

void Form1::updateControlStates()
{
    if (!m_view)
        return;
    const bool waiting = replyWait.isWaiting();
    const ui::FormSpec table = definition(); // the window's own tool tips, shown when no transfer runs
    for (const char* button : HeldDuringUpdate) {
        const bool heldByWait = waiting && std::string(button) != "Command1";
        m_view->setEnabled(button, !m_updateTransferring && !heldByWait);
        const ui::ControlSpec* def = table.find(button);
        m_view->setToolTip(button, m_updateTransferring ? UnavailableDuringUpdate : def ? def->toolTip : "");
    }
    // Firmwareupdate too: the update window would take the port over under the wait; and the port list,
    // whose pick would close the port under the wait. The list also stays shut while the update window
    // sends: dropping down, it tries every port again on this thread, up to a port's open time limit.
    m_view->setEnabled("Command4", !waiting);
    m_view->setEnabled("Combo5", !waiting && !m_updateTransferring);
    const int port = m_view->listIndex("Combo5");
    const ui::ControlSpec* ports = table.find("Combo5");
    const std::string portToolTip = port >= 0 && port < int(m_portToolTips.size()) ? m_portToolTips[std::size_t(port)]
                                    : ports                                       ? ports->toolTip
                                                                                  : "";
    m_view->setToolTip("Combo5", m_updateTransferring ? UnavailableDuringUpdate : portToolTip);
}

// --- reset, slot data, settings ------------------------------------------------------------------------

void Form1::Command5_Click()
{
    if (deviceFound != 1)
        return;
    sendAndWait(FrameBuilder::resetFrame());
}

std::uint8_t Form1::defaultViewByte() const
{
    const int index = m_view->listIndex("Combo10");
    return index < 0 ? 0 : static_cast<std::uint8_t>(index + 1);
}

void Form1::Command2_Click()
{
    if (deviceFound != 1)
        return;
    // Boxes are read just before their frame goes out: edits made during earlier waits count.
    const auto slot = [this](int k) {
        SlotSetting setting;
        setting.name = m_view->text(slotRows()[std::size_t(k)].name);
        setting.unit = m_view->text(slotRows()[std::size_t(k)].unit);
        setting.number = slotChannel[std::size_t(k)];
        setting.divider = slotDivider[std::size_t(k)];
        return setting;
    };
    const DisplayWriter::Result result = m_writer.writeSlotData(slot, [this] { return defaultViewByte(); });
    frameName = m_writer.frameName();
    frameUnit = m_writer.frameUnit();
    reportReply(result);
    reportDifferences();
}

void Form1::Command6_Click()
{
    if (deviceFound != 1)
        return;
    reportReply(m_writer.writeSettings(defaultViewByte()));
    reportDifferences();
}

void Form1::reportDifferences()
{
    // The display reported a record other than the one sent: never a silent success. Records answered
    // before a time-out count too.
    const std::string report = differenceReport(m_writer.verdicts());
    if (!report.empty() && !m_closing)
        showError(report);
}

// --- log-definition file and slot assignment -------------------------------------------------------------

void Form1::Command1_Click()
{
    const std::string folder =
        files::isDirectory(LogDefinitionFolder) ? std::string(LogDefinitionFolder) : files::homeFolder();
    const auto chosen = m_frontEnd.dialogs().openFileName(m_view.get(), "Open", folder, "XML Files (*.XML)");
    if (chosen && !chosen->empty())
        m_lastLogDefinition = *chosen;
    if (!m_lastLogDefinition)
        return; // cancelled before any file was chosen: nothing to read
    // Once Command1 has read a file, that file is the one a profile names; until then (Cancel, a file
    // that cannot be read) the loaded profile's stays.
    if (readLogDefinition(*m_lastLogDefinition, nullptr))
        m_profileLogDefinition.reset();
}

// Reads the file into the catalogue and the lists. The lists are emptied first; a run that reads
// nothing (the file cannot be read) gives them back as they were, and the catalogue is unchanged then.
bool Form1::readLogDefinition(const std::string& path, bool* errorShown)
{
    struct Saved
    {
        std::vector<std::string> items;
        std::vector<int> entries;
        std::string text;
    };
    std::array<Saved, SlotCount + 1> saved;
    for (int k = 1; k <= SlotCount; ++k) {
        const char* list = slotRows()[std::size_t(k)].list;
        for (int i = 0; i < m_view->itemCount(list); ++i)
            saved[std::size_t(k)].items.push_back(m_view->itemText(list, i));
        saved[std::size_t(k)].entries = m_slotEntries[std::size_t(k)];
        saved[std::size_t(k)].text = m_view->text(list);
        m_view->clearItems(list);
        m_slotEntries[std::size_t(k)].clear();
        m_view->setText(list, ChooseText);
    }

    m_view->setBusy(true);
    ReadReport report;
    std::string error;
    const bool ok = LogDefinitionReader::readFile(path, catalogue, &report, &error);
    m_view->setBusy(false);
    if (!ok) {
        for (int k = 1; k <= SlotCount; ++k) {
            const char* list = slotRows()[std::size_t(k)].list;
            for (const std::string& item : saved[std::size_t(k)].items)
                m_view->addItem(list, item);
            m_slotEntries[std::size_t(k)] = saved[std::size_t(k)].entries;
            m_view->setText(list, saved[std::size_t(k)].text);
        }
        if (errorShown)
            *errorShown = true;
        showError(error);
        return false;
    }

    // The report holds at most LogDefinitionReader::MaxEntries names: a file that repeats names on
    // its lines cannot put millions of entries into nine lists.
    for (const CatalogueEntry& entry : report.entries) {
        for (int k = 1; k <= SlotCount; ++k) {
            m_view->addItem(slotRows()[std::size_t(k)].list, entry.name);
            m_slotEntries[std::size_t(k)].push_back(entry.index);
        }
        m_view->addItem("Combo11", entry.name);
        m_warningEntries.push_back(entry.index);
    }
    const std::string warning = report.warningText();
    if (!warning.empty())
        m_frontEnd.dialogs().message(m_view.get(), "Warnung", warning, ui::Dialogs::Icon::Warning);
    return true;
}

void Form1::slotList_Click(int slot)
{
    const SlotRow& row = slotRows()[std::size_t(slot)];
    const int position = m_view->listIndex(row.list);
    // Remember the entry of every pick for profiles; a pick without an entry names no channel.
    m_pickedChannel[std::size_t(slot)] = position >= 0 ? m_view->itemText(row.list, position) : std::string();
    m_view->setText(row.name, text::left(m_view->text(row.list), FrameBuilder::NameWidth));
    // The entry knows the catalogue index it came from; no selection reads the never-filled index 0.
    int index = 0;
    const std::vector<int>& entries = m_slotEntries[std::size_t(slot)];
    if (position >= 0 && position < int(entries.size()))
        index = entries[std::size_t(position)];
    if (index < 0 || index > Catalogue::LastIndex)
        index = 0;
    slotChannel[std::size_t(slot)] = catalogueNumber[std::size_t(index)];
    m_view->setText(row.unit, text::left(catalogueUnit[std::size_t(index)], FrameBuilder::UnitWidth));
    slotDivider[std::size_t(slot)] = catalogueDivider[std::size_t(index)];
}

// --- connection trace --------------------------------------------------------------------------------

void Form1::saveTrace()
{
    if (!MSComm1.isOpen())
        m_trace.setPort(MSComm1.commPort(), MSComm1.devicePath(), MSComm1.settings().toString());
    const auto path = m_frontEnd.dialogs().saveFileName(
        m_view.get(), "Verbindungsprotokoll speichern",
        files::join(files::homeFolder(), "morvandell-verbindung.txt"), "Text (*.txt)");
    if (!path || path->empty())
        return;
    std::string error;
    if (!m_trace.save(*path, &error))
        showError(error);
}

// --- closing -----------------------------------------------------------------------------------------

bool Form1::closeRequested()
{
    if (m_form2 && m_form2->isTransferring()) {
        // The firmware transfer goes on while the user decides; "Ja" stops it, then this window closes.
        std::weak_ptr<bool> alive = m_alive;
        m_form2->askToStopTransfer(m_view.get(), [this, alive] {
            if (alive.lock())
                closeNow();
        });
        return false;
    }
    // A wait for a display that never answers must not keep the program alive.
    m_closing = true;
    replyWait.abort();
    MSComm1.close();
    if (!m_form2 || !m_form2->isWindowVisible())
        m_frontEnd.quit();
    return true;
}

void Form1::closeNow()
{
    if (closeRequested())
        m_view->hideWindow();
}

void Form1::unload()
{
    m_closing = true;
    replyWait.abort();
    MSComm1.close();
}

} // namespace morvandell
