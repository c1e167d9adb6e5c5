#pragma once

#include "serial/linesettings.h"
#include "serial/lowlatency.h"
#include "serial/portdirectory.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <memory>

namespace morvandell {

class TraceRecorder;

// Error numbers reported by the serial-port service.
namespace SerialError {
constexpr int None = 0;
constexpr int NoDevice = 8002;        // no device behind that port number
constexpr int AlreadyOpen = 8005;     // operation needs a closed port
constexpr int Unavailable = 8012;     // device exists but cannot be opened now (busy, locked, no permission)
constexpr int InvalidSettings = 8015; // settings text malformed
constexpr int NotOpen = 8018;         // operation needs an open port
constexpr int OpenFailed = 8020;      // any other open failure (errorString() tells)
constexpr int WriteFailed = 8021;     // the port refused the bytes
constexpr int DeviceGone = 8022;      // read/resource error on an open port: unplugged
} // namespace SerialError

// One serial port of one window: port number, line settings, open/close, raw bytes out and in.
// All calls and signals happen on the window thread.
class SerialService : public QObject
{
    Q_OBJECT
public:
    enum class Cause { None, Busy, NoPermission, Missing, Other };

    explicit SerialService(std::shared_ptr<const PortDirectory> directory, QObject* parent = nullptr);
    ~SerialService() override;

    // Port number. Changing the number of an open port closes that port first.
    void setCommPort(int number);
    int commPort() const { return m_commPort; }

    // Applies from the next open. Returns false (error 8015) for malformed text, keeping the old settings.
    bool setSettings(const QString& text);
    LineSettings settings() const { return m_settings; }

    // Opens port commPort() with the current settings and discards stale input.
    bool open();
    // Lets every written byte leave the port, then closes. Closing a closed port does nothing.
    void close();
    bool isOpen() const;

    // Hands the bytes to the port unchanged, in order. False when the port is closed or refuses them.
    bool output(const QByteArray& bytes) { return output(bytes.constData(), bytes.size()); }
    bool output(const char* data, qint64 size);
    // Every received byte not yet read.
    QByteArray input();
    // Sleeps in the kernel until input arrives or `limitMs` pass, without running the event loop; input
    // that arrives is announced through received() before this returns. For answers that come at once:
    // keep the limit short, the window does not repaint meanwhile.
    bool waitForInput(int limitMs);

    // Blocks until every byte handed to output() has left the port (or the device failed).
    bool drain();

    int lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }
    Cause lastCause() const { return m_lastCause; }
    // What the driver said to the low-latency request of the last successful open.
    LowLatency::Outcome lowLatency() const { return m_lowLatency; }
    QString devicePath() const;
    std::shared_ptr<const PortDirectory> directory() const { return m_directory; }

    // German one-line explanation of the last failure, naming the port, for message boxes.
    QString describeLastError() const;

    // Every byte sent and received from now on is recorded there (not owned; nullptr stops it).
    void setTrace(TraceRecorder* trace) { m_trace = trace; }
    TraceRecorder* trace() const { return m_trace; }

signals:
    // Received data is waiting (the receive notification).
    void received();
    // The device vanished while the port was open: the port is closed now. Emitted once per loss.
    void deviceLost(const QString& reason);

private:
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void fail(int number, const QString& text, Cause cause = Cause::Other);

    std::shared_ptr<const PortDirectory> m_directory;
    QSerialPort* m_port = nullptr;
    int m_commPort = 1;
    LineSettings m_settings;
    int m_lastError = SerialError::None;
    QString m_lastErrorText;
    Cause m_lastCause = Cause::None;
    bool m_lost = false;
    TraceRecorder* m_trace = nullptr;
    LowLatency::Outcome m_lowLatency = LowLatency::Outcome::NotRequested;
};

} // namespace morvandell
