#pragma once

#include "headlessfrontend.h"

#include "control/form1.h"
#include "platform/bytes.h"
#include "serial/portdirectory.h"
#include "simulator/demodisplay.h"
#include "simulator/displaylogic.h"
#include "simulator/simulatorconfig.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morvandell {
class Form2;
}

namespace morvandell::test {

using namespace std::chrono_literals;

// The control window of a test on the headless front end, made and shown as the program does it; the
// user's steps go to it (the update window's through updateView()).
class FormRig
{
public:
    // No window yet: makeForm() makes one.
    FormRig();
    explicit FormRig(std::shared_ptr<const PortDirectory> ports);
    ~FormRig();
    FormRig(const FormRig&) = delete;
    FormRig& operator=(const FormRig&) = delete;

    HeadlessFrontEnd frontEnd;
    ScriptedDialogs& dialogs;
    std::unique_ptr<Form1> form;

    // A new control window with these ports (start-up runs), shown; the old one goes first.
    Form1& makeForm(std::shared_ptr<const PortDirectory> ports);
    HeadlessView& view();
    // The update window's view; fails the test when there is none.
    HeadlessView& updateView();
    // Firmwareupdate clicked: the update window (made on first use), or null.
    Form2* openUpdateWindow();

    // The user on the control window (HeadlessView has the details).
    bool click(const std::string& control) { return view().click(control); }
    bool pick(const std::string& control, int index) { return view().pick(control, index); }
    bool pick(const std::string& control, const std::string& entry) { return view().pick(control, entry); }
    bool type(const std::string& control, const std::string& text) { return view().type(control, text); }
    bool command(const std::string& id) { return view().command(id); }
    // Picks the port entry, clicks Connect and waits until the display has identified itself.
    bool connect(const std::string& entry = "Com #3");
    // The message log, newest receiver line first.
    std::vector<std::string> log() { return view().items("List1"); }

    // Time passes only in the event loop: these run it (answers arrive, timers fire).
    EventLoop& loop() { return frontEnd.loop(); }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s);
    void runFor(std::chrono::milliseconds time);
    // Runs task once after the delay, from the event loop (also inside a handler's wait).
    void after(std::chrono::milliseconds delay, std::function<void()> task);
    // Runs task every `interval` from the event loop for as long as it returns true.
    void every(std::chrono::milliseconds interval, std::function<bool()> task);
};

// The control window with the display simulator's logic at port 3 (or at the numbers given): on POSIX
// the simulator behind a pseudo-terminal on a thread of its own, under Wine behind the COM port that
// tests/wine/ptypeer.py maps (COM3).
class ControlRig : public FormRig
{
public:
    explicit ControlRig(sim::SimulatorConfig config = {}, std::vector<int> numbers = {3});
    ~ControlRig();

    // What the display received (thread-safe observers).
    const sim::DisplayLogic& display() const;
    // The device the port numbers stand for (a pseudo-terminal's path, or "COM3").
    std::string devicePath() const;
    // Bytes on the line from the display's side, now (noise, a message of the test's own).
    void sendRaw(const Bytes& bytes);
    // With a silent display (config.silent): picks "Com #3", clicks Connect and identifies the display
    // itself; the next command then waits for an answer that only the test can send.
    bool connectSilently();
    // The cable pulled out: the line closes for good.
    void unplug();

private:
    struct Line;
    std::unique_ptr<Line> m_line;
};

// The control window with the in-process demo display as "Com #1" in the machine's port list, as the
// program's --demo offers it.
class DemoRig : public FormRig
{
public:
    explicit DemoRig(sim::SimulatorConfig config = sim::DemoDisplay::demoConfig());
    ~DemoRig();
    const sim::DisplayLogic& display() const { return m_demo->display(); }
    sim::DemoDisplay& demo() { return *m_demo; }

private:
    std::shared_ptr<sim::DemoDisplay> m_demo;
};

// A serial line with nothing on its far end that a port can open: a pseudo-terminal on POSIX, under Wine
// the COM port that the harness maps (every SpareLine is that one port there).
class SpareLine
{
public:
    SpareLine();
    ~SpareLine();
    SpareLine(const SpareLine&) = delete;
    SpareLine& operator=(const SpareLine&) = delete;
    bool isValid() const;
    std::string device() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A device name under which no device exists.
std::string missingDevice(int n);
// Whether the platform lets a second program open a port that one holds (Wine does; it is then not
// "busy").
bool portsCanBeHeld();

} // namespace morvandell::test
