#include "formrigs.h"

#include "fixtures.h"

#include "tests/core/support/coresupport.h"

#include "updater/form2.h"

#include <gtest/gtest.h>

#include <stdexcept>

#ifdef _WIN32
#include "tests/wine/comdisplay.h"
#include "tests/wine/linepeer.h"
#else
#include "simulator/simulatorthread.h"
#endif

namespace morvandell::test {

// --- any control window ------------------------------------------------------------------------------

FormRig::FormRig()
    : dialogs(frontEnd.dialogs())
{}

FormRig::FormRig(std::shared_ptr<const PortDirectory> ports)
    : FormRig()
{
    makeForm(std::move(ports));
}

FormRig::~FormRig()
{
    form.reset();
}

Form1& FormRig::makeForm(std::shared_ptr<const PortDirectory> ports)
{
    form.reset();
    form = std::make_unique<Form1>(frontEnd, std::move(ports));
    form->view().showWindow();
    return *form;
}

HeadlessView& FormRig::view()
{
    if (!form)
        throw std::logic_error("the rig has no control window yet");
    return HeadlessFrontEnd::viewOf(form->view());
}

HeadlessView& FormRig::updateView()
{
    if (!form || !form->updateWindow())
        throw std::logic_error("the control window has not opened the update window");
    return HeadlessFrontEnd::viewOf(form->updateWindow()->view());
}

Form2* FormRig::openUpdateWindow()
{
    click("Command4");
    return form->updateWindow();
}

bool FormRig::connect(const std::string& entry)
{
    if (!pick("Combo5", entry) || !click("Command3"))
        return false;
    return waitFor([&] { return form->deviceFound == 1; }, 6s);
}

bool FormRig::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return runUntil(loop(), done, limit);
}

void FormRig::runFor(std::chrono::milliseconds time)
{
    test::runFor(loop(), time);
}

void FormRig::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    loop().startTimer(delay, std::move(task));
}

void FormRig::every(std::chrono::milliseconds interval, std::function<bool()> task)
{
    after(interval, [this, interval, task = std::move(task)] {
        if (task())
            every(interval, task);
    });
}

// --- the display at port 3 ---------------------------------------------------------------------------

#ifdef _WIN32

struct ControlRig::Line
{
    explicit Line(sim::SimulatorConfig config)
        : display(std::move(config))
    {
        if (!display.isReady())
            ADD_FAILURE() << "no line behind the COM port: run the test through tests/wine/ptypeer.py";
    }
    ComDisplay display;
    std::string device = LinePeer::port();
};

const sim::DisplayLogic& ControlRig::display() const
{
    return m_line->display.logic();
}

void ControlRig::sendRaw(const Bytes& bytes)
{
    if (!LinePeer::inject(bytes))
        ADD_FAILURE() << "the harness did not put the bytes on the line";
}

void ControlRig::unplug()
{
    m_line->display.unplug();
}

#else

struct ControlRig::Line
{
    explicit Line(sim::SimulatorConfig config)
        : sim(std::move(config))
    {
        std::string error;
        if (!sim.start(&error))
            ADD_FAILURE() << "the display simulator did not start: " << error;
        device = sim.devicePath();
    }
    sim::SimulatorThread sim;
    std::string device;
};

const sim::DisplayLogic& ControlRig::display() const
{
    return m_line->sim.display();
}

void ControlRig::sendRaw(const Bytes& bytes)
{
    m_line->sim.sendRaw(bytes);
}

void ControlRig::unplug()
{
    m_line->sim.closeDevice();
}

#endif

ControlRig::ControlRig(sim::SimulatorConfig config, std::vector<int> numbers)
    : m_line(std::make_unique<Line>(std::move(config)))
{
    std::map<int, PortDirectory::Entry> entries;
    for (const int n : numbers)
        entries[n] = PortDirectory::Entry{m_line->device, "Morvandell (simuliert)", nullptr};
    makeForm(std::make_shared<const PortDirectory>(std::move(entries)));
}

ControlRig::~ControlRig()
{
    form.reset(); // the port closes before the display goes
}

bool ControlRig::connectSilently()
{
    if (!pick("Combo5", "Com #3") || !click("Command3"))
        return false;
    sendRaw(identification("V1"));
    return waitFor([&] { return form->deviceFound == 1; }, 2s);
}

std::string ControlRig::devicePath() const
{
    return m_line->device;
}

// --- the demo display ----------------------------------------------------------------------------------

DemoRig::DemoRig(sim::SimulatorConfig config)
    : m_demo(sim::DemoDisplay::create(std::move(config)))
{
    makeForm(
        PortDirectory::fromSystem({{sim::DemoDisplay::PortNumber, sim::DemoDisplay::portEntry(m_demo)}}));
}

DemoRig::~DemoRig()
{
    form.reset();
}

// --- spare lines -----------------------------------------------------------------------------------------

#ifdef _WIN32

struct SpareLine::Private
{
    LinePeer peer;
};

SpareLine::SpareLine()
    : d(std::make_unique<Private>())
{
    if (!d->peer.open())
        ADD_FAILURE() << "no line behind the COM port: run the test through tests/wine/ptypeer.py";
}

bool SpareLine::isValid() const
{
    return d->peer.isOpen();
}

std::string SpareLine::device() const
{
    return LinePeer::port();
}

std::string missingDevice(int n)
{
    return "COM" + std::to_string(40 + n); // no such port in the test's Wine prefix
}

bool portsCanBeHeld()
{
    return false; // Wine opens a COM port twice
}

#else

struct SpareLine::Private
{
    PtyPair pty;
};

SpareLine::SpareLine()
    : d(std::make_unique<Private>())
{
    if (!d->pty.isValid())
        ADD_FAILURE() << "no pseudo-terminal";
}

bool SpareLine::isValid() const
{
    return d->pty.isValid();
}

std::string SpareLine::device() const
{
    return d->pty.slavePath();
}

std::string missingDevice(int n)
{
    return "/dev/morvandell-missing-" + std::to_string(n);
}

bool portsCanBeHeld()
{
    return true;
}

#endif

SpareLine::~SpareLine() = default;

} // namespace morvandell::test
