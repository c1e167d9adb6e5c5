#include "serial/tracerecorder.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QtGlobal>

#ifndef MORVANDELL_VERSION
#define MORVANDELL_VERSION "unknown"
#endif

namespace morvandell {

TraceRecorder::TraceRecorder(qsizetype limit)
    : m_limit(limit)
{
    m_clock.start();
}

void TraceRecorder::setPort(int number, const QString& device, const QString& settings)
{
    m_port = number;
    m_device = device;
    m_settings = settings;
}

void TraceRecorder::setSink(QIODevice* sink)
{
    m_sink = sink;
    if (m_sink)
        m_sink->write(header());
}

QByteArray TraceRecorder::header() const
{
    QByteArray h;
    h += "# Morvandell Verbindungsprotokoll\n";
    h += "# Programm: " MORVANDELL_VERSION ", Qt " + QByteArray(qVersion()) +
         " (gebaut mit " QT_VERSION_STR ")\n";
    h += "# Port: Com #" + QByteArray::number(m_port) + ", Gerät: " + m_device.toUtf8() +
         ", Einstellungen: " + m_settings.toUtf8() + "\n";
    h += "# Beginn: " +
         QDateTime::currentDateTime().addMSecs(-m_clock.elapsed()).toString(Qt::ISODateWithMs).toUtf8() +
         "\n";
    h += "# ms seit Beginn, > gesendet / < empfangen, Bytes hexadezimal | druckbare Zeichen\n";
    return h;
}

QByteArray TraceRecorder::describe(const QByteArray& bytes)
{
    QByteArray line = bytes.toHex(' ').toUpper();
    line += " |";
    for (const char c : bytes)
        line += (c >= 0x20 && c < 0x7F) ? c : '.';
    line += '|';
    return line;
}

void TraceRecorder::record(Direction direction, const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 ms = m_clock.elapsed();
    const char* arrow = direction == Direction::Sent ? " > " : " < ";
    for (qsizetype at = 0; at < bytes.size(); at += BytesPerLine)
        append(QByteArray::number(ms).rightJustified(9, ' ') + arrow + describe(bytes.mid(at, BytesPerLine)));
}

void TraceRecorder::noteOpened(int number, const QString& device, const QString& settings)
{
    setPort(number, device, settings);
    note(QStringLiteral("geöffnet: Com #%1, %2, %3").arg(number).arg(device, settings));
}

void TraceRecorder::noteClosed()
{
    note(QStringLiteral("geschlossen"));
}

void TraceRecorder::note(const QString& text)
{
    append(QByteArray::number(m_clock.elapsed()).rightJustified(9, ' ') + " # " + text.toUtf8());
}

void TraceRecorder::append(QByteArray line)
{
    line += '\n';
    if (m_sink) {
        m_sink->write(line);
        if (auto* file = qobject_cast<QFileDevice*>(m_sink))
            file->flush();
    }
    m_size += line.size();
    m_lines.push_back(std::move(line));
    while (m_size > m_limit && !m_lines.empty()) {
        m_size -= m_lines.front().size();
        m_lines.pop_front();
        ++m_dropped;
    }
}

QByteArray TraceRecorder::text() const
{
    QByteArray all = header();
    if (m_dropped > 0)
        all += "# (" + QByteArray::number(m_dropped) + " ältere Zeilen nicht mehr gespeichert)\n";
    all.reserve(all.size() + m_size);
    for (const QByteArray& line : m_lines)
        all += line;
    return all;
}

bool TraceRecorder::save(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text()) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("Das Verbindungsprotokoll kann nicht nach %1 geschrieben werden: %2")
                         .arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace morvandell
