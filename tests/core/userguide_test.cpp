// Where "Hilfe" (F1) finds the user guide: the installed folder for the platform, then the build tree's;
// the user's language picks the page.
#include "coresupport.h"

#include "platform/files.h"
#include "ui/model/userguide.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

using namespace morvandell;

namespace {

// The program sits in <row>/bin; "installed/" and "build/" stand for the first and second folder looked in.
struct GuideRow
{
    const char* name;
    const char* language;
    std::vector<const char*> pages;
    const char* opened; // "" when no page is there
};

class UserGuide : public testing::TestWithParam<GuideRow>
{};

std::string placed(const std::vector<std::string>& folders, const std::string& page)
{
    const auto slash = page.find('/');
    return files::join(folders.at(page.compare(0, slash, "installed") == 0 ? 0 : 1), page.substr(slash + 1));
}

TEST_P(UserGuide, opensThePageOfTheUsersLanguageFromTheFirstFolderThatHasOne)
{
    const GuideRow& row = GetParam();
    const std::string program = files::join(files::join(test::tempFolder(), row.name), "bin");
    ASSERT_TRUE(std::filesystem::create_directories(files::toPath(program)));
    const std::vector<std::string> folders = ui::userguide::folders(program);
    ASSERT_EQ(folders.size(), 2u);
    for (const char* page : row.pages) {
        const std::string path = placed(folders, page);
        std::filesystem::create_directories(files::toPath(files::parentPath(path)));
        std::ofstream(files::toPath(path)) << "<html></html>\n";
    }
    const std::string expected = *row.opened ? placed(folders, row.opened) : std::string();
    EXPECT_EQ(ui::userguide::find(program, row.language), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UserGuide,
    testing::Values(GuideRow{"german", "de", {"installed/index.html", "installed/en.html"}, "installed/index.html"},
                    GuideRow{"english", "en", {"installed/index.html", "installed/en.html"}, "installed/en.html"},
                    GuideRow{"french", "fr", {"installed/index.html", "installed/en.html"}, "installed/en.html"},
                    GuideRow{"noLanguage", "", {"installed/index.html", "installed/en.html"}, "installed/en.html"},
                    GuideRow{"germanMissing", "de", {"installed/en.html"}, "installed/en.html"},
                    GuideRow{"englishMissing", "en", {"installed/index.html"}, "installed/index.html"},
                    GuideRow{"buildTree", "de", {"build/index.html", "build/en.html"}, "build/index.html"},
                    GuideRow{"installedFirst", "de", {"installed/en.html", "build/index.html"}, "installed/en.html"},
                    GuideRow{"none", "de", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UserGuide, isLookedForWhereThePackagesAndTheBuildPutIt)
{
    const std::string root = files::join(test::tempFolder(), "layout");
    const std::vector<std::string> folders = ui::userguide::folders(files::join(root, "bin"));
#ifdef _WIN32
    // The setup program and the zip: "Hilfe" beside morvandell.exe.
    EXPECT_EQ(folders.at(0), files::join(files::join(root, "bin"), "Hilfe"));
#else
    // The Debian package (/usr/bin, /usr/share/doc/morvandell) and any other install prefix.
    EXPECT_EQ(folders.at(0), files::fromPath(files::toPath(root) / "share" / "doc" / "morvandell" / "handbuch"));
#endif
    // The build: programs in build/app/, the guide in build/docs/handbuch/.
    EXPECT_EQ(folders.at(1), files::fromPath(files::toPath(root) / "docs" / "handbuch"));
}

struct LocaleRow
{
    const char* locale;
    const char* language;
};

class LanguageOfLocale : public testing::TestWithParam<LocaleRow>
{};

TEST_P(LanguageOfLocale, isTheLanguagePartInLowerCase)
{
    EXPECT_EQ(files::languageOfLocale(GetParam().locale), GetParam().language) << GetParam().locale;
}

INSTANTIATE_TEST_SUITE_P(Rows, LanguageOfLocale,
                         testing::Values(LocaleRow{"de_DE.UTF-8", "de"}, LocaleRow{"de_AT@euro", "de"},
                                         LocaleRow{"de-CH", "de"}, LocaleRow{"DE", "de"}, LocaleRow{"en_GB", "en"},
                                         LocaleRow{"C", ""}, LocaleRow{"C.UTF-8", ""}, LocaleRow{"POSIX", ""},
                                         LocaleRow{"", ""}));

#ifndef _WIN32
struct EnvironmentRow
{
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* language;
};

class UserLanguage : public testing::TestWithParam<EnvironmentRow>
{};

// The C library's order: LC_ALL, then LC_MESSAGES, then LANG; an empty variable counts as not set.
TEST_P(UserLanguage, followsTheMessagesLocale)
{
    const EnvironmentRow& row = GetParam();
    const std::pair<const char*, const char*> variables[] = {
        {"LC_ALL", row.lcAll}, {"LC_MESSAGES", row.lcMessages}, {"LANG", row.lang}};
    for (const auto& [name, value] : variables)
        ::setenv(name, value, 1);
    EXPECT_EQ(files::userLanguage(), row.language);
    ::setenv("LC_ALL", "C.UTF-8", 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, UserLanguage,
                         testing::Values(EnvironmentRow{"", "", "de_DE.UTF-8", "de"},
                                         EnvironmentRow{"", "de_CH.UTF-8", "en_GB.UTF-8", "de"},
                                         EnvironmentRow{"C.UTF-8", "", "de_DE.UTF-8", ""},
                                         EnvironmentRow{"en_US.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "en"},
                                         EnvironmentRow{"", "", "", ""}));
#endif

} // namespace
