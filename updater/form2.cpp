#include "updater/form2.h"

#include "serial/portdirectory.h"
#include "serial/serialservice.h"
#include "ui/userdialogs.h"
#include "ui/windowstyle.h"
#include "updater/firmwareimage.h"
#include "updater/updatetransfer.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace morvandell {

namespace {

constexpr auto Caption = "Firmwareupdate";
constexpr int PortOpenNumber = 14;
constexpr int ProgressMaximum = 130050;
const QColor Green(0x00, 0xFF, 0x00); // 65280

} // namespace

Form2::Form2(UpdateHost host, std::shared_ptr<const PortDirectory> ports, UserDialogs& dialogs)
    : QWidget(nullptr)
    , m_host(std::move(host))
    , m_dialogs(&dialogs)
{
    setObjectName(QStringLiteral("Form2"));
    setFont(windowFont());
    // Port Open lies beyond the right edge; the window can be widened to reach it.
    resize(twips(3960), twips(1905));
    setMinimumSize(size());

    MSComm1 = new SerialService(std::move(ports), this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(UpdateTransfer::ReadyTimeout);
    Timer1->setSingleShot(true);
    Timer1->setTimerType(Qt::PreciseTimer); // a coarse timer may tick up to 5 % early
    m_transfer = new UpdateTransfer(*MSComm1, *Timer1, this);

    buildControls();
    resetControls();

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);
    connect(MSComm1, &SerialService::received, this, &Form2::MSComm1_OnComm);
    connect(MSComm1, &SerialService::deviceLost, this, &Form2::onDeviceLost);
    connect(m_transfer, &UpdateTransfer::progress, this, &Form2::onProgress);
}

Form2::~Form2()
{
    withdrawStopQuestion(); // it may live on in the control window
    m_transfer->cancel();
    MSComm1->close();
}

void Form2::buildControls()
{
    Command1 = place<QPushButton>(this, "Command1", 120, 120, 1815, 375);
    Command3 = place<QPushButton>(this, "Command3", 2040, 120, 1815, 375);
    Command4 = place<QPushButton>(this, "Command4", 4320, 120, 1815, 375);
    Command2 = place<QPushButton>(this, "Command2", 120, 600, 1815, 375);
    Command5 = place<QPushButton>(this, "Command5", 2040, 600, 1815, 375);
    Label1 = place<QLabel>(this, "Label1", 120, 1080, 1815, 255);
    ProgressBar1 = place<QProgressBar>(this, "ProgressBar1", 120, 1440, 3735, 375);

    Command1->setText(QStringLiteral("Load File"));
    Command3->setText(QStringLiteral("Close"));
    Command4->setText(QStringLiteral("Port Open"));
    Command2->setText(QStringLiteral("Update - Normal"));
    Command5->setText(QStringLiteral("Update - Recovery"));
    ProgressBar1->setAccessibleName(QStringLiteral("Fortschritt"));
    ProgressBar1->setRange(0, ProgressMaximum);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Label1);
    setTabOrder(Label1, ProgressBar1);
}

// The controls and the window state as the window is created; every load starts from here.
void Form2::resetControls()
{
    setWindowTitle(QString::fromLatin1(Caption));
    Command1->setEnabled(true);
    Command3->setEnabled(true);
    Command4->setEnabled(true);
    Command2->setEnabled(false);
    Command5->setEnabled(false);
    Command1->setToolTip(QString());
    Label1->setText(QStringLiteral("Status"));
    clearStatusGreen();
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QString());
    Timer1->stop();
    imagePath.clear();
    imageLength.reset();
    m_hasPort = false;
    MSComm1->close();
    MSComm1->setSettings(LineSettings().toString());
}

bool Form2::isTransferring() const
{
    return m_transfer->isRunning();
}

QString Form2::statusText() const
{
    return Label1->text();
}

bool Form2::statusIsGreen() const
{
    return Label1->autoFillBackground() && Label1->palette().color(QPalette::Window) == Green;
}

void Form2::setStatus(const QString& text)
{
    Label1->setText(text);
}

void Form2::setStatusGreen()
{
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::Window, Green);
    Label1->setPalette(palette);
    Label1->setAutoFillBackground(true);
}

void Form2::clearStatusGreen()
{
    Label1->setAutoFillBackground(false);
    Label1->setPalette(QPalette());
}

void Form2::showError(const QString& text)
{
    m_dialogs->message(this, QStringLiteral("Error"), text, UserDialogs::Icon::Error);
}

bool Form2::openPortOrReport()
{
    // The number may belong to an adapter plugged in after start-up.
    MSComm1->directory()->refresh({MSComm1->commPort()});
    if (MSComm1->open())
        return true;
    showError(QStringLiteral("Der Port kann nicht geöffnet werden.\n%1").arg(MSComm1->describeLastError()));
    return false;
}

// --- loading and unloading -------------------------------------------------------------------------

void Form2::loadAndShow()
{
    if (!m_loaded)
        Form_Load();
    const bool wasVisible = isVisible();
    show();
    if (wasVisible) {
        // Already open somewhere behind or minimised: bring it forward.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
    }
    activateWindow();
}

void Form2::Form_Load()
{
    resetControls();
    m_loaded = true;

    const std::optional<qint16> comport = m_host.comport ? m_host.comport() : std::nullopt;
    if (comport && *comport > 0) {
        // Take over the control window's port.
        MSComm1->setCommPort(*comport);
        if (m_host.closePort)
            m_host.closePort();
        setWindowTitle(QStringLiteral("%1 Com:%2").arg(QLatin1String(Caption)).arg(*comport));
        m_hasPort = true;
        openPortOrReport();
        return;
    }

    const std::optional<QString> answer =
        m_dialogs->textPrompt(this, QStringLiteral("Hinweis"), QStringLiteral("Comport:"));
    const QString text = answer.value_or(QString()).trimmed();
    if (text.isEmpty()) {
        Command1->setEnabled(false);
        return;
    }
    // The number alone, or an entry as the port list shows it ("Com #3").
    bool whole = false;
    const QString digits = text.startsWith(QLatin1String("Com #"), Qt::CaseInsensitive) ? text.mid(5) : text;
    const int number = digits.toInt(&whole);
    if (!whole || number < PortDirectory::FirstPort || number > PortDirectory::LastPort) {
        showError(QStringLiteral("„%1“ ist keine Portnummer. Erlaubt sind die ganzen Zahlen %2 bis %3; "
                                 "der Port bleibt geschlossen.")
                      .arg(text)
                      .arg(PortDirectory::FirstPort)
                      .arg(PortDirectory::LastPort));
        // As after Cancel: no port, and nothing to load for one.
        Command1->setEnabled(false);
        return;
    }
    MSComm1->setCommPort(number);
    m_hasPort = true;
    setWindowTitle(QStringLiteral("%1 Com:%2").arg(QLatin1String(Caption)).arg(MSComm1->commPort()));
    MSComm1->setSettings(QString::fromLatin1(UpdateProtocol::UpdateSettings));
    openPortOrReport();
}

void Form2::Form_Unload()
{
    if (!m_loaded || m_unloading)
        return;
    m_unloading = true;
    // A running transfer ends at its current wait; its file closes as it unwinds.
    m_transfer->cancel();
    Timer1->stop();
    MSComm1->close();
    m_loaded = false;
    m_dialogs->message(this, QStringLiteral("Hinweis"), QStringLiteral("Please restart."),
                       UserDialogs::Icon::None);
    m_unloading = false;
}

void Form2::closeEvent(QCloseEvent* event)
{
    if (isTransferring()) {
        // The transfer goes on while the user decides; "Ja" stops it and closes the window then.
        event->ignore();
        askToStopTransfer(this, [this] { close(); });
        return;
    }
    Form_Unload();
    event->accept();
}

bool Form2::askToStopTransfer(QWidget* parent, std::function<void()> afterStop)
{
    if (!isTransferring())
        return false;
    if (m_stopQuestion)
        return true; // already asked
    const QString text =
        QStringLiteral("Das Firmware-Update läuft (Block %1 von %2).\n\nWird es jetzt beendet, bleibt das "
                       "Display im Update-Modus; mit „Update - Recovery“ und derselben Datei lässt es sich "
                       "wieder herstellen.\n\nUpdate beenden?")
            .arg(m_transfer->blocksSent())
            .arg(UpdateProtocol::BlockCount);
    const bool otherWindow = parent != this;
    m_stopQuestion =
        m_dialogs->askWithoutBlocking(parent, QStringLiteral("Firmwareupdate"), text,
                                      [this, otherWindow, afterStop = std::move(afterStop)](bool yes) {
                                          m_stopQuestion = nullptr;
                                          if (!yes)
                                              return;
                                          if (!isTransferring()) {
                                              afterStop();
                                              return;
                                          }
                                          m_afterStop = afterStop;
                                          m_stopForOtherWindow = otherWindow;
                                          m_transfer->cancel();
                                      });
    return true;
}

void Form2::withdrawStopQuestion()
{
    if (!m_stopQuestion)
        return;
    QObject* question = m_stopQuestion;
    m_stopQuestion = nullptr;
    question->disconnect();
    delete question;
}

void Form2::Command3_Click()
{
    close();
}

// --- port ------------------------------------------------------------------------------------------

void Form2::Command4_Click()
{
    if (isTransferring())
        return;
    MSComm1->setCommPort(PortOpenNumber);
    if (!MSComm1->isOpen() && !openPortOrReport())
        return;
    m_hasPort = true;
    Command2->setEnabled(true);
    Command5->setEnabled(true);
    setStatus(QStringLiteral("Warte...."));
}

void Form2::onDeviceLost()
{
    if (isTransferring()) {
        m_transfer->noteDeviceLost();
        return;
    }
    if (!m_loaded)
        return;
    showError(QStringLiteral(
                  "Die Verbindung zu Com #%1 ist abgebrochen (Gerät getrennt?). Der Port ist geschlossen.")
                  .arg(MSComm1->commPort()));
}

// The receiver: the display's one-byte answers, taken in the order they came.
void Form2::MSComm1_OnComm()
{
    const QByteArray chunk = MSComm1->input();
    for (const char c : chunk)
        if (c < 0x05 || c > 0x07)
            return; // line noise: the read holds no answer
    for (const char c : chunk) {
        const auto answer = static_cast<UpdateProtocol::Answer>(c);
        if (answer == UpdateProtocol::Answer::Complete)
            setStatusGreen();
        setStatus(UpdateProtocol::statusText(answer));
        if (answer == UpdateProtocol::Answer::Complete)
            MSComm1->close();
        m_transfer->take(answer);
    }
}

// --- image file --------------------------------------------------------------------------------------

void Form2::Command1_Click()
{
    if (isTransferring())
        return;
    const std::optional<QString> name =
        m_dialogs->openFileName(this, QStringLiteral("Open"), QCoreApplication::applicationDirPath(),
                                QStringLiteral("Binary Files (*.bin)"));
    if (!name || name->isEmpty())
        return; // Cancel keeps the previous choice
    QString error;
    const std::optional<qint64> length = FirmwareImage::measure(*name, &error);
    if (!length) {
        showError(error);
        return;
    }
    imagePath = *name;
    imageLength = *length;
    Command1->setToolTip(FirmwareImage::summary(imagePath, *length));
    if (FirmwareImage::isTooLarge(*length))
        m_dialogs->message(this, QStringLiteral("Error"), QStringLiteral("Datei zu groß!"),
                           UserDialogs::Icon::Error);
    Command2->setEnabled(true);
    Command5->setEnabled(true);
}

// --- transfers ---------------------------------------------------------------------------------------

bool Form2::imageLoadedOrReport()
{
    if (imageLength)
        return true;
    showError(QStringLiteral(
        "Es ist keine Firmware-Datei geladen. Bitte zuerst mit „Load File“ eine Datei wählen."));
    return false;
}

bool Form2::portChosenOrReport()
{
    if (m_hasPort)
        return true;
    showError(QStringLiteral("Es ist kein Port gewählt; es wird nichts gesendet. Bitte das Update-Fenster "
                             "schließen, in der Hauptseite den Port verbinden und das Update-Fenster neu "
                             "öffnen."));
    return false;
}

void Form2::Command2_Click()
{
    if (isTransferring())
        return;
    if (!portChosenOrReport() || !imageLoadedOrReport())
        return;
    if (!MSComm1->isOpen()) {
        showError(QStringLiteral("Der Port Com #%1 ist nicht geöffnet; der Update-Befehl kann nicht gesendet "
                                 "werden.\nEin Display, das schon im Update-Modus wartet, erreicht "
                                 "„Update - Recovery“.")
                      .arg(MSComm1->commPort()));
        return;
    }
    runTransfer(UpdateProtocol::Mode::Normal);
}

void Form2::Command5_Click()
{
    if (isTransferring())
        return;
    if (!portChosenOrReport() || !imageLoadedOrReport())
        return;
    runTransfer(UpdateProtocol::Mode::Recovery);
}

void Form2::runTransfer(UpdateProtocol::Mode mode)
{
    const bool loadWasEnabled = Command1->isEnabled();
    const bool portOpenWasEnabled = Command4->isEnabled();
    for (QPushButton* button : {Command1, Command2, Command4, Command5})
        button->setEnabled(false);
    // The status and the bar tell about this transfer only: nothing of an earlier one stays standing.
    clearStatusGreen();
    setStatus(QStringLiteral("Warte...."));
    ProgressBar1->setValue(UpdateProtocol::imagePosAfter(0));
    ProgressBar1->setFormat(UpdateProtocol::progressText(0, std::nullopt));

    const UpdateTransfer::Outcome outcome = m_transfer->run(mode, imagePath, *imageLength);
    withdrawStopQuestion();
    const auto afterStop = std::exchange(m_afterStop, nullptr);
    if (!m_loaded)
        return; // the window was unloaded under the transfer

    Command1->setEnabled(loadWasEnabled);
    Command4->setEnabled(portOpenWasEnabled);
    Command2->setEnabled(true);
    Command5->setEnabled(true);

    if (outcome.result != UpdateTransfer::Result::Finished) {
        ProgressBar1->setValue(m_transfer->imagePos());
        ProgressBar1->setFormat(UpdateProtocol::progressText(outcome.blocksSent, std::nullopt) +
                                QStringLiteral(" · abgebrochen"));
        const bool timedOut = outcome.result == UpdateTransfer::Result::ReadyTimeout ||
                              outcome.result == UpdateTransfer::Result::AckTimeout;
        setStatus(timedOut ? QStringLiteral("Timeout") : QStringLiteral("Abgebrochen."));
        if (outcome.displayTouched)
            Command5->setFocus(Qt::OtherFocusReason); // the way back
        if (afterStop && !m_stopForOtherWindow) {
            afterStop(); // closing this window: "Please restart." follows
            return;
        }
        if (afterStop) {
            // Stopped for the control window's closing: this window stays with the way back, the port
            // closed as after any stop.
            MSComm1->close();
            afterStop();
        }
        showError(outcome.message);
        return;
    }
    // A completion byte that already came ("Fertig.") says more than "Fertig"; keep it.
    if (m_transfer->protocol().completed)
        return;
    if (mode == UpdateProtocol::Mode::Normal)
        setStatusGreen();
    setStatus(QStringLiteral("Fertig"));
}

void Form2::onProgress(int blocksSent, int imagePos, const QString& text)
{
    Q_UNUSED(blocksSent);
    ProgressBar1->setValue(imagePos);
    ProgressBar1->setFormat(text);
}

} // namespace morvandell
