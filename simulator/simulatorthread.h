#pragma once

#include "platform/bytes.h"
#include "simulator/displaylogic.h"
#include "simulator/simulatorconfig.h"

#include <memory>
#include <string>

namespace morvandell::sim {

// A pseudo-terminal for a simulated display: its device side raw at 19200 baud, as a fresh port is, both
// ends closed on exec, the display's end (master) non-blocking. On failure nothing stays open, errno says
// why and `failedStep` names the step.
struct DisplayPty
{
    int master = -1;
    int slave = -1;
    std::string path; // the device side's name, for the program under test
};
bool openDisplayPty(DisplayPty& pty, std::string* failedStep);

// A simulated Morvandell display behind a pseudo-terminal, answering from a thread of its own so that it
// answers independently of the tool's event loop. The tool opens devicePath() like a serial port.
//
// The display's notifications (display().logLine, frameReceived, ...) are raised on that thread: connect
// them before start(). The observers of display() may be called from any thread.
class SimulatorThread
{
public:
    explicit SimulatorThread(SimulatorConfig config);
    // Stops the thread and closes the pseudo-terminal.
    ~SimulatorThread();
    SimulatorThread(const SimulatorThread&) = delete;
    SimulatorThread& operator=(const SimulatorThread&) = delete;

    // Opens the pseudo-terminal and starts the thread. False with *error on failure.
    bool start(std::string* error = nullptr);
    std::string devicePath() const;

    DisplayLogic& display();
    const DisplayLogic& display() const;

    // The unplugged cable: closes the pseudo-terminal for good. From any thread; returns once it is closed.
    void closeDevice();
    // Puts bytes on the line now (tests, noise). From any thread; returns once they are handed over.
    void sendRaw(const Bytes& bytes);
    // Ends the thread (the device stays as it is until destruction). From any thread but the display's.
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace morvandell::sim
