// Profiles: the strict reader, the bytes written, and the atomic save.
#include "coresupport.h"

#include "platform/files.h"
#include "platform/text.h"
#include "writer/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using namespace morvandell;
using namespace morvandell::test;

namespace {

const std::string ValidProfile =
    R"({"format": "morvandell-profile", "version": 1, "logDefinition": "/ecu/V3.xml",
 "defaultView": 2, "slots": [
  {"slot": 1, "channel": "RPM", "number": 12, "divider": 1, "name": "Drehz", "unit": "rpm"},
  {"slot": 5, "channel": "Batt", "number": 7, "divider": 100, "name": "Akku", "unit": "V"}]})";

DisplayConfiguration validConfiguration()
{
    DisplayConfiguration c;
    c.logDefinition = "/ecu/V3.xml";
    c.defaultView = 2;
    Profile::slot(c, 1) = SlotSetting{"RPM", 12, 1, "Drehz", "rpm"};
    Profile::slot(c, 5) = SlotSetting{"Batt", 7, 100, "Akku", "V"};
    return c;
}

// The valid profile with one piece replaced; the row must apply.
std::string replaced(const std::string& before, const std::string& after, std::string bytes = ValidProfile)
{
    const std::size_t at = bytes.find(before);
    if (at == std::string::npos)
        throw std::logic_error("row does not apply: " + before);
    return bytes.replace(at, before.size(), after);
}

std::string contentOf(const std::string& path)
{
    const auto bytes = files::readAll(path, 1 << 20, nullptr);
    return bytes ? std::string(charsOf(*bytes)) : std::string("<unreadable>");
}

// --- refused profiles ----------------------------------------------------------------------------------

struct BadRow
{
    const char* name;
    std::string bytes;
    const char* message; // part of the one message
};

class RefusesABadProfile : public testing::TestWithParam<BadRow>
{};

TEST_P(RefusesABadProfile, withOneMessageThatNamesTheFile)
{
    const BadRow& row = GetParam();
    const std::string path = writeTempFile("bad.morvandell.json", row.bytes);
    std::string error;
    EXPECT_FALSE(Profile::load(path, &error));
    EXPECT_TRUE(text::contains(error, row.message) && text::contains(error, path)) << error;
    EXPECT_TRUE(text::startsWith(error, "Das Profil " + path + " kann nicht geladen werden: ")) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusesABadProfile,
    testing::Values(
        BadRow{"unknownFormat", replaced("morvandell-profile", "dashboard"), "Unbekanntes Format \"dashboard\""},
        BadRow{"newerVersion", replaced("\"version\": 1", "\"version\": 2"), "Version 2"},
        BadRow{"newerVersionOtherFields", R"({"format": "morvandell-profile", "version": 7})", "Version 7"},
        BadRow{"missingLogDefinition", replaced("\"logDefinition\": \"/ecu/V3.xml\",", ""), "\"logDefinition\" fehlt"},
        BadRow{"missingSlots", replaced(", \"slots\"", ", \"slotz\""), "\"slots\" fehlt"},
        BadRow{"slotsNotAList", R"({"format": "morvandell-profile", "version": 1,
        "logDefinition": "", "defaultView": 1, "slots": {}})",
               "\"slots\" ist keine Liste"},
        BadRow{"slotEntryNotAnObject", replaced("\"slots\": [", "\"slots\": [3, "), "Eintrag 1 in \"slots\""},
        BadRow{"missingUnit", replaced(", \"unit\": \"V\"", ""), "Eintrag 2 in \"slots\": \"unit\" fehlt"},
        BadRow{"numberAsText", replaced("\"number\": 12", "\"number\": \"12\""),
               "Eintrag 1 in \"slots\": \"number\" ist keine ganze Zahl"},
        BadRow{"numberNotWhole", replaced("\"number\": 12", "\"number\": 12.5"), "\"number\" ist keine ganze"},
        BadRow{"number256", replaced("\"number\": 12", "\"number\": 256"), "\"number\" ist 256, erlaubt sind 0 bis 255"},
        BadRow{"dividerMinus1", replaced("\"divider\": 100", "\"divider\": -1"), "\"divider\" ist -1"},
        BadRow{"defaultView4", replaced("\"defaultView\": 2", "\"defaultView\": 4"), "\"defaultView\" ist 4"},
        BadRow{"slot0", replaced("\"slot\": 5", "\"slot\": 0"), "\"slot\" ist 0, erlaubt sind 1 bis 8"},
        BadRow{"slotTwice", replaced("\"slot\": 5", "\"slot\": 1"), "Slot 1 ist mehrfach angegeben"},
        BadRow{"nameOf9", replaced("\"Drehz\"", "\"Drehzahl1\""), "länger als 8 Zeichen"},
        BadRow{"unitOf4", replaced("\"rpm\"", "\"rpm2\""), "länger als 3 Zeichen"},
        BadRow{"loneSurrogate", replaced("\"Akku\"", "\"\\ud800\""),
               "Eintrag 2 in \"slots\": \"name\" enthält ein ungültiges Zeichen"},
        BadRow{"latin1NotUtf8", replaced("\"Akku\"", "\"\xC4GT\""), "kein gültiger UTF-8-Text"},
        BadRow{"cutShort", ValidProfile.substr(0, ValidProfile.size() - 3), "kein gültiges JSON"},
        BadRow{"topLevelList", "[1, 2]", "kein JSON-Objekt"},
        BadRow{"over1Mb", ValidProfile + std::string(Profile::MaxFileSize, ' '), "größer als 1 MB"},
        // Beyond the rows above: what the JSON parser alone would judge differently.
        BadRow{"loneLowSurrogateInTheFormat", replaced("\"morvandell-profile\"", "\"morvandell-profile\\udc00\""),
               "\"format\" enthält ein ungültiges Zeichen"},
        BadRow{"nameOfFiveCharactersBeyondTheBmp", replaced("\"Akku\"", "\"😀😀😀😀😀\""), "länger als 8 Zeichen"},
        BadRow{"nestedTooDeeply",
               replaced("\"defaultView\"", "\"x\": " + std::string(1024, '[') + std::string(1024, ']') +
                                               ", \"defaultView\""),
               "kein gültiges JSON (Byte 1109: too deeply nested document)"},
        BadRow{"aSyntaxErrorBeforeTheDepthIsReportedFirst",
               "{\"a\": x, \"b\": " + std::string(2000, '[') + std::string(2000, ']') + "}",
               "kein gültiges JSON (Byte 6: "}),
    [](const testing::TestParamInfo<BadRow>& info) { return std::string(info.param.name); });

// --- read and written back -----------------------------------------------------------------------------

struct RoundTripRow
{
    const char* name;
    std::string bytes;
    DisplayConfiguration expected;
};

DisplayConfiguration withEscapes()
{
    DisplayConfiguration c = validConfiguration();
    Profile::slot(c, 5).reset();
    Profile::slot(c, 1) = SlotSetting{"\"a\\b\"\n\t", 0, 255, "Öl \"2\"", "°C"};
    c.logDefinition = "C:\\ECU\\Versiön 3.xml";
    c.defaultView = 0;
    return c;
}

class ReadsAndWritesBackEqual : public testing::TestWithParam<RoundTripRow>
{};

TEST_P(ReadsAndWritesBackEqual, throughAFile)
{
    const RoundTripRow& row = GetParam();
    std::string error;
    const auto read = Profile::parse(bytes(row.bytes), &error);
    ASSERT_TRUE(read) << error;
    EXPECT_TRUE(*read == row.expected) << Profile::toJson(*read);
    const std::string path = files::join(tempFolder(), std::string("roundtrip-") + row.name + ".morvandell.json");
    ASSERT_TRUE(Profile::save(path, *read, &error)) << error;
    const auto again = Profile::load(path, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_TRUE(*again == row.expected) << Profile::toJson(*again);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadsAndWritesBackEqual,
    testing::Values(
        RoundTripRow{"twoSlots", ValidProfile, validConfiguration()},
        RoundTripRow{"unknownKeysByteOrderMark",
                     "\xEF\xBB\xBF" + replaced("\"slot\": 5", "\"slot\": 5, \"x\": 1",
                                               replaced("\"slots\"", "\"colour\": [1, {}], \"slots\"")),
                     validConfiguration()},
        RoundTripRow{"quotesBackslashesControlCharactersUmlauts", Profile::toJson(withEscapes()), withEscapes()},
        // A slot with only a typed name or unit: picked from no channel.
        RoundTripRow{"typedSlotWithoutChannel", replaced("\"channel\": \"Batt\"", "\"channel\": \"\""),
                     [] {
                         DisplayConfiguration c = validConfiguration();
                         Profile::slot(c, 5)->channel.clear();
                         return c;
                     }()},
        RoundTripRow{"noSlots", R"({"format": "morvandell-profile", "version": 1,
        "logDefinition": "", "defaultView": 3, "slots": []})",
                     DisplayConfiguration{std::string(), 3, {}}},
        // Beyond the rows above: what profiles have always allowed and the JSON parser alone would not.
        RoundTripRow{"rawControlCharactersInTexts", replaced("\"Akku\"", "\"A\tk\x01\""),
                     [] {
                         DisplayConfiguration c = validConfiguration();
                         Profile::slot(c, 5)->name = "A\tk\x01";
                         return c;
                     }()},
        RoundTripRow{"aByteOrderMarkInsideATextStays", replaced("\"Akku\"", "\"\\ufeffAk\""),
                     [] {
                         DisplayConfiguration c = validConfiguration();
                         Profile::slot(c, 5)->name = "\xEF\xBB\xBF"
                                                     "Ak";
                         return c;
                     }()}),
    [](const testing::TestParamInfo<RoundTripRow>& info) { return std::string(info.param.name); });

TEST(Profile, writesTheSameBytesAsEver)
{
    DisplayConfiguration c;
    c.logDefinition = "C:\\ECU\\Versiön 3.xml\x01";
    c.defaultView = 0;
    Profile::slot(c, 2) = SlotSetting{"\"a\\b\"\n\tü\xEF\xBB\xBFx", 0, 255, "\xEF\xBB\xBF\"2\"", "°C"};
    Profile::slot(c, 8) = SlotSetting{"", 1, 2, "", ""};
    EXPECT_EQ(Profile::toJson(c),
              "{\n"
              "  \"format\": \"morvandell-profile\",\n"
              "  \"version\": 1,\n"
              "  \"logDefinition\": \"C:\\\\ECU\\\\Versiön 3.xml\\u0001\",\n"
              "  \"defaultView\": 0,\n"
              "  \"slots\": [\n"
              "    { \"slot\": 2, \"channel\": \"\\\"a\\\\b\\\"\\u000a\\u0009ü\\ufeffx\", \"number\": 0, "
              "\"divider\": 255, \"name\": \"\\ufeff\\\"2\\\"\", \"unit\": \"°C\" },\n"
              "    { \"slot\": 8, \"channel\": \"\", \"number\": 1, \"divider\": 2, \"name\": \"\", \"unit\": \"\" }\n"
              "  ]\n"
              "}\n");
    EXPECT_EQ(Profile::toJson(DisplayConfiguration{}), "{\n"
                                                       "  \"format\": \"morvandell-profile\",\n"
                                                       "  \"version\": 1,\n"
                                                       "  \"logDefinition\": \"\",\n"
                                                       "  \"defaultView\": 1,\n"
                                                       "  \"slots\": []\n"
                                                       "}\n");
}

// --- saving --------------------------------------------------------------------------------------------

class FailedSaveKeepsTheOldProfile : public testing::TestWithParam<const char*>
{};

TEST_P(FailedSaveKeepsTheOldProfile, andLeavesNoTemporaryFile)
{
    const std::string how = GetParam();
    const std::string dir = files::join(tempFolder(), "save-" + how);
    std::filesystem::create_directories(files::toPath(dir));
    const std::string path = files::join(dir, "car.morvandell.json");
    const std::string old = Profile::toJson(DisplayConfiguration{});
    DisplayConfiguration next = validConfiguration();
    std::string error;
    ASSERT_TRUE(Profile::save(path, DisplayConfiguration{}, &error)) << error;
    bool saved = true;
    if (how == "diskFull") {
#ifdef _WIN32
        GTEST_SKIP() << "no file-size limit to stand in for a full disk";
#else
        // The file-size limit makes every write past 64 bytes fail with EFBIG, root or not.
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit small = before;
        small.rlim_cur = 64;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        saved = Profile::save(path, next, &error);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
#endif
    } else if (how == "folderMissing") {
        saved = Profile::save(files::join(dir, "gone/car.morvandell.json"), next, &error);
    } else if (how == "profileIsAFolder") {
        std::filesystem::create_directory(files::toPath(files::join(dir, "taken.morvandell.json")));
        saved = Profile::save(files::join(dir, "taken.morvandell.json"), next, &error);
    } else {
        Profile::slot(next, 3) = SlotSetting{"X", 1, 1, "123456789", "u"};
        saved = Profile::save(path, next, &error);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(text::contains(error, "kann nicht gespeichert werden")) << error;
    EXPECT_EQ(contentOf(path), old);
    // No temporary file is left behind.
    std::vector<std::string> left;
    for (const std::string& name : files::list(dir))
        if (files::isRegularFile(files::join(dir, name)))
            left.push_back(name);
    EXPECT_EQ(left, std::vector<std::string>{"car.morvandell.json"});
}

INSTANTIATE_TEST_SUITE_P(Rows, FailedSaveKeepsTheOldProfile,
                         testing::Values("diskFull", "folderMissing", "profileIsAFolder", "nameTooLongForProfile"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(Profile, aProfileIsFoundByItsUtf8Name)
{
    const std::string path = files::join(tempFolder(), "Wagen Ölkühler €.morvandell.json");
    std::string error;
    ASSERT_TRUE(Profile::save(path, validConfiguration(), &error)) << error;
    const auto loaded = Profile::load(path, &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_TRUE(*loaded == validConfiguration());
}

} // namespace
