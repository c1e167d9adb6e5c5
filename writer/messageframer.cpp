#include "writer/messageframer.h"

#include <QLocale>
#include <QStringDecoder>
#include <QTime>

namespace morvandell {

QString DeviceMessage::payloadText() const
{
    QByteArray p = payload();
    const int zero = p.indexOf('\0');
    if (zero >= 0)
        p.truncate(zero);
    QStringDecoder decoder("windows-1252");
    return decoder.decode(p);
}

QString DeviceMessage::logLine(const QString& time) const
{
    switch (type()) {
    case Text: {
        const QString text = payloadText();
        if (text == QLatin1String("Write SDram"))
            return time + QLatin1String(" -> ") + text + QLatin1String(" @ 0x0");
        return time + QLatin1String(" -> ") + text;
    }
    case EepromReport:
        return time + QLatin1String("->  ReadEEProm @ 0x") + QString::number(address(), 16).toUpper();
    case Identification:
        return time + QLatin1String("->  online Firmware: ") + payloadText();
    default:
        return QString();
    }
}

QList<DeviceMessage> MessageFramer::feed(const QByteArray& bytes)
{
    QList<DeviceMessage> messages;
    m_buffer.append(bytes);
    qsizetype pos = 0;
    const qsizetype size = m_buffer.size();
    const char* data = m_buffer.constData();
    while (pos < size) {
        const qsizetype start = m_buffer.indexOf('\x55', pos);
        if (start < 0) {
            pos = size; // nothing here can start a message
            break;
        }
        pos = start;
        if (size - pos < DeviceMessage::Size)
            break; // incomplete: wait for more
        if (data[pos + 20] == '\r' && data[pos + 21] == '\n') {
            messages.append(DeviceMessage{m_buffer.mid(pos, DeviceMessage::Size)});
            pos += DeviceMessage::Size;
        } else {
            ++pos; // this 0x55 does not start a message
        }
    }
    m_buffer.remove(0, pos);
    return messages;
}

QString longTimeText(const QTime& time)
{
    // Drop the time-zone field ("t") of the long format, and the blank in front of it.
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString cleaned;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        cleaned.append(c);
    }
    return QLocale::system().toString(time, cleaned.trimmed());
}

} // namespace morvandell
