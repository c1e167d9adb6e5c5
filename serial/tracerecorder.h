#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <deque>

class QIODevice;

namespace morvandell {

// Records every byte a serial port sends and receives, one line per write or read, with the
// milliseconds since recording began, the direction, hex and printable characters. Opening and
// closing the port are noted too. Keeps the newest lines up to a byte limit; a live sink (the
// command-line tool's --trace file) receives every line as it is made.
class TraceRecorder
{
public:
    static constexpr qsizetype DefaultLimit = 10 * 1024 * 1024; // the last 10 MB of lines
    static constexpr int BytesPerLine = 32;                     // longer reads and writes wrap

    enum class Direction { Sent, Received };

    explicit TraceRecorder(qsizetype limit = DefaultLimit);

    // What the header names: port number, device and line settings of the port being traced.
    void setPort(int number, const QString& device, const QString& settings);
    // Every line from now on is also written here (and flushed). nullptr stops it.
    void setSink(QIODevice* sink);

    void record(Direction direction, const QByteArray& bytes);
    void noteOpened(int number, const QString& device, const QString& settings);
    void noteClosed();
    void note(const QString& text);

    // Program version, Qt version, port, device and line settings.
    QByteArray header() const;
    // The header and every line kept.
    QByteArray text() const;
    // Writes text() to the file; false with *error (German) when it cannot be written.
    bool save(const QString& path, QString* error) const;

    qint64 elapsedMs() const { return m_clock.elapsed(); }
    qsizetype size() const { return m_size; }

    // One line for the bytes (hex and printable characters), without the time and direction.
    static QByteArray describe(const QByteArray& bytes);

private:
    static void appendDescription(QByteArray& line, const char* bytes, qsizetype size);
    void append(QByteArray line);

    qsizetype m_limit;
    QElapsedTimer m_clock;
    std::deque<QByteArray> m_lines;
    qsizetype m_size = 0;
    qsizetype m_dropped = 0;
    QIODevice* m_sink = nullptr;
    int m_port = 0;
    QString m_device;
    QString m_settings;
};

} // namespace morvandell
