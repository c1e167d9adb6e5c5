#pragma once

#include "cli/invocation.h"
#include "serial/eventwait.h"
#include "serial/portdirectory.h"
#include "serial/tracerecorder.h"
#include "writer/displaywriter.h"

#include <QFile>
#include <QObject>
#include <QString>

#include <cstdio>
#include <memory>
#include <optional>

namespace morvandell {

class InterruptNotifier;
class SerialService;
class UpdateTransfer;

// Runs one command of morvandell-cli on the same classes as the windows: results on standard output,
// progress, warnings and failures (one line each) on standard error. Returns the exit status.
class CliTool : public QObject
{
    Q_OBJECT
public:
    // How long identify and the connect before configure and reset wait for the identification.
    static constexpr std::chrono::milliseconds IdentifyTimeout{3000};
    // How long flash waits for the completion byte after the last block.
    static constexpr std::chrono::milliseconds CompletionTimeout{5000};

    CliTool(std::shared_ptr<const PortDirectory> ports, FILE* out = stdout, FILE* err = stderr,
            QObject* parent = nullptr);
    ~CliTool() override;

    int run(const Invocation& invocation);

private:
    int ports();
    int identify();
    int configure();
    int reset();
    int flash();
    int doctor();

    // Resolves --port into a directory and number; false with a usage message.
    bool resolvePort(const QString& portText);
    // Opens the port at the control window's settings; the exit status on failure.
    std::optional<int> openPort();
    // Sends the connect frame and waits for the identification; the exit status on failure.
    std::optional<int> connectDisplay();
    int replyStatus(DisplayWriter::Result result, const QString& what);
    int interruptedStatus();
    bool startTrace();

    void onReceived();
    void onDeviceLost(const QString& reason);
    void onInterrupted();
    void onProgress(int blocksSent, const QString& text);

    void print(const QString& line);
    void fail(const QString& line);
    void warn(const QString& text);

    FILE* m_out;
    FILE* m_err;
    Invocation m_inv;
    std::shared_ptr<const PortDirectory> m_systemPorts;
    std::shared_ptr<const PortDirectory> m_ports; // the directory --port resolved in
    int m_number = 0;
    SerialService* m_port = nullptr;
    InterruptNotifier* m_interrupt = nullptr;
    EventWait m_wait;
    std::optional<qint16> m_weiter;
    DisplayWriter* m_writer = nullptr;
    UpdateTransfer* m_transfer = nullptr;
    std::optional<QString> m_firmware;
    QString m_lostReason;
    bool m_lost = false;
    TraceRecorder m_trace{0}; // lines go to the --trace file only
    QFile m_traceFile;
    bool m_progressOnTerminal = false;
    int m_progressStep = -1;
};

} // namespace morvandell
