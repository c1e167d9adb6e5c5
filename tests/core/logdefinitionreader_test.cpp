// The log-definition reader: line clean-up and attribute picking, indices, line ends across chunks,
// limits and their report, files by name, and reads that fail part-way.
#include "coresupport.h"

#include "catalogue/logdefinitionreader.h"
#include "platform/files.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace morvandell;
using namespace morvandell::test;
using namespace std::chrono_literals;

namespace {

// Hands out its data a few bytes per read and fails once failAt bytes have been read.
LogDefinitionReader::ByteSource failingSource(std::string data, std::size_t failAt)
{
    auto pos = std::make_shared<std::size_t>(0);
    return [data = std::move(data), failAt, pos](char* out, std::size_t max, std::string* reason) -> std::ptrdiff_t {
        if (*pos >= failAt) {
            *reason = "simulated failure";
            return -1;
        }
        const std::size_t n = std::min({max, std::size_t(3), data.size() - *pos});
        std::memcpy(out, data.data() + *pos, n);
        *pos += n;
        return std::ptrdiff_t(n);
    };
}

// Every entry holds values that no test line produces, to tell "not written" from "written empty".
Catalogue presetCatalogue()
{
    Catalogue c;
    for (std::size_t i = 1; i <= Catalogue::LastIndex; ++i) {
        c.name[i] = "old" + std::to_string(i);
        c.unit[i] = c.storage[i] = "old";
        c.number[i] = 99;
        c.divider[i] = 98;
    }
    return c;
}

// "name|number|unit|divider|storage" of one entry.
std::string entryText(const Catalogue& c, std::size_t i)
{
    return text::arg("%1|%2|%3|%4|%5", {c.name[i], int(c.number[i]), c.unit[i], int(c.divider[i]), c.storage[i]});
}

std::string catalogueText(const Catalogue& c, int skip = -1)
{
    std::vector<std::string> all;
    for (int i = 0; i < Catalogue::Size; ++i)
        all.push_back(i == skip ? std::string() : entryText(c, std::size_t(i)));
    return text::join(all, "\n");
}

std::vector<std::string> entriesOf(const ReadReport& report)
{
    std::vector<std::string> out;
    for (const CatalogueEntry& e : report.entries)
        out.push_back(e.name + "@" + std::to_string(e.index));
    return out;
}

ReadReport readBytes(Catalogue& catalogue, const std::string& bytes, std::size_t chunk = 0, std::size_t limit = 0)
{
    std::istringstream in(bytes, std::ios::binary);
    LogDefinitionReader reader(catalogue);
    if (chunk > 0)
        reader.setChunkSize(chunk);
    if (limit > 0)
        reader.setMaxLineLength(limit);
    std::string error;
    EXPECT_TRUE(reader.read(in, &error)) << error;
    return reader.report();
}

// --- one line ------------------------------------------------------------------------------------------

struct LineRow
{
    const char* name;
    std::string line;
    // Entry 1 as "name|number|unit|divider|storage", then the listed names in [], then any
    // out-of-range reports after "!". Entry 1 starts as "old1|99|old|98|old".
    std::string result;
};

class SingleLine : public testing::TestWithParam<LineRow>
{};

TEST_P(SingleLine, fillsItsEntryAndNothingElse)
{
    const LineRow& row = GetParam();
    Catalogue catalogue = presetCatalogue();
    const Catalogue before = presetCatalogue();
    LogDefinitionReader reader(catalogue);
    reader.processLine(row.line);
    std::vector<std::string> names;
    for (const CatalogueEntry& e : reader.report().entries) {
        EXPECT_EQ(e.index, 1);
        names.push_back(e.name);
    }
    std::string actual = entryText(catalogue, 1) + " [" + text::join(names, ",") + "]";
    if (!reader.report().outOfRange.empty())
        actual += " !" + text::join(reader.report().outOfRange, ";");
    EXPECT_EQ(actual, row.result);
    EXPECT_EQ(catalogueText(catalogue, 1), catalogueText(before, 1)); // nothing else touched
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SingleLine,
    testing::Values(
        LineRow{"workedExample",
                "\t<channel name=\"Oil_P\" channel = \"12\" unit=\"bar\" divider=\"10\" storage=\"s16\"/>",
                "Oil_P|12|bar|10|s16/> [Oil_P]"},
        LineRow{"oneBlankAroundEquals", "<channel name = \"Oil_P\" x", "Oil_P|99|old|98|old [Oil_P]"},
        LineRow{"twoBlanksAroundEqualsLoseIt", "<channel name  =  \"Oil_P\" unit=u", "old1|99|u|98|old []"},
        LineRow{"blankAfterEqualsGivesEmpty", "<channel name= \"Oil_P\"/>", "|99|old|98|old []"},
        LineRow{"blankCutsValue", "<channel name=\"Oil press\"/>", "Oil|99|old|98|old [Oil]"},
        LineRow{"secondEqualsEndsValue", "<channel name=\"a=b\" unit=x=y", "a|99|x|98|old [a]"},
        LineRow{"closingCharacters", "<channel divider=\"10\"/ name=\"Oil_P\"/>", "Oil_P/>|99|old|10|old [Oil_P/>]"},
        LineRow{"keysAreCaseSensitive", "<channel Name=X UNIT=u name2=Z =v", "old1|99|old|98|old []"},
        LineRow{"token0IsSkipped", "name=\"X\" channel=\"3\"", "old1|3|old|98|old []"},
        LineRow{"twoNamesTwoEntries", "<channel name=A unit=a name=B unit=b", "B|99|b|98|old [A,B]"},
        LineRow{"noAttributes", "<channels>", "old1|99|old|98|old []"},
        LineRow{"tabsOuterAndDoubleBlanks", "  \t<channel\t\tname=\"T\"\t \t", "T|99|old|98|old [T]"},
        LineRow{"everyQuoteRemoved", "<channel unit=\"b\"a\"r\"", "old1|99|bar|98|old []"},
        LineRow{"windows1252", "<channel name=\"\xD6l\x80\"", "Öl€|99|old|98|old [Öl€]"},
        LineRow{"numbers", "<channel divider=2.5 channel=abc", "old1|0|old|2|old []"},
        // Texts keep at most 255 characters, counted after the quotes are gone, never half of one.
        LineRow{"longValueCut", "<channel storage=" + std::string(5000, 'v'),
                "old1|99|old|98|" + std::string(255, 'v') + " []"},
        LineRow{"longNameCutInTheListsToo", "<channel name=\"" + std::string(300, 'n') + "\" unit=" + std::string(256, 'u'),
                std::string(255, 'n') + "|99|" + std::string(255, 'u') + "|98|old [" + std::string(255, 'n') + "]"},
        LineRow{"longNameCutByCharacters", "<channel name=" + std::string(300, '\xD6'),
                text::replaceAll(std::string(255, '*'), "*", "Ö") + "|99|old|98|old [" +
                    text::replaceAll(std::string(255, '*'), "*", "Ö") + "]"},
        LineRow{"numbersAreNotCut", "<channel divider=" + std::string(300, '0') + "7",
                "old1|99|old|7|old []"},
        // Out of 0..255: 0 stored (not wrapped, not the old value) and reported under the line's name.
        LineRow{"divider300", "<channel name=Oil_P divider=\"300\"/>", "Oil_P|99|old|0|old [Oil_P] !Oil_P: divider = 300"},
        LineRow{"nameAfterTheNumber", "<channel channel=-1 name=Oil_P",
                "Oil_P|0|old|98|old [Oil_P] !Oil_P: channel = -1"},
        LineRow{"noName", "<channel channel=\"-1\"/>", "old1|0|old|98|old [] !Kanal 1: channel = -1"},
        LineRow{"numberAsWritten", "<channel name=X divider=1e400 channel=\"255.5kg\"/>",
                "X|0|old|0|old [X] !X: divider = 1e400;X: channel = 255.5"}),
    [](const testing::TestParamInfo<LineRow>& info) { return std::string(info.param.name); });

// --- a whole file --------------------------------------------------------------------------------------

struct IndexRow
{
    const char* name;
    std::string file;
    std::vector<std::string> entries;
    int channelLines;
};

class Indexing : public testing::TestWithParam<IndexRow>
{};

TEST_P(Indexing, everyChannelLineTakesTheNextIndex)
{
    const IndexRow& row = GetParam();
    Catalogue catalogue = presetCatalogue();
    const ReadReport report = readBytes(catalogue, row.file);
    EXPECT_EQ(entriesOf(report), row.entries);
    EXPECT_EQ(report.channelLines, row.channelLines);
    for (const CatalogueEntry& e : report.entries)
        EXPECT_EQ(catalogue.name[std::size_t(e.index)], e.name);
    EXPECT_EQ(catalogue.name[std::size_t(row.channelLines + 1)], "old" + std::to_string(row.channelLines + 1));
    EXPECT_EQ(report.warningText(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Indexing,
    testing::Values(IndexRow{"headerAndCommentTakeIndices",
                             "<?xml version=\"1.0\"?>\n<!-- channel list -->\n<channels>\n<channel name=A\n"
                             "<channel name=B\n</channels>\n",
                             {"A@3", "B@4"},
                             5},
                    IndexRow{"otherCaseTakesNoIndex", "<Channel name=X\n<CHANNEL name=Y\n<channel name=A\n", {"A@1"}, 1},
                    IndexRow{"lineWithoutName", "<channel name=A\n<channel unit=u\n<channel name=C", {"A@1", "C@3"}, 3},
                    IndexRow{"emptyFile", "", {}, 0}),
    [](const testing::TestParamInfo<IndexRow>& info) { return std::string(info.param.name); });

class LineEnds : public testing::TestWithParam<std::tuple<std::string, std::size_t>>
{};

TEST_P(LineEnds, endLinesAlikeInChunksOfAnySize)
{
    const auto& [lineEnd, chunk] = GetParam();
    const std::vector<std::string> lines = {
        "<channels>",
        "\t<channel name=\"A\" channel=\"1\" unit=\"u\" divider=\"10\" storage=\"s16\"/>",
        "",
        "<channel name=\"B\" channel=\"2\"/>",
        "<channel name=\"C\" unit=\"x\"/>", // the last without line end
    };
    Catalogue expected = presetCatalogue();
    LogDefinitionReader direct(expected);
    for (const std::string& line : lines)
        direct.processLine(line);

    Catalogue catalogue = presetCatalogue();
    const ReadReport report = readBytes(catalogue, text::join(lines, lineEnd), chunk);
    EXPECT_EQ(catalogueText(catalogue), catalogueText(expected));
    EXPECT_EQ(entriesOf(report), entriesOf(direct.report()));
    EXPECT_EQ(report.channelLines, 4);
}

INSTANTIATE_TEST_SUITE_P(Rows, LineEnds,
                         testing::Combine(testing::Values(std::string("\n"), std::string("\r"), std::string("\r\n")),
                                          testing::Values(std::size_t(1), std::size_t(2), std::size_t(3),
                                                          std::size_t(5), std::size_t(64 * 1024))),
                         [](const testing::TestParamInfo<LineEnds::ParamType>& info) {
                             const std::string& end = std::get<0>(info.param);
                             return std::string(end == "\n" ? "Lf" : end == "\r" ? "Cr" : "CrLf") + "Chunk" +
                                    std::to_string(std::get<1>(info.param));
                         });

struct OverlongRow
{
    const char* name;
    std::size_t chunk;
    std::size_t limit;
};

class OverlongLine : public testing::TestWithParam<OverlongRow>
{};

TEST_P(OverlongLine, isReadByItsBeginningOnly)
{
    const OverlongRow& row = GetParam();
    const std::size_t max = row.limit > 0 ? row.limit : LogDefinitionReader::DefaultMaxLineLength;

    // A line exactly at the limit is read whole; of a longer one only what lies within the limit.
    std::string exact = "<channel name=\"Exact\" unit=";
    exact += std::string(max - exact.size(), 'u');
    const std::string longLine = "<channel name=\"Long\" unit=\"u\" " + std::string(max * 3, 'x') + " divider=\"7\"";
    Catalogue catalogue = presetCatalogue();
    const ReadReport report =
        readBytes(catalogue, exact + "\r\n" + longLine + "\r\n<channel name=N", row.chunk, row.limit);

    EXPECT_EQ(entriesOf(report), (std::vector<std::string>{"Exact@1", "Long@2", "N@3"}));
    EXPECT_EQ(catalogue.unit[1].size(), std::min(max - 27, LogDefinitionReader::MaxTextLength));
    EXPECT_EQ(entryText(catalogue, 2), "Long|99|u|98|old");
    EXPECT_EQ(report.overlongLines, 1);
    EXPECT_TRUE(text::contains(report.warningText(), "1 Zeile war länger als")) << report.warningText();
}

INSTANTIATE_TEST_SUITE_P(Rows, OverlongLine,
                         testing::Values(OverlongRow{"defaults", 0, 0}, OverlongRow{"smallChunks", 7, 100}),
                         [](const testing::TestParamInfo<OverlongRow>& info) { return std::string(info.param.name); });

TEST(LogDefinitionReader, tooManyChannels)
{
    std::string file = "<channels>\n"; // index 1
    for (int i = 1; i <= 299; ++i)
        file += "<channel name=C" + std::to_string(i) + " divider=" + std::to_string(300 + i) + "\n";
    file += "</channels>\n"; // index 301: carries nothing, so nothing is lost

    Catalogue catalogue;
    const ReadReport report = readBytes(catalogue, file);
    EXPECT_EQ(report.channelLines, 301);
    ASSERT_EQ(report.entries.size(), 255u);
    EXPECT_EQ(report.entries.back().index, 256);
    EXPECT_EQ(entryText(catalogue, 256), "C255|0||0|");
    EXPECT_EQ(entryText(catalogue, 0), "|0||0|");
    EXPECT_EQ(report.channelsLeftOut, 44);
    EXPECT_EQ(report.outOfRangeCount, 255u); // only stored lines report their values
    EXPECT_EQ(report.outOfRange.size(), LogDefinitionReader::ShownOutOfRange);
    const std::string warning = report.warningText();
    EXPECT_TRUE(text::contains(warning, "44 Kanäle nach dem 256. Katalogeintrag wurden nicht übernommen") &&
                text::contains(warning, "C5: divider = 305") && !text::contains(warning, "C6:") &&
                text::contains(warning, "und 250 weitere"))
        << warning;
}

// The display's names decoded as the system's own Windows-1252 decoder reads them.
std::string systemWindows1252(unsigned char byte)
{
#ifdef _WIN32
    const char in = char(byte);
    wchar_t wide[4] = {};
    const int n = MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, &in, 1, wide, 4);
    char utf8[8] = {};
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, std::size_t(m > 0 ? m : 0));
#else
    iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == iconv_t(-1))
        return "?";
    char in = char(byte);
    char out[8] = {};
    char* inp = &in;
    char* outp = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != std::size_t(-1);
    iconv_close(cd);
    return ok ? std::string(out, sizeof out - outLeft) : std::string();
#endif
}

TEST(LogDefinitionReader, windows1252MatchesTheSystemDecoder)
{
    for (int b = 0; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue; // unassigned in Windows-1252
        const char byte = char(b);
        EXPECT_EQ(LogDefinitionReader::decode(std::string_view(&byte, 1)), systemWindows1252(Byte(b)))
            << "byte " << b;
    }
}

TEST(LogDefinitionReader, readFile)
{
    // Read over a catalogue from an earlier, longer file: nothing of it is left, neither in the entries
    // beyond the new file nor in the fields the new file leaves out.
    Catalogue catalogue = presetCatalogue();
    ReadReport report;
    std::string error;
    ASSERT_TRUE(LogDefinitionReader::readFile(MORVANDELL_TEST_DATA "/logdef_sample.xml", catalogue, &report, &error))
        << error;
    EXPECT_EQ(entriesOf(report), (std::vector<std::string>{"RPM@3", "Oil_P@4", "Öltemp@5"}));
    EXPECT_EQ(entryText(catalogue, 5), "Öltemp|13|°C|1|s8/>");
    Catalogue fresh;
    readBytes(fresh, std::string(charsOf(*files::readAll(MORVANDELL_TEST_DATA "/logdef_sample.xml", 1 << 20, nullptr))));
    EXPECT_EQ(catalogueText(catalogue), catalogueText(fresh));
    EXPECT_EQ(entryText(catalogue, 7), "|0||0|");

    const std::string missing = MORVANDELL_TEST_DATA "/logdef_missing.xml";
    EXPECT_FALSE(LogDefinitionReader::readFile(missing, catalogue, &report, &error));
    EXPECT_TRUE(text::contains(error, "logdef_missing.xml") && text::contains(error, "existiert nicht")) << error;
}

TEST(LogDefinitionReader, aFileIsFoundByItsUtf8Name)
{
    const Bytes sample = *files::readAll(MORVANDELL_TEST_DATA "/logdef_sample.xml", 1 << 20, nullptr);
    const std::string path = writeTempFile("Versiön_Ölkühler €.xml", sample);
    Catalogue catalogue;
    ReadReport report;
    std::string error;
    ASSERT_TRUE(LogDefinitionReader::readFile(path, catalogue, &report, &error)) << error;
    EXPECT_EQ(entriesOf(report), (std::vector<std::string>{"RPM@3", "Oil_P@4", "Öltemp@5"}));
}

struct RefusedRow
{
    const char* name;
    const char* path; // "" for none, "folder" for a folder
    const char* message;
};

class RefusedNames : public testing::TestWithParam<RefusedRow>
{};

TEST_P(RefusedNames, sayWhyAndKeepTheCatalogue)
{
    const RefusedRow& row = GetParam();
    const std::string path = std::string(row.path) == "folder" ? tempFolder() : row.path;
    Catalogue catalogue = presetCatalogue();
    std::string error;
    EXPECT_FALSE(LogDefinitionReader::readFile(path, catalogue, nullptr, &error));
    EXPECT_TRUE(text::contains(error, row.message)) << error;
    EXPECT_EQ(catalogueText(catalogue), catalogueText(presetCatalogue()));
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedNames,
                         testing::Values(RefusedRow{"noName", "", "Es wurde keine Datei gewählt."},
                                         RefusedRow{"aFolder", "folder", "Das ist ein Ordner, keine Datei."}),
                         [](const testing::TestParamInfo<RefusedRow>& info) { return std::string(info.param.name); });

#ifndef _WIN32
class OnlyRegularFilesAreRead : public testing::TestWithParam<const char*>
{};

TEST_P(OnlyRegularFilesAreRead, atOnce)
{
    std::string path = GetParam();
    if (path == "fifo") {
        path = tempFolder() + "/morvandell-fifo-" + std::to_string(::getpid());
        ::unlink(path.c_str());
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    Catalogue catalogue = presetCatalogue();
    ReadReport report;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(LogDefinitionReader::readFile(path, catalogue, &report, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(text::contains(error, "keine gewöhnliche Datei") && text::contains(error, path)) << error;
    EXPECT_EQ(entryText(catalogue, 1), "old1|99|old|98|old");
    if (text::contains(path, "fifo"))
        ::unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, OnlyRegularFilesAreRead, testing::Values("fifo", "/dev/zero"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "fifoWithoutAWriter" : "characterDevice");
                         });
#endif

TEST(LogDefinitionReader, readError)
{
    {
        // Read as a whole: a failure part-way leaves the catalogue exactly as it was.
        Catalogue catalogue = presetCatalogue();
        const std::string file = "<channel name=A unit=x\n<channel name=B\n<channel name=C\n";
        ReadReport report;
        std::string error;
        EXPECT_FALSE(LogDefinitionReader::readWhole(failingSource(file, file.find("<channel name=C")), catalogue,
                                                    &report, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(entryText(catalogue, 1), "old1|99|old|98|old");
        EXPECT_EQ(entryText(catalogue, 2), "old2|99|old|98|old");
        // Nor does it offer names that it did not keep.
        EXPECT_EQ(entriesOf(report), std::vector<std::string>{});
        EXPECT_EQ(report.channelLines, 0);
    }

    Catalogue catalogue = presetCatalogue();
    const std::string file = "<channel name=A\n<channel name=B\n<channel name=C\n";
    LogDefinitionReader reader(catalogue);
    std::string error;
    EXPECT_FALSE(reader.read(failingSource(file, file.find("<channel name=C")), &error));
    EXPECT_TRUE(text::contains(error, "simulated failure")) << error;
    EXPECT_EQ(entriesOf(reader.report()), (std::vector<std::string>{"A@1", "B@2"}));
    EXPECT_EQ(catalogue.name[3], "old3");
}

#ifdef __linux__
TEST(LogDefinitionReader, aFileThatFailsPartWayChangesNothing)
{
    // The kernel calls it a regular file, and reading its first byte fails.
    Catalogue catalogue = presetCatalogue();
    std::string error;
    EXPECT_FALSE(LogDefinitionReader::readFile("/proc/self/mem", catalogue, nullptr, &error));
    EXPECT_TRUE(text::contains(error, "konnte nicht vollständig gelesen werden") &&
                text::contains(error, "Katalog und Listen bleiben unverändert"))
        << error;
    EXPECT_EQ(catalogueText(catalogue), catalogueText(presetCatalogue()));
}
#endif

TEST(LogDefinitionReader, reportListsAreBounded)
{
    // Lines of 64 KiB full of names and out-of-range values: the report keeps what the lists and the
    // warning show, and counts the rest.
    std::string line = "<channel";
    const std::string pair = " name=n divider=300";
    while (line.size() + pair.size() <= LogDefinitionReader::DefaultMaxLineLength)
        line += pair;
    std::string file;
    for (int i = 0; i < 16; ++i)
        file += line + "\n";
    std::size_t perLine = 0;
    for (std::size_t at = line.find(" name="); at != std::string::npos; at = line.find(" name=", at + 1))
        ++perLine;
    Catalogue catalogue;
    const ReadReport report = readBytes(catalogue, file);
    EXPECT_EQ(report.entries.size(), LogDefinitionReader::MaxEntries);
    EXPECT_EQ(report.entriesLeftOut, 16 * perLine - LogDefinitionReader::MaxEntries);
    EXPECT_EQ(report.outOfRangeCount, 16 * perLine);
    EXPECT_EQ(report.outOfRange.size(), LogDefinitionReader::ShownOutOfRange);
    EXPECT_EQ(catalogue.name[16], "n");
    const std::string warning = report.warningText();
    EXPECT_TRUE(text::contains(warning, std::to_string(report.entriesLeftOut) + " weitere Namen") &&
                text::contains(warning, std::to_string(report.outOfRangeCount) + " Werte"))
        << warning;
}

TEST(LogDefinitionReader, warningTextPutsEachFindingInItsOwnParagraph)
{
    ReadReport report;
    EXPECT_EQ(report.warningText(), "");
    report.channelsLeftOut = 1;
    report.outOfRangeCount = 1;
    report.outOfRange = {"Oil_P: divider = 300"};
    report.overlongLines = 2;
    report.lineLengthLimit = 65536;
    EXPECT_EQ(report.warningText(),
              "1 Kanal nach dem 256. Katalogeintrag wurde nicht übernommen; der Katalog fasst höchstens 256 "
              "Kanäle.\n\n"
              "1 Wert liegt außerhalb von 0 bis 255 und wurde als 0 übernommen:\nOil_P: divider = 300\n\n"
              "2 Zeilen waren länger als 65.536 Zeichen; nur ihr Anfang wurde gelesen.");
}

} // namespace
