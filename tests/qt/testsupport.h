#pragma once

// Helpers of the window tests: the windows' handlers run on the Qt front end, against the display
// simulator on a pseudo-terminal or a display the test plays on one.

#include "control/form1.h"
#include "platform/bytes.h"
#include "serial/portdirectory.h"
#include "simulator/simulatorthread.h"
#include "ui/model/dialogs.h"
#include "ui/qt/combobox.h"
#include "ui/qt/qtformview.h"
#include "ui/qt/qtfrontend.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace morvandell {
class Form2;
}

namespace morvandell::test {

using ui::qt::ComboBox;
using Icon = ui::Dialogs::Icon;

// Answers the windows' modal questions from a script and records every message box.
class ScriptedDialogs : public ui::Dialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
    };
    struct FileRequest
    {
        QString title;
        QString folder;
        QString filter;
    };

    void message(ui::FormView* owner, const std::string& title, const std::string& text, Icon icon) override;
    std::optional<std::string> openFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& folder, const std::string& filter) override;
    // Answered from fileAnswers, like openFileName.
    std::optional<std::string> saveFileName(ui::FormView* owner, const std::string& title,
                                            const std::string& path, const std::string& filter) override;
    std::optional<std::string> textPrompt(ui::FormView* owner, const std::string& title,
                                          const std::string& label) override;
    // Records the question and leaves it open; the test answers it later with answer().
    std::unique_ptr<Question> askWithoutBlocking(ui::FormView* owner, const std::string& title,
                                                 const std::string& text,
                                                 std::function<void(bool yes)> answered) override;
    // Answers the last question if it is still open (not withdrawn). False when none is open.
    bool answer(bool yes);
    bool questionOpen() const;

    QList<Message> messages;
    QList<FileRequest> fileRequests;
    QList<std::optional<QString>> fileAnswers;   // consumed in order; empty list answers Cancel
    QList<std::optional<QString>> promptAnswers; // consumed in order; empty list answers Cancel
    QStringList prompts;                         // "title|label" of every prompt shown
    QStringList questions;                       // text of every non-blocking question asked
    // Runs while a message box would be open (the box is modal: events still run under it).
    std::function<void(const Message&)> onMessage;

    bool hasMessage(const QString& text) const;
    QString allMessages() const;

    struct Open
    {
        bool open = false;
        std::function<void(bool)> answered;
    };

private:
    std::shared_ptr<Open> m_question;
};

// A bare pseudo-terminal pair: the test holds the master, the code under test opens slavePath().
class PtyPair; // the core tests' pseudo-terminal pair

// A pseudo-terminal pair for the window tests: the core tests' own, with Qt's types, reading while Qt's
// events are handled.
class QtPty
{
public:
    QtPty();
    ~QtPty();
    bool isValid() const;
    QString slavePath() const;
    // Reads what arrived at the master within ms (stops early once `atLeast` bytes are there).
    QByteArray readMaster(int ms, int atLeast = -1);
    bool writeMaster(const QByteArray& bytes);
    void closeMaster();

private:
    std::unique_ptr<PtyPair> m_pty;
};

// Bytes and Qt's byte arrays.
QByteArray qbytes(const Bytes& bytes);
Bytes bytes(const QByteArray& bytes);
QList<QByteArray> qframes(const std::vector<Bytes>& frames);

// A port directory with the given numbers mapped to devices.
std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, QString>& devices);
std::shared_ptr<const PortDirectory> directoryOf(const QMap<int, PortDirectory::Entry>& entries);

// Processes events until pred() holds or ms run out.
bool waitUntil(const std::function<bool()>& pred, int ms);

// Writes bytes into a fresh file in a temporary folder that lives as long as the test process.
QString writeTempFile(const QString& name, const QByteArray& bytes);

// Hex text ("55 01 00") to bytes.
QByteArray hex(const char* text);

// A display's identification message with the given firmware text.
QByteArray identification(const QByteArray& firmware);

// What a user's pick in a drop-down list does: the entry becomes current, then activated is raised.
void pick(ComboBox* list, int position);

// The Qt widgets of a window, by control name.
QWidget* windowOf(ui::FormView& view);
template<typename W = QWidget> W* control(ui::FormView& view, const char* name)
{
    return qobject_cast<W*>(ui::qt::QtFrontEnd::qtView(view).control(name));
}
template<typename W = QWidget> W* control(Form1& form, const char* name)
{
    return control<W>(form.view(), name);
}
QString text(const ui::FormView& view, const char* control);
QString caption(const ui::FormView& view);
ComboBox* combo(Form1& form, const char* name);

// The control window of a test: the handlers on the Qt front end, questions answered by the script.
struct Windows
{
    ScriptedDialogs dialogs;
    ui::qt::QtFrontEnd frontEnd{&dialogs};
    std::unique_ptr<Form1> makeForm(std::shared_ptr<const PortDirectory> ports)
    {
        return std::make_unique<Form1>(frontEnd, std::move(ports));
    }
};

// A control window wired to a simulated display at port 3 (the simulator runs in its own thread).
struct ControlRig : Windows
{
    explicit ControlRig(sim::SimulatorConfig config = {}, bool alsoAt14 = false);
    ~ControlRig();
    // Picks "Com #3", presses Connect and waits for the identification.
    bool connect();
    sim::DisplayLogic& display() { return sim.display(); }
    QString devicePath() const { return QString::fromStdString(sim.devicePath()); }
    void sendRaw(const QByteArray& b) { sim.sendRaw(bytes(b)); }
    // The update window: opened (created on first use) as Firmwareupdate does.
    Form2* openUpdateWindow();

    sim::SimulatorThread sim;
    std::unique_ptr<Form1> form;
};

} // namespace morvandell::test
