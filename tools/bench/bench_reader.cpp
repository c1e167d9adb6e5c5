// Times the log-definition reader on a realistic file and on 100 MB of junk, and prints the
// process's peak resident memory. Run a Release build by hand; nothing here is checked.

#include "catalogue/logdefinitionreader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <random>

using namespace morvandell;

namespace {

constexpr qint64 JunkSize = 100LL * 1024 * 1024;

// Peak resident set size in KiB (VmHWM), or -1.
long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets VmHWM).
void resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// Writes a file piece by piece: produce(buffer) fills the next piece, returns false when done.
bool writeFile(const QString& path, const std::function<bool(QByteArray&)>& produce)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray piece;
    while (produce(piece))
        if (file.write(piece) != piece.size())
            return false;
    return true;
}

QByteArray channelLine(int i)
{
    return "\t<channel name=\"Channel_" + QByteArray::number(i) + "\" channel=\"" +
           QByteArray::number(i % 256) + "\" unit=\"bar\" divider=\"10\" storage=\"s16\"/>\r\n";
}

bool writeChannelFile(const QString& path)
{
    bool done = false;
    return writeFile(path, [&](QByteArray& piece) {
        if (done)
            return false;
        piece = "<?xml version=\"1.0\"?>\r\n<channels>\r\n";
        for (int i = 1; i <= 255; ++i)
            piece += channelLine(i);
        piece += "</channels>\r\n";
        done = true;
        return true;
    });
}

// Random bytes without the letter 'c' (so no "channel"), in stretches of a few KiB to a few MiB
// that alternate between no line ends at all and random CR, LF and CR LF every 1 to 300 bytes.
bool writeJunkFile(const QString& path)
{
    std::mt19937_64 random(20240601);
    qint64 written = 0;
    bool withLineEnds = false;
    return writeFile(path, [&](QByteArray& piece) {
        if (written >= JunkSize)
            return false;
        const qint64 length = qMin<qint64>(JunkSize - written, 4096 + qint64(random() % (4 * 1024 * 1024)));
        piece.resize(length);
        for (qint64 i = 0; i < length; ++i) {
            char c = char(random() & 0xFF);
            if (c == 'c' || c == '\r' || c == '\n')
                c = 'x';
            piece[i] = c;
        }
        if (withLineEnds) {
            for (qint64 i = qint64(random() % 300); i < length; i += 1 + qint64(random() % 300)) {
                static const char ends[] = {'\r', '\n'};
                piece[i] = ends[random() % 2];
                if (random() % 3 == 0 && i + 1 < length)
                    piece[++i] = '\n';
            }
        }
        withLineEnds = !withLineEnds;
        written += length;
        return true;
    });
}

// 100 MB of channel lines: every line takes an index, all but the first 256 are left out.
bool writeChannelFlood(const QString& path)
{
    qint64 written = 0;
    int i = 0;
    return writeFile(path, [&](QByteArray& piece) {
        if (written >= JunkSize)
            return false;
        piece.clear();
        while (piece.size() < 1024 * 1024)
            piece += channelLine(++i);
        written += piece.size();
        return true;
    });
}

// 16 MB of 64 KiB lines full of "name=" keys: each key is a name that the lists could be offered.
bool writeNameFlood(const QString& path)
{
    QByteArray line = "<channel";
    while (line.size() + 8 < LogDefinitionReader::DefaultMaxLineLength)
        line += " name=n";
    line += "\n";
    int lines = 0;
    return writeFile(path, [&](QByteArray& piece) {
        if (qint64(lines) * line.size() >= 16LL * 1024 * 1024)
            return false;
        piece = line;
        ++lines;
        return true;
    });
}

struct Result
{
    double ms = 0;
    ReadReport report;
};

Result timeRead(const QString& path, int repeats)
{
    Result result;
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < repeats; ++r) {
        Catalogue catalogue;
        QString error;
        if (!LogDefinitionReader::readFile(path, catalogue, &result.report, &error))
            std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    result.ms = double(timer.nsecsElapsed()) / 1e6 / repeats;
    return result;
}

void print(const char* label, const QString& path, const Result& r)
{
    const double mb = double(QFile(path).size()) / (1024.0 * 1024.0);
    std::printf("%-28s %8.2f MiB  %10.3f ms  %8.0f MiB/s  channel lines %d, entries %lld (+%lld not listed), "
                "left out %d, overlong %d, peak RSS %ld KiB\n",
                label, mb, r.ms, mb / (r.ms / 1000.0), r.report.channelLines,
                qlonglong(r.report.entries.size()), qlonglong(r.report.entriesLeftOut),
                r.report.channelsLeftOut, r.report.overlongLines, peakRssKiB());
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const QString channels = dir.filePath(QStringLiteral("channels.xml"));
    const QString junk = dir.filePath(QStringLiteral("junk.bin"));
    const QString flood = dir.filePath(QStringLiteral("flood.xml"));
    const QString names = dir.filePath(QStringLiteral("names.xml"));
    if (!dir.isValid() || !writeChannelFile(channels) || !writeJunkFile(junk) || !writeChannelFlood(flood) ||
        !writeNameFlood(names)) {
        std::fprintf(stderr, "cannot write the test files\n");
        return 1;
    }
    std::printf("peak RSS after writing the files: %ld KiB\n", peakRssKiB());
    resetPeakRss();
    std::printf("peak RSS after reset: %ld KiB\n", peakRssKiB());

    print("16 MB of name= keys", names, timeRead(names, 3));
    print("256-channel file (x1000)", channels, timeRead(channels, 1000));
    print("100 MB junk", junk, timeRead(junk, 3));
    print("100 MB of channel lines", flood, timeRead(flood, 3));
    return 0;
}
