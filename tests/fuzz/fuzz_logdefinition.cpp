// Fuzz target for the log-definition reader: line scanning, attribute picking and the catalogue.
//
// Input: byte 0 gives a small chunk size (1..32), byte 1 a second one (1..8), byte 2 the line-length
// limit (1..128 when below 128, else the reader's default); the rest is the file.
//
// The file is read
// - by read() from a byte source in chunks of the first size and in chunks of the default size;
// - as a reference: split into lines here (CR LF, lone CR and lone LF each end a line), each line cut
//   to the limit and handed to processLine();
// - rebuilt from those lines with LF, with CR LF and with CR line ends, read in chunks of the second
//   size, from a stream;
// - into a catalogue whose every field holds a value no file can produce.
//
// Properties:
// - every way gives the same catalogue and the same report (entries, channel lines, channels left
//   out, out-of-range texts, overlong lines);
// - every entry's index is in 1..256, entries come in file order, each index's stored name is the
//   last name listed for it, and no stored name is missing from the entries unless names were left
//   out; at most MaxEntries entries and ShownOutOfRange out-of-range texts are kept;
// - every stored text is valid UTF-8 (the file's Windows-1252 decoded) of at most MaxTextLength
//   characters, and so is every listed name;
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
#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using morvandell::Catalogue;
using morvandell::CatalogueEntry;
using morvandell::LogDefinitionReader;
using morvandell::ReadReport;
namespace text = morvandell::text;

namespace {

struct Result
{
    Catalogue catalogue;
    ReadReport report;
    int runningIndex = 0;
};

std::string entriesText(const std::vector<CatalogueEntry>& entries)
{
    std::vector<std::string> parts;
    for (const CatalogueEntry& e : entries)
        parts.push_back(fuzzcheck::escaped(e.name) + "@" + std::to_string(e.index));
    return "[" + text::join(parts, ", ") + "]";
}

std::string entryText(const Catalogue& c, std::size_t i)
{
    return fuzzcheck::escaped(c.name[i]) + "/" + fuzzcheck::escaped(c.unit[i]) + "/" + fuzzcheck::escaped(c.storage[i]) +
           "/" + std::to_string(c.number[i]) + "/" + std::to_string(c.divider[i]);
}

// The first difference between two results, or an empty text.
std::string difference(const Result& a, const Result& b)
{
    for (std::size_t i = 0; i < Catalogue::Size; ++i) {
        if (a.catalogue.name[i] != b.catalogue.name[i] || a.catalogue.unit[i] != b.catalogue.unit[i] ||
            a.catalogue.storage[i] != b.catalogue.storage[i] || a.catalogue.number[i] != b.catalogue.number[i] ||
            a.catalogue.divider[i] != b.catalogue.divider[i])
            return "catalogue index " + std::to_string(i) + ": " + entryText(a.catalogue, i) + " against " +
                   entryText(b.catalogue, i);
    }
    const ReadReport& r = a.report;
    const ReadReport& s = b.report;
    if (r.entries.size() != s.entries.size())
        return "entries " + entriesText(r.entries) + " against " + entriesText(s.entries);
    for (std::size_t i = 0; i < r.entries.size(); ++i)
        if (r.entries[i].name != s.entries[i].name || r.entries[i].index != s.entries[i].index)
            return "entries " + entriesText(r.entries) + " against " + entriesText(s.entries);
    if (r.channelLines != s.channelLines || a.runningIndex != b.runningIndex)
        return "channel lines " + std::to_string(r.channelLines) + " (index " + std::to_string(a.runningIndex) +
               ") against " + std::to_string(s.channelLines) + " (index " + std::to_string(b.runningIndex) + ")";
    if (r.channelsLeftOut != s.channelsLeftOut)
        return "channels left out " + std::to_string(r.channelsLeftOut) + " against " +
               std::to_string(s.channelsLeftOut);
    if (r.entriesLeftOut != s.entriesLeftOut)
        return "entries left out " + std::to_string(r.entriesLeftOut) + " against " + std::to_string(s.entriesLeftOut);
    if (r.outOfRangeCount != s.outOfRangeCount)
        return "out of range count " + std::to_string(r.outOfRangeCount) + " against " +
               std::to_string(s.outOfRangeCount);
    if (r.outOfRange != s.outOfRange)
        return "out of range " + text::join(r.outOfRange, "|") + " against " + text::join(s.outOfRange, "|");
    if (r.overlongLines != s.overlongLines)
        return "overlong lines " + std::to_string(r.overlongLines) + " against " + std::to_string(s.overlongLines);
    return std::string();
}

void configure(LogDefinitionReader& reader, std::size_t chunkSize, std::size_t limit)
{
    reader.setChunkSize(chunkSize);
    if (limit > 0)
        reader.setMaxLineLength(limit);
}

// The file's bytes as a source that hands out what the reader asks for.
LogDefinitionReader::ByteSource sourceOf(const std::string& file)
{
    auto pos = std::make_shared<std::size_t>(0);
    return [&file, pos](char* buffer, std::size_t max, std::string*) -> std::ptrdiff_t {
        const std::size_t n = std::min(max, file.size() - *pos);
        std::memcpy(buffer, file.data() + *pos, n);
        *pos += n;
        return std::ptrdiff_t(n);
    };
}

void readInto(Result& result, const std::string& file, std::size_t chunkSize, std::size_t limit, bool asStream)
{
    LogDefinitionReader reader(result.catalogue);
    configure(reader, chunkSize, limit);
    std::string error;
    if (asStream) {
        std::istringstream in(file, std::ios::binary);
        CHECK(reader.read(in, &error), error);
    } else {
        CHECK(reader.read(sourceOf(file), &error), error);
    }
    CHECK(error.empty());
    result.report = reader.report();
    result.runningIndex = reader.runningIndex();
}

Result readWith(const std::string& file, std::size_t chunkSize, std::size_t limit, bool asStream = false)
{
    Result result;
    readInto(result, file, chunkSize, limit, asStream);
    return result;
}

// Lines of the file, without their ends: CR LF, lone CR and lone LF each end a line.
std::vector<std::string> splitLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < file.size(); ++i) {
        const char c = file[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}

std::size_t occurrences(const std::string& s, const char* word)
{
    std::size_t n = 0;
    for (std::size_t at = s.find(word); at != std::string::npos; at = s.find(word, at + 1))
        ++n;
    return n;
}

void checkOutOfRangeText(const std::string& line, const ReadReport& report)
{
    // "<label>: <key> = <number>"; a name holds no blank, so the last ": " ends the label.
    const std::size_t colon = line.rfind(": ");
    CHECK(colon != std::string::npos, fuzzcheck::escaped(line));
    const std::string label = line.substr(0, colon);
    const std::string rest = line.substr(colon + 2);
    std::string number;
    if (text::startsWith(rest, "divider = ") || text::startsWith(rest, "channel = "))
        number = rest.substr(10);
    else
        CHECK(false, fuzzcheck::escaped(line));
    const morvandell::ConvertedNumber converted = morvandell::convertNumber(number);
    CHECK(!converted.inRange, fuzzcheck::escaped(line) + " converts in range");
    CHECK(morvandell::leadingNumberLength(number) == number.size(), fuzzcheck::escaped(line) + ": not a number as written");

    bool known = false;
    for (const CatalogueEntry& e : report.entries)
        known = known || e.name == label;
    if (!known && text::startsWith(label, "Kanal ")) {
        const auto index = text::toInteger(label.substr(6));
        known = index && *index >= 1 && *index <= Catalogue::LastIndex && std::to_string(*index) == label.substr(6);
    }
    known = known || report.entriesLeftOut > 0; // the line's name may be one that was not listed
    CHECK(known, fuzzcheck::escaped(line) + ": label is neither a listed name nor \"Kanal <index>\"");
}

// The properties of one result on its own.
void checkResult(const Result& r, const std::vector<std::string>& storedLines, int channelLines)
{
    const ReadReport& report = r.report;
    const Catalogue& c = r.catalogue;

    CHECK(report.channelLines == channelLines, std::to_string(report.channelLines) + " channel lines counted, " +
                                                   std::to_string(channelLines) + " lines contain \"channel\"");
    CHECK(r.runningIndex == report.channelLines);
    const int lastIndex = std::min(report.channelLines, Catalogue::LastIndex);
    CHECK(report.channelsLeftOut >= 0 && report.channelsLeftOut <= std::max(0, report.channelLines - Catalogue::LastIndex),
          std::to_string(report.channelsLeftOut) + " channels left out of " + std::to_string(report.channelLines) +
              " channel lines");

    // Index 0 and every index past the last channel line stay as they were (empty).
    for (int i = 0; i < Catalogue::Size; ++i) {
        const auto at = std::size_t(i);
        CHECK(text::isValidUtf8(c.name[at]) && text::isValidUtf8(c.unit[at]) && text::isValidUtf8(c.storage[at]),
              "index " + std::to_string(i) + ": " + entryText(c, at));
        for (const std::string* stored : {&c.name[at], &c.unit[at], &c.storage[at]})
            CHECK(text::length(*stored) <= LogDefinitionReader::MaxTextLength, "index " + std::to_string(i) + ": " + entryText(c, at));
        if (i != 0 && i <= lastIndex)
            continue;
        CHECK(c.name[at].empty() && c.unit[at].empty() && c.storage[at].empty() && c.number[at] == 0 &&
                  c.divider[at] == 0,
              "index " + std::to_string(i) + " written (last channel line index " + std::to_string(lastIndex) + ")");
    }

    int previous = 1;
    std::vector<int> lastEntryAt(Catalogue::Size, -1);
    for (std::size_t k = 0; k < report.entries.size(); ++k) {
        const CatalogueEntry& e = report.entries[k];
        CHECK(e.index >= 1 && e.index <= Catalogue::LastIndex, entriesText(report.entries));
        CHECK(text::length(e.name) <= LogDefinitionReader::MaxTextLength, entriesText(report.entries));
        CHECK(e.index <= lastIndex, entriesText(report.entries));
        CHECK(e.index >= previous, "entries out of file order: " + entriesText(report.entries));
        previous = e.index;
        lastEntryAt[std::size_t(e.index)] = int(k);
    }
    for (int i = 1; i <= Catalogue::LastIndex; ++i) {
        const auto at = std::size_t(i);
        // Once names were left out, the last listed index may hold a later, unlisted name.
        const bool cut = report.entriesLeftOut > 0 && i >= report.entries.back().index;
        if (lastEntryAt[at] >= 0 && !cut)
            CHECK(c.name[at] == report.entries[std::size_t(lastEntryAt[at])].name,
                  "index " + std::to_string(i) + " holds " + fuzzcheck::escaped(c.name[at]) + ", its last entry says " +
                      fuzzcheck::escaped(report.entries[std::size_t(lastEntryAt[at])].name));
        else if (report.entriesLeftOut == 0)
            CHECK(c.name[at].empty(), "index " + std::to_string(i) + " has a name but no entry");
    }

    std::size_t nameKeys = 0;
    for (const std::string& line : storedLines)
        nameKeys += occurrences(line, "name");
    CHECK(report.entries.size() <= LogDefinitionReader::MaxEntries &&
              (report.entriesLeftOut == 0 || report.entries.size() == LogDefinitionReader::MaxEntries),
          std::to_string(report.entries.size()) + " entries listed, " + std::to_string(report.entriesLeftOut) +
              " left out");
    CHECK(report.entries.size() + report.entriesLeftOut <= nameKeys,
          std::to_string(report.entries.size()) + " entries from " + std::to_string(nameKeys) + " \"name\" words");

    CHECK(report.outOfRange.size() == std::min(report.outOfRangeCount, LogDefinitionReader::ShownOutOfRange),
          std::to_string(report.outOfRange.size()) + " out-of-range texts kept of " +
              std::to_string(report.outOfRangeCount));
    for (const std::string& line : report.outOfRange)
        checkOutOfRangeText(line, report);

    const bool warn = report.channelsLeftOut > 0 || report.outOfRangeCount > 0 || report.overlongLines > 0 ||
                      report.entriesLeftOut > 0;
    CHECK(report.warningText().empty() == !warn, fuzzcheck::escaped(report.warningText()));
}

const std::string Sentinel = "\xE4\xB8\x80"; // U+4E00: no Windows-1252 byte decodes to it

Catalogue presetCatalogue()
{
    Catalogue c;
    for (std::size_t i = 0; i < Catalogue::Size; ++i) {
        c.name[i] = c.unit[i] = c.storage[i] = Sentinel;
        c.number[i] = 0xA5;
        c.divider[i] = 0x5A;
    }
    return c;
}

// A read into a preset catalogue changes only what the fresh read stored.
void checkPreset(const Result& preset, const Result& fresh)
{
    const int lastIndex = std::min(fresh.report.channelLines, Catalogue::LastIndex);
    const auto textField = [&](const std::string& got, const std::string& stored, int i) {
        if (i == 0 || i > lastIndex)
            CHECK(got == Sentinel, "preset index " + std::to_string(i) + " overwritten");
        else
            CHECK(got == stored || (got == Sentinel && stored.empty()),
                  "preset index " + std::to_string(i) + ": " + fuzzcheck::escaped(got) + ", fresh read " +
                      fuzzcheck::escaped(stored));
    };
    const auto byteField = [&](std::uint8_t got, std::uint8_t stored, std::uint8_t preset, int i) {
        if (i == 0 || i > lastIndex)
            CHECK(got == preset, "preset index " + std::to_string(i) + " overwritten");
        else
            CHECK(got == stored || (got == preset && stored == 0),
                  "preset index " + std::to_string(i) + ": " + std::to_string(got) + ", fresh read " +
                      std::to_string(stored));
    };
    for (int i = 0; i < Catalogue::Size; ++i) {
        const auto at = std::size_t(i);
        textField(preset.catalogue.name[at], fresh.catalogue.name[at], i);
        textField(preset.catalogue.unit[at], fresh.catalogue.unit[at], i);
        textField(preset.catalogue.storage[at], fresh.catalogue.storage[at], i);
        byteField(preset.catalogue.number[at], fresh.catalogue.number[at], 0xA5, i);
        byteField(preset.catalogue.divider[at], fresh.catalogue.divider[at], 0x5A, i);
    }
    CHECK(preset.report.entries.size() == fresh.report.entries.size());
    CHECK(preset.report.outOfRange == fresh.report.outOfRange);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::size_t chunk1 = 1 + data[0] % 32;
    const std::size_t chunk2 = 1 + data[1] % 8;
    const std::size_t limit = data[2] < 128 ? std::size_t(1 + data[2]) : 0; // 0: the reader's default
    const std::string file(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t effectiveLimit = limit > 0 ? limit : LogDefinitionReader::DefaultMaxLineLength;

    // Reference: lines split here, cut to the limit, one processLine() each.
    Result reference;
    std::vector<std::string> storedLines; // the cut lines that took an index 1..256
    int channelLines = 0;
    {
        LogDefinitionReader reader(reference.catalogue);
        configure(reader, chunk1, limit);
        int overlong = 0;
        for (std::string line : splitLines(file)) {
            if (line.size() > effectiveLimit) {
                ++overlong;
                line.resize(effectiveLimit);
            }
            if (text::contains(line, "channel") && ++channelLines <= Catalogue::LastIndex)
                storedLines.push_back(line);
            reader.processLine(line);
        }
        reference.report = reader.report();
        reference.report.overlongLines = overlong; // processLine() alone does not see the cut
        reference.runningIndex = reader.runningIndex();
        CHECK(reader.report().overlongLines == 0);
    }
    checkResult(reference, storedLines, channelLines);

    const auto same = [&](const Result& r, const char* how) {
        const std::string diff = difference(reference, r);
        CHECK(diff.empty(), std::string(how) + ": " + diff);
    };
    same(readWith(file, chunk1, limit), "read in chunks of the first size");
    same(readWith(file, LogDefinitionReader::DefaultChunkSize, limit), "read in one chunk");

    // The same lines with each kind of line end.
    const std::vector<std::string> lines = splitLines(file);
    same(readWith(text::join(lines, "\n"), chunk2, limit, true), "LF line ends");
    same(readWith(text::join(lines, "\r\n"), chunk2, limit, true), "CR LF line ends");
    same(readWith(text::join(lines, "\r"), chunk2, limit, true), "CR line ends");

    // Into a catalogue that already holds values.
    Result preset;
    preset.catalogue = presetCatalogue();
    readInto(preset, file, chunk1, limit, false);
    checkPreset(preset, reference);

    // The whole input as one line, line-end bytes and all.
    {
        const std::string all(reinterpret_cast<const char*>(data), size);
        Result one;
        LogDefinitionReader reader(one.catalogue);
        reader.processLine(all);
        one.report = reader.report();
        one.runningIndex = reader.runningIndex();
        const bool channel = text::contains(all, "channel");
        checkResult(one, channel ? std::vector<std::string>{all} : std::vector<std::string>{}, channel ? 1 : 0);
    }
    return 0;
}
