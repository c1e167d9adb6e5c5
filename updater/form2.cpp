#include "updater/form2.h"

#include "platform/files.h"
#include "platform/text.h"
#include "serial/portdirectory.h"
#include "ui/model/userguide.h"
#include "updater/firmwareimage.h"

#include <utility>

namespace morvandell {

namespace {

constexpr auto Caption = "Firmwareupdate";

ui::ControlSpec control(const char* name, ui::ControlKind kind, int left, int top, int width, int height,
                        const char* text, bool enabled = true)
{
    ui::ControlSpec c;
    c.name = name;
    c.kind = kind;
    c.geometry = {left, top, width, height};
    c.text = text;
    c.enabled = enabled;
    return c;
}

} // namespace

ui::FormSpec Form2::definition()
{
    using K = ui::ControlKind;
    ui::FormSpec f;
    f.name = "Form2";
    f.caption = Caption;
    f.clientWidth = 3960;
    f.clientHeight = 1905;
    // Port Open lies beyond the right edge; the window can be widened to reach it.
    f.fixedSize = false;
    // In tab order.
    f.controls = {
        control("Command1", K::Button, 120, 120, 1815, 375, "Load File"),
        control("Command2", K::Button, 120, 600, 1815, 375, "Update - Normal", false),
        control("Command3", K::Button, 2040, 120, 1815, 375, "Close"),
        control("Command4", K::Button, 4320, 120, 1815, 375, "Port Open"),
        control("Command5", K::Button, 2040, 600, 1815, 375, "Update - Recovery", false),
        control("Label1", K::Label, 120, 1080, 1815, 255, "Status"),
        control("ProgressBar1", K::ProgressBar, 120, 1440, 3735, 375, ""),
    };
    f.controls.back().accessibleName = "Fortschritt";
    f.windowMenu = {ui::userguide::menuItem()};
    return f;
}

Form2::Form2(ui::FrontEnd& frontEnd, UpdateHost host, std::shared_ptr<const PortDirectory> ports)
    : m_frontEnd(frontEnd)
    , m_host(std::move(host))
    , MSComm1(frontEnd.loop(), std::move(ports))
    , m_transfer(MSComm1)
{
    m_view = m_frontEnd.createWindow(definition(), *this);
    MSComm1.received.connect([this] { MSComm1_OnComm(); });
    MSComm1.deviceLost.connect([this](const std::string&) { onDeviceLost(); });
    m_transfer.progress.connect(
        [this](int blocks, int pos, const std::string& text) { onProgress(blocks, pos, text); });
    resetControls();
}

Form2::~Form2()
{
    *m_alive = false;
    withdrawStopQuestion(); // it may live on in the control window
    m_transfer.cancel();
    MSComm1.close();
    m_view.reset();
}

void Form2::click(const std::string& control)
{
    if (control == "Command1")
        Command1_Click();
    else if (control == "Command2")
        Command2_Click();
    else if (control == "Command3")
        Command3_Click();
    else if (control == "Command4")
        Command4_Click();
    else if (control == "Command5")
        Command5_Click();
}

void Form2::command(const std::string& id)
{
    if (id == ui::userguide::Command && commandEnabled(id))
        ui::userguide::open(m_frontEnd, m_view.get());
}

bool Form2::commandEnabled(const std::string& id) const
{
    // Its message (a guide that is missing) would hold the transfer up.
    return id != ui::userguide::Command || !m_transfer.isRunning();
}

// The controls and the window state as the window is created; every load starts from here.
void Form2::resetControls()
{
    m_view->setCaption(Caption);
    for (const char* button : {"Command1", "Command3", "Command4"})
        m_view->setEnabled(button, true);
    m_view->setEnabled("Command2", false);
    m_view->setEnabled("Command5", false);
    m_view->setToolTip("Command1", "");
    m_view->setText("Label1", "Status");
    m_view->setBackColor("Label1", std::nullopt);
    m_view->setRange("ProgressBar1", 0, ProgressMaximum);
    m_view->setValue("ProgressBar1", 0);
    m_view->setText("ProgressBar1", "");
    imagePath.clear();
    imageLength.reset();
    m_image.reset();
    m_hasPort = false;
    MSComm1.close();
    MSComm1.setSettings(LineSettings().toString());
}

std::string Form2::statusText() const
{
    return m_view->text("Label1");
}

bool Form2::statusIsGreen() const
{
    return m_view->backColor("Label1") == std::optional<std::uint32_t>(Green);
}

void Form2::setStatus(const std::string& text)
{
    m_view->setText("Label1", text);
}

void Form2::showError(const std::string& text)
{
    dialogs().message(m_view.get(), "Error", text, ui::Dialogs::Icon::Error);
}

bool Form2::openPortOrReport()
{
    // The number may belong to an adapter plugged in after start-up.
    MSComm1.directory()->refresh({MSComm1.commPort()});
    if (MSComm1.open())
        return true;
    showError("Der Port kann nicht geöffnet werden.\n" + MSComm1.describeLastError());
    return false;
}

// --- loading and unloading -------------------------------------------------------------------------

void Form2::loadAndShow()
{
    if (!m_loaded)
        Form_Load();
    m_view->showWindow();
}

void Form2::Form_Load()
{
    resetControls();
    m_loaded = true;

    const std::optional<std::int16_t> comport = m_host.comport ? m_host.comport() : std::nullopt;
    if (comport && *comport > 0) {
        // Take over the control window's port.
        MSComm1.setCommPort(*comport);
        if (m_host.closePort)
            m_host.closePort();
        m_view->setCaption(text::arg("%1 Com:%2", {Caption, *comport}));
        m_hasPort = true;
        openPortOrReport();
        return;
    }

    const std::optional<std::string> answer = dialogs().textPrompt(m_view.get(), "Hinweis", "Comport:");
    const std::string typed = text::trimmed(answer.value_or(std::string()));
    if (typed.empty()) {
        m_view->setEnabled("Command1", false);
        return;
    }
    // The number alone, or an entry as the port list shows it ("Com #3").
    const std::string digits =
        text::startsWith(text::asciiLower(typed), "com #") ? text::trimmed(typed.substr(5)) : typed;
    const std::optional<long long> number = text::toInteger(digits);
    if (!number || *number < PortDirectory::FirstPort || *number > PortDirectory::LastPort) {
        showError(text::arg("„%1“ ist keine Portnummer. Erlaubt sind die ganzen Zahlen %2 bis %3; "
                            "der Port bleibt geschlossen.",
                            {typed, PortDirectory::FirstPort, PortDirectory::LastPort}));
        // As after Cancel: no port, and nothing to load for one.
        m_view->setEnabled("Command1", false);
        return;
    }
    MSComm1.setCommPort(int(*number));
    m_hasPort = true;
    m_view->setCaption(text::arg("%1 Com:%2", {Caption, MSComm1.commPort()}));
    MSComm1.setSettings(UpdateProtocol::UpdateSettings);
    openPortOrReport();
}

void Form2::Form_Unload()
{
    if (!m_loaded || m_unloading)
        return;
    m_unloading = true;
    // A running transfer ends at its current wait; its file closes as it unwinds.
    m_transfer.cancel();
    MSComm1.close();
    m_loaded = false;
    dialogs().message(m_view.get(), "Hinweis", "Please restart.", ui::Dialogs::Icon::None);
    m_unloading = false;
}

bool Form2::closeRequested()
{
    if (isTransferring()) {
        // The transfer goes on while the user decides; "Ja" stops it and closes the window then.
        std::weak_ptr<bool> alive = m_alive;
        askToStopTransfer(m_view.get(), [this, alive] {
            if (alive.lock())
                closeWindow();
        });
        return false;
    }
    Form_Unload();
    if (!m_host.otherWindowOpen || !m_host.otherWindowOpen())
        m_frontEnd.quit();
    return true;
}

void Form2::closeWindow()
{
    if (closeRequested())
        m_view->hideWindow();
}

void Form2::unload()
{
    // The program ends: the port closes, nothing more is asked.
    m_transfer.cancel();
    MSComm1.close();
}

bool Form2::askToStopTransfer(ui::FormView* owner, std::function<void()> afterStop)
{
    if (!isTransferring())
        return false;
    if (m_stopQuestion)
        return true; // already asked
    const std::string question =
        text::arg("Das Firmware-Update läuft (Block %1 von %2).\n\nWird es jetzt beendet, bleibt das "
                  "Display im Update-Modus; mit „Update - Recovery“ und derselben Datei lässt es sich "
                  "wieder herstellen.\n\nUpdate beenden?",
                  {m_transfer.blocksSent(), UpdateProtocol::BlockCount});
    const bool otherWindow = owner != m_view.get();
    std::weak_ptr<bool> alive = m_alive;
    const int asked = ++m_questionsAsked;
    const int about = m_transfersStarted; // the transfer the question is about
    m_stopQuestion = dialogs().askWithoutBlocking(
        owner, Caption, question,
        [this, alive, otherWindow, asked, about, afterStop = std::move(afterStop)](bool yes) {
            if (!alive.lock())
                return;
            if (asked == m_questionsAsked && m_stopQuestion) {
                // The question object is the front end's, which is answering now: let it go afterwards.
                std::shared_ptr<ui::Dialogs::Question> answered(std::move(m_stopQuestion));
                m_frontEnd.loop().post([answered] {});
            }
            if (!yes)
                return;
            if (!isTransferring() || about != m_transfersStarted) {
                // "Ja" given while the transfer ended: the window closes as after "Ja", nothing to stop.
                afterStop();
                return;
            }
            m_afterStop = afterStop;
            m_stopForOtherWindow = otherWindow;
            m_transfer.cancel();
        });
    return true;
}

void Form2::withdrawStopQuestion()
{
    m_stopQuestion.reset();
}

void Form2::Command3_Click()
{
    closeWindow();
}

// --- port ------------------------------------------------------------------------------------------

void Form2::Command4_Click()
{
    if (isTransferring())
        return;
    MSComm1.setCommPort(PortOpenNumber);
    if (!MSComm1.isOpen() && !openPortOrReport())
        return;
    m_hasPort = true;
    m_view->setEnabled("Command2", true);
    m_view->setEnabled("Command5", true);
    setStatus("Warte....");
}

void Form2::onDeviceLost()
{
    if (isTransferring()) {
        m_transfer.noteDeviceLost();
        return;
    }
    if (!m_loaded)
        return;
    showError(text::arg("Die Verbindung zu Com #%1 ist abgebrochen (Gerät getrennt?). Der Port ist geschlossen.",
                        {MSComm1.commPort()}));
}

// The receiver: the display's one-byte answers, taken in the order they came.
void Form2::MSComm1_OnComm()
{
    const Bytes chunk = MSComm1.input();
    for (const UpdateProtocol::Answer answer : UpdateProtocol::answersIn(chunk)) {
        if (answer == UpdateProtocol::Answer::Complete)
            m_view->setBackColor("Label1", Green);
        setStatus(UpdateProtocol::statusText(answer));
        if (answer == UpdateProtocol::Answer::Complete)
            MSComm1.close();
        m_transfer.take(answer);
    }
}

// --- image file --------------------------------------------------------------------------------------

void Form2::Command1_Click()
{
    if (isTransferring())
        return;
    const std::optional<std::string> name =
        dialogs().openFileName(m_view.get(), "Open", files::programFolder(), "Binary Files (*.bin)");
    if (!name || name->empty())
        return; // Cancel keeps the previous choice
    // Read once: what the tool tip shows is what a transfer sends.
    std::string error;
    std::optional<FirmwareImage> loaded = FirmwareImage::load(*name, &error);
    if (!loaded) {
        showError(error);
        return;
    }
    m_image = std::move(loaded);
    imagePath = *name;
    imageLength = m_image->length();
    m_view->setToolTip("Command1", m_image->summary());
    if (FirmwareImage::isTooLarge(*imageLength))
        showError("Datei zu groß!");
    m_view->setEnabled("Command2", true);
    m_view->setEnabled("Command5", true);
}

// --- transfers ---------------------------------------------------------------------------------------

bool Form2::imageLoadedOrReport()
{
    if (imageLength)
        return true;
    showError("Es ist keine Firmware-Datei geladen. Bitte zuerst mit „Load File“ eine Datei wählen.");
    return false;
}

bool Form2::portChosenOrReport()
{
    if (m_hasPort)
        return true;
    showError("Es ist kein Port gewählt; es wird nichts gesendet. Bitte das Update-Fenster schließen, in der "
              "Hauptseite den Port verbinden und das Update-Fenster neu öffnen.");
    return false;
}

void Form2::Command2_Click()
{
    if (isTransferring())
        return;
    if (!portChosenOrReport() || !imageLoadedOrReport())
        return;
    if (!MSComm1.isOpen()) {
        showError(text::arg("Der Port Com #%1 ist nicht geöffnet; der Update-Befehl kann nicht gesendet "
                            "werden.\nEin Display, das schon im Update-Modus wartet, erreicht "
                            "„Update - Recovery“.",
                            {MSComm1.commPort()}));
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
    if (!m_image || m_image->path() != imagePath || m_image->length() != imageLength) {
        showError("Es ist keine Firmware-Datei geladen. Bitte zuerst mit „Load File“ eine Datei wählen.");
        return;
    }
    const bool loadWasEnabled = m_view->isEnabled("Command1");
    const bool portOpenWasEnabled = m_view->isEnabled("Command4");
    for (const char* button : {"Command1", "Command2", "Command4", "Command5"})
        m_view->setEnabled(button, false);
    // The status and the bar tell about this transfer only: nothing of an earlier one stays standing.
    m_view->setBackColor("Label1", std::nullopt);
    setStatus("Warte....");
    m_view->setValue("ProgressBar1", UpdateProtocol::imagePosAfter(0));
    m_view->setText("ProgressBar1", UpdateProtocol::progressText(0, std::nullopt));

    std::weak_ptr<bool> alive = m_alive;
    const FirmwareImage image = *m_image; // a load under the transfer changes nothing sent
    ++m_transfersStarted;
    transferringChanged(true);
    const UpdateTransfer::Outcome outcome = m_transfer.run(mode, image);
    if (!alive.lock())
        return; // the window went away under the transfer
    transferringChanged(false);
    withdrawStopQuestion();
    const auto afterStop = std::exchange(m_afterStop, nullptr);
    if (!m_loaded)
        return; // the window was unloaded under the transfer

    m_view->setEnabled("Command1", loadWasEnabled);
    m_view->setEnabled("Command4", portOpenWasEnabled);
    m_view->setEnabled("Command2", true);
    m_view->setEnabled("Command5", true);

    if (outcome.result != UpdateTransfer::Result::Finished) {
        m_view->setValue("ProgressBar1", m_transfer.imagePos());
        m_view->setText("ProgressBar1",
                        UpdateProtocol::progressText(outcome.blocksSent, std::nullopt) + " · abgebrochen");
        const bool timedOut = outcome.result == UpdateTransfer::Result::ReadyTimeout ||
                              outcome.result == UpdateTransfer::Result::AckTimeout;
        setStatus(timedOut ? "Timeout" : "Abgebrochen.");
        if (outcome.displayTouched)
            m_view->setFocus("Command5"); // the way back
        if (afterStop && !m_stopForOtherWindow) {
            afterStop(); // closing this window: "Please restart." follows
            return;
        }
        if (afterStop) {
            // Stopped for the control window's closing: this window stays with the way back, the port
            // closed as after any stop.
            MSComm1.close();
            afterStop();
        }
        showError(outcome.message);
        return;
    }
    // A completion byte that already came ("Fertig.") says more than "Fertig"; keep it.
    if (!m_transfer.protocol().completed) {
        if (mode == UpdateProtocol::Mode::Normal)
            m_view->setBackColor("Label1", Green);
        setStatus("Fertig");
    }
    // "Ja" came too late to stop anything: the window closes as it was asked to.
    if (afterStop)
        afterStop();
}

void Form2::onProgress(int blocksSent, int imagePos, const std::string& text)
{
    (void)blocksSent;
    m_view->setValue("ProgressBar1", imagePos);
    m_view->setText("ProgressBar1", text);
}

} // namespace morvandell
