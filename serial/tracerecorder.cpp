#include "serial/tracerecorder.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>

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
    QByteArray line;
    appendDescription(line, bytes.constData(), bytes.size());
    return line;
}

void TraceRecorder::appendDescription(QByteArray& line, const char* bytes, qsizetype size)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    if (size <= 0) {
        line += " ||";
        return;
    }
    // "55 0D |U.|": three characters a byte but the last, " |", one character a byte, "|".
    const qsizetype start = line.size();
    line.resize(start + 3 * size - 1 + 2 + size + 1);
    char* out = line.data() + start;
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            *out++ = ' ';
        *out++ = Hex[b >> 4];
        *out++ = Hex[b & 0x0F];
    }
    *out++ = ' ';
    *out++ = '|';
    for (qsizetype i = 0; i < size; ++i)
        *out++ = (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? bytes[i] : '.';
    *out++ = '|';
}

void TraceRecorder::record(Direction direction, const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    // Built in one buffer per line: a flood of input must not cost a handful of allocations per line.
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%9lld %s ", static_cast<long long>(m_clock.elapsed()),
                                          direction == Direction::Sent ? ">" : "<");
    for (qsizetype at = 0; at < bytes.size(); at += BytesPerLine) {
        const qsizetype size = std::min<qsizetype>(BytesPerLine, bytes.size() - at);
        QByteArray line;
        line.reserve(stampLength + 4 * size + 3);
        line.append(stamp, stampLength);
        appendDescription(line, bytes.constData() + at, size);
        append(std::move(line));
    }
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
    line.squeeze(); // thousands of lines are kept: no spare capacity in each
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
