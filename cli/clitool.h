#pragma once

#include "cli/invocation.h"
#include "loop/consoleinterrupt.h"
#include "loop/eventwait.h"
#include "serial/portdirectory.h"
#include "serial/tracerecorder.h"
#include "writer/displaywriter.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace morvandell {

class EventLoop;
class SerialService;
class UpdateTransfer;

// Runs one command of morvandell-cli on the same classes as the windows: results on standard output,
// progress, warnings and failures (one line each) on standard error. Returns the exit status.
class CliTool
{
public:
    // How long identify and the connect before configure and reset wait for the identification.
    static constexpr std::chrono::milliseconds IdentifyTimeout{3000};
    // How long flash waits for the completion byte after the last block.
    static constexpr std::chrono::milliseconds CompletionTimeout{5000};
    // How long a refused write waits for the port to report the vanished device, so that the message
    // names the cause.
    static constexpr std::chrono::milliseconds LossGrace{250};

    CliTool(EventLoop& loop, std::shared_ptr<const PortDirectory> ports, std::FILE* out = stdout,
            std::FILE* err = stderr);
    ~CliTool();
    CliTool(const CliTool&) = delete;
    CliTool& operator=(const CliTool&) = delete;

    int run(const Invocation& invocation);

private:
    int ports();
    int identify();
    int configure();
    int reset();
    int flash();
    int doctor();

    // Resolves --port into a directory and number; false with a usage message.
    bool resolvePort(const std::string& portText);
    // Opens the port at the control window's settings; the exit status on failure.
    std::optional<int> openPort();
    // Sends the connect frame and waits for the identification; the exit status on failure.
    std::optional<int> connectDisplay();
    int replyStatus(DisplayWriter::Result result, const std::string& what);
    int interruptedStatus();
    bool startTrace();

    void onReceived();
    void onDeviceLost(const std::string& reason);
    void onInterrupted();
    void onProgress(int blocksSent, const std::string& text);

    void print(const std::string& line);
    void fail(const std::string& line);
    void warn(const std::string& text);

    EventLoop& m_loop;
    std::FILE* m_out;
    std::FILE* m_err;
    Invocation m_inv;
    std::shared_ptr<const PortDirectory> m_systemPorts;
    std::shared_ptr<const PortDirectory> m_ports; // the directory --port resolved in
    int m_number = 0;
    ConsoleInterrupt m_interrupt;
    EventWait m_wait;
    std::optional<std::int16_t> m_weiter;
    std::unique_ptr<SerialService> m_port;
    std::unique_ptr<DisplayWriter> m_writer;
    UpdateTransfer* m_transfer = nullptr;
    std::optional<std::string> m_firmware;
    std::string m_lostReason;
    bool m_lost = false;
    TraceRecorder m_trace{0}; // lines go to the --trace file only
    std::ofstream m_traceFile;
    bool m_progressOnTerminal = false;
    int m_progressStep = -1;
};

} // namespace morvandell
