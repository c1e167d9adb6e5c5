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
#include <QPushButton>
#include <QTime>

#include <algorithm>

namespace morvandell {

namespace {

constexpr qsizetype MaxListEntries = 1024;
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
    buildControls();
    connectHandlers();
    Form_Load();
}

Form1::~Form1()
{
    replyWait.abort();
    delete m_form2;
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
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(MSComm1, &SerialService::received, this, &Form1::MSComm1_OnComm);
    connect(MSComm1, &SerialService::deviceLost, this, &Form1::onDeviceLost);
    connect(List1, &QListWidget::itemClicked, this, &Form1::List1_Click);
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
            const PortDirectory::Entry entry = m_ports->entry(n);
            QString tip = entry.device;
            if (!entry.description.isEmpty())
                tip += QStringLiteral(" – ") + entry.description;
            if (!opened)
                tip += MSComm1->lastCause() == SerialService::Cause::NoPermission
                           ? QStringLiteral(" (keine Berechtigung)")
                           : QStringLiteral(" (belegt)");
            Combo5->appendItem(QStringLiteral("Com #%1").arg(n), n);
            Combo5->setItemData(Combo5->count() - 1, tip, Qt::ToolTipRole);
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
    }
    m_form2->loadAndShow();
}

// --- device messages ------------------------------------------------------------------------------------

void Form1::MSComm1_OnComm()
{
    const QByteArray bytes = MSComm1->input();
    if (bytes.isEmpty())
        return;
    const QList<DeviceMessage> messages = m_framer.feed(bytes);
    rxBuffer = m_framer.buffer();
    for (const DeviceMessage& message : messages) {
        for (int i = 1; i <= 21; ++i)
            rxBytes[i] = static_cast<std::uint8_t>(message.bytes.at(i - 1));
        const QString line = message.logLine(longTimeText(QTime::currentTime()));
        switch (message.type()) {
        case DeviceMessage::Text:
        case DeviceMessage::EepromReport:
            logAtTop(line);
            weiter = 1;
            replyWait.wake();
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

bool Form1::waitForReply()
{
    weiter = 0;
    const auto result =
        replyWait.waitUntil([this] { return weiter == 1; }, std::chrono::milliseconds(ReplyTimeoutMs));
    switch (result) {
    case EventWait::Result::Satisfied:
        return true;
    case EventWait::Result::TimedOut:
        m_dialogs->message(this, QStringLiteral("Error"), QStringLiteral("Timeout"),
                           UserDialogs::Icon::Error);
        return false;
    case EventWait::Result::Aborted:
        return false;
    }
    return false;
}

bool Form1::sendAndWait(const QByteArray& frame)
{
    return writeFrame(frame) && waitForReply();
}

void Form1::setSendingEnabled(bool enabled)
{
    for (QPushButton* b : {Command2, Command6, Command5, Command3})
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
    for (int k = 1; k <= SlotCount; ++k) {
        // Boxes are read just before their frame goes out: edits made during earlier waits count.
        frameName = FrameBuilder::fitText(slotRows[k].name->text(), FrameBuilder::NameWidth);
        frameUnit = FrameBuilder::fitText(slotRows[k].unit->text(), FrameBuilder::UnitWidth);
        if (!sendAndWait(
                FrameBuilder::slotFrameFitted(k, frameName, slotChannel[k], slotDivider[k], frameUnit)))
            return;
    }
    sendAndWait(FrameBuilder::settingsFrame(defaultViewByte()));
}

void Form1::Command6_Click()
{
    if (deviceFound != 1)
        return;
    sendAndWait(FrameBuilder::settingsFrame(defaultViewByte()));
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
    if (!ok && report.entries.isEmpty()) {
        restore();
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
        return;
    }

    // A channel line carries one name; a file that repeats names on its lines could otherwise put
    // millions of entries into nine lists.
    const qsizetype shown = std::min<qsizetype>(report.entries.size(), MaxListEntries);
    for (qsizetype i = 0; i < shown; ++i) {
        const CatalogueEntry& entry = report.entries.at(i);
        for (int k = 1; k <= SlotCount; ++k)
            slotRows[k].list->appendItem(entry.name, entry.index);
        Combo11->appendItem(entry.name, entry.index);
    }
    if (!ok)
        m_dialogs->message(this, QStringLiteral("Error"), error, UserDialogs::Icon::Error);
    QString warning = report.warningText();
    if (report.entries.size() > shown)
        warning += QStringLiteral("%1%2 weitere Namen wurden nicht in die Listen aufgenommen (höchstens %3).")
                       .arg(warning.isEmpty() ? QString() : QStringLiteral("\n"))
                       .arg(report.entries.size() - shown)
                       .arg(MaxListEntries);
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
