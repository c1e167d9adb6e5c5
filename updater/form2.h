#pragma once

#include "updater/updatehost.h"
#include "updater/updateprotocol.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace morvandell {

class PortDirectory;
class SerialService;
class UpdateTransfer;
class UserDialogs;

// The firmware update window: takes over the control window's port, loads an image file and sends it
// to the display in its normal or recovery form. Top-level, not modal; hidden (not deleted) when closed.
class Form2 : public QWidget
{
    Q_OBJECT
public:
    // host: the opener's port number and port; ports: the port directory both windows share;
    // dialogs: where messages and questions go.
    Form2(UpdateHost host, std::shared_ptr<const PortDirectory> ports, UserDialogs& dialogs);
    ~Form2() override;

    // Loads the window if it is not loaded (start-up runs), then shows and raises it.
    void loadAndShow();
    bool isLoaded() const { return m_loaded; }
    bool isTransferring() const;

    SerialService& serialPort() { return *MSComm1; }
    // Whether the user chose a port (prompt, Port Open) or the window took one over; without one
    // neither update button sends anything.
    bool hasPort() const { return m_hasPort; }

    // While a transfer runs: asks, over parent and without blocking the transfer, whether to stop it.
    // "Ja" stops it cleanly (file and port closed) and then runs afterStop; "Nein" lets it go on. The
    // question is withdrawn when the transfer ends first. False (and nothing asked) when no transfer runs.
    bool askToStopTransfer(QWidget* parent, std::function<void()> afterStop);

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
    QString imagePath;                 // the chosen image file, as the dialog returned it
    std::optional<qint64> imageLength; // its length when it was loaded

    // Controls, named as on the window.
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* Timer1 = nullptr;
    SerialService* MSComm1 = nullptr;

    // Status line helpers (the label's caption and whether its background is green).
    QString statusText() const;
    bool statusIsGreen() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void resetControls();
    void runTransfer(UpdateProtocol::Mode mode);
    void onDeviceLost();
    void onProgress(int blocksSent, int imagePos, const QString& text);
    void setStatus(const QString& text);
    void setStatusGreen();
    void showError(const QString& text);
    bool openPortOrReport();
    bool imageLoadedOrReport();
    bool portChosenOrReport();
    void clearStatusGreen();
    void withdrawStopQuestion();

    UpdateHost m_host;
    UserDialogs* m_dialogs = nullptr;
    UpdateTransfer* m_transfer = nullptr;
    bool m_loaded = false;
    bool m_unloading = false;
    bool m_hasPort = false;
    QPointer<QObject> m_stopQuestion;
    std::function<void()> m_afterStop; // set by "Ja": runs once the transfer has stopped
    bool m_stopForOtherWindow = false; // the stop was asked by the control window's closing
};

} // namespace morvandell
