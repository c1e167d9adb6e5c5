#include "control/form1.h"

#include "catalogue/logdefinitionreader.h"
#include "serial/serialservice.h"
#include "ui/combobox.h"
#include "ui/userdialogs.h"
#include "ui/windowstyle.h"
#include "updater/form2.h"
#include "writer/framebuilder.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSet>
#include <QTime>

#include <algorithm>

namespace morvandell {

namespace {

constexpr auto LogDefinitionFolder = "C:\\Program Files (x86)\\Ecumaster\\EMU\\XML\\log\\";

} // namespace

Form1::Form1(std::shared_ptr<const PortDirectory> ports, UserDialogs* dialogs, QWidget* parent)
    : QWidget(parent)
    , m_ports(ports ? std::move(ports) : PortDirectory::fromSystem())
    , m_dialogs(dialogs ? dialogs : &UserDialogs::standard())
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Morvandell:"));
    setFont(windowFont());
    setFixedSize(twips(5010), twips(6330));
    MSComm1 = new SerialService(m_ports, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    MSComm1->setTrace(&m_trace);
    m_writer = new DisplayWriter(*MSComm1, weiter, replyWait, this);
    buildControls();
    connectHandlers();
    setUpProfiles();
    Form_Load();
}

Form1::~Form1()
{
    replyWait.abort();
    delete m_form2;
    // The port closes with the window's children, after the trace it writes into is gone.
    MSComm1->close();
    MSComm1->setTrace(nullptr);
}

void Form1::buildControls()
{
    const QFont bold = windowFont(true);
    const QFont regular = windowFont(false);

    Command1 = place<QPushButton>(this, "Command1", 120, 0, 4815, 375);
    Command1->setText(QStringLiteral("C:\\Programme\\ECUMaster\\log\\xml\\Version*_***.xml"));
    Command1->setToolTip(QStringLiteral("Version.xml der verwendeten Firmware wählen!"));

    Frame1 = place<QGroupBox>(this, "Frame1", 120, 480, 3375, 1695);
    Frame1->setTitle(QStringLiteral("Seite #1"));
    Frame2 = place<QGroupBox>(this, "Frame2", 120, 2160, 3375, 1695);
    Frame2->setTitle(QStringLiteral("Seite #2"));

    const int rowTops[4] = {240, 600, 960, 1320};
    const char* lists[8] = {"Combo1", "Combo2", "Combo3", "Combo4", "Combo6", "Combo7", "Combo8", "Combo9"};
    const char* names[8] = {"Text1", "Text2", "Text3", "Text4", "Text16", "Text15", "Text14", "Text13"};
    const char* units[8] = {"Text5", "Text6", "Text7", "Text8", "Text12", "Text11", "Text10", "Text9"};
    for (int k = 1; k <= SlotCount; ++k) {
        QGroupBox* frame = k <= 4 ? Frame1 : Frame2;
        const int top = rowTops[(k - 1) % 4];
        SlotRow row;
        row.list = place<ComboBox>(frame, lists[k - 1], 120, top, 1500, 315);
        row.list->setText(QStringLiteral("Bitte wählen...."));
        row.name = place<QLineEdit>(frame, names[k - 1], 1680, top, 975, 285);
        row.name->setMaxLength(FrameBuilder::NameWidth);
        row.unit = place<QLineEdit>(frame, units[k - 1], 2760, top, 495, 285);
        row.unit->setMaxLength(FrameBuilder::UnitWidth);
        slotRows[k] = row;
    }
    Combo1 = slotRows[1].list;
    Combo2 = slotRows[2].list;
    Combo3 = slotRows[3].list;
    Combo4 = slotRows[4].list;
    Combo6 = slotRows[5].list;
    Combo7 = slotRows[6].list;
    Combo8 = slotRows[7].list;
    Combo9 = slotRows[8].list;
    Text1 = slotRows[1].name;
    Text2 = slotRows[2].name;
    Text3 = slotRows[3].name;
    Text4 = slotRows[4].name;
    Text16 = slotRows[5].name;
    Text15 = slotRows[6].name;
    Text14 = slotRows[7].name;
    Text13 = slotRows[8].name;
    Text5 = slotRows[1].unit;
    Text6 = slotRows[2].unit;
    Text7 = slotRows[3].unit;
    Text8 = slotRows[4].unit;
    Text12 = slotRows[5].unit;
    Text11 = slotRows[6].unit;
    Text10 = slotRows[7].unit;
    Text9 = slotRows[8].unit;

    Command2 = place<WrapButton>(this, "Command2", 3600, 600, 1335, 3255);
    Command2->setText(QStringLiteral("Daten schreiben"));

    Frame4 = place<QGroupBox>(this, "Frame4", 120, 3840, 3375, 975);
    Frame4->setTitle(QStringLiteral("Einstellungen"));
    Label1 = place<QLabel>(Frame4, "Label1", 120, 240, 1455, 255);
    Label1->setText(QStringLiteral("Standartansicht:"));
    Combo10 = place<ComboBox>(Frame4, "Combo10", 1680, 240, 1575, 315);
    Combo10->setText(QStringLiteral("1"));
    Combo11 = place<ComboBox>(Frame4, "Combo11", 120, 600, 1455, 315);
    Combo11->setText(QStringLiteral("Warnung"));
    Combo11->setEnabled(false);
    Combo12 = place<ComboBox>(Frame4, "Combo12", 1680, 600, 735, 315);
    Combo12->setText(QStringLiteral("Combo12"));
    Combo12->setEnabled(false);
    Text17 = place<QLineEdit>(Frame4, "Text17", 2520, 600, 735, 285);
    Text17->setText(QStringLiteral("Text17"));
    Text17->setEnabled(false);

    Command6 = place<WrapButton>(this, "Command6", 3600, 3960, 1335, 855);
    Command6->setText(QStringLiteral("Einstellungen schreiben"));

    Frame3 = place<QGroupBox>(this, "Frame3", 120, 4800, 4815, 1455);
    Frame3->setTitle(QStringLiteral("Morvandell - Control"));
    Combo5 = place<ComboBox>(Frame3, "Combo5", 120, 240, 975, 315);
    Combo5->setText(QStringLiteral("Port"));
    Command3 = place<QPushButton>(Frame3, "Command3", 1200, 240, 975, 375);
    Command3->setText(QStringLiteral("Connect"));
    Command5 = place<QPushButton>(Frame3, "Command5", 2280, 240, 975, 375);
    Command5->setText(QStringLiteral("Reset"));
    Command4 = place<QPushButton>(Frame3, "Command4", 3360, 240, 1335, 375);
    Command4->setText(QStringLiteral("Firmwareupdate"));
    List1 = place<QListWidget>(Frame3, "List1", 120, 720, 4575, 645);
    List1->setFont(bold);
    List1->setSortingEnabled(false);

    // Group captions bold, their contents regular.
    for (QGroupBox* frame : {Frame1, Frame2, Frame3, Frame4}) {
        frame->setFont(bold);
        for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child != List1)
                child->setFont(regular);
    }
    List1->setFont(bold);
    // "Com #16" must fit the narrow port list beside its arrow.
    Combo5->setFont(narrowWindowFont());
}

void Form1::connectHandlers()
{
    connect(Combo5, &ComboBox::clicked, this, &Form1::Combo5_Click);
    connect(Combo5, &ComboBox::aboutToShowPopup, this, &Form1::Combo5_DropDown);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(MSComm1, &SerialService::received, this, &Form1::MSComm1_OnComm);
    connect(MSComm1, &SerialService::deviceLost, this, &Form1::onDeviceLost);
    // The log's Click is a selection change: a pick with the mouse or the keys.
    connect(List1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!List1->selectedItems().isEmpty())
            List1_Click();
    });
    List1->setContextMenuPolicy(Qt::CustomContextMenu);
    // A right click opens the log's menu; it must not select a line, which would clear the log.
    List1->viewport()->installEventFilter(this);
    connect(List1, &QListWidget::customContextMenuRequested, this, &Form1::showLogMenu);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    for (int k = 1; k <= SlotCount; ++k)
        connect(slotRows[k].list, &ComboBox::clicked, this, [this, k] { slotList_Click(k); });
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    connect(&replyWait, &EventWait::waitingChanged, this,
            [this](bool waiting) { setSendingEnabled(!waiting); });
}

// --- start-up ---------------------------------------------------------------------------------------

void Form1::Form_Load()
{
    // Each port is judged by its own open attempt: listed when it opens, or when it exists but is busy
    // or not permitted (8012). It is closed again at once.
    for (int n = PortDirectory::FirstPort; n <= PortDirectory::LastPort; ++n) {
        MSComm1->setCommPort(n);
        const bool opened = MSComm1->open();
        if (opened || MSComm1->lastError() == SerialError::Unavailable) {
            QString tip = m_ports->toolTip(n);
            if (!opened)
                tip += MSComm1->lastCause() == SerialService::Cause::NoPermission
                           ? QStringLiteral("\n(keine Berechtigung)")
                           : QStringLiteral("\n(belegt)");
            appendPortEntry(n, tip);
        }
        MSComm1->close();
    }

    for (const char* view : {"Seite #1 : 1-4", "Seite #2 : 5-8", "Seite #3 : 1-8"})
        Combo10->appendItem(QString::fromUtf8(view));
    Combo10->setListIndex(0);
    for (const char* comparison : {"na", "=>", "<="})
        Combo12->appendItem(QString::fromUtf8(comparison));
    Combo12->setListIndex(0);
    Text17->setText(QStringLiteral("0"));
    Combo11->setText(QStringLiteral("Warnung"));
}

// --- port choice and connection -----------------------------------------------------------------------

void Form1::appendPortEntry(int number, const QString& toolTip)
{
    Combo5->appendItem(QStringLiteral("Com #%1").arg(number), number);
    Combo5->setItemData(Combo5->count() - 1, toolTip, Qt::ToolTipRole);
}

void Form1::Combo5_DropDown()
{
    // Adapters plugged in since the last look appear, pulled-out ones go; the selected entry and the
    // open port stay even when their device is gone, so that Connect can say so.
    const int index = Combo5->listIndex();
    const int selected = index >= 0 ? Combo5->itemData(index).toInt() : 0;
    QSet<int> inUse;
    if (selected > 0)
        inUse.insert(selected);
    if (MSComm1->isOpen())
        inUse.insert(MSComm1->commPort());
    m_ports->refresh(inUse);

    const QString shown = Combo5->text();
    Combo5->clearList();
    for (int n : m_ports->listed(inUse))
        appendPortEntry(n, m_ports->toolTip(n));
    const int again = selected > 0 ? Combo5->findData(selected) : -1;
    if (again >= 0) {
        Combo5->setListIndex(again);
        Combo5->setToolTip(Combo5->itemData(again, Qt::ToolTipRole).toString());
    } else {
        Combo5->setText(shown);
    }
}

void Form1::Combo5_Click()
{
    const int index = Combo5->listIndex();
    if (index < 0)
        return;
    const QString text = Combo5->itemText(index);
    bool ok = false;
    const int number = text.mid(QStringLiteral("Com #").size()).toInt(&ok);
    if (!text.startsWith(QLatin1String("Com #")) || !ok)
        return;
    MSComm1->setCommPort(number);
    Combo5->setToolTip(Combo5->itemData(index, Qt::ToolTipRole).toString());
    List1->addItem(QStringLiteral("Commport: %1").arg(MSComm1->commPort()));
}

void Form1::Command3_Click()
{
    if (Combo5->listIndex() < 0) {
        m_dialogs->message(this, QString(), QStringLiteral("Bitte Comport wählen"), UserDialogs::Icon::None);
        return;
    }
    if (!MSComm1->isOpen() && !MSComm1->open()) {
        showPortError(QStringLiteral("Com #%1 kann nicht geöffnet werden.").arg(MSComm1->commPort()));
        return;
    }
    if (!writeFrame(FrameBuilder::connectFrame()))
        return;
    comport = static_cast<qint16>(MSComm1->commPort());
}

void Form1::Command4_Click()
{
    if (!m_form2) {
        QPointer<Form1> self(this);
        UpdateHost host;
        host.comport = [self]() {
            return self ? self->comport : std::nullopt;
        };
        host.closePort = [self]() {
            if (self)
                self->serialPort().close();
        };
        m_form2 = new Form2(std::move(host), m_ports, *m_dialogs);
        m_form2->serialPort().setTrace(&m_trace);
    }
    m_form2->loadAndShow();
}

// --- device messages ------------------------------------------------------------------------------------

void Form1::MSComm1_OnComm()
{
    // The writer takes the answers (weiter := 1); the window logs them and takes the identification.
    const QList<DeviceMessage> messages = m_writer->receive();
    rxBuffer = m_writer->framer().buffer();
    for (const DeviceMessage& message : messages) {
        for (int i = 1; i <= 21; ++i)
            rxBytes[i] = static_cast<std::uint8_t>(message.bytes.at(i - 1));
        const QString line = message.logLine(longTimeText(QTime::currentTime()));
        switch (message.type()) {
        case DeviceMessage::Text:
        case DeviceMessage::EepromReport:
            logAtTop(line);
            break;
        case DeviceMessage::Identification:
            logAtTop(line);
            setWindowTitle(QStringLiteral("Morvandell: ") + message.payloadText());
            deviceFound = 1;
            break;
        default:
            break;
        }
    }
}

void Form1::logAtTop(const QString& line)
{
    List1->insertItem(0, line);
}

void Form1::List1_Click()
{
    List1->clear();
}

void Form1::onDeviceLost(const QString& reason)
{
    // Every waiting command ends now; the user hears about it once.
    replyWait.abort();
    if (m_closing)
        return;
    m_dialogs->message(
        this, QStringLiteral("Error"),
        QStringLiteral("Verbindung zu Com #%1 unterbrochen: das Gerät ist nicht mehr erreichbar (%2). "
                       "Der Port wurde geschlossen.")
            .arg(MSComm1->commPort())
            .arg(reason),
        UserDialogs::Icon::Error);
}

// --- frames and the reply wait -----------------------------------------------------------------------

bool Form1::writeFrame(const QByteArray& frame)
{
    if (MSComm1->output(frame))
        return true;
    showPortError(QStringLiteral("Senden an Com #%1 fehlgeschlagen.").arg(MSComm1->commPort()));
    return false;
}

void Form1::showPortError(const QString& what)
{
    m_dialogs->message(this, QStringLiteral("Error"), what + QLatin1Char('\n') + MSComm1->describeLastError(),
                       UserDialogs::Icon::Error);
}

static_assert(Form1::ReplyTimeoutMs == DisplayWriter::ReplyTimeout.count());

bool Form1::reportReply(DisplayWriter::Result result)
{
    switch (result) {
    case DisplayWriter::Result::Answered:
        return true;
    case DisplayWriter::Result::WriteFailed:
        showPortError(QStringLiteral("Senden an Com #%1 fehlgeschlagen.").arg(MSComm1->commPort()));
        return false;
    case DisplayWriter::Result::TimedOut:
        m_dialogs->message(this, QStringLiteral("Error"), QStringLiteral("Timeout"),
                           UserDialogs::Icon::Error);
        return false;
    case DisplayWriter::Result::Aborted:
        return false;
    }
    return false;
}

bool Form1::waitForReply()
{
    return reportReply(m_writer->waitForReply());
}

bool Form1::sendAndWait(const QByteArray& frame)
{
    return reportReply(m_writer->sendAndWait(frame));
}

void Form1::setSendingEnabled(bool enabled)
{
    // Firmwareupdate too: the update window would take the port over under the wait.
    for (QPushButton* b : {Command2, Command6, Command5, Command3, Command4})
        b->setEnabled(enabled);
}

// --- reset, slot data, settings ------------------------------------------------------------------------

void Form1::Command5_Click()
{
    if (deviceFound != 1)
        return;
    sendAndWait(FrameBuilder::resetFrame());
}

quint8 Form1::defaultViewByte() const
{
    const int index = Combo10->listIndex();
    return index < 0 ? 0 : static_cast<quint8>(index + 1);
}

void Form1::Command2_Click()
{
    if (deviceFound != 1)
        return;
    // Boxes are read just before their frame goes out: edits made during earlier waits count.
    const auto slot = [this](int k) {
        SlotSetting setting;
        setting.name = slotRows[k].name->text();
        setting.unit = slotRows[k].unit->text();
        setting.number = slotChannel[k];
        setting.divider = slotDivider[k];
        return setting;
    };
    const DisplayWriter::Result result = m_writer->writeSlotData(slot, [this] { return defaultViewByte(); });
    frameName = m_writer->frameName();
    frameUnit = m_writer->frameUnit();
    reportReply(result);
}

void Form1::Command6_Click()
{
    if (deviceFound != 1)
        return;
    reportReply(m_writer->writeSettings(defaultViewByte()));
}

// --- log-definition file and slot assignment -------------------------------------------------------------

void Form1::Command1_Click()
{
    // Keep what the lists held, so that a run that reads nothing gives them back.
    struct Saved
    {
        QList<QPair<QString, QVariant>> items;
        QString text;
    };
    std::array<Saved, SlotCount + 1> saved;
    for (int k = 1; k <= SlotCount; ++k) {
        ComboBox* list = slotRows[k].list;
        for (int i = 0; i < list->count(); ++i)
            saved[k].items.append({list->itemText(i), list->itemData(i)});
        saved[k].text = list->text();
        list->clearList();
    }
    for (int k = 1; k <= SlotCount; ++k)
        slotRows[k].list->setText(QStringLiteral("Bitte wählen..."));

    auto restore = [&] {
        for (int k = 1; k <= SlotCount; ++k) {
            ComboBox* list = slotRows[k].list;
            for (const auto& item : saved[k].items)
                list->appendItem(item.first, item.second);
            list->setText(saved[k].text);
        }
    };

    const QString folder = QDir(QString::fromLatin1(LogDefinitionFolder)).exists()
                               ? QString::fromLatin1(LogDefinitionFolder)
                               : QDir::homePath();
    const auto chosen =
        m_dialogs->openFileName(this, QStringLiteral("Open"), folder, QStringLiteral("XML Files (*.XML)"));
    if (chosen && !chosen->isEmpty())
        m_lastLogDefinition = *chosen;
    if (!m_lastLogDefinition) {
        restore(); // cancelled before any file was chosen: nothing to read
        return;
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    ReadReport report;
    QString error;
    const bool ok = LogDefinitionReader::readFile(*m_lastLogDefinition, catalogue, &report, &error);
    QApplication::restoreOverrideCursor();
    if (!ok) { // the catalogue is unchanged: give the lists back too
        restore();
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
        return;
    }

    // The report holds at most LogDefinitionReader::MaxEntries names: a file that repeats names on
    // its lines cannot put millions of entries into nine lists.
    for (const CatalogueEntry& entry : report.entries) {
        for (int k = 1; k <= SlotCount; ++k)
            slotRows[k].list->appendItem(entry.name, entry.index);
        Combo11->appendItem(entry.name, entry.index);
    }
    const QString warning = report.warningText();
    if (!warning.isEmpty())
        m_dialogs->message(this, QStringLiteral("Warnung"), warning, UserDialogs::Icon::Warning);
}

void Form1::slotList_Click(int slot)
{
    SlotRow& row = slotRows[slot];
    row.name->setText(row.list->text());
    // The entry knows the catalogue index it came from; no selection reads the never-filled index 0.
    int index = 0;
    if (row.list->listIndex() >= 0)
        index = row.list->itemData(row.list->listIndex()).toInt();
    if (index < 0 || index > Catalogue::LastIndex)
        index = 0;
    slotChannel[slot] = catalogueNumber[index];
    row.unit->setText(catalogueUnit[index]);
    slotDivider[slot] = catalogueDivider[index];
}

// --- connection trace --------------------------------------------------------------------------------

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == List1->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        return true;
    return QWidget::eventFilter(watched, event);
}

void Form1::showLogMenu(const QPoint& position)
{
    // Opened without a loop of its own: a reply wait that runs underneath keeps taking answers.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Verbindungsprotokoll speichern…"), this, &Form1::saveTrace);
    menu->popup(List1->viewport()->mapToGlobal(position));
}

void Form1::saveTrace()
{
    if (!MSComm1->isOpen())
        m_trace.setPort(MSComm1->commPort(), MSComm1->devicePath(), MSComm1->settings().toString());
    const auto path = m_dialogs->saveFileName(
        this, QStringLiteral("Verbindungsprotokoll speichern"),
        QDir::home().filePath(QStringLiteral("morvandell-verbindung.txt")), QStringLiteral("Text (*.txt)"));
    if (!path || path->isEmpty())
        return;
    QString error;
    if (!m_trace.save(*path, &error))
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
}

// --- closing -----------------------------------------------------------------------------------------

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_form2 && m_form2->isTransferring()) {
        // The firmware transfer goes on while the user decides; "Ja" stops it, then this window closes.
        event->ignore();
        QPointer<Form1> self(this);
        m_form2->askToStopTransfer(this, [self] {
            if (self)
                self->close();
        });
        return;
    }
    // A wait for a display that never answers must not keep the program alive.
    m_closing = true;
    replyWait.abort();
    MSComm1->close();
    event->accept();
}

} // namespace morvandell
