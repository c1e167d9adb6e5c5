#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

namespace morvandell {

// Line settings in the classic "baud,parity,data,stop" text form, e.g. "9600,n,8,1".
struct LineSettings
{
    qint32 baudRate = 19200;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Strict: exactly four comma-separated fields, no guessing. On failure *error says why.
    static std::optional<LineSettings> parse(QStringView text, QString* error = nullptr);
    QString toString() const;

    friend bool operator==(const LineSettings& a, const LineSettings& b)
    {
        return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits &&
               a.stopBits == b.stopBits;
    }
};

} // namespace morvandell
