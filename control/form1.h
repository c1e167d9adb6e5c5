#pragma once

#include "control/controlstate.h"
#include "serial/eventwait.h"
#include "serial/portdirectory.h"
#include "serial/tracerecorder.h"
#include "writer/displaywriter.h"
#include "writer/displayconfiguration.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace morvandell {

class ComboBox;
class Form2;
class SerialService;
class UserDialogs;

// The control window: slots, settings, device link and message log.
class Form1 : public QWidget, public ControlState
{
    Q_OBJECT
public:
    // Time limit of every reply wait.
    static constexpr int ReplyTimeoutMs = 3000;

    explicit Form1(std::shared_ptr<const PortDirectory> ports, UserDialogs* dialogs = nullptr,
                   QWidget* parent = nullptr);
    ~Form1() override;

    SerialService& serialPort() { return *MSComm1; }
    UserDialogs& dialogs() { return *m_dialogs; }
    std::shared_ptr<const PortDirectory> ports() const { return m_ports; }
    Form2* updateWindow() const { return m_form2; }

    // Sends one frame and waits for the display's answer. False (after telling the user) when the port
    // refused the bytes, the wait ran out of time, or the device went away.
    bool sendAndWait(const QByteArray& frame);
    // Clears weiter and waits until the receiver sets it to 1 (or the time limit, or an abort).
    bool waitForReply();

    // Event handlers, one per control event.
    void Form_Load();
    void Combo5_Click();
    // The port list drops down: rebuilt from the machine's ports as they are now.
    void Combo5_DropDown();
    void Command3_Click();
    void Command4_Click();
    void MSComm1_OnComm();
    void List1_Click();
    void Command5_Click();
    void Command1_Click();
    void slotList_Click(int slot);
    void Command2_Click();
    void Command6_Click();
    // The log's context menu: writes the connection trace of this session to a file the user picks.
    void saveTrace();
    TraceRecorder& trace() { return m_trace; }

    // Profiles (Ctrl+S, Ctrl+O, and the window's context menu).
    void saveProfileClicked();
    void loadProfileClicked();
    // The window's current choices as a profile: the log-definition file last read, the slots picked
    // (with the name and unit boxes as they are) and the default view.
    DisplayConfiguration profileConfiguration() const;
    // False after telling the user; a profile that cannot be read changes nothing.
    bool saveProfile(const QString& path);
    bool loadProfile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    void onDeviceLost(const QString& reason);
    void setSendingEnabled(bool enabled);
    bool writeFrame(const QByteArray& frame);
    bool reportReply(DisplayWriter::Result result);
    void showLogMenu(const QPoint& position);
    void showPortError(const QString& what);
    void appendPortEntry(int number, const QString& toolTip);
    void logAtTop(const QString& line);
    quint8 defaultViewByte() const;
    void setUpProfiles();
    bool readLogDefinitionForProfile(const QString& path);

public:
    // Controls, named as on the window.
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame4 = nullptr;
    ComboBox* Combo1 = nullptr;
    ComboBox* Combo2 = nullptr;
    ComboBox* Combo3 = nullptr;
    ComboBox* Combo4 = nullptr;
    ComboBox* Combo5 = nullptr;
    ComboBox* Combo6 = nullptr;
    ComboBox* Combo7 = nullptr;
    ComboBox* Combo8 = nullptr;
    ComboBox* Combo9 = nullptr;
    ComboBox* Combo10 = nullptr;
    ComboBox* Combo11 = nullptr;
    ComboBox* Combo12 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QLineEdit* Text10 = nullptr;
    QLineEdit* Text11 = nullptr;
    QLineEdit* Text12 = nullptr;
    QLineEdit* Text13 = nullptr;
    QLineEdit* Text14 = nullptr;
    QLineEdit* Text15 = nullptr;
    QLineEdit* Text16 = nullptr;
    QLineEdit* Text17 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    SerialService* MSComm1 = nullptr;
    QAction* saveProfileAction = nullptr; // Ctrl+S "Profil speichern…"
    QAction* loadProfileAction = nullptr; // Ctrl+O "Profil laden…"

    // The slot rows: list, name box, unit box of display slots 1..8 (element 0 unused).
    struct SlotRow
    {
        ComboBox* list;
        QLineEdit* name;
        QLineEdit* unit;
    };
    std::array<SlotRow, SlotCount + 1> slotRows{};

    // The reply wait; tests and the update window may watch it.
    EventWait replyWait;

private:
    std::shared_ptr<const PortDirectory> m_ports;
    UserDialogs* m_dialogs = nullptr;
    TraceRecorder m_trace;              // every byte of this session (both windows), the last 10 MB
    DisplayWriter* m_writer = nullptr;
    Form2* m_form2 = nullptr;                   // created on first use, owned here
    std::optional<QString> m_lastLogDefinition; // the file dialog's remembered name
    bool m_closing = false;
    // Profiles: the catalogue name last picked per slot (empty: never picked), the log-definition file
    // of the profile last loaded (until Command1 reads another), the folder of the last profile.
    std::array<std::optional<QString>, SlotCount + 1> m_pickedChannel{};
    std::optional<QString> m_profileLogDefinition;
    QString m_profileFolder;
};

} // namespace morvandell
