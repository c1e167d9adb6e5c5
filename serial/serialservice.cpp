#include "serial/serialservice.h"

#include "serial/portdoctor.h"
#include "serial/tracerecorder.h"

#include <QFileInfo>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace morvandell {

namespace {

// Why an open port failed, from what can be seen now: the error event itself, the line's state and
// whether the device file is still there. errorString() is no help here: after an error that Qt did not
// raise itself it still holds the text of some earlier call.
QString lostDeviceReason(QSerialPort::SerialPortError error, int handle, const QString& path)
{
#ifdef Q_OS_UNIX
    if (handle >= 0) {
        pollfd p{handle, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP))
            return QStringLiteral("die Leitung wurde getrennt: Gerät entfernt oder Gegenstelle geschlossen");
    }
    if (!path.isEmpty() && !QFileInfo::exists(path))
        return QStringLiteral("%1 existiert nicht mehr").arg(path);
#else
    Q_UNUSED(handle)
    Q_UNUSED(path)
#endif
    switch (error) {
    case QSerialPort::WriteError:
        return QStringLiteral("Schreibfehler");
    case QSerialPort::ResourceError:
        return QStringLiteral("das Gerät ist nicht mehr verfügbar");
    default:
        return QStringLiteral("Lesefehler");
    }
}

} // namespace

SerialService::SerialService(std::shared_ptr<const PortDirectory> directory, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_port(new QSerialPort(this))
{
    if (!m_directory)
        m_directory = std::make_shared<const PortDirectory>();
    connect(m_port, &QSerialPort::readyRead, this, &SerialService::received);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialService::onErrorOccurred);
}

SerialService::~SerialService()
{
    close();
}

void SerialService::setCommPort(int number)
{
    if (number == m_commPort)
        return;
    close();
    m_commPort = number;
}

bool SerialService::setSettings(const QString& text)
{
    QString why;
    const auto parsed = LineSettings::parse(text, &why);
    if (!parsed) {
        fail(SerialError::InvalidSettings, why);
        return false;
    }
    m_settings = *parsed;
    return true;
}

QString SerialService::devicePath() const
{
    return m_directory->entry(m_commPort).device;
}

bool SerialService::isOpen() const
{
    return m_port->isOpen();
}

void SerialService::fail(int number, const QString& text, Cause cause)
{
    m_lastError = number;
    m_lastErrorText = text;
    m_lastCause = cause;
}

bool SerialService::open()
{
    if (m_port->isOpen()) {
        fail(SerialError::AlreadyOpen, QStringLiteral("Port ist bereits geöffnet"));
        return false;
    }
    if (!m_directory->contains(m_commPort)) {
        fail(SerialError::NoDevice, QStringLiteral("kein Gerät für diese Portnummer"), Cause::Missing);
        return false;
    }
    const QString path = devicePath();
#ifdef Q_OS_UNIX
    if (!QFileInfo::exists(path)) {
        fail(SerialError::NoDevice, QStringLiteral("%1 existiert nicht").arg(path), Cause::Missing);
        return false;
    }
#endif
    m_port->setPortName(path);
    m_port->clearError();
    if (!m_port->open(QIODevice::ReadWrite)) {
        const auto error = m_port->error();
        const QString text = m_port->errorString();
        m_port->clearError();
        if (error == QSerialPort::DeviceNotFoundError) {
            fail(SerialError::NoDevice, text, Cause::Missing);
        } else if (error == QSerialPort::PermissionError) {
            // This Qt reports "in use" and "no permission" alike; ask the file system which it is.
#ifdef Q_OS_UNIX
            const bool permitted = ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
            const bool permitted = true;
#endif
            fail(SerialError::Unavailable, text, permitted ? Cause::Busy : Cause::NoPermission);
        } else {
            fail(SerialError::OpenFailed, text);
        }
        return false;
    }
    // Modem-line and flow-control calls fail on some devices (pseudo-terminals); only the line format
    // matters.
    const bool configured =
        m_port->setBaudRate(m_settings.baudRate) && m_port->setParity(m_settings.parity) &&
        m_port->setDataBits(m_settings.dataBits) && m_port->setStopBits(m_settings.stopBits);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const QString text = m_port->errorString();
        m_port->close();
        m_port->clearError();
        fail(SerialError::OpenFailed,
             QStringLiteral("Einstellungen %1 nicht möglich: %2").arg(m_settings.toString(), text));
        return false;
    }
    // Answers of one byte must not wait for a USB adapter's latency timer.
#ifdef Q_OS_UNIX
    m_lowLatency = LowLatency::request(m_port->handle());
#else
    m_lowLatency = LowLatency::request(-1);
#endif
    m_port->clear();
    m_port->clearError();
    m_lost = false;
    if (m_trace) {
        m_trace->noteOpened(m_commPort, path, m_settings.toString());
        m_trace->note(LowLatency::describe(m_lowLatency));
    }
    return true;
}

bool SerialService::drain()
{
    if (!m_port->isOpen())
        return false;
    while (m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(2000))
            break;
    }
#ifdef Q_OS_UNIX
    if (m_port->handle() >= 0)
        ::tcdrain(m_port->handle());
#endif
    return m_port->bytesToWrite() == 0;
}

void SerialService::close()
{
    if (!m_port->isOpen())
        return;
    if (!m_lost)
        drain();
    m_port->close();
    m_port->clearError();
    if (m_trace)
        m_trace->noteClosed();
}

bool SerialService::output(const char* data, qint64 size)
{
    if (!m_port->isOpen()) {
        fail(SerialError::NotOpen,
             m_lost ? QStringLiteral("Gerät getrennt") : QStringLiteral("Port ist nicht geöffnet"));
        return false;
    }
    const qint64 written = m_port->write(data, size);
    if (m_trace && written > 0)
        m_trace->record(TraceRecorder::Direction::Sent, QByteArray(data, written));
    if (written != size) {
        fail(SerialError::WriteFailed, m_port->errorString());
        return false;
    }
    // Hand the bytes to the driver now rather than at the next event-loop pass.
    m_port->flush();
    if (!m_port->isOpen() || m_lost) {
        fail(SerialError::WriteFailed,
             m_lastErrorText.isEmpty() ? QStringLiteral("Schreibfehler") : m_lastErrorText);
        return false;
    }
    return true;
}

QByteArray SerialService::input()
{
    if (!m_port->isOpen())
        return {};
    const QByteArray bytes = m_port->readAll();
    if (m_trace)
        m_trace->record(TraceRecorder::Direction::Received, bytes);
    return bytes;
}

bool SerialService::waitForInput(int limitMs)
{
    if (!m_port->isOpen() || m_lost)
        return false;
    const bool arrived = m_port->waitForReadyRead(limitMs);
    if (!arrived && m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
    return arrived;
}

void SerialService::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError &&
        error != QSerialPort::WriteError)
        return;
    if (!m_port->isOpen() || m_lost)
        return;
    // A vanished device shows up here as a storm of read errors while the port stays open.
    // Take the first one: remember it, and close the port outside the port's own signal.
    m_lost = true;
    const QString reason = lostDeviceReason(error, m_port->handle(), devicePath());
    fail(SerialError::DeviceGone, reason);
    QTimer::singleShot(0, this, [this, reason] {
        if (m_port->isOpen())
            m_port->close();
        m_port->clearError();
        if (m_trace)
            m_trace->note(QStringLiteral("Gerät getrennt: %1").arg(reason));
        emit deviceLost(reason);
    });
}

QString SerialService::describeLastError() const
{
    const QString port = QStringLiteral("Com #%1").arg(m_commPort);
    const QString device = devicePath();
    const QString where = device.isEmpty() ? port : QStringLiteral("%1 (%2)").arg(port, device);
#ifdef Q_OS_UNIX
    // Why, and what to do about it, from what the file system says about the device.
    const PortDoctor doctor;
    switch (m_lastCause) {
    case Cause::Missing:
        m_directory->refresh({m_commPort}); // what the port list knows, as of now
        return QStringLiteral("%1: kein Gerät gefunden.\n%2")
            .arg(where, doctor.notThere(*m_directory, m_commPort));
    case Cause::Busy:
        return QStringLiteral("%1: %2").arg(port, doctor.busy(device));
    case Cause::NoPermission:
        return QStringLiteral("%1: %2").arg(port, doctor.noPermission(device));
    default:
        break;
    }
#else
    switch (m_lastCause) {
    case Cause::Missing:
        return QStringLiteral("%1: kein Gerät gefunden (%2).").arg(where, m_lastErrorText);
    case Cause::Busy:
        return QStringLiteral("%1 ist belegt: ein anderes Programm benutzt den Port (%2).")
            .arg(where, m_lastErrorText);
    case Cause::NoPermission:
        return QStringLiteral("%1: keine Berechtigung (%2).").arg(where, m_lastErrorText);
    default:
        break;
    }
#endif
    return QStringLiteral("%1: %2 (Fehler %3).").arg(where, m_lastErrorText).arg(m_lastError);
}

} // namespace morvandell
