#pragma once

#include "platform/signal.h"
#include "serial/serialservice.h"
#include "ui/model/dialogs.h"
#include "ui/model/form.h"
#include "ui/model/formview.h"
#include "ui/model/frontend.h"
#include "updater/firmwareimage.h"
#include "updater/updatehost.h"
#include "updater/updateprotocol.h"
#include "updater/updatetransfer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvandell {

class PortDirectory;

// The firmware update window: takes over the control window's port, loads an image file and sends it
// to the display in its normal or recovery form. Top-level, not modal; hidden (not destroyed) when
// closed. Its handlers, written once against the window model.
class Form2 : public ui::FormEvents
{
public:
    static constexpr int PortOpenNumber = 14;
    static constexpr int ProgressMaximum = 130050;
    static constexpr std::uint32_t Green = 0x00FF00; // 65280

    static ui::FormSpec definition();

    // host: the opener's port number and port; ports: the port directory both windows share. The
    // window is created hidden; loadAndShow() loads and shows it.
    Form2(ui::FrontEnd& frontEnd, UpdateHost host, std::shared_ptr<const PortDirectory> ports);
    ~Form2() override;
    Form2(const Form2&) = delete;
    Form2& operator=(const Form2&) = delete;

    // Loads the window if it is not loaded (start-up runs), then shows and raises it.
    void loadAndShow();
    bool isLoaded() const { return m_loaded; }
    bool isWindowVisible() const { return m_view->isWindowVisible(); }
    bool isTransferring() const { return m_transfer.isRunning(); }
    // A transfer began (true) or ended (false), whatever its outcome.
    Signal<bool> transferringChanged;

    ui::FormView& view() { return *m_view; }
    const ui::FormView& view() const { return *m_view; }
    SerialService& serialPort() { return MSComm1; }
    const SerialService& serialPort() const { return MSComm1; }
    UpdateTransfer& transfer() { return m_transfer; }
    // Whether the user chose a port (prompt, Port Open) or the window took one over; without one
    // neither update button sends anything.
    bool hasPort() const { return m_hasPort; }

    // While a transfer runs: asks, over owner and without blocking the transfer, whether to stop it.
    // "Ja" stops it cleanly (file and port closed) and then runs afterStop; "Nein" lets it go on. The
    // question is withdrawn when the transfer ends first; a "Ja" given before that still runs afterStop
    // (there is nothing left to stop). False (and nothing asked) when no transfer runs.
    bool askToStopTransfer(ui::FormView* owner, std::function<void()> afterStop);

    // Event handlers, one per control event.
    void Form_Load();
    void Form_Unload();
    void Command1_Click(); // Load File
    void Command2_Click(); // Update - Normal
    void Command3_Click(); // Close
    void Command4_Click(); // Port Open
    void Command5_Click(); // Update - Recovery
    void MSComm1_OnComm();

    // Window state.
    std::string imagePath;                   // the chosen image file, as the dialog returned it (UTF-8)
    std::optional<std::int64_t> imageLength; // its length when it was loaded
    // The image as it was loaded: what a transfer sends.
    const std::optional<FirmwareImage>& image() const { return m_image; }

    // The status line (Label1): its caption and whether its background is green.
    std::string statusText() const;
    bool statusIsGreen() const;

    // ui::FormEvents
    void click(const std::string& control) override;
    void command(const std::string& id) override;
    bool commandEnabled(const std::string& id) const override;
    bool closeRequested() override;
    void unload() override;

private:
    void resetControls();
    void runTransfer(UpdateProtocol::Mode mode);
    void onDeviceLost();
    void onProgress(int blocksSent, int imagePos, const std::string& text);
    void setStatus(const std::string& text);
    void showError(const std::string& text);
    bool openPortOrReport();
    bool imageLoadedOrReport();
    bool portChosenOrReport();
    void withdrawStopQuestion();
    void closeWindow();
    ui::Dialogs& dialogs() { return m_frontEnd.dialogs(); }

    ui::FrontEnd& m_frontEnd;
    UpdateHost m_host;
    std::unique_ptr<ui::FormView> m_view;
    std::optional<FirmwareImage> m_image;
    SerialService MSComm1;
    UpdateTransfer m_transfer;
    bool m_loaded = false;
    bool m_unloading = false;
    bool m_hasPort = false;
    std::unique_ptr<ui::Dialogs::Question> m_stopQuestion;
    int m_questionsAsked = 0;
    int m_transfersStarted = 0;
    std::function<void()> m_afterStop; // set by "Ja": runs once the transfer has stopped
    bool m_stopForOtherWindow = false; // the stop was asked by the control window's closing
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace morvandell
