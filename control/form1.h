#pragma once

#include "control/controlstate.h"
#include "loop/eventwait.h"
#include "serial/portdirectory.h"
#include "serial/portlist.h"
#include "serial/serialservice.h"
#include "serial/tracerecorder.h"
#include "ui/model/form.h"
#include "ui/model/formview.h"
#include "ui/model/frontend.h"
#include "writer/displayconfiguration.h"
#include "writer/displaywriter.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvandell {

class Form2;

// The control window: slots, settings, device link and message log. Its handlers, written once against
// the window model; a front end (Qt, Win32) shows the controls of definition() and reports their events here.
class Form1 : public ui::FormEvents, public ControlState
{
public:
    // Time limit of every reply wait.
    static constexpr int ReplyTimeoutMs = 3000;

    // Command ids of the window's context menu (with their shortcuts) and of the log's context menu.
    static constexpr const char* SaveProfileCommand = "saveProfile"; // Ctrl+S
    static constexpr const char* LoadProfileCommand = "loadProfile"; // Ctrl+O
    static constexpr const char* SaveTraceCommand = "saveTrace";

    // The window's control table.
    static ui::FormSpec definition();
    // The slot rows' controls: list, name box, unit box of display slots 1..8 (element 0 unused).
    struct SlotRow
    {
        const char* list;
        const char* name;
        const char* unit;
    };
    static const std::array<SlotRow, SlotCount + 1>& slotRows();

    // Creates the window through the front end and runs its start-up (the port scan and the lists).
    Form1(ui::FrontEnd& frontEnd, std::shared_ptr<const PortDirectory> ports);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    ui::FormView& view() { return *m_view; }
    const ui::FormView& view() const { return *m_view; }
    ui::FrontEnd& frontEnd() { return m_frontEnd; }
    SerialService& serialPort() { return MSComm1; }
    const SerialService& serialPort() const { return MSComm1; }
    std::shared_ptr<const PortDirectory> ports() const { return m_ports; }
    Form2* updateWindow() const { return m_form2.get(); }
    TraceRecorder& trace() { return m_trace; }

    // Started with a profile: loads it as Ctrl+O does (nothing is sent). False after telling the user.
    bool openProfileAtStart(const std::string& path);

    // Sends one frame and waits for the display's answer. False (after telling the user) when the port
    // refused the bytes, the wait ran out of time, or the device went away.
    bool sendAndWait(const Bytes& frame);
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

    // Profiles (Ctrl+S, Ctrl+O, and the window's context menu).
    void saveProfileClicked();
    void loadProfileClicked();
    // The window's current choices as a profile: the log-definition file last read, the slots picked
    // (with the name and unit boxes as they are) and the default view.
    DisplayConfiguration profileConfiguration() const;
    // False after telling the user; a profile that cannot be read changes nothing.
    bool saveProfile(const std::string& path);
    bool loadProfile(const std::string& path);

    // The catalogue index behind each entry of a slot list (slot 1..8), in list order.
    const std::vector<int>& slotEntries(int slot) const { return m_slotEntries.at(std::size_t(slot)); }
    // The port number behind each entry of Combo5, in list order.
    const std::vector<int>& portEntries() const { return m_portEntries; }

    // ui::FormEvents
    void load() override {}
    void click(const std::string& control) override;
    void dropDown(const std::string& control) override;
    void command(const std::string& id) override;
    bool commandEnabled(const std::string& id) const override;
    bool closeRequested() override;
    void unload() override;

private:
    void onDeviceLost(const std::string& reason);
    void setSendingEnabled(bool enabled);
    bool writeFrame(const Bytes& frame);
    bool reportReply(DisplayWriter::Result result);
    // After a write: one message listing every record the display stored otherwise than sent.
    void reportDifferences();
    void showError(const std::string& text);
    void showPortError(const std::string& what);
    void appendPortEntry(int number, const std::string& toolTip);
    void logAtTop(const std::string& line);
    std::uint8_t defaultViewByte() const;
    bool readLogDefinition(const std::string& path, bool* errorShown);
    int slotOfList(const std::string& control) const;
    // Closes the window now: every wait ends, the port closes; the program ends when no window is left.
    void closeNow();

    ui::FrontEnd& m_frontEnd;
    std::shared_ptr<const PortDirectory> m_ports;
    std::unique_ptr<ui::FormView> m_view;
    TraceRecorder m_trace; // every byte of this session (both windows), the last 10 MB
    SerialService MSComm1;

public:
    // The reply wait; tests and the update window may watch it.
    EventWait replyWait;

private:
    DisplayWriter m_writer;
    std::unique_ptr<Form2> m_form2;               // created on first use
    std::optional<std::string> m_lastLogDefinition; // the file dialog's remembered name
    bool m_closing = false;
    std::vector<int> m_portEntries;
    std::vector<std::string> m_portToolTips;
    std::optional<PortList::Pending> m_startUpScan; // running while the window is built
    std::array<std::vector<int>, SlotCount + 1> m_slotEntries{};
    std::vector<int> m_warningEntries; // Combo11's catalogue indices
    // Profiles: the catalogue name last picked per slot (empty: never picked), the log-definition file
    // of the profile last loaded (until Command1 reads another), the folder of the last profile.
    std::array<std::optional<std::string>, SlotCount + 1> m_pickedChannel{};
    std::optional<std::string> m_profileLogDefinition;
    std::string m_profileFolder;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace morvandell
