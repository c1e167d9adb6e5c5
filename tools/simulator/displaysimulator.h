#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QThread;
class QTimer;

namespace morvandell::sim {

// What the simulated display does. Defaults: a healthy display that answers at once.
struct SimulatorConfig
{
    // --- control mode (19200 baud side) ---
    QByteArray firmware = "V1.0"; // identification payload (type 253), cut to 16 bytes
    enum class WriteAnswer { Text, EepromReport };
    WriteAnswer writeAnswer = WriteAnswer::Text; // answer to a write frame
    QByteArray answerText = "OK";                // text message answering a write frame
    QByteArray resetText = "Reset";              // text message answering the reset frame
    bool silent = false;                         // never answer anything (control mode)
    int answerDelayMs = 0;                       // delay before every answer message
    bool splitBytes = false;                     // send every message byte by byte, 1 ms apart
    QByteArray noisePrefix;                      // bytes sent before every message
    int closeAfterFrames = -1; // close the device on receiving frame N (1-based), before answering

    // --- update mode (9600 baud side) ---
    bool recovery = false;      // start already in update mode
    int readyDelayMs = 200;     // delay between update frame and ready byte 0x05
    bool noReady = false;       // never send the ready byte
    int stopAckAfterBlock = -1; // acknowledge blocks 1..k only, then stay silent
    bool coalesceFinal = false; // after the last block send 0x06 0x07 in one write
    bool finalAckOnly = false;  // after the last block send a lone 0x06 and no completion byte
    int closeAfterBlock = -1;   // close the device after receiving block k
    bool pace9600 = false;      // take bytes at the 9600-baud byte time (about 1.04 ms each)
    int ackDelayMs = 0;         // extra delay before each acknowledgement
    int ackDelayBlock = -1;     // with k >= 1: the extra delay applies to block k's acknowledgement only
    int adapterLatencyMs = 0;   // every answer held back this long (a USB adapter's latency timer)
    QString imageOut;           // write the received image here when the transfer completes
};

// A simulated Morvandell display behind a pseudo-terminal. The tool opens devicePath() like a serial port.
// Lives in one thread (see SimulatorThread); the observers below may be called from any thread.
class DisplaySimulator : public QObject
{
    Q_OBJECT
public:
    explicit DisplaySimulator(SimulatorConfig config, QObject* parent = nullptr);
    ~DisplaySimulator() override;

    // Opens the pseudo-terminal. False with *error on failure.
    bool start(QString* error = nullptr);
    QString devicePath() const;

    // --- observers (thread-safe) ---
    QList<QByteArray> receivedFrames() const; // every complete 22-byte command frame, in order
    QMap<int, QByteArray> records() const;    // record address -> the 16 bytes last written there
    QByteArray receivedImage() const;         // all update blocks received so far, in order
    int blocksReceived() const;
    bool inUpdateMode() const;
    bool deviceClosed() const;
    QByteArray rawReceived() const; // every byte received, in order
    // Frames whose first byte arrived while the answer to the previous frame was still unsent.
    int framesBeforeAnswer() const;
    // Human-readable dump of the records, one "0x0010: 52 50 4D ..." line each.
    QString dumpRecords() const;
    // Update mode: bytes that arrived after the update frame but before the display was ready (ignored).
    int bytesBeforeReady() const;

public slots:
    void closeDevice();                    // the unplugged cable: closes the pseudo-terminal
    void sendRaw(const QByteArray& bytes); // put bytes on the line now (tests, noise)

signals:
    void frameReceived(const QByteArray& frame);
    void blockReceived(int block);
    void updateFinished();
    // For logging (the command-line program shows these):
    void recordChanged(int address, const QByteArray& record); // a write frame changed a record
    void logLine(const QString& line);                         // one readable line per event
    void closed();                                             // the device has been closed

private:
    struct Private;
    Private* d;
};

// Runs a DisplaySimulator in its own thread, so it answers independently of the tool's event loop.
class SimulatorThread
{
public:
    explicit SimulatorThread(SimulatorConfig config);
    ~SimulatorThread();
    bool start(QString* error = nullptr);
    DisplaySimulator* simulator() const { return m_sim; }
    QString devicePath() const;
    void closeDevice();                    // from any thread
    void sendRaw(const QByteArray& bytes); // from any thread

private:
    QThread* m_thread = nullptr;
    DisplaySimulator* m_sim = nullptr;
};

} // namespace morvandell::sim
