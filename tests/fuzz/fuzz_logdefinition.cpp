// Fuzz target for the log-definition reader: line scanning, attribute picking and the catalogue.
//
// Input: byte 0 gives a small chunk size (1..32), byte 1 a second one (1..8), byte 2 the line-length
// limit (1..128 when below 128, else the reader's default); the rest is the file.
//
// The file is read
// - by read() over a QBuffer in chunks of the first size and in chunks of the default size;
// - as a reference: split into lines here (CR LF, lone CR and lone LF each end a line), each line cut
//   to the limit and handed to processLine();
// - rebuilt from those lines with LF, with CR LF and with CR line ends, read in chunks of the second
//   size;
// - into a catalogue whose every field holds a value no file can produce.
//
// Properties:
// - every way gives the same catalogue and the same report (entries, channel lines, channels left
//   out, out-of-range texts, overlong lines);
// - every entry's index is in 1..256, entries come in file order, each index's stored name is the
//   last name listed for it, and no stored name is missing from the entries unless names were left
//   out; at most MaxEntries entries and ShownOutOfRange out-of-range texts are kept;
// - index 0 is never written; nothing beyond the last channel line's index is written; a field of
//   a reached index is either what a fresh read stores or untouched;
// - one running index per line that contains "channel"; channels left out only beyond index 256 and
//   never more than the lines beyond it; no more entries than "name" keys in the stored lines;
// - every out-of-range text names divider or channel with a number, as written, that really
//   converts outside 0..255, and a label that is a listed name or "Kanal <index>";
// - the warning text is empty exactly when there is nothing to warn about.
#include "catalogue/logdefinitionreader.h"
#include "catalogue/numberconversion.h"
#include "fuzzcheck.h"

#include <QBuffer>

#include <cstdint>

using morvandell::Catalogue;
using morvandell::CatalogueEntry;
using morvandell::LogDefinitionReader;
using morvandell::ReadReport;

namespace {

struct Result
{
    Catalogue catalogue;
    ReadReport report;
    int runningIndex = 0;
};

QString entriesText(const QList<CatalogueEntry>& entries)
{
    QStringList parts;
    for (const CatalogueEntry& e : entries)
        parts << QStringLiteral("%1@%2").arg(fuzzcheck::escaped(e.name)).arg(e.index);
    return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
}

// The first difference between two results, or an empty text.
QString difference(const Result& a, const Result& b)
{
    for (int i = 0; i < Catalogue::Size; ++i) {
        if (a.catalogue.name[i] != b.catalogue.name[i] || a.catalogue.unit[i] != b.catalogue.unit[i]
            || a.catalogue.storage[i] != b.catalogue.storage[i] || a.catalogue.number[i] != b.catalogue.number[i]
            || a.catalogue.divider[i] != b.catalogue.divider[i])
            return QStringLiteral("catalogue index %1: %2/%3/%4/%5/%6 against %7/%8/%9/%10/%11")
                .arg(i)
                .arg(fuzzcheck::escaped(a.catalogue.name[i]), fuzzcheck::escaped(a.catalogue.unit[i]),
                     fuzzcheck::escaped(a.catalogue.storage[i]))
                .arg(a.catalogue.number[i])
                .arg(a.catalogue.divider[i])
                .arg(fuzzcheck::escaped(b.catalogue.name[i]), fuzzcheck::escaped(b.catalogue.unit[i]),
                     fuzzcheck::escaped(b.catalogue.storage[i]))
                .arg(b.catalogue.number[i])
                .arg(b.catalogue.divider[i]);
    }
    const ReadReport& r = a.report;
    const ReadReport& s = b.report;
    if (r.entries.size() != s.entries.size())
        return QLatin1String("entries ") + entriesText(r.entries) + QLatin1String(" against ") + entriesText(s.entries);
    for (qsizetype i = 0; i < r.entries.size(); ++i)
        if (r.entries[i].name != s.entries[i].name || r.entries[i].index != s.entries[i].index)
            return QLatin1String("entries ") + entriesText(r.entries) + QLatin1String(" against ")
                   + entriesText(s.entries);
    if (r.channelLines != s.channelLines || a.runningIndex != b.runningIndex)
        return QStringLiteral("channel lines %1 (index %2) against %3 (index %4)")
            .arg(r.channelLines)
            .arg(a.runningIndex)
            .arg(s.channelLines)
            .arg(b.runningIndex);
    if (r.channelsLeftOut != s.channelsLeftOut)
        return QStringLiteral("channels left out %1 against %2").arg(r.channelsLeftOut).arg(s.channelsLeftOut);
    if (r.entriesLeftOut != s.entriesLeftOut)
        return QStringLiteral("entries left out %1 against %2").arg(r.entriesLeftOut).arg(s.entriesLeftOut);
    if (r.outOfRangeCount != s.outOfRangeCount)
        return QStringLiteral("out of range count %1 against %2").arg(r.outOfRangeCount).arg(s.outOfRangeCount);
    if (r.outOfRange != s.outOfRange)
        return QLatin1String("out of range ") + r.outOfRange.join(QLatin1Char('|')) + QLatin1String(" against ")
               + s.outOfRange.join(QLatin1Char('|'));
    if (r.overlongLines != s.overlongLines)
        return QStringLiteral("overlong lines %1 against %2").arg(r.overlongLines).arg(s.overlongLines);
    return QString();
}

void configure(LogDefinitionReader& reader, qsizetype chunkSize, qsizetype limit)
{
    reader.setChunkSize(chunkSize);
    if (limit > 0)
        reader.setMaxLineLength(limit);
}

void readInto(Result& result, const QByteArray& file, qsizetype chunkSize, qsizetype limit)
{
    LogDefinitionReader reader(result.catalogue);
    configure(reader, chunkSize, limit);
    QByteArray copy = file;
    QBuffer buffer(&copy);
    CHECK(buffer.open(QIODevice::ReadOnly));
    QString error;
    CHECK(reader.read(buffer, &error), error);
    CHECK(error.isEmpty());
    result.report = reader.report();
    result.runningIndex = reader.runningIndex();
}

Result readWith(const QByteArray& file, qsizetype chunkSize, qsizetype limit)
{
    Result result;
    readInto(result, file, chunkSize, limit);
    return result;
}

// Lines of the file, without their ends: CR LF, lone CR and lone LF each end a line.
QList<QByteArray> splitLines(const QByteArray& file)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < file.size(); ++i) {
        const char c = file[i];
        if (c == '\r' || c == '\n') {
            lines << line;
            line.clear();
            if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    lines << line;
    return lines;
}

qsizetype occurrences(const QByteArray& text, const char* word)
{
    return text.count(word);
}

void checkOutOfRangeText(const QString& text, const ReadReport& report)
{
    // "<label>: <key> = <number>"; a name holds no blank, so the last ": " ends the label.
    const qsizetype colon = text.lastIndexOf(QLatin1String(": "));
    CHECK(colon >= 0, fuzzcheck::escaped(text));
    const QString label = text.first(colon);
    const QString rest = text.sliced(colon + 2);
    QString number;
    if (rest.startsWith(QLatin1String("divider = ")))
        number = rest.sliced(10);
    else if (rest.startsWith(QLatin1String("channel = ")))
        number = rest.sliced(10);
    else
        CHECK(false, fuzzcheck::escaped(text));
    const morvandell::ConvertedNumber converted = morvandell::convertNumber(number);
    CHECK(!converted.inRange, fuzzcheck::escaped(text) + QLatin1String(" converts in range"));
    CHECK(morvandell::leadingNumberLength(number) == number.size(),
          fuzzcheck::escaped(text) + QLatin1String(": not a number as written"));

    bool known = false;
    for (const CatalogueEntry& e : report.entries)
        known = known || e.name == label;
    if (!known && label.startsWith(QLatin1String("Kanal "))) {
        bool ok = false;
        const int index = label.sliced(6).toInt(&ok);
        known = ok && index >= 1 && index <= Catalogue::LastIndex && QString::number(index) == label.sliced(6);
    }
    known = known || report.entriesLeftOut > 0; // the line's name may be one that was not listed
    CHECK(known, fuzzcheck::escaped(text) + QLatin1String(": label is neither a listed name nor \"Kanal <index>\""));
}

// The properties of one result on its own.
void checkResult(const Result& r, const QList<QByteArray>& storedLines, qsizetype channelLines)
{
    const ReadReport& report = r.report;
    const Catalogue& c = r.catalogue;

    CHECK(report.channelLines == channelLines,
          QStringLiteral("%1 channel lines counted, %2 lines contain \"channel\"").arg(report.channelLines).arg(channelLines));
    CHECK(r.runningIndex == report.channelLines);
    const int lastIndex = qMin(report.channelLines, Catalogue::LastIndex);
    CHECK(report.channelsLeftOut >= 0 && report.channelsLeftOut <= qMax(0, report.channelLines - Catalogue::LastIndex),
          QStringLiteral("%1 channels left out of %2 channel lines").arg(report.channelsLeftOut).arg(report.channelLines));

    // Index 0 and every index past the last channel line stay as they were (empty).
    for (int i = 0; i < Catalogue::Size; ++i) {
        if (i != 0 && i <= lastIndex)
            continue;
        CHECK(c.name[i].isEmpty() && c.unit[i].isEmpty() && c.storage[i].isEmpty() && c.number[i] == 0
                  && c.divider[i] == 0,
              QStringLiteral("index %1 written (last channel line index %2)").arg(i).arg(lastIndex));
    }

    int previous = 1;
    QList<int> lastEntryAt(Catalogue::Size, -1);
    for (qsizetype k = 0; k < report.entries.size(); ++k) {
        const CatalogueEntry& e = report.entries[k];
        CHECK(e.index >= 1 && e.index <= Catalogue::LastIndex, entriesText(report.entries));
        CHECK(e.index <= lastIndex, entriesText(report.entries));
        CHECK(e.index >= previous, QLatin1String("entries out of file order: ") + entriesText(report.entries));
        previous = e.index;
        lastEntryAt[e.index] = int(k);
    }
    for (int i = 1; i <= Catalogue::LastIndex; ++i) {
        // Once names were left out, the last listed index may hold a later, unlisted name.
        const bool cut = report.entriesLeftOut > 0 && i >= report.entries.last().index;
        if (lastEntryAt[i] >= 0 && !cut)
            CHECK(c.name[i] == report.entries[lastEntryAt[i]].name,
                  QStringLiteral("index %1 holds %2, its last entry says %3")
                      .arg(i)
                      .arg(fuzzcheck::escaped(c.name[i]), fuzzcheck::escaped(report.entries[lastEntryAt[i]].name)));
        else if (report.entriesLeftOut == 0)
            CHECK(c.name[i].isEmpty(), QStringLiteral("index %1 has a name but no entry").arg(i));
    }

    qsizetype nameKeys = 0;
    for (const QByteArray& line : storedLines)
        nameKeys += occurrences(line, "name");
    CHECK(report.entries.size() <= LogDefinitionReader::MaxEntries
              && (report.entriesLeftOut == 0 || report.entries.size() == LogDefinitionReader::MaxEntries),
          QStringLiteral("%1 entries listed, %2 left out").arg(report.entries.size()).arg(report.entriesLeftOut));
    CHECK(report.entries.size() + report.entriesLeftOut <= nameKeys,
          QStringLiteral("%1 entries from %2 \"name\" words").arg(report.entries.size()).arg(nameKeys));

    CHECK(report.outOfRange.size() == qMin<qsizetype>(report.outOfRangeCount, LogDefinitionReader::ShownOutOfRange),
          QStringLiteral("%1 out-of-range texts kept of %2").arg(report.outOfRange.size()).arg(report.outOfRangeCount));
    for (const QString& text : report.outOfRange)
        checkOutOfRangeText(text, report);

    const bool warn = report.channelsLeftOut > 0 || report.outOfRangeCount > 0 || report.overlongLines > 0
                      || report.entriesLeftOut > 0;
    CHECK(report.warningText().isEmpty() == !warn, fuzzcheck::escaped(report.warningText()));
}

QString sentinel()
{
    return QString(QChar(0x4E00)); // no Windows-1252 byte decodes to it
}

Catalogue presetCatalogue()
{
    Catalogue c;
    for (int i = 0; i < Catalogue::Size; ++i) {
        c.name[i] = c.unit[i] = c.storage[i] = sentinel();
        c.number[i] = 0xA5;
        c.divider[i] = 0x5A;
    }
    return c;
}

// A read into a preset catalogue changes only what the fresh read stored.
void checkPreset(const Result& preset, const Result& fresh)
{
    const int lastIndex = qMin(fresh.report.channelLines, Catalogue::LastIndex);
    const auto text = [&](const QString& got, const QString& stored, int i) {
        if (i == 0 || i > lastIndex)
            CHECK(got == sentinel(), QStringLiteral("preset index %1 overwritten").arg(i));
        else
            CHECK(got == stored || (got == sentinel() && stored.isEmpty()),
                  QStringLiteral("preset index %1: %2, fresh read %3")
                      .arg(i)
                      .arg(fuzzcheck::escaped(got), fuzzcheck::escaped(stored)));
    };
    const auto byte = [&](std::uint8_t got, std::uint8_t stored, std::uint8_t preset, int i) {
        if (i == 0 || i > lastIndex)
            CHECK(got == preset, QStringLiteral("preset index %1 overwritten").arg(i));
        else
            CHECK(got == stored || (got == preset && stored == 0),
                  QStringLiteral("preset index %1: %2, fresh read %3").arg(i).arg(got).arg(stored));
    };
    for (int i = 0; i < Catalogue::Size; ++i) {
        text(preset.catalogue.name[i], fresh.catalogue.name[i], i);
        text(preset.catalogue.unit[i], fresh.catalogue.unit[i], i);
        text(preset.catalogue.storage[i], fresh.catalogue.storage[i], i);
        byte(preset.catalogue.number[i], fresh.catalogue.number[i], 0xA5, i);
        byte(preset.catalogue.divider[i], fresh.catalogue.divider[i], 0x5A, i);
    }
    CHECK(preset.report.entries.size() == fresh.report.entries.size());
    CHECK(preset.report.outOfRange == fresh.report.outOfRange);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const qsizetype chunk1 = 1 + data[0] % 32;
    const qsizetype chunk2 = 1 + data[1] % 8;
    const qsizetype limit = data[2] < 128 ? 1 + data[2] : 0; // 0: the reader's default
    const QByteArray file(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));
    const qsizetype effectiveLimit = limit > 0 ? limit : LogDefinitionReader::DefaultMaxLineLength;

    // Reference: lines split here, cut to the limit, one processLine() each.
    Result reference;
    QList<QByteArray> storedLines; // the cut lines that took an index 1..256
    qsizetype channelLines = 0;
    {
        LogDefinitionReader reader(reference.catalogue);
        configure(reader, chunk1, limit);
        int overlong = 0;
        for (QByteArray line : splitLines(file)) {
            if (line.size() > effectiveLimit) {
                ++overlong;
                line.truncate(effectiveLimit);
            }
            if (line.contains("channel") && ++channelLines <= Catalogue::LastIndex)
                storedLines << line;
            reader.processLine(line);
        }
        reference.report = reader.report();
        reference.report.overlongLines = overlong; // processLine() alone does not see the cut
        reference.runningIndex = reader.runningIndex();
        CHECK(reader.report().overlongLines == 0);
    }
    checkResult(reference, storedLines, channelLines);

    const auto same = [&](const Result& r, const char* how) {
        const QString diff = difference(reference, r);
        CHECK(diff.isEmpty(), QLatin1String(how) + QLatin1String(": ") + diff);
    };
    same(readWith(file, chunk1, limit), "read in chunks of the first size");
    same(readWith(file, LogDefinitionReader::DefaultChunkSize, limit), "read in one chunk");

    // The same lines with each kind of line end.
    const QList<QByteArray> lines = splitLines(file);
    same(readWith(lines.join('\n'), chunk2, limit), "LF line ends");
    same(readWith(lines.join("\r\n"), chunk2, limit), "CR LF line ends");
    same(readWith(lines.join('\r'), chunk2, limit), "CR line ends");

    // Into a catalogue that already holds values.
    Result preset;
    preset.catalogue = presetCatalogue();
    readInto(preset, file, chunk1, limit);
    checkPreset(preset, reference);

    // The whole input as one line, line-end bytes and all.
    {
        Catalogue catalogue;
        LogDefinitionReader reader(catalogue);
        reader.processLine(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
        const bool channel = QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)).contains("channel");
        Result one{catalogue, reader.report(), reader.runningIndex()};
        checkResult(one, channel ? QList<QByteArray>{QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))}
                                 : QList<QByteArray>{},
                    channel ? 1 : 0);
    }
    return 0;
}
