#include "serial/linesettings.h"

#include <QStringList>

namespace morvandell {

namespace {

bool fieldToInt(QStringView field, int* value)
{
    if (field.isEmpty())
        return false;
    for (QChar c : field)
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    bool ok = false;
    *value = field.toInt(&ok);
    return ok;
}

} // namespace

std::optional<LineSettings> LineSettings::parse(QStringView text, QString* error)
{
    auto reject = [error](const QString& why) -> std::optional<LineSettings> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    const auto fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return reject(
            QStringLiteral("Einstellungen \"%1\": vier Felder erwartet (Baud,Parität,Datenbits,Stoppbits)")
                .arg(text));

    LineSettings s;
    int baud = 0;
    if (!fieldToInt(fields[0], &baud) || baud < 50 || baud > 4000000)
        return reject(QStringLiteral("Einstellungen \"%1\": ungültige Baudrate \"%2\"").arg(text, fields[0]));
    s.baudRate = baud;

    if (fields[1].size() != 1)
        return reject(QStringLiteral("Einstellungen \"%1\": ungültige Parität \"%2\"").arg(text, fields[1]));
    switch (fields[1].front().toLower().unicode()) {
    case 'n':
        s.parity = QSerialPort::NoParity;
        break;
    case 'e':
        s.parity = QSerialPort::EvenParity;
        break;
    case 'o':
        s.parity = QSerialPort::OddParity;
        break;
    case 'm':
        s.parity = QSerialPort::MarkParity;
        break;
    case 's':
        s.parity = QSerialPort::SpaceParity;
        break;
    default:
        return reject(QStringLiteral("Einstellungen \"%1\": ungültige Parität \"%2\"").arg(text, fields[1]));
    }

    int bits = 0;
    if (!fieldToInt(fields[2], &bits) || bits < 5 || bits > 8)
        return reject(
            QStringLiteral("Einstellungen \"%1\": ungültige Datenbits \"%2\"").arg(text, fields[2]));
    s.dataBits = static_cast<QSerialPort::DataBits>(bits);

    if (fields[3] == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (fields[3] == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (fields[3] == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return reject(
            QStringLiteral("Einstellungen \"%1\": ungültige Stoppbits \"%2\"").arg(text, fields[3]));
    return s;
}

QString LineSettings::toString() const
{
    QChar parityChar = QLatin1Char('n');
    switch (parity) {
    case QSerialPort::EvenParity:
        parityChar = QLatin1Char('e');
        break;
    case QSerialPort::OddParity:
        parityChar = QLatin1Char('o');
        break;
    case QSerialPort::MarkParity:
        parityChar = QLatin1Char('m');
        break;
    case QSerialPort::SpaceParity:
        parityChar = QLatin1Char('s');
        break;
    default:
        break;
    }
    QString stop = QStringLiteral("1");
    if (stopBits == QSerialPort::OneAndHalfStop)
        stop = QStringLiteral("1.5");
    else if (stopBits == QSerialPort::TwoStop)
        stop = QStringLiteral("2");
    return QStringLiteral("%1,%2,%3,%4").arg(baudRate).arg(parityChar).arg(int(dataBits)).arg(stop);
}

} // namespace morvandell
