#pragma once

#include "serial/portdirectory.h"
#include "serial/serialdevice.h"
#include "simulator/displaylogic.h"
#include "simulator/simulatorconfig.h"

#include <memory>
#include <string>

namespace morvandell::sim {

// A simulated display served inside the program, for trying the tool without hardware: a serial backend
// with one device, behind which the display logic answers from a thread of its own, at the logic's
// times. It behaves like a display on a cable: it takes and answers bytes only at the speed it listens
// at (19200 baud in control mode, 9600 baud in update mode, with demoConfig()), keeps its state while
// the tool closes and reopens the port, loses what it sends while the port is closed, and when the
// logic closes the line (a fault switch) the open device reports that it is gone and the display
// cannot be opened again.
//
// A front end puts it into its port list:
//   PortDirectory::fromSystem({{DemoDisplay::PortNumber, DemoDisplay::portEntry()}})
class DemoDisplay final : public SerialBackend
{
public:
    static constexpr int PortNumber = 1;
    static constexpr const char* DeviceName = "Demo-Display";
    static constexpr const char* Description = "Demo-Display (simuliert)";

    // A healthy display as a real one behaves: the line speed matters, the image takes its line time.
    static SimulatorConfig demoConfig();
    static std::shared_ptr<DemoDisplay> create(SimulatorConfig config = demoConfig());
    // The port-list entry ("Com #1" when put under PortNumber) for that display.
    static PortDirectory::Entry portEntry(std::shared_ptr<DemoDisplay> display = create());

    ~DemoDisplay() override;

    // The device named DeviceName, at most once at a time.
    std::unique_ptr<SerialDevice> open(const std::string& device, const LineSettings& settings,
                                       OpenFailure* failure) override;
    // False once the display has closed the line for good.
    bool exists(const std::string& device) const override;

    // The observers may be called from any thread. Its notifications are raised on the display's thread:
    // connect them before the first open.
    DisplayLogic& display();
    const DisplayLogic& display() const;
    // The unplugged cable; returns once the line is closed. From any thread.
    void closeDevice();

    explicit DemoDisplay(SimulatorConfig config);

private:
    struct Core;
    class Device;
    std::shared_ptr<Core> m_core;
};

} // namespace morvandell::sim
